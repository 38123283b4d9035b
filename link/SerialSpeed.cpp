// Uses the kernel's termios2, whose header clashes with the C library's <termios.h>.
#include "link/SerialSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdlib>

namespace MCommunication {

namespace {

struct StandardSpeed {
    uint32_t rate;
    unsigned int code;
};
constexpr StandardSpeed kStandardSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

// A UART copes with a few per cent of error; a driver further off did not take the rate.
bool CloseEnough(uint32_t asked, uint32_t got) {
    const long long diff = std::llabs(static_cast<long long>(asked) - static_cast<long long>(got));
    return diff * 100 <= static_cast<long long>(asked) * 3;
}

}  // namespace

int ApplySerialSpeed(int fd, uint32_t baudRate) {
    if (baudRate == 0) {
        return EINVAL;  // speed 0 would hang the line up
    }
    unsigned int code = BOTHER;
    for (const StandardSpeed& s : kStandardSpeeds) {
        if (s.rate == baudRate) {
            code = s.code;
        }
    }
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return errno;
    }
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= code | (code << IBSHIFT);
    tio.c_ispeed = baudRate;
    tio.c_ospeed = baudRate;
    if (ioctl(fd, TCSETS2, &tio) != 0) {
        return errno;
    }
    struct termios2 check {};
    if (ioctl(fd, TCGETS2, &check) != 0) {
        return errno;
    }
    if (!CloseEnough(baudRate, check.c_ospeed) || !CloseEnough(baudRate, check.c_ispeed)) {
        return EINVAL;
    }
    return 0;
}

}  // namespace MCommunication
