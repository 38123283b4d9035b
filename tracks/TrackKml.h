#pragma once
// KML export of downloaded tracks: one folder per day.

#include <string>
#include <vector>

#include "link/KmlOutput.h"
#include "tracks/TrackEntry.h"

std::string FormatTrackDate(const TrackEntry& entry);  // "%d.%m.%y", "" when not convertible
std::string FormatTrackTime(const TrackEntry& entry);  // "%H:%M:%S"
// The whole document as UTF-8 with LF line ends.
std::string BuildTrackKml(const std::vector<TrackEntry>& tracks, const std::string& title);
// Sorts a copy by start time and writes it atomically (CR LF). Empty input touches nothing.
KmlWriteResult WriteTrackKml(const std::vector<TrackEntry>& tracks, const std::string& path,
                             std::string* error = nullptr);
