// Route import from KML and its upload (0xAA).

#include "marks_route/Route.h"

#include <tinyxml.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include "link/CommandByte.h"
#include "link/Cp1251.h"
#include "link/DeviceLink.h"
#include "link/InputFile.h"
#include "link/KmlOutput.h"

namespace {

// TinyXML reads the whole file into memory and parses nested elements recursively;
// these bounds keep an unreasonable file from exhausting either.
constexpr std::size_t kMaxRouteFileBytes = 16u << 20;
constexpr int kMaxNesting = 256;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A decimal number at p: optional sign, digits with an optional point, optional exponent.
// Words such as "inf" and "nan" and numbers beyond the double range are refused.
bool ReadNumber(const char*& p, const char* end, double& value) {
    const char* start = p;
    bool negative = false;
    if (start < end && (*start == '+' || *start == '-')) {
        negative = *start == '-';
        ++start;
    }
    if (start == end || !(std::isdigit(static_cast<unsigned char>(*start)) || *start == '.')) {
        return false;
    }
    double magnitude = 0;
    const auto [next, ec] = std::from_chars(start, end, magnitude, std::chars_format::general);
    if (ec != std::errc() || !std::isfinite(magnitude)) {
        return false;
    }
    value = negative ? -magnitude : magnitude;
    p = next;
    return true;
}

void SkipBlanks(const char*& p, const char* end) {
    while (p < end && IsBlank(*p)) {
        ++p;
    }
}

// Longitude and latitude from the direct Point/coordinates children; false when absent.
// A value that cannot be read stays 0.
bool ReadCoordinates(const TiXmlElement* placemark, double& longitude, double& latitude) {
    longitude = 0;
    latitude = 0;
    const TiXmlNode* point = placemark->FirstChild("Point");
    const TiXmlNode* coordinates = point != nullptr ? point->FirstChild("coordinates") : nullptr;
    const TiXmlElement* element = coordinates != nullptr ? coordinates->ToElement() : nullptr;
    if (element == nullptr) {
        return false;
    }
    const char* text = element->GetText();
    if (text == nullptr) {
        return true;
    }
    const char* p = text;
    const char* end = text + std::strlen(text);
    SkipBlanks(p, end);
    if (!ReadNumber(p, end, longitude)) {
        return true;
    }
    SkipBlanks(p, end);
    if (p == end) {
        return true;
    }
    ++p;  // the separator, normally a comma; any character is taken
    SkipBlanks(p, end);
    ReadNumber(p, end, latitude);
    return true;
}

// The packed angle keeps no sign and one byte of degrees.
bool FitsPackedAngle(double degrees) {
    return degrees >= 0 && std::floor(degrees + 1e-10) < 256;
}

PackedAngle EncodeSafely(double degrees) {
    // EncodeAngle wraps the degree byte; keep far-out values away from integer overflow.
    return std::fabs(degrees) < 1e9 ? EncodeAngle(degrees) : PackedAngle{};
}

// Deepest element nesting of the text, counted the way the parser will meet it: comments,
// CDATA and other markup skipped, quoted attribute values honoured. Stops above limit.
// Counts the Placemark start tags on the way.
bool NestingWithin(const std::string& text, int limit, std::size_t& placemarks) {
    int depth = 0;
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto skipPast = [&](const char* marker, std::size_t from) {
        const std::size_t at = text.find(marker, from);
        return at == std::string::npos ? n : at + std::strlen(marker);
    };
    while ((i = text.find('<', i)) != std::string::npos) {
        if (text.compare(i, 4, "<!--") == 0) {
            i = skipPast("-->", i + 4);
        } else if (text.compare(i, 9, "<![CDATA[") == 0) {
            i = skipPast("]]>", i + 9);
        } else if (text.compare(i, 2, "</") == 0) {
            depth = depth > 0 ? depth - 1 : 0;
            i = skipPast(">", i + 2);
        } else {
            const unsigned char c = i + 1 < n ? static_cast<unsigned char>(text[i + 1]) : 0;
            if (!(std::isalpha(c) || c == '_' || c >= 0x80)) {
                i = skipPast(">", i + 1);
                continue;
            }
            std::size_t j = i + 1;
            char quote = 0;
            for (; j < n; ++j) {
                const char ch = text[j];
                if (quote != 0) {
                    if (ch == quote) {
                        quote = 0;
                    }
                } else if (ch == '"' || ch == '\'') {
                    quote = ch;
                } else if (ch == '>') {
                    break;
                }
            }
            if (j >= n) {
                break;
            }
            if (text.compare(i + 1, 9, "Placemark") == 0 &&
                (j == i + 10 || text[i + 10] == '/' || IsBlank(text[i + 10]))) {
                ++placemarks;
            }
            if (text[j - 1] != '/' && ++depth > limit) {
                return false;
            }
            i = j + 1;
        }
    }
    return true;
}

std::string TooManyPoints(std::size_t count) {
    return "Маршрут содержит " + std::to_string(count) + " точек, а прибор принимает не более " +
           std::to_string(kMaxRoutePoints) + " точек.";
}

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
}

}  // namespace

void FindPlacemarks(const TiXmlNode* node, std::vector<const TiXmlElement*>& out) {
    if (node == nullptr) {
        return;
    }
    // Depth-first, parents before children, without recursion.
    const TiXmlNode* current = node->FirstChild();
    while (current != nullptr) {
        const TiXmlElement* element = current->ToElement();
        if (element != nullptr && std::strcmp(element->Value(), "Placemark") == 0) {
            out.push_back(element);
        }
        if (const TiXmlNode* child = current->FirstChild()) {
            current = child;
            continue;
        }
        while (current != node && current->NextSibling() == nullptr) {
            current = current->Parent();
        }
        if (current == node) {
            break;
        }
        current = current->NextSibling();
    }
}

PackedPosition ReadPlacemarkPosition(const TiXmlElement* placemark) {
    PackedPosition position{};
    double longitude = 0;
    double latitude = 0;
    if (!ReadCoordinates(placemark, longitude, latitude)) {
        return position;
    }
    const PackedAngle lat = EncodeSafely(latitude);
    const PackedAngle lon = EncodeSafely(longitude);
    std::copy(lat.begin(), lat.end(), position.begin());
    std::copy(lon.begin(), lon.end(), position.begin() + 4);
    return position;
}

RoutePoint ReadRoutePoint(const TiXmlElement* placemark) {
    RoutePoint point;
    point.position = ReadPlacemarkPosition(placemark);
    const TiXmlNode* name = placemark->FirstChild("name");
    const TiXmlNode* first = name != nullptr ? name->FirstChild() : nullptr;
    if (first != nullptr && first->ToText() != nullptr) {
        point.name = first->Value();
    }
    return point;
}

std::array<uint8_t, 4> ToDeviceName(const std::string& utf8Name) {
    std::array<uint8_t, 4> out{};
    std::size_t length = 0;
    for (const char c : Utf8ToCp1251(utf8Name)) {
        const uint8_t code = DeviceCharTable[static_cast<uint8_t>(c)];
        if (code == 0 || length == out.size()) {
            break;
        }
        out[length++] = code;
    }
    return out;
}

bool ParseRouteKml(const std::string& text, std::vector<RoutePoint>& route, std::string* error) {
    route.clear();
    if (text.size() > kMaxRouteFileBytes) {
        SetError(error, "Файл маршрута слишком велик (больше 16 МБ).");
        return false;
    }
    if (text.find('\0') != std::string::npos) {
        SetError(error, "Файл маршрута не является текстовым XML-документом.");
        return false;
    }
    // Line ends as the parser's own file loader leaves them: CR LF and CR become LF.
    std::string normalised;
    normalised.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            normalised += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            normalised += text[i];
        }
    }
    std::size_t tags = 0;
    if (!NestingWithin(normalised, kMaxNesting, tags)) {
        SetError(error, "Файл маршрута содержит слишком глубоко вложенные элементы (больше " +
                            std::to_string(kMaxNesting) + " уровней).");
        return false;
    }
    // Too many points for the device: said at once, without building the whole document.
    if (tags > kMaxRoutePoints) {
        SetError(error, TooManyPoints(tags));
        return false;
    }

    // The parser steps over a whole UTF-8 sequence from its lead byte without looking for the
    // end of the text; blank padding keeps a sequence cut off at the end inside the buffer.
    normalised.append(8, '\n');

    TiXmlDocument document;
    document.Parse(normalised.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (document.Error() && document.ErrorId() != TiXmlBase::TIXML_ERROR_DOCUMENT_EMPTY) {
        std::string where;
        if (document.ErrorRow() > 0) {
            where = "строка " + std::to_string(document.ErrorRow()) + ", столбец " +
                    std::to_string(document.ErrorCol()) + ": ";
        }
        SetError(error, "Файл маршрута не является правильным XML-документом (" + where +
                            document.ErrorDesc() + ").");
        return false;
    }
    if (document.Error() || document.RootElement() == nullptr) {
        SetError(error, "Файл маршрута пуст или не содержит ни одного XML-элемента.");
        return false;
    }

    std::vector<const TiXmlElement*> placemarks;
    FindPlacemarks(&document, placemarks);
    if (placemarks.size() > kMaxRoutePoints) {
        SetError(error, TooManyPoints(placemarks.size()));
        return false;
    }
    std::vector<RoutePoint> points;
    points.reserve(placemarks.size());
    for (const TiXmlElement* placemark : placemarks) {
        double longitude = 0;
        double latitude = 0;
        ReadCoordinates(placemark, longitude, latitude);
        RoutePoint point = ReadRoutePoint(placemark);
        if (!FitsPackedAngle(longitude) || !FitsPackedAngle(latitude)) {
            const std::string values =
                "долгота " + FormatKmlNumber(longitude) + ", широта " + FormatKmlNumber(latitude);
            SetError(error, "Точка " + std::to_string(points.size() + 1) + " «" + point.name +
                                "» (" + values +
                                ") не может быть передана: прибор хранит только северную "
                                "широту и восточную долготу меньше 256 градусов.");
            return false;
        }
        points.push_back(std::move(point));
    }
    route = std::move(points);
    return true;
}

bool LoadRouteFile(const std::string& path, std::vector<RoutePoint>& route, std::string* error) {
    route.clear();
    std::string text;
    std::string reason;
    if (!ReadInputFile(path, kMaxRouteFileBytes, text, reason)) {
        SetError(error, "Не удалось прочитать файл маршрута \"" + path + "\": " + reason + ".");
        return false;
    }
    return ParseRouteKml(text, route, error);
}

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
