#pragma once
// Route import from KML.

#include <array>
#include <string>
#include <vector>

#include "marks_route/RoutePoint.h"

class TiXmlNode;
class TiXmlElement;

void FindPlacemarks(const TiXmlNode* node, std::vector<const TiXmlElement*>& out);
RoutePoint ReadRoutePoint(const TiXmlElement* placemark);
PackedPosition ReadPlacemarkPosition(const TiXmlElement* placemark);
std::array<uint8_t, 4> ToDeviceName(const std::string& utf8Name);

// Reads a route file; false with a message when it cannot be read, is not well-formed
// or has more than 255 points.
bool LoadRouteFile(const std::string& path, std::vector<RoutePoint>& route, std::string* error);
// The same from text in memory.
bool ParseRouteKml(const std::string& text, std::vector<RoutePoint>& route, std::string* error);
