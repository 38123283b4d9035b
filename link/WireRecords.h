#pragma once
// The device's fixed-size records, field by field as they travel on the line.
// Each record type has exactly the record's size and its fields at their offsets, so a
// record converts to and from its bytes without any offset written elsewhere.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "link/DataFormats.h"

// An unsigned big-endian field of N bytes (first byte most significant).
template <std::size_t N>
struct BigEndianField {
    static_assert(N >= 1 && N <= 4);
    using Value = std::conditional_t<(N <= 2), uint16_t, uint32_t>;

    uint8_t bytes[N] = {};

    constexpr Value Get() const {
        uint32_t v = 0;
        for (std::size_t i = 0; i < N; ++i) {
            v = (v << 8) | bytes[i];
        }
        return static_cast<Value>(v);
    }
    constexpr void Set(uint32_t v) {
        for (std::size_t i = N; i-- > 0;) {
            bytes[i] = static_cast<uint8_t>(v);
            v >>= 8;
        }
    }
};

// One record of the track table (answer to 0xDD).
struct TrackTableRecord {
    static constexpr std::size_t kSize = 12;
    using Bytes = std::array<uint8_t, kSize>;

    uint8_t day = 0;    // day of the month of the start
    uint8_t month = 0;  // 1 = January
    uint8_t year = 0;   // year - 2000
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;
    BigEndianField<3> startPage;  // memory page of the first point record
    uint8_t interval = 0;         // recording interval, seconds
    BigEndianField<2> pointCount;

    static constexpr TrackTableRecord FromBytes(const Bytes& bytes) {
        return std::bit_cast<TrackTableRecord>(bytes);
    }
    constexpr Bytes ToBytes() const { return std::bit_cast<Bytes>(*this); }
};

// One point record of a track (answer to 0x11).
struct TrackPointRecord {
    static constexpr std::size_t kSize = 32;
    using Bytes = std::array<uint8_t, kSize>;
    static constexpr uint8_t kUpwards = 0x77;  // verticalSign of a climb; anything else sinks

    PackedPosition position{};  // latitude then longitude
    uint8_t keptAt8[3] = {};    // not interpreted
    BigEndianField<2> groundSpeed;
    BigEndianField<2> altitude;  // metres above sea level
    uint8_t verticalSign = 0;
    uint8_t verticalWhole = 0;
    uint8_t verticalTenths = 0;
    BigEndianField<2> airSpeed;
    uint8_t keptAt20[12] = {};  // not interpreted

    static constexpr TrackPointRecord FromBytes(const Bytes& bytes) {
        return std::bit_cast<TrackPointRecord>(bytes);
    }
    constexpr Bytes ToBytes() const { return std::bit_cast<Bytes>(*this); }

    double Latitude() const { return PositionLatitude(position.data()); }
    double Longitude() const { return PositionLongitude(position.data()); }
    // (whole + tenths / 10), negative unless the sign byte says upwards.
    constexpr double VerticalSpeed() const {
        const double magnitude = verticalWhole + verticalTenths / 10.0;
        return verticalSign == kUpwards ? magnitude : -magnitude;
    }
};

static_assert(sizeof(TrackTableRecord) == TrackTableRecord::kSize);
static_assert(offsetof(TrackTableRecord, startPage) == 6);
static_assert(offsetof(TrackTableRecord, interval) == 9);
static_assert(offsetof(TrackTableRecord, pointCount) == 10);
static_assert(sizeof(TrackPointRecord) == TrackPointRecord::kSize);
static_assert(offsetof(TrackPointRecord, groundSpeed) == 11);
static_assert(offsetof(TrackPointRecord, altitude) == 13);
static_assert(offsetof(TrackPointRecord, verticalSign) == 15);
static_assert(offsetof(TrackPointRecord, verticalWhole) == 16);
static_assert(offsetof(TrackPointRecord, verticalTenths) == 17);
static_assert(offsetof(TrackPointRecord, airSpeed) == 18);
static_assert(offsetof(TrackPointRecord, keptAt20) == 20);
