#pragma once
// Small builders for table records and point records.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <string>

#include "link/TrackEntry.h"

namespace track_test {

inline TrackEntry Entry(int day, int month, int year, int hour, int minute, int second,
                        uint32_t startPage = 0, uint8_t interval = 1, uint16_t pointCount = 0) {
    TrackTableRecord r;
    r.day = static_cast<uint8_t>(day);
    r.month = static_cast<uint8_t>(month);
    r.year = static_cast<uint8_t>(year);
    r.hour = static_cast<uint8_t>(hour);
    r.minute = static_cast<uint8_t>(minute);
    r.second = static_cast<uint8_t>(second);
    r.startPage.Set(startPage);
    r.interval = interval;
    r.pointCount.Set(pointCount);
    TrackEntry e;
    e.record = r.ToBytes();
    return e;
}

// A point from its raw fields: packed latitude and longitude, speeds, altitude, sign byte.
inline TrackPoint Point(std::initializer_list<uint8_t> latitude,
                        std::initializer_list<uint8_t> longitude, uint16_t groundSpeed,
                        uint16_t altitude, uint8_t sign, uint8_t whole, uint8_t tenths,
                        uint16_t airSpeed) {
    TrackPointRecord r;
    std::copy(latitude.begin(), latitude.end(), r.position.begin());
    std::copy(longitude.begin(), longitude.end(), r.position.begin() + 4);
    r.groundSpeed.Set(groundSpeed);
    r.altitude.Set(altitude);
    r.verticalSign = sign;
    r.verticalWhole = whole;
    r.verticalTenths = tenths;
    r.airSpeed.Set(airSpeed);
    TrackPoint p;
    p.bytes = r.ToBytes();
    return p;
}

// Sets TZ for the test's lifetime and restores the previous value.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            m_old = old;
            m_had = true;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (m_had) {
            ::setenv("TZ", m_old.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::string m_old;
    bool m_had = false;
};

}  // namespace track_test
