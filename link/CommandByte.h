#pragma once
// Command bytes of the device protocol and the fixed byte sequences that end its answers.

#include <array>
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

// End of the track table: one 12-byte record of its own.
inline constexpr std::array<uint8_t, 12> kTrackTableTerminator = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xDD, 0xDD, 0xDD, 0xDD, 0xFF, 0xFF, 0xFF, 0xFF};

// End of a track's point records: FF FF FF FF 11 11 11 11 four times.
inline constexpr std::array<uint8_t, 32> kTrackTerminator = {
    0xFF, 0xFF, 0xFF, 0xFF, 0x11, 0x11, 0x11, 0x11, 0xFF, 0xFF, 0xFF, 0xFF, 0x11, 0x11, 0x11, 0x11,
    0xFF, 0xFF, 0xFF, 0xFF, 0x11, 0x11, 0x11, 0x11, 0xFF, 0xFF, 0xFF, 0xFF, 0x11, 0x11, 0x11, 0x11};

// What the track terminator adds to the track checksum (not the sum of its bytes).
inline constexpr uint32_t kTrackTerminatorSum = 1020;

// The answer to 0xEE once the track memory is cleared.
inline constexpr std::array<uint8_t, 4> kClearTrackMemoryDone = {0xEE, 0xEE, 0xEE, 0xEE};
