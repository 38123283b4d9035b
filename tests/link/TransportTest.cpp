// The convenience forms of Transport reach the one virtual Read/Write; its time-outs bound reads.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/ComPort.h"
#include "link/Transport.h"
#include "tests/support/StubTransport.h"

namespace {

// Records the calls that reach the pure operations.
class RecordingTransport : public StubTransport {
public:
    using Transport::Read;
    using Transport::Write;
    int32_t Read(uint8_t* buffer, int32_t count) override {
        calls.push_back("read " + std::to_string(count));
        for (int32_t i = 0; i < count; ++i) {
            buffer[i] = static_cast<uint8_t>(0xA0 + i);
        }
        return count;
    }
    int32_t Write(const uint8_t* buffer, int32_t count) override {
        calls.push_back("write " + std::to_string(count));
        written.assign(buffer, buffer + count);
        return count;
    }

    std::vector<std::string> calls;
    std::vector<uint8_t> written;
};

TEST(Transport, VectorAndCharFormsForwardAndEmptyIsZero) {
    RecordingTransport t;
    std::vector<uint8_t> none;
    std::vector<char> noChars;
    EXPECT_EQ(t.Read(none), 0);
    EXPECT_EQ(t.Read(noChars), 0);
    EXPECT_EQ(t.Write(std::vector<uint8_t>{}), 0);
    EXPECT_EQ(t.Write(std::vector<char>{}), 0);
    EXPECT_TRUE(t.calls.empty());

    std::vector<uint8_t> bytes(3);
    EXPECT_EQ(t.Read(bytes), 3);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0xA0, 0xA1, 0xA2}));
    std::vector<char> chars(2);
    EXPECT_EQ(t.Read(chars), 2);
    EXPECT_EQ(static_cast<uint8_t>(chars[1]), 0xA1);
    char raw[4];
    EXPECT_EQ(t.Read(raw, 4), 4);

    EXPECT_EQ(t.Write(std::vector<uint8_t>{1, 2}), 2);
    EXPECT_EQ(t.Write(std::vector<char>{'\x33'}), 1);
    EXPECT_EQ(t.written, std::vector<uint8_t>{0x33});
    EXPECT_EQ(t.Write("\xBB\x03\x1E", 3), 3);
    EXPECT_EQ(t.written, (std::vector<uint8_t>{0xBB, 0x03, 0x1E}));
    EXPECT_EQ(t.calls, (std::vector<std::string>{"read 3", "read 2", "read 4", "write 2", "write 1",
                                                 "write 3"}));
}

// The time-outs set through the interface are the ones the next read of a real line waits:
// a silent line answers after the read time-out, not after one set earlier or at opening.
TEST(Transport, TimeoutsSetThroughTheInterfaceBoundTheNextRead) {
    int master = -1;
    int slave = -1;
    char name[256];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    MCommunication::ComPort port;
    port.Open(name, 115200, 0, 8, 0);
    MCommunication::Transport& line = port;

    struct Case {
        int32_t readMs;
        long atLeastMs;
        long belowMs;
    };
    const Case cases[] = {{300, 290, 2000}, {0, 0, 100}, {120, 110, 1000}};
    for (const Case& c : cases) {
        line.SetTimeouts(c.readMs, 1000);
        int32_t readMs = -1;
        int32_t writeMs = -1;
        line.GetTimeouts(readMs, writeMs);
        EXPECT_EQ(readMs, c.readMs);
        EXPECT_EQ(writeMs, 1000);
        uint8_t buffer[8];
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(line.Read(buffer, sizeof buffer), 0);
        const long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - start)
                                              .count());
        EXPECT_GE(ms, c.atLeastMs) << c.readMs;
        EXPECT_LT(ms, c.belowMs) << c.readMs;
    }
    port.Close();
    close(master);
}

}  // namespace
