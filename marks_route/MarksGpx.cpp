// Marks as GPX waypoints; the marks formats.

#include "marks_route/MarksGpx.h"

#include "link/Cp1251.h"
#include "marks_route/Marks.h"
#include "tracks/TrackGpx.h"
#include "tracks/TrackTimeline.h"

const std::array<MarksFormatInfo, 2> kMarksFormats = {{
    {MarksFormat::Kml, "kml", " (Google Earth *.kml)", "*.kml", "kml"},
    {MarksFormat::Gpx, "gpx", "GPX", "*.gpx", "gpx"},
}};

const MarksFormatInfo& MarksFormatOf(MarksFormat format) {
    return format == MarksFormat::Gpx ? kMarksFormats[1] : kMarksFormats[0];
}

std::optional<MarksFormat> MarksFormatByCliName(std::string_view name) {
    for (const MarksFormatInfo& info : kMarksFormats) {
        if (name == info.cliName) {
            return info.format;
        }
    }
    return std::nullopt;
}

std::string MarksFormatFilter(const MarksFormatInfo& info) {
    return std::string(info.label) + " (" + info.pattern + ")";
}

std::string BuildMarksGpx(const std::vector<PackedPosition>& marks, const std::string& title) {
    // The names of the marks KML: the title through its Windows-1251 text, escaped.
    const std::string name = EscapeXml(Cp1251ToUtf8(Utf8ToCp1251(title)));
    std::string out = GpxHeader();
    unsigned i = 0;
    for (const PackedPosition& mark : marks) {
        ++i;
        const double latitude = PositionLatitude(mark.data());
        const double longitude = PositionLongitude(mark.data());
        if (latitude > 90.0 || longitude > 180.0) {
            continue;  // no place on earth; the others keep their numbers
        }
        out += "<wpt ";
        AppendGpxPosition(out, latitude, longitude);
        out += "><name>";
        out += name;
        AppendUnsigned(out, i);
        out += "</name></wpt>\n";
    }
    out += "</gpx>\n";
    return out;
}

KmlWriteResult WriteMarksGpx(const std::string& path, const std::vector<PackedPosition>& marks,
                             std::string* error) {
    if (marks.empty()) {
        return KmlWriteResult::NothingToWrite;
    }
    if (!WriteFileAtomically(path, BuildMarksGpx(marks, MarksTitle(path)), error)) {
        return KmlWriteResult::Failed;
    }
    return KmlWriteResult::Written;
}

KmlWriteResult WriteMarks(MarksFormat format, const std::string& path,
                          const std::vector<PackedPosition>& marks, std::string* error) {
    return format == MarksFormat::Gpx ? WriteMarksGpx(path, marks, error)
                                      : WriteMarksKml(path, marks, error);
}
