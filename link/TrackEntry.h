#pragma once
// One track of the device's table with its downloaded points.

#include <array>
#include <cstdint>
#include <vector>

#include "link/CommandByte.h"
#include "link/WireRecords.h"

// One 32-byte point record, as received.
struct TrackPoint {
    TrackPointRecord::Bytes bytes{};

    TrackPointRecord Record() const { return TrackPointRecord::FromBytes(bytes); }
    double Latitude() const { return Record().Latitude(); }
    double Longitude() const { return Record().Longitude(); }
    uint16_t GroundSpeed() const { return Record().groundSpeed.Get(); }
    uint16_t Altitude() const { return Record().altitude.Get(); }  // metres
    double VerticalSpeed() const { return Record().VerticalSpeed(); }
    uint16_t AirSpeed() const { return Record().airSpeed.Get(); }
};

// The 12-byte table record as received, the points, and whether their checksum matched.
struct TrackEntry {
    TrackTableRecord::Bytes record{};
    std::vector<TrackPoint> points;
    bool checksumOk = false;

    TrackTableRecord Record() const { return TrackTableRecord::FromBytes(record); }
    uint8_t Day() const { return Record().day; }
    uint8_t Month() const { return Record().month; }
    uint8_t Year() const { return Record().year; }  // year - 2000
    uint8_t Hour() const { return Record().hour; }
    uint8_t Minute() const { return Record().minute; }
    uint8_t Second() const { return Record().second; }
    uint32_t StartPage() const { return Record().startPage.Get(); }
    uint8_t Interval() const { return Record().interval; }
    uint16_t PointCount() const { return Record().pointCount.Get(); }
};

inline constexpr uint32_t kMemoryPages = 524160;
inline constexpr uint32_t kPageBytes = 2048;
inline constexpr uint32_t kPointBytes = TrackPointRecord::kSize;
