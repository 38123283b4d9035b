#pragma once
// The line speeds offered for the device, in bits per second: the window's speed list and the
// only values pelnora-cli --baud takes.

#include <array>
#include <cstdint>
#include <string>

inline constexpr std::array<uint32_t, 15> kLineSpeeds = {110,   300,   600,    1200,   2400,
                                                         4800,  9600,  14400,  19200,  38400,
                                                         56000, 57600, 115200, 128000, 256000};

inline constexpr uint32_t kDefaultLineSpeed = 115200;

inline bool IsLineSpeed(uint32_t baud) {
    for (const uint32_t speed : kLineSpeeds) {
        if (speed == baud) {
            return true;
        }
    }
    return false;
}

// "110, 300, … 256000" for messages.
inline std::string LineSpeedList() {
    std::string text;
    for (const uint32_t speed : kLineSpeeds) {
        text += (text.empty() ? "" : ", ") + std::to_string(speed);
    }
    return text;
}
