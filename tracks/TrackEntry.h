#pragma once
// One track of the device's table with its downloaded points.

#include <array>
#include <cstdint>
#include <vector>

// One 32-byte point record, as received.
struct TrackPoint {
    std::array<uint8_t, 32> bytes{};

    double Latitude() const;
    double Longitude() const;
    uint16_t GroundSpeed() const;  // bytes 11..12
    uint16_t Altitude() const;     // bytes 13..14, metres
    double VerticalSpeed() const;  // (whole + tenths/10), negative unless byte 15 is 0x77
    uint16_t AirSpeed() const;     // bytes 18..19
};

// The 12-byte table record as received, the points, and whether their checksum matched.
struct TrackEntry {
    std::array<uint8_t, 12> record{};
    std::vector<TrackPoint> points;
    bool checksumOk = false;

    uint8_t Day() const { return record[0]; }
    uint8_t Month() const { return record[1]; }
    uint8_t Year() const { return record[2]; }  // year - 2000
    uint8_t Hour() const { return record[3]; }
    uint8_t Minute() const { return record[4]; }
    uint8_t Second() const { return record[5]; }
    uint32_t StartPage() const { return (record[6] << 16) | (record[7] << 8) | record[8]; }
    uint8_t Interval() const { return record[9]; }
    uint16_t PointCount() const { return static_cast<uint16_t>((record[10] << 8) | record[11]); }
};

inline constexpr std::array<uint8_t, 12> kTrackTableTerminator = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xDD, 0xDD, 0xDD, 0xDD, 0xFF, 0xFF, 0xFF, 0xFF};
inline constexpr uint32_t kTrackTerminatorSum = 1020;
inline constexpr uint32_t kMemoryPages = 524160;
inline constexpr uint32_t kPageBytes = 2048;
inline constexpr uint32_t kPointBytes = 32;
