#pragma once
// The file name offered for downloaded tracks: their flight dates.

#include <cstdint>
#include <string>
#include <vector>

#include "link/TrackEntry.h"

// The flight dates of the rows: "2024-06-14", or "2024-06-14_2024-06-17" from the first day to
// the last ("" when none has a real date).
std::string TrackDatesName(const std::vector<TrackEntry>& table, const std::vector<uint32_t>& rows);

// "2024-06-14.kml" for tracks of one day, "2024-06-14_2024-06-17.kml" from the first day to
// the last; rows index table. Rows outside the table and records without a real date are left
// out; "" when none is left.
std::string TrackFileName(const std::vector<TrackEntry>& table, const std::vector<uint32_t>& rows);
