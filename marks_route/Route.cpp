// Route import from KML and GPX.

#include "marks_route/Route.h"

#include <tinyxml.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <system_error>

#include "link/Cp1251.h"
#include "link/DataFormats.h"
#include "link/InputFile.h"
#include "link/KmlOutput.h"

namespace {

// TinyXML holds the whole text and builds a node per piece of markup, at some 200 bytes each;
// it parses nested elements recursively and checks each attribute against all before it on
// its element. These bounds keep reading any file within a second and 100 MB.
constexpr std::size_t kMaxRouteFileBytes = 8u << 20;
constexpr int kMaxNesting = 256;
constexpr std::size_t kMaxMarkup = 100000;  // elements, comments, CDATA and other markup
constexpr std::size_t kMaxAttributes = 100000;
constexpr std::size_t kMaxElementAttributes = 64;
constexpr std::size_t kMaxListed = 10;  // entries named in one message
constexpr std::size_t kMaxQuoted = 40;  // characters of a bad value quoted in a message

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void SkipBlanks(const char*& p, const char* end) {
    while (p < end && IsBlank(*p)) {
        ++p;
    }
}

// Characters that may belong to a number's text; a run of them is read as one value.
bool IsNumberChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '+' || c == '-';
}

// A whole token as a finite decimal number: sign, digits with an optional point, optional
// exponent. Words such as "inf" and "nan", hexadecimal and numbers beyond range are refused.
std::optional<double> DecimalNumber(std::string_view token) {
    if (token.empty()) {
        return std::nullopt;
    }
    bool negative = false;
    if (token.front() == '+' || token.front() == '-') {
        negative = token.front() == '-';
        token.remove_prefix(1);
    }
    if (token.empty() ||
        !(std::isdigit(static_cast<unsigned char>(token.front())) || token.front() == '.')) {
        return std::nullopt;
    }
    for (const char c : token) {
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == 'e' || c == 'E' ||
              c == '+' || c == '-')) {
            return std::nullopt;
        }
    }
    double magnitude = 0;
    const char* end = token.data() + token.size();
    const auto [next, ec] =
        std::from_chars(token.data(), end, magnitude, std::chars_format::general);
    if (ec != std::errc() || next != end || !std::isfinite(magnitude)) {
        return std::nullopt;
    }
    return negative ? -magnitude : magnitude;
}

std::string Quoted(std::string_view text) {
    std::string out(text.substr(0, kMaxQuoted));
    if (text.size() > kMaxQuoted) {
        out += "…";
    }
    return "«" + out + "»";
}

std::string EntryTitle(const RouteEntry& entry) {
    std::string title = std::to_string(entry.number);
    if (!entry.name.empty()) {
        title += " " + Quoted(entry.name);
    }
    return title;
}

template <typename T, typename Format>
std::string ListOf(const std::vector<T>& items, const char* separator, Format format) {
    std::string out;
    for (std::size_t i = 0; i < items.size() && i < kMaxListed; ++i) {
        out += (i > 0 ? separator : "") + format(items[i]);
    }
    if (items.size() > kMaxListed) {
        out += " и ещё " + std::to_string(items.size() - kMaxListed);
    }
    return out;
}

// "из 1 точки", "из 5 точек", "из 21 точки".
std::string OfPoints(std::size_t count) {
    const bool one = count % 10 == 1 && count % 100 != 11;
    return std::to_string(count) + (one ? " точки" : " точек");
}

std::string TooManyPoints(std::size_t count) {
    return "Маршрут содержит " + std::to_string(count) + " точек, а прибор принимает не более " +
           std::to_string(kMaxRoutePoints) + " точек.";
}

// One entry read once: its point, or that it has no position, or why it cannot be sent.
struct Entry {
    RoutePoint point;
    bool hasPosition = false;
    std::string problem;  // follows the point's title: ": долгота «nan» не является …"
};

// Checks a read position against what the device can hold.
void SetPosition(Entry& entry, double longitude, double latitude) {
    if (latitude < 0 || longitude < 0) {
        entry.problem = " (долгота " + FormatKmlNumber(longitude) + ", широта " +
                        FormatKmlNumber(latitude) +
                        ") не может быть передана: прибор хранит только северную широту и "
                        "восточную долготу";
    } else if (latitude > 90) {
        entry.problem = ": широта " + FormatKmlNumber(latitude) + " больше 90 градусов";
    } else if (longitude > 180) {
        entry.problem = ": долгота " + FormatKmlNumber(longitude) + " больше 180 градусов";
    } else {
        entry.point.position = PackPosition(latitude, longitude);
        entry.hasPosition = true;
    }
}

// The next value of a coordinates text: a run of number characters after blanks.
std::string_view NextToken(const char*& p, const char* end) {
    SkipBlanks(p, end);
    const char* start = p;
    while (p < end && IsNumberChar(*p)) {
        ++p;
    }
    return {start, static_cast<std::size_t>(p - start)};
}

std::optional<double> ReadValue(std::string_view token, const char* what, Entry& entry) {
    std::optional<double> value = DecimalNumber(token);
    if (!value) {
        entry.problem = token.empty() ? std::string(": не указана ") + what
                                      : std::string(": ") + what + " " + Quoted(token) +
                                            " не является десятичным числом";
    }
    return value;
}

// "longitude,latitude[,altitude] [more tuples]": the first tuple's two values.
void ReadCoordinatesText(const char* text, Entry& entry) {
    const char* p = text;
    const char* end = text + std::strlen(text);
    const std::optional<double> longitude = ReadValue(NextToken(p, end), "долгота", entry);
    if (!longitude) {
        return;
    }
    SkipBlanks(p, end);
    if (p == end) {
        entry.problem = ": не указана широта";
        return;
    }
    if (IsNumberChar(*p)) {
        // Blanks alone do not separate longitude from latitude; taking the next character as
        // the separator would cut the latitude.
        entry.problem = ": долгота и широта не разделены запятой";
        return;
    }
    ++p;  // the separator, normally a comma
    const std::optional<double> latitude = ReadValue(NextToken(p, end), "широта", entry);
    if (latitude) {
        SetPosition(entry, *longitude, *latitude);
    }
}

std::string ElementText(const TiXmlElement* parent, const char* child) {
    const TiXmlNode* node = parent->FirstChild(child);
    const TiXmlNode* first = node != nullptr ? node->FirstChild() : nullptr;
    return first != nullptr && first->ToText() != nullptr ? first->Value() : std::string();
}

// A Placemark: its name and the direct Point/coordinates children's first tuple.
Entry ReadPlacemark(const TiXmlElement* placemark) {
    Entry entry;
    entry.point.name = ElementText(placemark, "name");
    const TiXmlNode* point = placemark->FirstChild("Point");
    const TiXmlNode* coordinates = point != nullptr ? point->FirstChild("coordinates") : nullptr;
    const TiXmlElement* element = coordinates != nullptr ? coordinates->ToElement() : nullptr;
    if (element != nullptr) {
        const char* text = element->GetText();
        ReadCoordinatesText(text != nullptr ? text : "", entry);
    }
    return entry;
}

// A GPX rtept or wpt: the lat and lon attributes and the name child.
Entry ReadGpxPoint(const TiXmlElement* point) {
    Entry entry;
    entry.point.name = ElementText(point, "name");
    const char* lat = point->Attribute("lat");
    const char* lon = point->Attribute("lon");
    if (lat == nullptr || lon == nullptr) {
        return entry;
    }
    auto token = [](const char* text) {
        std::string_view view(text);
        while (!view.empty() && IsBlank(view.front())) {
            view.remove_prefix(1);
        }
        while (!view.empty() && IsBlank(view.back())) {
            view.remove_suffix(1);
        }
        return view;
    };
    const std::optional<double> latitude = ReadValue(token(lat), "широта", entry);
    const std::optional<double> longitude =
        latitude ? ReadValue(token(lon), "долгота", entry) : std::nullopt;
    if (latitude && longitude) {
        SetPosition(entry, *longitude, *latitude);
    }
    return entry;
}

// The route entries of a GPX document: rtept of the first rte, or else every wpt.
std::vector<const TiXmlElement*> GpxEntries(const TiXmlElement* root) {
    std::vector<const TiXmlElement*> entries;
    if (const TiXmlElement* route = root->FirstChildElement("rte")) {
        for (const TiXmlElement* e = route->FirstChildElement("rtept"); e != nullptr;
             e = e->NextSiblingElement("rtept")) {
            entries.push_back(e);
        }
    }
    if (entries.empty()) {
        for (const TiXmlElement* e = root->FirstChildElement("wpt"); e != nullptr;
             e = e->NextSiblingElement("wpt")) {
            entries.push_back(e);
        }
    }
    return entries;
}

// What the text holds, counted the way the parser will meet it (comments, CDATA and other
// markup skipped, quoted attribute values honoured), and where it ends if cut off.
struct MarkupScan {
    std::string refusal;
    std::size_t placemarks = 0;
    std::string root;          // the first element's name
    std::size_t lastLine = 1;  // of the last character that is not blank
    std::string unfinished;  // what a cut-off text leaves open, e.g. "не закрыт элемент <a>"

    explicit MarkupScan(const std::string& text) : m_text(text) { Run(); }

private:
    struct Open {
        std::string name;
        std::size_t line;
    };

    std::size_t LineAt(std::size_t pos) {
        if (pos < m_counted) {
            return m_line;
        }
        m_line += static_cast<std::size_t>(
            std::count(m_text.begin() + static_cast<std::ptrdiff_t>(m_counted),
                       m_text.begin() + static_cast<std::ptrdiff_t>(pos), '\n'));
        m_counted = pos;
        return m_line;
    }
    std::string From(std::size_t line) { return " из строки " + std::to_string(line); }
    // Past marker from pos; npos when the text ends first.
    std::size_t Past(const char* marker, std::size_t pos) const {
        const std::size_t at = m_text.find(marker, pos);
        return at == std::string::npos ? at : at + std::strlen(marker);
    }
    bool CountMarkup() {
        if (++m_markup > kMaxMarkup) {
            refusal = "Файл маршрута содержит слишком много разметки XML (больше " +
                      std::to_string(kMaxMarkup) + " элементов).";
            return false;
        }
        return true;
    }

    void Run() {
        const std::size_t n = m_text.size();
        std::size_t i = 0;
        while ((i = m_text.find('<', i)) != std::string::npos) {
            const std::size_t line = LineAt(i);
            std::size_t next = std::string::npos;
            const char* open = nullptr;
            bool node = true;  // an end tag is no node of its own
            if (m_text.compare(i, 4, "<!--") == 0) {
                next = Past("-->", i + 4);
                open = "не закончен комментарий";
            } else if (m_text.compare(i, 9, "<![CDATA[") == 0) {
                next = Past("]]>", i + 9);
                open = "не закончен раздел CDATA";
            } else if (m_text.compare(i, 2, "</") == 0) {
                if (!m_open.empty()) {
                    m_open.pop_back();
                }
                next = Past(">", i + 2);
                open = "не закончен закрывающий тег";
                node = false;
            } else {
                const unsigned char c = i + 1 < n ? static_cast<unsigned char>(m_text[i + 1]) : 0;
                // The parser takes any byte from 0x7F up as a letter.
                if (std::isalpha(c) || c == '_' || c >= 0x7F) {
                    if (!Element(i, line)) {
                        return;
                    }
                    i = m_end;
                    continue;
                }
                next = Past(">", i + 1);
                open = "не закончена разметка";
            }
            if (next == std::string::npos) {
                unfinished = std::string(open) + From(line);
                break;
            }
            if (node && !CountMarkup()) {
                return;
            }
            i = next;
        }
        if (unfinished.empty() && !m_open.empty()) {
            unfinished =
                "не закрыт элемент <" + m_open.back().name + ">" + From(m_open.back().line);
        }
        std::size_t last = n;
        while (last > 0 && IsBlank(m_text[last - 1])) {
            --last;
        }
        lastLine = last > 0 ? LineAt(last - 1) : 1;
    }

    // A start tag at i; sets m_end past it. False when the text is refused.
    bool Element(std::size_t i, std::size_t line) {
        const std::size_t n = m_text.size();
        std::size_t nameEnd = i + 1;
        while (nameEnd < n && !IsBlank(m_text[nameEnd]) && m_text[nameEnd] != '/' &&
               m_text[nameEnd] != '>') {
            ++nameEnd;
        }
        std::string name = m_text.substr(i + 1, std::min<std::size_t>(nameEnd - i - 1, 64));
        std::size_t j = nameEnd;
        std::size_t attributes = 0;
        char quote = 0;
        for (; j < n; ++j) {
            const char ch = m_text[j];
            if (quote != 0) {
                if (ch == quote) {
                    quote = 0;
                }
            } else if (ch == '"' || ch == '\'') {
                quote = ch;
            } else if (ch == '=') {
                ++attributes;
            } else if (ch == '>') {
                break;
            }
        }
        if (j >= n) {
            unfinished = "не закончен тег <" + name + From(line);
            m_end = n;
            return true;
        }
        if (!CountMarkup()) {
            return false;
        }
        m_attributes += attributes;
        if (attributes > kMaxElementAttributes || m_attributes > kMaxAttributes) {
            refusal = "Файл маршрута содержит слишком много атрибутов XML (строка " +
                      std::to_string(line) + ", элемент <" + name + ">).";
            return false;
        }
        if (name == "Placemark") {
            ++placemarks;
        }
        if (root.empty()) {
            root = name;
        }
        if (m_text[j - 1] != '/') {
            if (m_open.size() >= static_cast<std::size_t>(kMaxNesting)) {
                refusal = "Файл маршрута содержит слишком глубоко вложенные элементы (больше " +
                          std::to_string(kMaxNesting) + " уровней).";
                return false;
            }
            m_open.push_back({std::move(name), line});
        }
        m_end = j + 1;
        return true;
    }

    const std::string& m_text;
    std::size_t m_line = 1;
    std::size_t m_counted = 0;
    std::size_t m_markup = 0;
    std::size_t m_attributes = 0;
    std::size_t m_end = 0;
    std::vector<Open> m_open;
};

// The parser's error kinds in words.
const char* ParserErrorText(int id) {
    switch (id) {
        case TiXmlBase::TIXML_ERROR_PARSING_ELEMENT:
            return "неправильный элемент";
        case TiXmlBase::TIXML_ERROR_FAILED_TO_READ_ELEMENT_NAME:
            return "не удалось прочитать имя элемента";
        case TiXmlBase::TIXML_ERROR_READING_ELEMENT_VALUE:
            return "не удалось прочитать содержимое элемента";
        case TiXmlBase::TIXML_ERROR_READING_ATTRIBUTES:
            return "неправильные атрибуты элемента";
        case TiXmlBase::TIXML_ERROR_PARSING_EMPTY:
            return "неправильный пустой элемент";
        case TiXmlBase::TIXML_ERROR_READING_END_TAG:
            return "закрывающий тег не совпадает с открытым элементом";
        case TiXmlBase::TIXML_ERROR_PARSING_UNKNOWN:
            return "непонятная разметка";
        case TiXmlBase::TIXML_ERROR_PARSING_COMMENT:
            return "неправильный комментарий";
        case TiXmlBase::TIXML_ERROR_PARSING_DECLARATION:
            return "неправильное XML-объявление";
        case TiXmlBase::TIXML_ERROR_EMBEDDED_NULL:
            return "нулевой байт в тексте";
        case TiXmlBase::TIXML_ERROR_PARSING_CDATA:
            return "неправильный раздел CDATA";
        default:
            return "ошибка разбора XML";
    }
}

std::string ParserError(const TiXmlDocument& document, const MarkupScan& scan) {
    if (!scan.unfinished.empty()) {
        return "Файл маршрута обрывается на строке " + std::to_string(scan.lastLine) + ": " +
               scan.unfinished + ".";
    }
    std::string where;
    if (document.ErrorRow() > 0) {
        // Past the last line only the blank padding is left: the text ended there.
        const auto row =
            std::min<std::size_t>(static_cast<std::size_t>(document.ErrorRow()), scan.lastLine);
        where = "строка " + std::to_string(row);
        if (row == static_cast<std::size_t>(document.ErrorRow())) {
            where += ", столбец " + std::to_string(document.ErrorCol());
        }
        where += ": ";
    }
    return "Файл маршрута не является правильным XML-документом (" + where +
           ParserErrorText(document.ErrorId()) + ").";
}

RouteReading Refused(std::string why) {
    RouteReading reading;
    reading.refusal = std::move(why);
    return reading;
}

RouteReading TooLarge() {
    return Refused("Файл маршрута слишком велик (больше " +
                   std::to_string(kMaxRouteFileBytes >> 20) + " МБ).");
}

// Device names that come out equal, each later point paired with the first of its name.
void FindSameNames(RouteReading& reading, const std::vector<std::size_t>& numbers) {
    std::map<std::array<uint8_t, 4>, std::size_t> first;
    for (std::size_t i = 0; i < reading.points.size(); ++i) {
        const auto [at, inserted] = first.emplace(ToDeviceName(reading.points[i].name), i);
        if (!inserted) {
            const std::size_t k = at->second;
            reading.sameDeviceName.push_back(
                {{numbers[k], reading.points[k].name}, {numbers[i], reading.points[i].name}});
        }
    }
}

}  // namespace

bool RouteReading::NeedsConfirmation() const {
    return !Refused() && (points.empty() || !withoutPosition.empty());
}

std::string RouteReading::Concern() const {
    if (!NeedsConfirmation()) {
        return {};
    }
    const std::string missing =
        "нет координат у точек " + ListOf(withoutPosition, ", ", EntryTitle);
    if (points.empty()) {
        return withoutPosition.empty() ? "В файле нет точек маршрута."
                                       : "В файле нет точек маршрута: " + missing + ".";
    }
    return "В файле " + missing + "; они не будут переданы.";
}

std::string RouteReading::Question() const {
    if (!NeedsConfirmation()) {
        return {};
    }
    return Concern() + (points.empty() ? " Стереть маршрут в приборе?"
                                       : " Передать маршрут из " + OfPoints(points.size()) + "?");
}

std::string RouteReading::Warning() const {
    if (Refused() || sameDeviceName.empty()) {
        return {};
    }
    return "В приборе будут одинаковые имена у точек " +
           ListOf(sameDeviceName, "; ",
                  [](const std::pair<RouteEntry, RouteEntry>& pair) {
                      return EntryTitle(pair.first) + " и " + EntryTitle(pair.second);
                  }) +
           ".";
}

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

RoutePoint ReadRoutePoint(const TiXmlElement* placemark) {
    Entry entry = ReadPlacemark(placemark);
    if (!entry.hasPosition) {
        entry.point.position = {};
    }
    return entry.point;
}

PackedPosition ReadPlacemarkPosition(const TiXmlElement* placemark) {
    return ReadRoutePoint(placemark).position;
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

RouteReading ReadRouteText(std::string text) {
    if (text.size() > kMaxRouteFileBytes) {
        return TooLarge();
    }
    if (text.find('\0') != std::string::npos) {
        return Refused("Файл маршрута не является текстовым XML-документом.");
    }
    // Line ends as the parser's own file loader leaves them: CR LF and CR become LF.
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            text[out++] = '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            text[out++] = text[i];
        }
    }
    text.resize(out);

    const MarkupScan scan(text);
    if (!scan.refusal.empty()) {
        return Refused(scan.refusal);
    }
    // Too many points for the device: said at once, without building the whole document.
    if (scan.root != "gpx" && scan.placemarks > kMaxRoutePoints) {
        return Refused(TooManyPoints(scan.placemarks));
    }

    // The parser steps over a whole UTF-8 sequence from its lead byte without looking for the
    // end of the text; blank padding keeps a sequence cut off at the end inside the buffer.
    text.append(8, '\n');

    TiXmlDocument document;
    document.SetTabSize(1);  // columns count characters
    document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (document.Error() && document.ErrorId() != TiXmlBase::TIXML_ERROR_DOCUMENT_EMPTY) {
        return Refused(ParserError(document, scan));
    }
    const TiXmlElement* root = document.RootElement();
    if (document.Error() || root == nullptr) {
        return Refused("Файл маршрута пуст или не содержит ни одного XML-элемента.");
    }

    const bool gpx = std::strcmp(root->Value(), "gpx") == 0;
    std::vector<const TiXmlElement*> elements;
    if (gpx) {
        elements = GpxEntries(root);
    } else {
        FindPlacemarks(&document, elements);
    }
    if (elements.size() > kMaxRoutePoints) {
        return Refused(TooManyPoints(elements.size()));
    }
    RouteReading reading;
    std::vector<std::size_t> numbers;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        Entry entry = gpx ? ReadGpxPoint(elements[i]) : ReadPlacemark(elements[i]);
        const RouteEntry named{i + 1, entry.point.name};
        if (!entry.problem.empty()) {
            return Refused("Точка " + EntryTitle(named) + entry.problem + ".");
        }
        if (entry.hasPosition) {
            reading.points.push_back(std::move(entry.point));
            numbers.push_back(i + 1);
        } else {
            reading.withoutPosition.push_back(named);
        }
    }
    FindSameNames(reading, numbers);
    return reading;
}

RouteReading ReadRouteFile(const std::string& path) {
    auto failed = [&](const std::string& why) {
        return Refused("Не удалось прочитать файл маршрута \"" + path + "\": " + why + ".");
    };
    std::string text;
    std::string reason;
    switch (ReadInputFile(path, kMaxRouteFileBytes, text, reason)) {
        case InputFileResult::kRead:
            return ReadRouteText(std::move(text));
        case InputFileResult::kTooLarge:
            return TooLarge();
        case InputFileResult::kFailed:
            return failed(reason);
        case InputFileResult::kFolder:
            return failed("это папка");
        case InputFileResult::kPipe:
            return failed("это канал");
        case InputFileResult::kSocket:
            return failed("это сокет");
        case InputFileResult::kDevice:
            return failed("это устройство");
        case InputFileResult::kNotRegular:
            break;
    }
    return failed("это не обычный файл");
}

bool LoadRouteFile(const std::string& path, std::vector<RoutePoint>& route, std::string* error) {
    RouteReading reading = ReadRouteFile(path);
    route.clear();
    const std::string why = reading.Refused() ? reading.refusal : reading.Concern();
    if (!why.empty()) {
        if (error != nullptr) {
            *error = why;
        }
        return false;
    }
    route = std::move(reading.points);
    return true;
}
