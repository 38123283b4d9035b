// The serial port over a pseudo-terminal whose master end the test plays.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "link/ComPort.h"
#include "link/DeviceException.h"

namespace {

using MCommunication::ComException;
using MCommunication::ComPort;
using MCommunication::ErrorText;
using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

int OpenDescriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr) {
            ++n;
        }
        closedir(d);
    }
    return n;
}

// Runs f and returns the code of the ComException it throws (0 when it throws none).
template <typename F>
uint32_t ThrownCode(F f) {
    try {
        f();
    } catch (const ComException& e) {
        return e.Code();
    }
    return 0;
}

class PtyPort : public ::testing::Test {
protected:
    void SetUp() override {
        int slave = -1;
        char name[256];
        ASSERT_EQ(openpty(&m_master, &slave, name, nullptr, nullptr), 0);
        close(slave);
        m_path = name;
    }
    void TearDown() override {
        if (m_master >= 0) {
            close(m_master);
        }
    }
    void OpenPort(ComPort& port, uint32_t baud = 115200) { port.Open(m_path, baud, 0, 8, 0); }
    void MasterWrite(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Whatever reaches the master within timeoutMs, up to count bytes.
    std::vector<uint8_t> MasterRead(size_t count, int timeoutMs = 500) {
        std::vector<uint8_t> got;
        const auto start = Clock::now();
        while (got.size() < count && ElapsedMs(start) < timeoutMs) {
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
                uint8_t buffer[4096];
                const ssize_t n =
                    read(m_master, buffer, std::min(sizeof buffer, count - got.size()));
                if (n > 0) {
                    got.insert(got.end(), buffer, buffer + n);
                }
            }
        }
        return got;
    }
    void HangUp() {
        close(m_master);
        m_master = -1;
    }

    int m_master = -1;
    std::string m_path;
};

TEST(ComPort, MissingDeviceGivesItsSystemText) {
    ComPort port;
    try {
        port.Open("/dev/pelnora-no-such-port", 115200, 0, 8, 0);
        FAIL() << "opened a missing device";
    } catch (const ComException& e) {
        EXPECT_EQ(e.Code(), static_cast<uint32_t>(ENOENT));
        EXPECT_EQ(ErrorText(e), "No such file or directory");
    }
    EXPECT_FALSE(port.IsOpen());
}

TEST(ComPort, ClosedPortRefusesTransfersAndKeepsItsTimeouts) {
    ComPort port;
    EXPECT_TRUE(port.Close());
    EXPECT_TRUE(port.Close());
    uint8_t byte = 0;
    EXPECT_EQ(ThrownCode([&] { port.Read(&byte, 1); }), static_cast<uint32_t>(EBADF));
    EXPECT_EQ(ThrownCode([&] { port.Write(&byte, 1); }), static_cast<uint32_t>(EBADF));
    EXPECT_EQ(ThrownCode([&] { port.Purge(); }), static_cast<uint32_t>(EBADF));
    EXPECT_EQ(ThrownCode([&] { port.SetTimeouts(5, 6); }), static_cast<uint32_t>(EBADF));
    int32_t readMs = -1;
    int32_t writeMs = -1;
    port.GetTimeouts(readMs, writeMs);
    EXPECT_EQ(readMs, 0);
    EXPECT_EQ(writeMs, 0);
    EXPECT_EQ(port.PendingCount(), 0);
}

TEST_F(PtyPort, OpenSetsThirtyThirtyAndCloseKeepsTheValues) {
    ComPort port;
    OpenPort(port);
    EXPECT_TRUE(port.IsOpen());
    int32_t readMs = 0;
    int32_t writeMs = 0;
    port.GetTimeouts(readMs, writeMs);
    EXPECT_EQ(readMs, 30);
    EXPECT_EQ(writeMs, 30);
    port.SetTimeouts(1000, 900);
    EXPECT_TRUE(port.Close());
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(ThrownCode([&] { port.SetTimeouts(1, 2); }), static_cast<uint32_t>(EBADF));
    port.GetTimeouts(readMs, writeMs);
    EXPECT_EQ(readMs, 1000);
    EXPECT_EQ(writeMs, 900);
}

TEST_F(PtyPort, SecondOpenOfTheSameDeviceIsRefusedUntilClosed) {
    ComPort first;
    ComPort second;
    OpenPort(first);
    try {
        OpenPort(second);
        FAIL() << "second open succeeded";
    } catch (const ComException& e) {
        EXPECT_EQ(e.Code(), static_cast<uint32_t>(EBUSY));
        EXPECT_EQ(ErrorText(e), "Device or resource busy");
    }
    EXPECT_FALSE(second.IsOpen());
    EXPECT_TRUE(first.IsOpen());
    first.Close();
    EXPECT_NO_THROW(OpenPort(second));
    EXPECT_TRUE(second.IsOpen());
}

TEST_F(PtyPort, ReopeningClosesTheOldHandle) {
    ComPort port;
    OpenPort(port);
    const int before = OpenDescriptors();
    OpenPort(port);
    OpenPort(port);
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(PtyPort, ReadTimeoutSemantics) {
    ComPort port;
    OpenPort(port);
    port.SetTimeouts(150, 150);
    uint8_t buffer[4] = {};

    auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer, 4), 0);  // silence
    EXPECT_GE(ElapsedMs(start), 140);
    EXPECT_LT(ElapsedMs(start), 1000);

    MasterWrite({0xEE, 0x02});
    start = Clock::now();
    EXPECT_EQ(port.Read(buffer, 4), 2);  // two bytes, then silence
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(buffer[1], 0x02);
    EXPECT_LT(ElapsedMs(start), 1000);

    MasterWrite({1, 2, 3, 4, 5});
    start = Clock::now();
    EXPECT_EQ(port.Read(buffer, 4), 4);  // a full count returns at once
    EXPECT_LT(ElapsedMs(start), 100);
    EXPECT_EQ(port.Read(buffer, 4), 1);
    EXPECT_EQ(buffer[0], 5);
    EXPECT_EQ(port.Read(buffer, 0), 0);
}

TEST_F(PtyPort, ReadReturnsBytesThatArriveWithinTheTimeout) {
    ComPort port;
    OpenPort(port);
    port.SetTimeouts(600, 600);
    std::thread peer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        MasterWrite({0x11});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        MasterWrite({0x22, 0x33});
    });
    uint8_t buffer[3] = {};
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer, 3), 3);
    EXPECT_LT(ElapsedMs(start), 550);
    peer.join();
    EXPECT_EQ(buffer[2], 0x33);
}

// Raw 8-bit line: no CR/LF translation, no XON/XOFF, no signals, no echo, both ways.
TEST_F(PtyPort, EveryByteValuePassesUnchanged) {
    ComPort port;
    OpenPort(port);
    port.SetTimeouts(500, 500);
    std::vector<uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);

    EXPECT_EQ(port.Write(all.data(), 256), 256);
    EXPECT_EQ(MasterRead(300), all);

    MasterWrite(all);
    std::vector<uint8_t> got(256);
    EXPECT_EQ(port.Read(got.data(), 256), 256);
    EXPECT_EQ(got, all);
    EXPECT_TRUE(MasterRead(1, 100).empty());  // nothing echoed back
}

TEST_F(PtyPort, WriteStopsAtTheWriteTimeoutWhenNobodyReads) {
    ComPort port;
    OpenPort(port);
    port.SetTimeouts(100, 100);
    std::vector<uint8_t> big(1 << 20, 0x55);
    const auto start = Clock::now();
    const int32_t written = port.Write(big.data(), static_cast<int32_t>(big.size()));
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int32_t>(big.size()));
    EXPECT_GE(ElapsedMs(start), 90);
    EXPECT_LT(ElapsedMs(start), 1000);
}

TEST_F(PtyPort, PurgeDropsPendingInput) {
    ComPort port;
    OpenPort(port);
    port.SetTimeouts(100, 100);
    MasterWrite({1, 2, 3});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port.Purge();
    uint8_t buffer[4];
    EXPECT_EQ(port.Read(buffer, 4), 0);
}

// A line whose other end has gone must not look like a silent device.
TEST_F(PtyPort, HangUpRaisesInsteadOfLookingSilent) {
    ComPort port;
    OpenPort(port);
    port.SetTimeouts(150, 150);
    HangUp();
    uint8_t buffer[4];
    const auto start = Clock::now();
    EXPECT_EQ(ThrownCode([&] { port.Read(buffer, 4); }), static_cast<uint32_t>(EIO));
    EXPECT_LT(ElapsedMs(start), 100);  // at once, not after the time-out
    EXPECT_EQ(ThrownCode([&] { port.Write(buffer, 1); }), static_cast<uint32_t>(EIO));
    EXPECT_TRUE(port.IsOpen());  // a failed transfer leaves the port open
    EXPECT_TRUE(port.Close());
}

TEST_F(PtyPort, HangUpDuringAnAnswerRaises) {
    ComPort port;
    OpenPort(port);
    port.SetTimeouts(300, 300);
    std::thread peer([this] {
        MasterWrite({0xEE, 0xEE});
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        HangUp();
    });
    uint8_t buffer[4];
    EXPECT_EQ(ThrownCode([&] { port.Read(buffer, 4); }), static_cast<uint32_t>(EIO));
    peer.join();
}

TEST_F(PtyPort, EveryListedSpeedIsAccepted) {
    for (uint32_t baud : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u,
                          56000u, 57600u, 115200u, 128000u, 256000u}) {
        ComPort port;
        EXPECT_NO_THROW(OpenPort(port, baud)) << baud;
        EXPECT_TRUE(port.IsOpen()) << baud;
    }
}

TEST_F(PtyPort, SettingsTheLineCannotHaveAreRefusedAndLeaveItClosed) {
    struct Case {
        uint32_t baud;
        uint8_t parity;
        uint8_t byteSize;
        uint8_t stopBits;
    };
    const Case cases[] = {
        {0, 0, 8, 0}, {9600, 5, 8, 0}, {9600, 0, 9, 0}, {9600, 0, 8, 3}, {9600, 0, 8, 1}};
    for (const Case& c : cases) {
        ComPort port;
        EXPECT_EQ(ThrownCode([&] { port.Open(m_path, c.baud, c.parity, c.byteSize, c.stopBits); }),
                  static_cast<uint32_t>(EINVAL))
            << c.baud << " " << int(c.parity) << int(c.byteSize) << int(c.stopBits);
        EXPECT_FALSE(port.IsOpen());
    }
    ComPort port;  // the refused attempts left nothing locked
    EXPECT_NO_THROW(port.Open(m_path, 9600, 2, 7, 2));
}

// A device without line settings: the error is reported and the handle stays open until
// the next Open or Close.
TEST(ComPort, DeviceWithoutLineSettingsStaysOpenAfterTheError) {
    ComPort port;
    EXPECT_EQ(ThrownCode([&] { port.Open("/dev/null", 9600, 0, 8, 0); }),
              static_cast<uint32_t>(ENOTTY));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(PtyPort, SetParametersThenOpen) {
    MCommunication::PortParameters parameters;
    parameters.name = m_path;
    parameters.baudRate = 57600;
    ComPort port;
    port.SetParameters(&parameters);
    EXPECT_TRUE(port.Open());
    EXPECT_TRUE(port.IsOpen());
    termios tio{};
    const int fd = open(m_path.c_str(), O_RDWR | O_NOCTTY);
    if (fd >= 0) {  // root may look; others are kept out by TIOCEXCL
        ASSERT_EQ(tcgetattr(fd, &tio), 0);
        EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B57600));
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
        close(fd);
    }
}

}  // namespace
