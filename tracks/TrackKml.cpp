// KML export of downloaded tracks: one folder per day, a line and a point folder per track.

#include "tracks/TrackKml.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <functional>

#include "link/Cp1251.h"
#include "link/LocalTime.h"
#include "tracks/TrackTable.h"

namespace {

// Start time through mktime and back through the local time, formatted; "" when it fails.
std::string FormatStart(const TrackEntry& entry, const char* format) {
    const std::time_t start = static_cast<std::time_t>(TrackStartTime(entry));
    if (start == static_cast<std::time_t>(-1)) {
        return {};
    }
    std::tm local{};
    if (!LocalTimeOf(start, local)) {
        return {};
    }
    char text[128];
    const std::size_t length = std::strftime(text, sizeof text, format, &local);
    return std::string(text, length);
}

// The title as it comes out of the Windows-1251 document: characters that code page lacks
// are replaced by the converter; reserved characters are escaped.
std::string DocumentTitle(const std::string& title) {
    return EscapeXml(Cp1251ToUtf8(Utf8ToCp1251(title)));
}

void AppendUnsigned(std::string& out, unsigned value) {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

void AppendPosition(std::string& out, const TrackPoint& point) {
    out += FormatKmlNumber(point.Longitude());
    out += ',';
    out += FormatKmlNumber(point.Latitude());
    out += ',';
    out += FormatKmlNumber(point.Altitude());
}

// A text that grows past this many bytes is handed on at the next point (when writing).
constexpr std::size_t kPieceBytes = 1 << 20;
using Spill = std::function<bool(std::string& out)>;

// Hands the text so far on when it has grown large; false when writing has failed.
bool SpillIfLarge(std::string& out, const Spill& spill) {
    return !spill || out.size() < kPieceBytes || spill(out);
}

bool AppendTrack(std::string& out, const TrackEntry& track, const Spill& spill) {
    const std::string time = FormatTrackTime(track);
    out += "\t<Placemark>\n\t\t<name>";
    out += time;
    out += "</name>\n";
    out +=
        "\t\t<styleUrl>#sn_ylw-pushpin_copy16</styleUrl>\n\t\t<LineString>\n"
        "\t\t\t<extrude>1</extrude>\n\t\t\t<altitudeMode>absolute</altitudeMode>\n"
        "\t\t\t<coordinates>\n";
    for (const TrackPoint& point : track.points) {
        AppendPosition(out, point);
        out += ' ';
        if (!SpillIfLarge(out, spill)) {
            return false;
        }
    }
    out += "\n\t\t\t</coordinates>\n\t\t</LineString>\n\t</Placemark>\n";

    out += "\t<Folder>\n\t\t<name>";
    out += time;
    out += "M</name>\n";
    unsigned i = 0;
    for (const TrackPoint& point : track.points) {
        out += "\t\t<Placemark>\n\t\t\t<name>";
        AppendUnsigned(out, i++);
        out +=
            "</name>\n\t\t\t<styleUrl>#sn_ylw-pushpin_copy16</styleUrl>\n"
            "\t\t\t<ExtendedData>\n\t\t\t\t<Data name=\"Высота над уровнем моря\">\n"
            "\t\t\t\t\t<value>";
        out += FormatKmlNumber(point.Altitude());
        out +=
            "</value>\n\t\t\t\t</Data>\n\t\t\t\t<Data name=\"Путевая скорость\">\n"
            "\t\t\t\t\t<value>";
        AppendUnsigned(out, point.GroundSpeed());
        out +=
            "</value>\n\t\t\t\t</Data>\n\t\t\t\t<Data name=\"Вертикальная скорость\">\n"
            "\t\t\t\t\t<value>";
        out += FormatKmlNumber(point.VerticalSpeed());
        out +=
            "</value>\n\t\t\t\t</Data>\n\t\t\t\t<Data name=\"Воздушная скорость\">\n"
            "\t\t\t\t\t<value>";
        AppendUnsigned(out, point.AirSpeed());
        out +=
            "</value>\n\t\t\t\t</Data>\n\t\t\t</ExtendedData>\n\t\t\t<Point>\n"
            "\t\t\t\t<altitudeMode>absolute</altitudeMode>\n\t\t\t\t<coordinates>";
        AppendPosition(out, point);
        out += "</coordinates>\n\t\t\t</Point>\n\t\t</Placemark>\n";
        if (!SpillIfLarge(out, spill)) {
            return false;
        }
    }
    out += "\t</Folder>\n";
    return true;
}

}  // namespace

std::string FormatTrackDate(const TrackEntry& entry) {
    return FormatStart(entry, "%d.%m.%y");
}

std::string FormatTrackTime(const TrackEntry& entry) {
    return FormatStart(entry, "%H:%M:%S");
}

namespace {

// The whole document onto out; with spill, handed on in pieces of about kPieceBytes.
bool BuildTrackKmlInto(const std::vector<const TrackEntry*>& tracks, const std::string& title,
                       std::string& out, const Spill& spill) {
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<kml xmlns=\"http://earth.google.com/kml/2.2\">\n<Document>\n";
    out += "<name>";
    out += DocumentTitle(title);
    out += "</name>\n";
    out +=
        "<Style id=\"sn_ylw-pushpin_copy16\"><LineStyle><color>ff00ffff</color><width>2</width>"
        "</LineStyle><PolyStyle><color>7fffff55</color><outline>0</outline></PolyStyle>"
        "</Style>\n";
    out += "<Folder>\n\t<name>";
    std::string day = tracks.empty() ? std::string() : FormatTrackDate(*tracks.front());
    out += day;
    out += "</name>\n";
    for (const TrackEntry* track : tracks) {
        const std::string date = FormatTrackDate(*track);
        if (date != day) {
            out += "</Folder>\n<Folder>\n\t<name>";
            out += date;
            out += "</name>\n";
            day = date;
        }
        if (!AppendTrack(out, *track, spill)) {
            return false;
        }
    }
    out += "</Folder>\n</Document>\n</kml>\n";
    return true;
}

std::vector<const TrackEntry*> Pointers(const std::vector<TrackEntry>& tracks) {
    std::vector<const TrackEntry*> pointers;
    pointers.reserve(tracks.size());
    for (const TrackEntry& track : tracks) {
        pointers.push_back(&track);
    }
    return pointers;
}

// Text of one track of the given points, with CR LF counted, for the size estimate.
uint64_t TrackTextBytes(std::size_t points) {
    TrackEntry track;
    track.record = {5, 3, 13, 9, 7, 0, 0, 0, 1, 2, 0, 1};
    // A point as a flight gives it: 55°45.3500' 37°37.0400', 1234 m, 123, 2.5 down, 130.
    const TrackPoint point{
        {55, 45, 0x0D, 0xAC, 37, 37, 0x01, 0x70, 0, 0, 0, 0, 123, 0x04, 0xD2, 0x00, 2, 5, 0, 130}};
    track.points.assign(points, point);
    std::string out;
    AppendTrack(out, track, nullptr);
    return out.size() + static_cast<uint64_t>(std::count(out.begin(), out.end(), '\n'));
}

}  // namespace

std::string BuildTrackKml(const std::vector<TrackEntry>& tracks, const std::string& title) {
    std::string out;
    // About 700 characters per point; reserving once spares the copies of a growing text.
    std::size_t points = 0;
    for (const TrackEntry& track : tracks) {
        points += track.points.size();
    }
    out.reserve(4096 + tracks.size() * 1024 + points * 720);
    BuildTrackKmlInto(Pointers(tracks), title, out, nullptr);
    return out;
}

KmlWriteResult WriteTrackKml(const std::vector<TrackEntry>& tracks, const std::string& path,
                             std::string* error) {
    return WriteTrackKmlFrom(Pointers(tracks), path, error);
}

KmlWriteResult WriteTrackKmlFrom(const std::vector<const TrackEntry*>& tracks,
                                 const std::string& path, std::string* error) {
    if (tracks.empty()) {
        return KmlWriteResult::NothingToWrite;
    }
    // The order is sorted, never the tracks: no copy of their points is made.
    std::vector<const TrackEntry*> sorted = tracks;
    std::sort(sorted.begin(), sorted.end(),
              [](const TrackEntry* a, const TrackEntry* b) { return TrackStartsBefore(*a, *b); });
    std::string title = FileTitle(path);
    if (title.empty()) {
        title = path;
    }
    // Written in pieces as it is made: no copy of a large document is held in memory.
    const auto fill = [&sorted, &title](const KmlPieceWriter& write) {
        std::string out;
        out.reserve(kPieceBytes + 64 * 1024);
        const Spill spill = [&write](std::string& text) {
            const bool written = write(text);
            text.clear();
            return written;
        };
        return BuildTrackKmlInto(sorted, title, out, spill) && write(out);
    };
    if (!WriteFileAtomically(path, fill, error)) {
        return KmlWriteResult::Failed;
    }
    return KmlWriteResult::Written;
}

uint64_t EstimateTrackKmlBytes(const std::vector<uint32_t>& pointCounts) {
    static const uint64_t perPoint = TrackTextBytes(1) - TrackTextBytes(0);
    static const uint64_t perTrack = TrackTextBytes(0);
    // Header, style, the day folders' tags and the title.
    constexpr uint64_t kDocumentBytes = 1024;
    constexpr uint64_t kDayFolderBytes = 40;
    uint64_t bytes = kDocumentBytes;
    for (const uint32_t points : pointCounts) {
        bytes += perTrack + kDayFolderBytes + perPoint * points;
    }
    return bytes;
}
