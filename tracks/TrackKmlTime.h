#pragma once
// KML with time: the day folders of the track KML, one Placemark per track holding a gx:Track
// (when + gx:coord per point) with the speeds as SchemaData arrays.

#include <string>
#include <vector>

#include "link/KmlOutput.h"
#include "link/TrackEntry.h"
#include "tracks/TrackTimeline.h"

// The whole document as UTF-8 with LF line ends (tracks in start-time order).
std::string BuildTracksKmlTime(const std::vector<TrackEntry>& tracks, const std::string& title,
                               const ClockOffset& offset,
                               std::vector<std::string>* notes = nullptr);
// Written atomically (CR LF), titled by the file name. Empty input touches nothing.
KmlWriteResult WriteTracksKmlTime(const std::vector<TrackEntry>& tracks, const std::string& path,
                                  const ClockOffset& offset, std::string* error = nullptr,
                                  std::vector<std::string>* notes = nullptr);
