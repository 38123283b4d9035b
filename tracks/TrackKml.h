#pragma once
// KML export of downloaded tracks: one folder per day.

#include <cstdint>
#include <string>
#include <vector>

#include "link/KmlOutput.h"
#include "link/TrackEntry.h"

std::string FormatTrackDate(const TrackEntry& entry);  // "%d.%m.%y", "" when not convertible
std::string FormatTrackTime(const TrackEntry& entry);  // "%H:%M:%S"
// The whole document as UTF-8 with LF line ends.
std::string BuildTrackKml(const std::vector<TrackEntry>& tracks, const std::string& title);
// Sorts a copy by start time and writes it atomically (CR LF). Empty input touches nothing.
KmlWriteResult WriteTrackKml(const std::vector<TrackEntry>& tracks, const std::string& path,
                             std::string* error = nullptr);
// The same over tracks held elsewhere (the link's table): only the pointers are sorted.
KmlWriteResult WriteTrackKmlFrom(const std::vector<const TrackEntry*>& tracks,
                                 const std::string& path, std::string* error = nullptr);
// About the bytes of the file WriteTrackKml makes of tracks with these point counts (a point of
// a typical flight each, CR LF counted); for the free-space check before a download.
uint64_t EstimateTrackKmlBytes(const std::vector<uint32_t>& pointCounts);
