#pragma once
// Route import from KML (every Placemark) or GPX (the first rte's rtept, else every wpt).

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "link/RoutePoint.h"

class TiXmlNode;
class TiXmlElement;

// A Placemark, rtept or wpt as the messages name it: its number among the file's entries
// (from 1) and its name.
struct RouteEntry {
    std::size_t number = 0;
    std::string name;
};

// What a route file gave. A refused file hands back nothing else; otherwise the points may
// be sent once the user has agreed to the concern, if there is one.
struct RouteReading {
    std::string refusal;                      // why nothing may be sent; empty when readable
    std::vector<RoutePoint> points;           // with a position, in file order
    std::vector<RouteEntry> withoutPosition;  // entries without a Point or lat/lon, not sent
    std::vector<std::pair<RouteEntry, RouteEntry>> sameDeviceName;  // pairs the device can't tell

    bool Refused() const { return !refusal.empty(); }
    // No point to send, or entries left out for having no position: ask before sending.
    bool NeedsConfirmation() const;
    // What is wrong, as a statement ("В файле нет точек маршрута."); empty when nothing.
    std::string Concern() const;
    // The concern with its yes/no question; empty when nothing needs confirming.
    std::string Question() const;
    // The points whose device names come out equal; empty when none.
    std::string Warning() const;
};

// Reads a route file; a path that is not a regular file is refused without being opened.
RouteReading ReadRouteFile(const std::string& path);
// The same from text in memory.
RouteReading ReadRouteText(std::string text);

// For callers that cannot ask: false with the refusal or the concern as error.
bool LoadRouteFile(const std::string& path, std::vector<RoutePoint>& route, std::string* error);

void FindPlacemarks(const TiXmlNode* node, std::vector<const TiXmlElement*>& out);
// One Placemark; a missing or unreadable position gives eight zero bytes.
RoutePoint ReadRoutePoint(const TiXmlElement* placemark);
PackedPosition ReadPlacemarkPosition(const TiXmlElement* placemark);
std::array<uint8_t, 4> ToDeviceName(const std::string& utf8Name);
