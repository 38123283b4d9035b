#pragma once
// GPX 1.1 of downloaded tracks: one trk per track with timed points and the speeds as
// extensions (namespace kPelnoraGpxNamespace, prefix "pelnora").

#include <string>
#include <vector>

#include "link/KmlOutput.h"
#include "link/TrackEntry.h"
#include "tracks/TrackTimeline.h"

inline constexpr const char* kPelnoraGpxNamespace = "urn:pelnora:gpx:1";

// The start tag of a GPX 1.1 document with our extension namespace, after the XML declaration.
std::string GpxHeader();
// lat="…" lon="…" with seven decimals.
void AppendGpxPosition(std::string& out, double latitude, double longitude);

// The whole document as UTF-8 with LF line ends (tracks in start-time order).
std::string BuildTracksGpx(const std::vector<TrackEntry>& tracks, const ClockOffset& offset,
                           std::vector<std::string>* notes = nullptr);
// Written atomically (CR LF). Empty input touches nothing.
KmlWriteResult WriteTracksGpx(const std::vector<TrackEntry>& tracks, const std::string& path,
                              const ClockOffset& offset, std::string* error = nullptr,
                              std::vector<std::string>* notes = nullptr);
