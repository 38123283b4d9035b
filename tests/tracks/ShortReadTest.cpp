// Short reads the simulator cannot make: what stays in the receive buffers.

#include <gtest/gtest.h>

#include <cmath>
#include <deque>

#include "link/DeviceLink.h"
#include "link/EchoLog.h"
#include "tests/support/StubTransport.h"
#include "tracks/TrackTable.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Each Read hands out (part of) the next scripted answer; an empty script reads nothing.
class ScriptedAnswers : public StubTransport {
public:
    int32_t Read(uint8_t* buffer, int32_t count) override {
        if (answers.empty()) {
            return 0;
        }
        Bytes& next = answers.front();
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), next.size());
        std::copy(next.begin(), next.begin() + static_cast<std::ptrdiff_t>(n), buffer);
        next.erase(next.begin(), next.begin() + static_cast<std::ptrdiff_t>(n));
        if (next.empty()) {
            answers.pop_front();
        }
        return static_cast<int32_t>(n);
    }
    int32_t Write(const uint8_t* data, int32_t count) override {
        written.insert(written.end(), data, data + count);
        return count;
    }

    std::deque<Bytes> answers;
    Bytes written;
};

class ShortReads : public ::testing::Test {
protected:
    void SetUp() override {
        m_link.m_transport = &m_script;
        m_link.m_terminal = &m_recorder;
    }
    std::vector<std::size_t> ReceivedSizes() {
        std::vector<std::size_t> sizes;
        for (const EchoChunk& c : m_recorder.Log().Chunks()) {
            if (c.received) {
                sizes.push_back(c.bytes.size());
            }
        }
        return sizes;
    }

    ScriptedAnswers m_script;
    EchoLogRecorder m_recorder;
    DeviceLink m_link;
};

TEST_F(ShortReads, TrackRecordsReuseThePreparedBuffer) {
    TrackEntry entry;
    entry.record = {1, 2, 13, 0, 0, 0, 0x00, 0x01, 0x02, 1, 0, 3};
    m_link.m_tracks = {entry};

    const Bytes first(10, 0xAB);
    Bytes second(32);
    for (std::size_t i = 0; i < 32; ++i)
        second[i] = static_cast<uint8_t>(i + 1);
    const Bytes third(5, 0xCD);
    // Record 0: 10 bytes over the prepared buffer (zeros, 0x77 at offset 15).
    Bytes record0(32, 0);
    std::fill(record0.begin(), record0.begin() + 10, 0xAB);
    record0[15] = 0x77;
    // Record 2: 5 bytes over what record 1 left.
    Bytes record2 = second;
    std::fill(record2.begin(), record2.begin() + 5, 0xCD);
    uint16_t sum = 1020;
    for (const Bytes* r : {&record0, &second, &record2}) {
        for (uint8_t b : *r)
            sum = static_cast<uint16_t>(sum + b);
    }
    m_script.answers = {first,
                        second,
                        third,
                        Bytes(kTrackTerminator.begin(), kTrackTerminator.end()),
                        {static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum)}};
    const TrackEntry got = m_link.DownloadTrack(0);

    EXPECT_EQ(m_script.written, (Bytes{0x11, 0x00, 0x01, 0x02}));
    ASSERT_EQ(got.points.size(), 3u);
    EXPECT_EQ(Bytes(got.points[0].bytes.begin(), got.points[0].bytes.end()), record0);
    EXPECT_EQ(Bytes(got.points[1].bytes.begin(), got.points[1].bytes.end()), second);
    EXPECT_EQ(Bytes(got.points[2].bytes.begin(), got.points[2].bytes.end()), record2);
    EXPECT_TRUE(got.checksumOk);
    EXPECT_EQ(ReceivedSizes(), (std::vector<std::size_t>{10, 32, 5, 32, 2}));
    // A short record keeps the upward sign of the prepared buffer.
    EXPECT_FALSE(std::signbit(got.points[0].VerticalSpeed()));
}

TEST_F(ShortReads, OneChecksumByteIsAMismatch) {
    TrackEntry entry;
    entry.record = {1, 2, 13, 0, 0, 0, 0, 0, 0, 1, 0, 0};
    m_link.m_tracks = {entry};
    m_script.answers = {Bytes(kTrackTerminator.begin(), kTrackTerminator.end()), {0x03}};
    EXPECT_FALSE(m_link.DownloadTrack(0).checksumOk);
    EXPECT_EQ(ReceivedSizes(), (std::vector<std::size_t>{32, 1}));
}

TEST_F(ShortReads, ShortTableRecordIsPaddedWithZeros) {
    m_script.answers = {{1, 2, 13, 4, 5}, {6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}};
    const std::vector<TrackEntry>& table = m_link.ReadTrackTable();
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].record, (std::array<uint8_t, 12>{1, 2, 13, 4, 5, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(table[1].record[0], 6);
    EXPECT_EQ(ReceivedSizes(), (std::vector<std::size_t>{5, 12}));
    EXPECT_EQ(m_recorder.RefreshCount(), 1);
}

TEST_F(ShortReads, ShortMarkEndsTheMarks) {
    m_script.answers = {
        {0x03}, {0x37, 0x2D, 0x0D, 0x98, 0x25, 0x25, 0x01, 0x7C}, {0x37, 0x2D, 0x0D}};
    bool answered = false;
    unsigned announced = 0;
    const std::vector<PackedPosition> marks = m_link.ReadMarks(&answered, &announced);
    EXPECT_TRUE(answered);
    EXPECT_EQ(announced, 3u);
    // The cut mark is not completed with zeros, and nothing more is asked of the device.
    EXPECT_EQ(marks,
              (std::vector<PackedPosition>{{0x37, 0x2D, 0x0D, 0x98, 0x25, 0x25, 0x01, 0x7C}}));
    EXPECT_EQ(ReceivedSizes(), (std::vector<std::size_t>{1, 8, 3}));
}

}  // namespace
