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
    const RouteReading reading =
        ReadRouteText(std::string(reinterpret_cast<const char*>(data), size));
    if (reading.Refused()) {
        // A refusal always says why and hands back nothing else.
        if (!reading.points.empty() || !reading.withoutPosition.empty() ||
            !reading.sameDeviceName.empty() || !reading.Question().empty()) {
            std::abort();
        }
        return 0;
    }
    if (reading.points.size() + reading.withoutPosition.size() > kMaxRoutePoints ||
        reading.NeedsConfirmation() == reading.Question().empty() ||
        reading.sameDeviceName.empty() != reading.Warning().empty()) {
        std::abort();
    }
    // Every point sent is one the device can hold: north and east, within the globe.
    for (const RoutePoint& point : reading.points) {
        const double latitude = DecodeAngle(
            {point.position[0], point.position[1], point.position[2], point.position[3]});
        const double longitude = DecodeAngle(
            {point.position[4], point.position[5], point.position[6], point.position[7]});
        if (!(latitude >= 0 && latitude <= 90.001 && longitude >= 0 && longitude <= 180.001)) {
            std::abort();
        }
    }
    FuzzTransport transport(nullptr, 0, false);
    DeviceLink link;
    link.m_transport = &transport;
    if (!link.UploadRoute(reading.points)) {
        std::abort();
    }
    // AA, the length byte, then 8 position and 4 name bytes per point.
    if (transport.Written().size() != 2 + 12 * reading.points.size()) {
        std::abort();
    }
    return 0;
}
