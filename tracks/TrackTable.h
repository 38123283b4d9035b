#pragma once
// Track table texts, memory fill, start-time order.

#include <array>
#include <cstdint>
#include <string>

#include "link/TrackEntry.h"

// The five column texts of table row j (UTF-8): number, date, time, duration, interval.
std::array<std::string, 5> TrackRowTexts(const TrackEntry& entry, uint32_t j);
std::string TrackDurationText(const TrackEntry& entry);  // "неисправный трек" when 0
double MemoryFillPercent(const TrackEntry& entry);
// Start time by mktime with daylight saving unknown.
int64_t TrackStartTime(const TrackEntry& entry);
bool TrackStartsBefore(const TrackEntry& a, const TrackEntry& b);
