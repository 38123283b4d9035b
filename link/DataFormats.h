#pragma once
// The device's packed angle/position and its character set.

#include <array>
#include <cstdint>

// Degrees, minutes, ten-thousandths of a minute (big-endian); no sign.
using PackedAngle = std::array<uint8_t, 4>;
// Latitude (bytes 0..3) then longitude (bytes 4..7).
using PackedPosition = std::array<uint8_t, 8>;

double DecodeAngle(const PackedAngle& angle);
double DecodeAngle(const uint8_t* fourBytes);
PackedAngle EncodeAngle(double degrees);

double PositionLatitude(const uint8_t* position);   // DecodeAngle of bytes 0..3
double PositionLongitude(const uint8_t* position);  // DecodeAngle of bytes 4..7
PackedPosition PackPosition(double latitude, double longitude);

// Windows-1251 code → device code (0 = no device code). Built once at start-up.
extern std::array<uint8_t, 256> DeviceCharTable;
void BuildDeviceCharTable();
