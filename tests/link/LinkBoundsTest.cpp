// Whatever the device sends, the link's reads stay bounded: stale bytes are drained before each
// command, an endless table stops, a cancelled read keeps what came, slow lines still fit.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/CommandByte.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "link/EchoLog.h"
#include "link/SerialSpeed.h"
#include "link/WireRecords.h"
#include "tests/support/StubTransport.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using MCommunication::AnswerException;
using MCommunication::ComException;
using MCommunication::ErrorText;
using MCommunication::LineTimeMs;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes TableRecord(uint8_t day, uint32_t startPage, uint16_t points) {
    TrackTableRecord r;
    r.day = day;
    r.month = 7;
    r.year = 24;
    r.interval = 5;
    r.startPage.Set(startPage);
    r.pointCount.Set(points);
    const auto bytes = r.ToBytes();
    return Bytes(bytes.begin(), bytes.end());
}

Bytes PointRecord(uint8_t seed) {
    TrackPointRecord p;
    p.position = {55, seed, 0, 0, 37, seed, 0, 0};
    p.altitude.Set(300u + seed);
    const auto bytes = p.ToBytes();
    return Bytes(bytes.begin(), bytes.end());
}

// Points, terminator and the device's checksum.
Bytes TrackAnswer(const std::vector<Bytes>& points) {
    uint16_t sum = kTrackTerminatorSum;
    Bytes out;
    for (const Bytes& p : points) {
        for (uint8_t b : p) {
            sum = static_cast<uint16_t>(sum + b);
        }
        out.insert(out.end(), p.begin(), p.end());
    }
    out.insert(out.end(), kTrackTerminator.begin(), kTrackTerminator.end());
    out.push_back(static_cast<uint8_t>(sum >> 8));
    out.push_back(static_cast<uint8_t>(sum));
    return out;
}

// A device on a line: each command's answer goes onto the line once the command byte is
// written, and everything on the line is there for reads, waiting or not.
class LineDevice : public StubTransport {
public:
    using Transport::Read;
    using Transport::Write;
    int32_t Read(uint8_t* buffer, int32_t count) override {
        if (onRead) {
            onRead();
        }
        return Take(buffer, count);
    }
    int32_t ReadPending(uint8_t* buffer, int32_t count) override { return Take(buffer, count); }
    int32_t Write(const uint8_t* data, int32_t count) override {
        if (count > 0 && awaitingCommand && !answers.empty()) {
            line.insert(line.end(), answers.front().begin(), answers.front().end());
            answers.pop_front();
        }
        awaitingCommand = false;
        written.insert(written.end(), data, data + count);
        return count;
    }
    // The next write starts a command.
    void NextCommand() { awaitingCommand = true; }

    std::deque<uint8_t> line;
    std::deque<Bytes> answers;  // one per command, in order
    Bytes written;
    std::function<void()> onRead;
    bool awaitingCommand = true;

private:
    int32_t Take(uint8_t* buffer, int32_t count) {
        int32_t n = 0;
        while (n < count && !line.empty()) {
            buffer[n++] = line.front();
            line.pop_front();
        }
        return n;
    }
};

// Every read hands out a table record that is never the terminator.
class EndlessTable : public StubTransport {
public:
    int32_t Read(uint8_t* buffer, int32_t count) override {
        const uint32_t n = ++reads;
        if (n == cancelAt && cancel != nullptr) {
            cancel->store(true);
        }
        // A slow line from here on: the next record waits until the reader is told to stop.
        if (slowFrom != 0 && n >= slowFrom && watched != nullptr) {
            for (int ms = 0; ms < 5000 && !watched->load(); ++ms) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        for (int32_t i = 0; i < count; ++i) {
            buffer[i] = static_cast<uint8_t>(i + 1);
        }
        return count;
    }
    int32_t Write(const uint8_t*, int32_t count) override { return count; }
    std::atomic<uint32_t> reads{0};
    uint32_t cancelAt = 0;
    std::atomic<bool>* cancel = nullptr;
    uint32_t slowFrom = 0;
    const std::atomic<bool>* watched = nullptr;
};

struct Logged {
    bool received;
    Bytes bytes;
    bool operator==(const Logged&) const = default;
};

std::vector<Logged> ChunksOf(EchoLogRecorder& recorder) {
    std::vector<Logged> out;
    for (const EchoChunk& c : recorder.Log().Chunks()) {
        out.push_back({c.received, c.bytes});
    }
    return out;
}

class JunkOnTheLine : public ::testing::Test {
protected:
    void SetUp() override {
        m_link.m_transport = &m_device;
        m_link.m_terminal = &m_recorder;
    }
    LineDevice m_device;
    EchoLogRecorder m_recorder;
    DeviceLink m_link;
};

// Five junk bytes after every answer, and junk already waiting before the first command: each
// command still reads its own answer, and the junk shows in the log as received, before the
// command byte it preceded.
TEST_F(JunkOnTheLine, EachCommandReadsItsOwnAnswer) {
    const Bytes junk = {0xDE, 0xAD, 0xBE, 0xEF, 0x42};
    const std::vector<Bytes> points0 = {PointRecord(1), PointRecord(2)};
    const std::vector<Bytes> points1 = {PointRecord(3)};
    const Bytes mark = {0x37, 0x2D, 0x0D, 0xAC, 0x25, 0x25, 0x01, 0x7C};
    m_device.line.assign(junk.begin(), junk.end());
    m_device.answers = {
        Concat({TableRecord(1, 0, 2), TableRecord(2, 1, 1),
                Bytes(kTrackTableTerminator.begin(), kTrackTableTerminator.end()), junk}),
        Concat({TrackAnswer(points0), junk}),
        Concat({TrackAnswer(points1), junk}),
        Concat({{0x01}, mark, junk}),
        Concat({{0x02}, junk}),
    };

    const std::vector<TrackEntry>& table = m_link.ReadTrackTable();
    ASSERT_EQ(table.size(), 2u);
    m_device.NextCommand();
    EXPECT_TRUE(m_link.DownloadTrack(0).checksumOk);
    m_device.NextCommand();
    EXPECT_TRUE(m_link.DownloadTrack(1).checksumOk);
    m_device.NextCommand();
    unsigned announced = 0;
    const std::vector<PackedPosition> marks = m_link.ReadMarks(nullptr, &announced);
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(Bytes(marks[0].begin(), marks[0].end()), mark);
    EXPECT_EQ(announced, 1u);
    m_device.NextCommand();
    EXPECT_EQ(m_link.QueryDevice(), 2);

    EXPECT_EQ(m_link.m_tracks[0].points.size(), 2u);
    EXPECT_EQ(m_link.m_tracks[1].points.size(), 1u);
    const std::vector<Logged> chunks = ChunksOf(m_recorder);
    std::vector<std::size_t> commandAt;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (!chunks[i].received && chunks[i].bytes.size() == 1) {  // a command byte
            commandAt.push_back(i);
        }
    }
    ASSERT_EQ(commandAt.size(), 5u);
    for (std::size_t at : commandAt) {
        ASSERT_GT(at, 0u);
        EXPECT_EQ(chunks[at - 1], (Logged{true, junk})) << "before chunk " << at;
    }
    EXPECT_EQ(m_device.line.size(), junk.size());  // the last answer's junk waits for the next
}

TEST_F(JunkOnTheLine, DrainInputShowsWhatWaitedAndNothingWhenTheLineIsQuiet) {
    m_link.DrainInput();
    EXPECT_TRUE(m_recorder.Log().Chunks().empty());
    EXPECT_EQ(m_recorder.RefreshCount(), 0);
    m_device.line = {0x01, 0x02, 0x03};
    m_link.DrainInput();
    EXPECT_EQ(ChunksOf(m_recorder), (std::vector<Logged>{{true, {0x01, 0x02, 0x03}}}));
    EXPECT_EQ(m_recorder.RefreshCount(), 1);
    EXPECT_TRUE(m_device.written.empty());
}

TEST_F(JunkOnTheLine, ADeviceThatNeverStopsIsDrainedOnlySoFar) {
    m_device.line.assign(3 * DeviceLink::kMaxDrainBytes, 0x5A);
    m_link.DrainInput();
    EXPECT_EQ(m_recorder.Log().ByteCount(), static_cast<std::size_t>(DeviceLink::kMaxDrainBytes));
    EXPECT_EQ(m_device.line.size(), 2u * DeviceLink::kMaxDrainBytes);
}

// A table that never ends stops after the most records the memory can describe, with its own
// message, and keeps them; a cancel stops it sooner without an error.
TEST(TableBound, EndlessTableStopsWithAMessageAndKeepsTheRecords) {
    DeviceLink link;
    EndlessTable device;
    link.m_transport = &device;
    try {
        link.ReadTrackTable();
        ADD_FAILURE() << "an endless table was taken as whole";
    } catch (const AnswerException& e) {
        EXPECT_EQ(ErrorText(e),
                  "Прибор не закончил таблицу треков: чтение остановлено после "
                  "65536 записей.");
    }
    EXPECT_EQ(link.m_tracks.size(), DeviceLink::kMaxTableRecords);
    EXPECT_EQ(device.reads, DeviceLink::kMaxTableRecords + 1);
    EXPECT_EQ(link.m_tracks.back().record[0], 1);
}

TEST(TableBound, AFullTableThenItsTerminatorIsWhole) {
    DeviceLink link;
    LineDevice device;
    link.m_transport = &device;
    Bytes answer;
    answer.reserve((DeviceLink::kMaxTableRecords + 1) * 12);
    for (uint32_t i = 0; i < DeviceLink::kMaxTableRecords; ++i) {
        const Bytes r = TableRecord(static_cast<uint8_t>(i % 28 + 1), i, 1);
        answer.insert(answer.end(), r.begin(), r.end());
    }
    answer.insert(answer.end(), kTrackTableTerminator.begin(), kTrackTableTerminator.end());
    device.answers = {answer};
    EXPECT_EQ(link.ReadTrackTable().size(), DeviceLink::kMaxTableRecords);
}

TEST(TableBound, CancelKeepsWhatCame) {
    DeviceLink link;
    EndlessTable device;
    device.cancel = &link.m_cancel;
    device.cancelAt = 40;
    link.m_transport = &device;
    EXPECT_EQ(link.ReadTrackTable().size(), 40u);
    EXPECT_TRUE(link.m_cancel.load());  // the link leaves the flag to whoever set it

    // From another thread, as the window's worker is stopped.
    link.m_cancel = false;
    device.cancel = nullptr;
    device.reads = 0;
    device.slowFrom = 1000;
    device.watched = &link.m_cancel;
    std::thread stopper([&] {
        while (device.reads < 1000) {
            std::this_thread::yield();
        }
        link.m_cancel = true;
    });
    EXPECT_NO_THROW(link.ReadTrackTable());
    stopper.join();
    EXPECT_GE(link.m_tracks.size(), 1000u);
    EXPECT_LT(link.m_tracks.size(), DeviceLink::kMaxTableRecords);
}

class Download : public ::testing::Test {
protected:
    void SetUp() override {
        m_link.m_transport = &m_device;
        TrackEntry entry;
        const Bytes record = TableRecord(1, 0x010203, 3);
        std::copy(record.begin(), record.end(), entry.record.begin());
        m_link.m_tracks = {entry};
    }
    LineDevice m_device;
    DeviceLink m_link;
};

TEST_F(Download, HandsOutTheEntryItselfSizedToItsPoints) {
    const std::vector<Bytes> points = {PointRecord(1), PointRecord(2), PointRecord(3)};
    m_device.answers = {TrackAnswer(points)};
    const TrackEntry& got = m_link.DownloadTrack(0);
    EXPECT_EQ(&got, &m_link.m_tracks[0]);
    EXPECT_TRUE(got.checksumOk);
    ASSERT_EQ(got.points.size(), 3u);
    EXPECT_LE(got.points.capacity(), 4u);
    EXPECT_EQ(Bytes(got.points[2].bytes.begin(), got.points[2].bytes.end()), points[2]);
    EXPECT_EQ(m_device.written, (Bytes{0x11, 0x01, 0x02, 0x03}));

    const TrackEntry& none = m_link.DownloadTrack(5);
    EXPECT_EQ(&none, &m_link.DownloadTrack(6));
    EXPECT_TRUE(none.points.empty());
    EXPECT_FALSE(none.checksumOk);
}

// Records without end: pointCount + 1 are taken, then the checksum read, and no more.
TEST_F(Download, RecordsWithoutEndStopAfterOneExtra) {
    Bytes endless;
    for (int i = 0; i < 100; ++i) {
        const Bytes p = PointRecord(static_cast<uint8_t>(i));
        endless.insert(endless.end(), p.begin(), p.end());
    }
    m_device.answers = {endless};
    const TrackEntry& got = m_link.DownloadTrack(0);
    EXPECT_EQ(got.points.size(), 4u);
    EXPECT_FALSE(got.checksumOk);
    EXPECT_EQ(m_device.line.size(), endless.size() - 4 * 32 - 2);
}

TEST_F(Download, CancelBetweenRecordsKeepsThemAndReadsNoChecksum) {
    m_device.answers = {TrackAnswer({PointRecord(1), PointRecord(2), PointRecord(3)})};
    int reads = 0;
    m_device.onRead = [&] {
        if (++reads == 2) {
            m_link.m_cancel = true;  // while the second record is read
        }
    };
    const TrackEntry& got = m_link.DownloadTrack(0);
    EXPECT_EQ(got.points.size(), 2u);
    EXPECT_FALSE(got.checksumOk);
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(m_device.line.size(), 32u + 32u + 2u);  // left for the next command's drain
}

TEST(LineTime, TenBitsPerByteRoundedUpToWholeMilliseconds) {
    struct Case {
        uint32_t baud;
        int64_t bytes;
        int32_t ms;
    };
    const Case cases[] = {
        {115200, 32, 3}, {115200, 12, 2}, {110, 32, 2910}, {300, 32, 1067},
        {9600, 1, 2},    {256000, 1, 1},  {0, 32, 0},      {115200, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LineTimeMs(c.baud, c.bytes), c.ms) << c.baud << " " << c.bytes;
    }
}

// A real line: what waits is drained at once, a slow record fits, silence costs only the
// time-out, and a line that has gone fails the drain.
class SlowLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(openpty(&m_master, &m_slave, m_name, nullptr, nullptr), 0);
        m_link.m_terminal = &m_recorder;
    }
    void TearDown() override {
        if (m_master >= 0) {
            close(m_master);
        }
        if (m_slave >= 0) {
            close(m_slave);
        }
    }
    int m_master = -1;
    int m_slave = -1;
    char m_name[256] = {};
    DeviceLink m_link;
    EchoLogRecorder m_recorder;
};

TEST_F(SlowLine, DrainTakesWhatWaitsWithoutWaiting) {
    m_link.m_port.Open(m_name, 115200, 0, 8, 0);
    m_link.m_port.SetTimeouts(1000, 1000);
    const uint8_t junk[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(write(m_master, junk, 5), 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto start = Clock::now();
    m_link.DrainInput();
    m_link.DrainInput();  // nothing more: no wait, no chunk
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(ChunksOf(m_recorder), (std::vector<Logged>{{true, {1, 2, 3, 4, 5}}}));
}

TEST_F(SlowLine, HangUpFailsTheDrain) {
    m_link.m_port.Open(m_name, 115200, 0, 8, 0);
    close(m_slave);
    m_slave = -1;
    close(m_master);
    m_master = -1;
    EXPECT_THROW(m_link.DrainInput(), ComException);
}

// At 300 baud a 32-byte record takes 1067 ms on the line: more than the 400 ms time-out, yet
// it arrives whole; a silent line still ends the read after the time-out alone.
TEST_F(SlowLine, ARecordAtLowSpeedFitsAndSilenceCostsTheTimeoutAlone) {
    m_link.m_port.Open(m_name, 300, 0, 8, 0);
    m_link.m_port.SetTimeouts(400, 400);
    std::thread device([&] {
        for (uint8_t i = 0; i < 32; i += 4) {
            const uint8_t piece[4] = {i, static_cast<uint8_t>(i + 1), static_cast<uint8_t>(i + 2),
                                      static_cast<uint8_t>(i + 3)};
            EXPECT_EQ(write(m_master, piece, 4), 4);
            std::this_thread::sleep_for(std::chrono::milliseconds(120));  // 4 bytes at 300 baud
        }
    });
    uint8_t record[32] = {};
    const int32_t got = m_link.m_port.Read(record, 32);
    device.join();
    EXPECT_EQ(got, 32);
    EXPECT_EQ(record[31], 31);

    m_link.m_port.SetTimeouts(100, 100);
    std::vector<uint8_t> big(65536);
    const auto start = Clock::now();
    EXPECT_EQ(m_link.m_port.Read(big.data(), static_cast<int32_t>(big.size())), 0);
    // The whole bound for 64 KiB at 300 baud would be over half an hour.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
