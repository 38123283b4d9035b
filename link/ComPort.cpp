#include "link/ComPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "link/DeviceException.h"
#include "link/SerialSpeed.h"

namespace MCommunication {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, never negative.
int Remaining(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Raw mode with the given framing, receiver on, modem lines ignored, no flow control.
// Returns 0 or EINVAL for a framing the line cannot have.
int MakeRaw(termios& tio, uint8_t parity, uint8_t byteSize, uint8_t stopBits) {
    tio.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    switch (byteSize) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        case 8:
            tio.c_cflag |= CS8;
            break;
        default:
            return EINVAL;
    }
    switch (parity) {
        case 0:
            break;
        case 1:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            tio.c_cflag |= PARENB;
            break;
        case 3:
            tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case 4:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            return EINVAL;
    }
    switch (stopBits) {
        case 0:
            break;
        case 1:
            // One and a half stop bits exist only with 5 data bits, where CSTOPB gives them.
            if (byteSize != 5) {
                return EINVAL;
            }
            tio.c_cflag |= CSTOPB;
            break;
        case 2:
            tio.c_cflag |= CSTOPB;
            break;
        default:
            return EINVAL;
    }
    return 0;
}

}  // namespace

ComPort::~ComPort() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd >= 0) {
        ioctl(m_fd, TIOCNXCL);
        close(m_fd);
        m_fd = -1;
    }
}

void ComPort::SetParameters(const void* parameters) {
    m_parameters = *static_cast<const PortParameters*>(parameters);
}

bool ComPort::Open() {
    Open(m_parameters.name, m_parameters.baudRate, m_parameters.parity, m_parameters.byteSize,
         m_parameters.stopBits);
    return true;
}

// States after a failure: the port stays closed when the device cannot be opened or taken for
// exclusive use, and when the line cannot run with the asked speed or framing (a line at some
// other speed must not look connected). It stays open, as after a successful open, when only
// the current settings cannot be read (tcgetattr): the next Open, Close or the destruction
// releases it. Failures of the remaining settings calls are ignored.
void ComPort::Open(const std::string& name, uint32_t baudRate, uint8_t parity, uint8_t byteSize,
                   uint8_t stopBits) {
    Close();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            throw ComException(static_cast<uint32_t>(errno));
        }
        // Root passes TIOCEXCL, so the advisory lock is what keeps a second user out.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno == EWOULDBLOCK ? EBUSY : errno;
            close(fd);
            throw ComException(static_cast<uint32_t>(error));
        }
        ioctl(fd, TIOCEXCL);

        termios tio{};
        if (tcgetattr(fd, &tio) != 0) {
            m_fd = fd;
            throw ComException(static_cast<uint32_t>(errno));
        }
        int error = MakeRaw(tio, parity, byteSize, stopBits);
        if (error == 0) {
            tcsetattr(fd, TCSANOW, &tio);
            error = ApplySerialSpeed(fd, baudRate);
        }
        if (error != 0) {
            ioctl(fd, TIOCNXCL);
            close(fd);
            throw ComException(static_cast<uint32_t>(error));
        }
        m_fd = fd;
        m_baudRate = baudRate;
    }
    SetTimeouts(30, 30);
}

bool ComPort::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd < 0) {
        return true;
    }
    ioctl(m_fd, TIOCNXCL);
    const int rc = close(m_fd);
    m_fd = -1;
    return rc == 0;
}

// Waits at most the read time-out for the first byte and between two bytes, and at most the
// read time-out plus the line time of count bytes at the set speed in all (a time-out of 0:
// takes only what has arrived); a short count is a time-out. A line whose other end has gone
// (EIO, end of file, hang-up) throws, so it never looks like silence; the exception carries
// the count already in the buffer.
int32_t ComPort::Read(uint8_t* buffer, int32_t count) {
    if (!IsOpen()) {
        throw ComException(EBADF);
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd < 0) {
        throw ComException(EBADF);
    }
    if (count <= 0) {
        return 0;
    }
    const auto timeout = std::chrono::milliseconds(m_readTimeout > 0 ? m_readTimeout : 0);
    const auto start = Clock::now();
    const auto deadline =
        start + timeout +
        std::chrono::milliseconds(m_readTimeout > 0 ? LineTimeMs(m_baudRate, count) : 0);
    auto quietUntil = start + timeout;  // the line has been silent for a whole time-out
    int32_t got = 0;
    bool readable = false;  // poll has just said bytes or the end of the line are there
    while (got < count) {
        // Bytes already waiting are taken without a poll; none (0 or EAGAIN) means wait below,
        // unless poll said the line is readable: then 0 is the end of the line.
        const ssize_t n = read(m_fd, buffer + got, static_cast<size_t>(count - got));
        if (n > 0) {
            got += static_cast<int32_t>(n);
            readable = false;
            quietUntil = Clock::now() + timeout;
            continue;
        }
        if (n == 0 && readable) {
            throw ComException(EIO, got);
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw ComException(static_cast<uint32_t>(errno), got);
        }
        pollfd p{m_fd, POLLIN, 0};
        const int ready = poll(&p, 1, Remaining(std::min(deadline, quietUntil)));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw ComException(static_cast<uint32_t>(errno), got);
        }
        if (ready == 0) {
            break;  // time-out
        }
        if (p.revents & POLLNVAL) {
            throw ComException(EBADF, got);
        }
        if (!(p.revents & POLLIN)) {
            throw ComException(EIO, got);  // POLLHUP or POLLERR alone: the line has gone
        }
        readable = true;
    }
    return got;
}

// One read of what the driver holds, without waiting; the end of the line throws as in Read.
int32_t ComPort::ReadPending(uint8_t* buffer, int32_t count) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd < 0) {
        throw ComException(EBADF);
    }
    if (count <= 0) {
        return 0;
    }
    // A raw line reads 0 both for no data and at its end; poll's readiness tells them apart.
    pollfd p{m_fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = poll(&p, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        throw ComException(static_cast<uint32_t>(errno));
    }
    if (ready == 0) {
        return 0;
    }
    if (p.revents & POLLNVAL) {
        throw ComException(EBADF);
    }
    if (!(p.revents & POLLIN)) {
        throw ComException(EIO);
    }
    ssize_t n = 0;
    do {
        n = read(m_fd, buffer, static_cast<size_t>(count));
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        return static_cast<int32_t>(n);
    }
    if (n == 0) {
        throw ComException(EIO);
    }
    if (errno == EAGAIN) {
        return 0;
    }
    throw ComException(static_cast<uint32_t>(errno));
}

// Returns when all bytes are handed to the driver, or with fewer once the write time-out
// from the call has passed.
int32_t ComPort::Write(const uint8_t* buffer, int32_t count) {
    if (!IsOpen()) {
        throw ComException(EBADF);
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd < 0) {
        throw ComException(EBADF);
    }
    if (count <= 0) {
        return 0;
    }
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(m_writeTimeout > 0 ? m_writeTimeout : 0);
    int32_t done = 0;
    while (done < count) {
        const ssize_t n = write(m_fd, buffer + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            throw ComException(static_cast<uint32_t>(errno));
        }
        pollfd p{m_fd, POLLOUT, 0};
        const int ready = poll(&p, 1, Remaining(deadline));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw ComException(static_cast<uint32_t>(errno));
        }
        if (ready == 0) {
            break;  // time-out
        }
        if (p.revents & POLLNVAL) {
            throw ComException(EBADF);
        }
        if (!(p.revents & POLLOUT)) {
            throw ComException(EIO);
        }
    }
    return done;
}

void ComPort::Purge() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_fd < 0) {
            throw ComException(EBADF);
        }
        tcflush(m_fd, TCIOFLUSH);
    }
    uint8_t scratch[32];
    Read(scratch, sizeof scratch);
}

bool ComPort::IsOpen() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_fd >= 0;
}

void ComPort::SetTimeouts(int32_t readMs, int32_t writeMs) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd < 0) {
        throw ComException(EBADF);
    }
    Transport::SetTimeouts(readMs, writeMs);
}

}  // namespace MCommunication
