// The download formats and their one entry point.

#include "tracks/TrackFormats.h"

#include <algorithm>

#include "tracks/TrackFileName.h"
#include "tracks/TrackGpx.h"
#include "tracks/TrackIgc.h"
#include "tracks/TrackKml.h"
#include "tracks/TrackKmlTime.h"
#include "tracks/TrackTable.h"

const std::array<TrackFormatInfo, 4> kTrackFormats = {{
    {TrackFormat::Kml, "kml", " (Google Earth *.kml)", "*.kml", "kml", false},
    {TrackFormat::KmlTime, "kml-time", "KML со временем", "*.kml", "kml", false},
    {TrackFormat::Gpx, "gpx", "GPX", "*.gpx", "gpx", false},
    {TrackFormat::Igc, "igc", "IGC (папка)", "*.igc", "", true},
}};

const TrackFormatInfo& TrackFormatOf(TrackFormat format) {
    for (const TrackFormatInfo& info : kTrackFormats) {
        if (info.format == format) {
            return info;
        }
    }
    return kTrackFormats[0];
}

std::optional<TrackFormat> TrackFormatByCliName(std::string_view name) {
    for (const TrackFormatInfo& info : kTrackFormats) {
        if (name == info.cliName) {
            return info.format;
        }
    }
    return std::nullopt;
}

std::string TrackFormatFilter(const TrackFormatInfo& info) {
    return std::string(info.label) + " (" + info.pattern + ")";
}

KmlWriteResult WriteTracks(TrackFormat format, const std::string& path,
                           const std::vector<TrackEntry>& tracks, const ClockOffset& offset,
                           std::string* error, std::vector<std::string>* notes) {
    switch (format) {
        case TrackFormat::KmlTime:
            return WriteTracksKmlTime(tracks, path, offset, error, notes);
        case TrackFormat::Gpx:
            return WriteTracksGpx(tracks, path, offset, error, notes);
        case TrackFormat::Igc:
            return WriteTracksIgc(tracks, path, offset, error, notes);
        case TrackFormat::Kml:
            break;
    }
    return WriteTrackKml(tracks, path, error);
}

std::string UtcOffsetUsedText(const std::vector<TrackEntry>& tracks, const ClockOffset& offset) {
    std::string text = "Смещение часов прибора от UTC: ";
    if (!offset.fromComputer) {
        return text + FormatUtcOffset(offset.seconds);
    }
    std::vector<int> seen;
    for (const TrackEntry* track : TracksInStartOrder(tracks)) {
        const int seconds = TrackTimeline(*track, offset).OffsetSeconds();
        if (std::find(seen.begin(), seen.end(), seconds) == seen.end()) {
            text += seen.empty() ? "" : ", ";
            text += FormatUtcOffset(seconds);
            seen.push_back(seconds);
        }
    }
    return text + " (часовой пояс компьютера)";
}

std::string SuggestedTrackFileName(const std::vector<TrackEntry>& table,
                                   const std::vector<uint32_t>& rows, TrackFormat format) {
    std::string name = TrackDatesName(table, rows);
    const TrackFormatInfo& info = TrackFormatOf(format);
    if (!name.empty() && !info.folder) {
        name += '.';
        name += info.extension;
    }
    return name;
}

std::string SuggestedTrackFileName(const std::vector<TrackEntry>& tracks, TrackFormat format) {
    std::vector<uint32_t> rows(tracks.size());
    for (uint32_t i = 0; i < rows.size(); ++i) {
        rows[i] = i;
    }
    return SuggestedTrackFileName(tracks, rows, format);
}
