// The route upload (0xAA): command, length byte, then position and name of each point.

#include <array>

#include "link/CommandByte.h"
#include "link/DeviceLink.h"
#include "marks_route/Route.h"

bool DeviceLink::UploadRoute(const std::vector<RoutePoint>& route) {
    if (route.size() > kMaxRoutePoints) {
        return false;
    }
    Send(CommandByte[kCmdUploadRoute]);
    Send(static_cast<uint8_t>((route.size() * 12) & 0xFF));
    for (const RoutePoint& point : route) {
        Send(point.position.data(), static_cast<int32_t>(point.position.size()));
        const std::array<uint8_t, 4> name = ToDeviceName(point.name);
        Send(name.data(), static_cast<int32_t>(name.size()));
    }
    RefreshLog();
    return true;
}
