// The convenience forms of Transport reach the one virtual Read/Write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(Transport, TimeoutsStartAtZeroAndKeepWhatWasSet) {
    RecordingTransport t;
    int32_t readMs = -1;
    int32_t writeMs = -1;
    t.GetTimeouts(readMs, writeMs);
    EXPECT_EQ(readMs, 0);
    EXPECT_EQ(writeMs, 0);
    t.SetTimeouts(1000, 20000);
    t.GetTimeouts(readMs, writeMs);
    EXPECT_EQ(readMs, 1000);
    EXPECT_EQ(writeMs, 20000);
}

}  // namespace
