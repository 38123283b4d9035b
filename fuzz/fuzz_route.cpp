// Route file text → route points → the bytes an upload sends.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/FuzzTransport.h"
#include "link/DataFormats.h"
#include "link/DeviceLink.h"
#include "marks_route/Route.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        BuildDeviceCharTable();
        return true;
    }();
    (void)ready;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<RoutePoint> route;
    std::string error;
    const bool ok = ParseRouteKml(text, route, &error);
    if (!ok) {
        if (error.empty() || !route.empty()) {
            std::abort();  // a refusal always says why and hands back nothing
        }
        return 0;
    }
    if (route.size() > kMaxRoutePoints) {
        std::abort();
    }
    FuzzTransport transport(nullptr, 0, false);
    DeviceLink link;
    link.m_transport = &transport;
    if (!link.UploadRoute(route)) {
        std::abort();
    }
    // AA, the length byte, then 8 position and 4 name bytes per point.
    if (transport.Written().size() != 2 + 12 * route.size()) {
        std::abort();
    }
    return 0;
}
