#pragma once
// Command bytes of the device protocol.

#include <cstdint>

inline constexpr uint8_t CommandByte[8] = {0x11, 0x22, 0x33, 0x55, 0xAA, 0xBB, 0xDD, 0xEE};

enum CommandIndex : int {
    kCmdDownloadTrack = 0,    // 0x11
    kCmdAnemometer = 1,       // 0x22
    kCmdQueryDevice = 2,      // 0x33
    kCmdReadMarks = 3,        // 0x55
    kCmdUploadRoute = 4,      // 0xAA
    kCmdSetUtcOffset = 5,     // 0xBB
    kCmdReadTrackTable = 6,   // 0xDD
    kCmdClearTrackMemory = 7  // 0xEE
};

// Track recording interval; outside the table, sent with its value in one write.
inline constexpr uint8_t kTrackIntervalCommand = 0xCC;
