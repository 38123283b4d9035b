#pragma once
// Small builders for table records and point records.

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <string>

#include "tracks/TrackEntry.h"

namespace track_test {

inline TrackEntry Entry(int day, int month, int year, int hour, int minute, int second,
                        uint32_t startPage = 0, uint8_t interval = 1, uint16_t pointCount = 0) {
    TrackEntry e;
    e.record = {static_cast<uint8_t>(day),
                static_cast<uint8_t>(month),
                static_cast<uint8_t>(year),
                static_cast<uint8_t>(hour),
                static_cast<uint8_t>(minute),
                static_cast<uint8_t>(second),
                static_cast<uint8_t>(startPage >> 16),
                static_cast<uint8_t>(startPage >> 8),
                static_cast<uint8_t>(startPage),
                interval,
                static_cast<uint8_t>(pointCount >> 8),
                static_cast<uint8_t>(pointCount)};
    return e;
}

// A point from its raw fields: packed latitude and longitude, speeds, altitude, sign byte.
inline TrackPoint Point(std::initializer_list<uint8_t> latitude,
                        std::initializer_list<uint8_t> longitude, uint16_t groundSpeed,
                        uint16_t altitude, uint8_t sign, uint8_t whole, uint8_t tenths,
                        uint16_t airSpeed) {
    TrackPoint p;
    std::size_t i = 0;
    for (uint8_t b : latitude)
        p.bytes[i++] = b;
    i = 4;
    for (uint8_t b : longitude)
        p.bytes[i++] = b;
    p.bytes[11] = static_cast<uint8_t>(groundSpeed >> 8);
    p.bytes[12] = static_cast<uint8_t>(groundSpeed);
    p.bytes[13] = static_cast<uint8_t>(altitude >> 8);
    p.bytes[14] = static_cast<uint8_t>(altitude);
    p.bytes[15] = sign;
    p.bytes[16] = whole;
    p.bytes[17] = tenths;
    p.bytes[18] = static_cast<uint8_t>(airSpeed >> 8);
    p.bytes[19] = static_cast<uint8_t>(airSpeed);
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
