// Track table texts, memory fill, start-time order.

#include "tracks/TrackTable.h"

#include <cstdio>
#include <ctime>

std::string TrackDurationText(const TrackEntry& entry) {
    const uint32_t d = static_cast<uint32_t>(entry.PointCount()) * entry.Interval();
    if (d == 0) {
        return "неисправный трек";
    }
    const uint32_t hours = d / 3600;
    const uint32_t minutes = (d - hours * 3600) / 60;
    const uint32_t seconds = (d - hours * 3600) % 60;
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", hours, minutes, seconds);
    return text;
}

std::array<std::string, 5> TrackRowTexts(const TrackEntry& entry, uint32_t j) {
    char number[16];
    char date[16];
    char time[16];
    char interval[8];
    std::snprintf(number, sizeof number, "%u", j);
    std::snprintf(date, sizeof date, "%02u.%02u.%02u", unsigned{entry.Day()},
                  unsigned{entry.Month()}, unsigned{entry.Year()});
    std::snprintf(time, sizeof time, "%02u:%02u:%02u", unsigned{entry.Hour()},
                  unsigned{entry.Minute()}, unsigned{entry.Second()});
    std::snprintf(interval, sizeof interval, "%u", unsigned{entry.Interval()});
    return {number, date, time, TrackDurationText(entry), interval};
}

double MemoryFillPercent(const TrackEntry& entry) {
    const uint32_t bytes = static_cast<uint32_t>(entry.PointCount()) * kPointBytes;
    const uint32_t pages = bytes / kPageBytes + (bytes % kPageBytes != 0 ? 1 : 0);
    const uint32_t used = entry.StartPage() + pages;
    return static_cast<double>(used) / kMemoryPages * 100.0;
}

int64_t TrackStartTime(const TrackEntry& entry) {
    std::tm t{};
    t.tm_sec = entry.Second();
    t.tm_min = entry.Minute();
    t.tm_hour = entry.Hour();
    t.tm_mday = entry.Day();
    t.tm_mon = entry.Month() - 1;
    t.tm_year = entry.Year() + 100;
    t.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&t));
}

bool TrackStartsBefore(const TrackEntry& a, const TrackEntry& b) {
    return TrackStartTime(a) < TrackStartTime(b);
}
