// The marks KML writer.

#include "marks_route/Marks.h"

#include "link/Cp1251.h"

std::string BuildMarksKml(const std::vector<PackedPosition>& marks, const std::string& title) {
    // The title goes through the Windows-1251 document text, then is escaped.
    const std::string name = EscapeXml(Cp1251ToUtf8(Utf8ToCp1251(title)));
    std::string out;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out +=
        "<kml xmlns=\"http://www.opengis.net/kml/2.2\" "
        "xmlns:gx=\"http://www.google.com/kml/ext/2.2\" "
        "xmlns:kml=\"http://www.opengis.net/kml/2.2\" "
        "xmlns:atom=\"http://www.w3.org/2005/Atom\">\n";
    out += "<Document>\n<name>";
    out += name;
    out += "</name>\n";
    std::size_t i = 0;
    for (const PackedPosition& mark : marks) {
        out += "<Placemark>\n<name>";
        out += name;
        out += std::to_string(++i);
        out += "</name>\n<Point>\n<coordinates>";
        out += FormatKmlNumber(PositionLongitude(mark.data()));
        out += ',';
        out += FormatKmlNumber(PositionLatitude(mark.data()));
        out += "</coordinates>\n</Point>\n</Placemark>\n";
    }
    out += "</Document>\n</kml>\n";
    return out;
}

KmlWriteResult WriteMarksKml(const std::string& path, const std::vector<PackedPosition>& marks,
                             std::string* error) {
    if (marks.empty()) {
        return KmlWriteResult::NothingToWrite;
    }
    std::string fileName = FileTitle(path);
    if (fileName.empty()) {
        fileName = path;
    }
    // Longer than four characters: the last four (the extension ".kml") are dropped.
    std::wstring title = Utf8ToWide(fileName);
    if (title.size() > 4) {
        title.resize(title.size() - 4);
    }
    if (!WriteFileAtomically(path, BuildMarksKml(marks, WideToUtf8(title)), error)) {
        return KmlWriteResult::Failed;
    }
    return KmlWriteResult::Written;
}
