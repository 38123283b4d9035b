#pragma once
// Line speed of a serial device: setting any rate the driver takes (kept apart from
// <termios.h>), and the time bytes take on the line at a rate.

#include <cstdint>
#include <limits>

namespace MCommunication {

// Time the line takes to carry bytes at baudRate (10 bits a byte: start, 8 data, stop), in
// whole milliseconds rounded up; 0 for no bytes or an unknown speed. A read's whole time-out
// grows by this much, so a record fits at the lowest speeds (32 bytes: 3 ms at 115200,
// 2910 ms at 110).
constexpr int32_t LineTimeMs(uint32_t baudRate, int64_t bytes) {
    if (baudRate == 0 || bytes <= 0) {
        return 0;
    }
    const int64_t ms = (bytes * 10 * 1000 + baudRate - 1) / baudRate;
    return ms > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                    : static_cast<int32_t>(ms);
}

// Sets input and output speed to baudRate and checks what the driver took.
// Returns 0, or an errno value (EINVAL when the driver cannot run at that rate).
int ApplySerialSpeed(int fd, uint32_t baudRate);

}  // namespace MCommunication
