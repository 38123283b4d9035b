#include "link/DataFormats.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Device codes of the Windows-1251 codes 0x80..0xFF (0: no device code).
constexpr uint8_t kDeviceCharsHigh[128] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA2, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0xD7, 0x00, 0x00, 0x00, 0x00, 0x00, 0xB5, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x41, 0xA0, 0x42, 0xA1, 0xE0, 0x45, 0xA3, 0xA4, 0xA5, 0xA6, 0x4B, 0xA7, 0x4D, 0x48, 0x4F, 0xA8,
    0x50, 0x43, 0x54, 0xA9, 0xAA, 0x58, 0xE1, 0xAB, 0xAC, 0xE2, 0xAD, 0xAE, 0x62, 0xAF, 0xB0, 0xB1,
    0x61, 0xB2, 0xB3, 0xB4, 0xE3, 0x65, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0x6F, 0xBE,
    0x70, 0x63, 0xBF, 0x79, 0xE4, 0x78, 0xE5, 0xC0, 0xC1, 0xE6, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7,
};

// Low 8 bits of a whole number held in a double (two's complement for negatives).
uint8_t LowByte(double whole) {
    if (!std::isfinite(whole)) {
        return 0;
    }
    double m = std::fmod(whole, 256.0);
    if (m < 0) {
        m += 256.0;
    }
    return static_cast<uint8_t>(m);
}

}  // namespace

// Identity below 0x80, the device's codes above: built at compile time, so the table is
// usable before BuildDeviceCharTable runs.
namespace {
constexpr std::array<uint8_t, 256> MakeDeviceCharTable() {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 128; ++i) {
        table[i] = static_cast<uint8_t>(i);
        table[128 + i] = kDeviceCharsHigh[i];
    }
    return table;
}
}  // namespace

std::array<uint8_t, 256> DeviceCharTable = MakeDeviceCharTable();

void BuildDeviceCharTable() {
    for (int i = 0; i < 128; ++i) {
        DeviceCharTable[i] = static_cast<uint8_t>(i);
    }
    std::memcpy(DeviceCharTable.data() + 128, kDeviceCharsHigh, sizeof kDeviceCharsHigh);
}

double DecodeAngle(const uint8_t* fourBytes) {
    const double degrees = fourBytes[0];
    const double minutes = fourBytes[1];
    const double fraction = (fourBytes[2] << 8) | fourBytes[3];
    return (degrees + minutes / 60.0) + fraction / 600000.0;
}

double DecodeAngle(const PackedAngle& angle) {
    return DecodeAngle(angle.data());
}

PackedAngle EncodeAngle(double degrees) {
    const double d = std::floor(degrees + 1e-10);
    const double r = (degrees - d) * 60.0;
    // The 1e-10 lifts a value held a hair below a whole minute to that minute; the remainder
    // is then a hair below zero and counts as none (not as -1, which would wrap to FF FF).
    const double m = std::max(std::floor(r + 1e-10), 0.0);
    const double f = std::max(std::floor((r - m) * 10000.0 + 1e-10), 0.0);
    // f >> 8 of a whole number: floor(f / 256) is exact for doubles.
    return {LowByte(d), LowByte(m), LowByte(std::floor(f / 256.0)), LowByte(f)};
}

double PositionLatitude(const uint8_t* position) {
    return DecodeAngle(position);
}

double PositionLongitude(const uint8_t* position) {
    return DecodeAngle(position + 4);
}

PackedPosition PackPosition(double latitude, double longitude) {
    const PackedAngle lat = EncodeAngle(latitude);
    const PackedAngle lon = EncodeAngle(longitude);
    return {lat[0], lat[1], lat[2], lat[3], lon[0], lon[1], lon[2], lon[3]};
}
