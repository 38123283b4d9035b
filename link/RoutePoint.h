#pragma once
// One point of a route to upload.

#include <string>

#include "link/DataFormats.h"

struct RoutePoint {
    PackedPosition position{};
    std::string name;  // UTF-8
};

inline constexpr std::size_t kMaxRoutePoints = 255;
