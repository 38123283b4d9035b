#pragma once
// The file formats a download can be written in, shared by the window and the command line.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/KmlOutput.h"
#include "link/TrackEntry.h"
#include "tracks/TrackTimeline.h"

enum class TrackFormat { Kml, KmlTime, Gpx, Igc };

struct TrackFormatInfo {
    TrackFormat format;
    const char* cliName;    // --format value
    const char* label;      // file dialog filter name
    const char* pattern;    // file dialog pattern
    const char* extension;  // default extension ("" for a folder)
    bool folder;            // the output is a folder of files
};

// The track KML first, in the order the save dialog offers them.
extern const std::array<TrackFormatInfo, 4> kTrackFormats;
const TrackFormatInfo& TrackFormatOf(TrackFormat format);
std::optional<TrackFormat> TrackFormatByCliName(std::string_view name);
// "GPX (*.gpx)", as a file dialog takes it.
std::string TrackFormatFilter(const TrackFormatInfo& info);

// Writes the tracks in format to path (a folder for IGC). The offset is not used by the track
// KML. notes receive what was left out or written without times, one text each.
KmlWriteResult WriteTracks(TrackFormat format, const std::string& path,
                           const std::vector<TrackEntry>& tracks, const ClockOffset& offset,
                           std::string* error = nullptr, std::vector<std::string>* notes = nullptr);

// Which offset the UTC times were made with, for the user: "Смещение часов прибора от UTC:
// +3:00", with "(часовой пояс компьютера)" when it came from the computer's zone (each
// distinct offset of the tracks listed once, in start order).
std::string UtcOffsetUsedText(const std::vector<TrackEntry>& tracks, const ClockOffset& offset);

// A file name from the flight dates: "2024-06-14.kml", "2024-06-14_2024-06-17.gpx"; for IGC
// the folder name without extension. "" for no tracks.
std::string SuggestedTrackFileName(const std::vector<TrackEntry>& tracks, TrackFormat format);
// The same for the rows of the table that were chosen.
std::string SuggestedTrackFileName(const std::vector<TrackEntry>& table,
                                   const std::vector<uint32_t>& rows, TrackFormat format);
