#include "tracks/TrackFileName.h"

#include <algorithm>
#include <cstdio>

namespace {

// yyyymmdd of a record's date, 0 when it is no calendar date.
uint32_t DateKey(const TrackEntry& entry) {
    const unsigned day = entry.Day();
    const unsigned month = entry.Month();
    const unsigned year = 2000u + entry.Year();
    static constexpr unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) {
        return 0;
    }
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap) {
        return 0;
    }
    return year * 10000 + month * 100 + day;
}

std::string IsoDate(uint32_t key) {
    char text[16];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", key / 10000, key / 100 % 100, key % 100);
    return text;
}

}  // namespace

std::string TrackDatesName(const std::vector<TrackEntry>& table,
                           const std::vector<uint32_t>& rows) {
    uint32_t first = 0;
    uint32_t last = 0;
    for (const uint32_t row : rows) {
        if (row >= table.size()) {
            continue;
        }
        const uint32_t key = DateKey(table[row]);
        if (key == 0) {
            continue;
        }
        first = first == 0 ? key : std::min(first, key);
        last = std::max(last, key);
    }
    if (first == 0) {
        return {};
    }
    return first == last ? IsoDate(first) : IsoDate(first) + "_" + IsoDate(last);
}

std::string TrackFileName(const std::vector<TrackEntry>& table, const std::vector<uint32_t>& rows) {
    const std::string dates = TrackDatesName(table, rows);
    return dates.empty() ? dates : dates + ".kml";
}
