// The echo log: what is kept and how it renders.
#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "link/EchoLog.h"

namespace {

std::vector<uint8_t> Sequence(int first, int count) {
    std::vector<uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), static_cast<uint8_t>(first));
    return bytes;
}

struct Chunk {
    bool received;
    std::vector<uint8_t> bytes;
};

std::string RenderOnce(const std::vector<Chunk>& chunks) {
    EchoLog log;
    for (const Chunk& c : chunks) {
        log.Append(static_cast<int32_t>(c.bytes.size()), c.bytes.data(), c.received);
    }
    return log.Render();
}

TEST(EchoLog, RenderExamples) {
    struct Case {
        const char* name;
        std::vector<Chunk> chunks;
        std::string text;
    };
    const Case cases[] = {
        {"empty", {}, ""},
        {"query answered 02", {{false, {0x33}}, {true, {0x02}}}, "> 33 \r\n< 02 \r\n"},
        {"utc 3:30, one chunk per byte",
         {{false, {0xBB}}, {false, {0x03}}, {false, {0x1E}}},
         "> BB \r\n> 03 \r\n> 1E \r\n"},
        {"20 bytes",
         {{false, Sequence(1, 20)}},
         "> 01 02 03 04 05 06 07 08  09 0A 0B 0C 0D 0E 0F 10 \r\n> 11 12 13 14 \r\n"},
        {"exactly 16: no empty line",
         {{true, Sequence(0xF0, 16)}},
         "< F0 F1 F2 F3 F4 F5 F6 F7  F8 F9 FA FB FC FD FE FF \r\n"},
        {"17: second line of one byte",
         {{true, Sequence(0, 17)}},
         "< 00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F \r\n< 10 \r\n"},
        {"8: the wide gap then the line end",
         {{false, Sequence(0xA0, 8)}},
         "> A0 A1 A2 A3 A4 A5 A6 A7  \r\n"},
        {"32 then 1: every chunk on its own lines",
         {{true, std::vector<uint8_t>(32, 0xEE)}, {false, {0xCC}}},
         "< EE EE EE EE EE EE EE EE  EE EE EE EE EE EE EE EE \r\n"
         "< EE EE EE EE EE EE EE EE  EE EE EE EE EE EE EE EE \r\n"
         "> CC \r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RenderOnce(c.chunks), c.text) << c.name;
    }
}

TEST(EchoLog, AppendKeepsCopiesInOrderAndSkipsEmpty) {
    EchoLog log;
    uint8_t bytes[3] = {1, 2, 3};
    log.Append(0, bytes, true);
    log.Append(-1, bytes, true);
    EXPECT_TRUE(log.Chunks().empty());
    log.Append(3, bytes, false);
    log.Append(1, bytes + 2, true);
    bytes[0] = 9;  // the log holds its own copy
    ASSERT_EQ(log.Chunks().size(), 2u);
    EXPECT_EQ(log.Chunks()[0].bytes, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(log.Chunks()[0].received);
    EXPECT_TRUE(log.Chunks()[1].received);
    EXPECT_EQ(log.ByteCount(), 4u);
    log.Clear();
    EXPECT_TRUE(log.Chunks().empty());
    EXPECT_EQ(log.ByteCount(), 0u);
    EXPECT_EQ(log.Render(), "");
}

// Rendering bit by bit, with clears in between, gives what one rendering from scratch gives.
TEST(EchoLog, IncrementalRenderingMatchesAFreshOne) {
    std::mt19937 random(11);
    EchoLog log;
    std::vector<Chunk> sinceClear;
    for (int round = 0; round < 60; ++round) {
        const int added = static_cast<int>(random() % 5);
        for (int i = 0; i < added; ++i) {
            Chunk c{random() % 2 == 0, Sequence(static_cast<int>(random()), 1 + random() % 40)};
            log.Append(static_cast<int32_t>(c.bytes.size()), c.bytes.data(), c.received);
            sinceClear.push_back(c);
        }
        if (round % 17 == 16) {
            log.Clear();
            sinceClear.clear();
        }
        ASSERT_EQ(log.Render(), RenderOnce(sinceClear)) << "round " << round;
    }
}

TEST(EchoLog, RecorderRendersOnRefresh) {
    EchoLogRecorder recorder;
    const uint8_t query = 0x33;
    recorder.LogChunk(1, &query, false);
    EXPECT_EQ(recorder.Text(), "");
    EXPECT_EQ(recorder.RefreshCount(), 0);
    recorder.RefreshLog();
    EXPECT_EQ(recorder.Text(), "> 33 \r\n");
    EXPECT_EQ(recorder.RefreshCount(), 1);
}

// A full track download logs about 2 MiB in 32-byte chunks and re-renders after every command.
TEST(EchoLog, TwoMebibytesRenderQuickly) {
    EchoLog log;
    const std::vector<uint8_t> record = Sequence(0x40, 32);
    for (int i = 0; i < (2 << 20) / 32; ++i) {
        log.Append(32, record.data(), true);
    }
    const auto start = std::chrono::steady_clock::now();
    const std::string& text = log.Render();
    const auto first = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(text.size(), (2u << 20) / 16 * 53);
    log.Append(1, record.data(), false);
    const auto again = std::chrono::steady_clock::now();
    log.Render();
    const auto second = std::chrono::steady_clock::now() - again;
    // Generous bounds: this also runs under the sanitizers on a shared machine.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(first).count(), 1000);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(second).count(), 100);
    RecordProperty(
        "first_render_us",
        static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(first).count()));
}

}  // namespace
