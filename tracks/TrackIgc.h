#pragma once
// IGC flight logs of downloaded tracks: one file per track, named by the IGC long file name
// rule, with the speeds as the B record extensions GSP, TAS and VAT.

#include <cstdint>
#include <string>
#include <vector>

#include "link/KmlOutput.h"
#include "link/TrackEntry.h"
#include "tracks/TrackTimeline.h"

// "YYYY-MM-DD-XXX-000000-NN.igc" for the UTC date of the first fix and the flight of that day.
std::string IgcFileName(int64_t firstFixUtc, unsigned flightOfDay);
// The flight log of a timed track as text with LF line ends; "" when it has no fix to write.
std::string BuildTrackIgc(const TrackTimeline& track, unsigned flightOfDay);

// Writes each timed track into folder (made when missing), each file atomically (CR LF).
// Faulty tracks are left out with a note naming them. written receives the paths written.
// NothingToWrite when no track could go into a file (nothing is touched then).
KmlWriteResult WriteTracksIgc(const std::vector<TrackEntry>& tracks, const std::string& folder,
                              const ClockOffset& offset, std::string* error = nullptr,
                              std::vector<std::string>* notes = nullptr,
                              std::vector<std::string>* written = nullptr);
