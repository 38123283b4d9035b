#pragma once
// Line speed of an open serial device, any rate the driver takes (kept apart from <termios.h>).

#include <cstdint>

namespace MCommunication {

// Sets input and output speed to baudRate and checks what the driver took.
// Returns 0, or an errno value (EINVAL when the driver cannot run at that rate).
int ApplySerialSpeed(int fd, uint32_t baudRate);

}  // namespace MCommunication
