// The simulator's answers and faults, byte for byte, through a real serial port on its pty.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "link/ComPort.h"
#include "link/CommandByte.h"
#include "link/DataFormats.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "sim/DeviceSimulator.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes TrackBytes(const sim::SimTrack& track) {
    Bytes out;
    for (const auto& p : track.points) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes TrackEnd(uint16_t checksum) {
    Bytes out;
    for (int i = 0; i < 4; ++i) {
        out.insert(out.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0x11, 0x11, 0x11, 0x11});
    }
    out.push_back(static_cast<uint8_t>(checksum >> 8));
    out.push_back(static_cast<uint8_t>(checksum));
    return out;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

sim::SimTrack Track(uint16_t points, uint8_t seed) {
    sim::SimTrack t;
    t.record = sim::DeviceSimulator::MakeRecord(3, 5, 2013, 9, 7, 0, 2, points);
    for (uint16_t i = 0; i < points; ++i) {
        t.points.push_back(sim::DeviceSimulator::MakePoint(55.75 + i * 1e-4, 37.6, 150 + i,
                                                           100 + seed, -1.5, 120));
    }
    return t;
}

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        BuildDeviceCharTable();
        m_sim.SetTracks({Track(65, 1), Track(1, 2), Track(0, 3)});
        m_sim.SetMarks({PackPosition(55.7558, 37.6173), PackPosition(1, 2)});
        m_sim.SetRouteQuietMs(100);
        m_port.Open(m_sim.Start(), 115200, 0, 8, 0);
        m_port.SetTimeouts(100, 100);
    }

    void Send(const Bytes& bytes) {
        m_port.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
    }

    // Everything until the line is quiet for the read time-out.
    Bytes ReadAll() {
        Bytes out;
        uint8_t buffer[4096];
        for (;;) {
            const int32_t n = m_port.Read(buffer, sizeof buffer);
            if (n == 0) {
                return out;
            }
            out.insert(out.end(), buffer, buffer + n);
        }
    }

    Bytes Ask(const Bytes& command) {
        Send(command);
        return ReadAll();
    }

    sim::DeviceSimulator m_sim;
    MCommunication::ComPort m_port;
};

TEST_F(SimulatorTest, SettingsCommandsAreRecordedAndQueryAnswered) {
    EXPECT_EQ(Ask({0x33}), Bytes{0x02});
    // Arguments may come in separate writes, with pauses between them.
    Send({0xBB});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Send({0x03});
    Send({0x1E});
    Send({0x22, 0x64});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Send({0x5A});
    Send({0xCC, 0x80});
    EXPECT_EQ(ReadAll(), Bytes{});  // none of these answers
    const auto r = m_sim.Received();
    EXPECT_EQ(r.utcOffset, (std::array<uint8_t, 2>{0x03, 0x1E}));
    EXPECT_EQ(r.calibration, (std::array<uint8_t, 2>{0x64, 0x5A}));
    EXPECT_EQ(r.interval, uint8_t{0x80});
    EXPECT_EQ(r.commands, (Bytes{0x33, 0xBB, 0x22, 0xCC}));
    EXPECT_EQ(r.bytesIn, 9u);
}

TEST_F(SimulatorTest, TableListsRecordsWithLaidOutPagesThenTerminator) {
    const auto tracks = m_sim.Tracks();
    // 65 points take two pages; the one-point track starts after them; the empty one takes none.
    EXPECT_EQ(sim::DeviceSimulator::StartPage(tracks[0].record), 0u);
    EXPECT_EQ(sim::DeviceSimulator::StartPage(tracks[1].record), 2u);
    EXPECT_EQ(sim::DeviceSimulator::StartPage(tracks[2].record), 3u);
    Bytes expected;
    for (const auto& t : tracks) {
        expected.insert(expected.end(), t.record.begin(), t.record.end());
    }
    expected =
        Concat(expected, {0xFF, 0xFF, 0xFF, 0xFF, 0xDD, 0xDD, 0xDD, 0xDD, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(Ask({0xDD}), expected);
}

TEST_F(SimulatorTest, TrackAnswersRecordsTerminatorAndChecksum) {
    const auto tracks = m_sim.Tracks();
    const Bytes records = TrackBytes(tracks[0]);
    uint32_t sum = 1020;
    for (uint8_t b : records) {
        sum += b;
    }
    EXPECT_EQ(sim::DeviceSimulator::Checksum(tracks[0]), static_cast<uint16_t>(sum));
    EXPECT_EQ(Ask({0x11, 0, 0, 0}), Concat(records, TrackEnd(static_cast<uint16_t>(sum))));
    EXPECT_EQ(Ask({0x11, 0, 0, 2}),
              Concat(TrackBytes(tracks[1]), TrackEnd(sim::DeviceSimulator::Checksum(tracks[1]))));
    // The empty track and an unknown page: the terminator and 03 FC.
    EXPECT_EQ(Ask({0x11, 0, 0, 3}), TrackEnd(0x03FC));
    EXPECT_EQ(Ask({0x11, 0x12, 0x34, 0x56}), TrackEnd(0x03FC));
}

TEST_F(SimulatorTest, TrackFaultsChangeTheAnswer) {
    const auto tracks = m_sim.Tracks();
    const Bytes records = TrackBytes(tracks[0]);
    const uint16_t sum = sim::DeviceSimulator::Checksum(tracks[0]);

    sim::SimFaults bad;
    bad.badChecksumTrack = 0;
    m_sim.SetFaults(bad);
    EXPECT_EQ(Ask({0x11, 0, 0, 0}), Concat(records, TrackEnd(sum + 1)));
    EXPECT_EQ(Ask({0x11, 0, 0, 2}),  // another track keeps its checksum
              Concat(TrackBytes(tracks[1]), TrackEnd(sim::DeviceSimulator::Checksum(tracks[1]))));

    sim::SimFaults silence;
    silence.silenceAfterRecords = 3;
    m_sim.SetFaults(silence);
    EXPECT_EQ(Ask({0x11, 0, 0, 0}), Bytes(records.begin(), records.begin() + 96));

    sim::SimFaults extra;
    extra.extraRecord = true;
    m_sim.SetFaults(extra);
    const Bytes withExtra = Ask({0x11, 0, 0, 2});
    ASSERT_EQ(withExtra.size(), 2 * 32 + 34u);
    EXPECT_EQ(Bytes(withExtra.begin(), withExtra.begin() + 32), TrackBytes(tracks[1]));
    uint32_t extraSum = 1020;
    for (size_t i = 0; i < 64; ++i) {
        extraSum += withExtra[i];
    }
    EXPECT_EQ(Bytes(withExtra.begin() + 64, withExtra.end()),
              TrackEnd(static_cast<uint16_t>(extraSum)));

    // A short record: 20 bytes, a quiet gap longer than the reader's time-out, then the rest.
    sim::SimFaults shortRecord;
    shortRecord.shortRecordAt = 1;
    shortRecord.shortRecordPauseMs = 400;
    m_sim.SetFaults(shortRecord);
    Send({0x11, 0, 0, 0});
    const Bytes before = ReadAll();
    EXPECT_EQ(before, Bytes(records.begin(), records.begin() + 52));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ReadAll(), Concat(Bytes(records.begin() + 64, records.end()), TrackEnd(sum)));
}

TEST_F(SimulatorTest, MarksCountThenRecordsOrFewerWhenTold) {
    const Bytes first = {0x37, 0x2D, 0x0D, 0x98, 0x25, 0x25, 0x01, 0x7C};
    const Bytes second = {0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};
    EXPECT_EQ(Ask({0x55}), Concat(Concat({0x02}, first), second));
    sim::SimFaults few;
    few.marksSent = 1;
    m_sim.SetFaults(few);
    EXPECT_EQ(Ask({0x55}), Concat({0x02}, first));
    m_sim.SetMarks({});
    EXPECT_EQ(Ask({0x55}), Bytes{0x00});
}

TEST_F(SimulatorTest, ClearConfirmsAndEmptiesOrMisbehaves) {
    sim::SimFaults wrong;
    wrong.clearAnswer = std::array<uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEF};
    m_sim.SetFaults(wrong);
    EXPECT_EQ(Ask({0xEE}), (Bytes{0xEE, 0xEE, 0xEE, 0xEF}));
    EXPECT_EQ(m_sim.Tracks().size(), 3u);  // not confirmed, not cleared

    sim::SimFaults late;
    late.clearDelayMs = 400;
    m_sim.SetFaults(late);
    Send({0xEE});
    const auto start = Clock::now();
    EXPECT_EQ(ReadAll(), Bytes{});  // nothing within the reader's 100 ms
    std::this_thread::sleep_for(std::chrono::milliseconds(400) - (Clock::now() - start));
    EXPECT_EQ(ReadAll(), (Bytes{0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_TRUE(m_sim.Tracks().empty());
    EXPECT_EQ(Ask({0xDD}),
              (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xDD, 0xDD, 0xDD, 0xDD, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(m_sim.Received().clearCount, 2u);
}

TEST_F(SimulatorTest, CapabilityAndSilenceFaults) {
    sim::SimFaults faults;
    faults.capability = 5;
    faults.silentCommands = {0xDD, 0x11};
    m_sim.SetFaults(faults);
    EXPECT_EQ(Ask({0x33}), Bytes{0x05});
    EXPECT_EQ(Ask({0xDD}), Bytes{});
    EXPECT_EQ(Ask({0x11, 0, 0, 0}), Bytes{});
    EXPECT_EQ(Ask({0x55}).size(), 17u);  // other commands still answer
}

TEST_F(SimulatorTest, RouteEndsAtAQuietLineWhateverTheLengthByte) {
    // 22 points: the length byte wraps to 0x08, the bytes come in separate writes.
    Bytes route = {0x08};
    Send({0xAA});
    Send({0x08});
    for (uint8_t i = 0; i < 22; ++i) {
        const Bytes position = {55, 45, 0, i, 37, 37, 0, i};
        const Bytes name = {0x41, i, 0, 0};
        Send(position);
        Send(name);
        route = Concat(Concat(route, position), name);
    }
    ASSERT_TRUE(m_sim.WaitForRoute(1, 2000));
    EXPECT_EQ(m_sim.Route(), route);
    EXPECT_EQ(m_sim.Received().routeBytes.size(), 1 + 22 * 12u);

    // An empty route, then a command once the line was quiet: both understood.
    Send({0xAA, 0x00});
    ASSERT_TRUE(m_sim.WaitForRoute(2, 2000));
    EXPECT_EQ(m_sim.Route(), Bytes{0x00});
    EXPECT_EQ(Ask({0x33}), Bytes{0x02});
}

TEST_F(SimulatorTest, HangUpAfterSomeAnswerBytesEndsTheLine) {
    sim::SimFaults faults;
    faults.hangupAfterBytes = 40;
    m_sim.SetFaults(faults);
    Send({0x11, 0, 0, 0});
    uint8_t buffer[64];
    EXPECT_EQ(m_port.Read(buffer, 32), 32);
    EXPECT_EQ(m_port.Read(buffer, 8), 8);
    // The next read sees the line gone, not silence.
    EXPECT_THROW(m_port.Read(buffer, 32), MCommunication::LLDevException);
    EXPECT_TRUE(m_sim.HungUp());
}

TEST_F(SimulatorTest, PacingKeepsTheLineRate) {
    // 57600 bit/s carry 5760 bytes a second: 65 records and the end (2114 bytes) take ~367 ms.
    sim::SimFaults faults;
    faults.pacingBaud = 57600;
    m_sim.SetFaults(faults);
    Send({0x11, 0, 0, 0});
    uint8_t buffer[4096];
    size_t got = 0;
    const auto start = Clock::now();
    while (got < 2114) {
        // Exactly what is still due, so the last read ends with the last byte.
        const int32_t n =
            m_port.Read(buffer, static_cast<int32_t>(std::min<size_t>(sizeof buffer, 2114 - got)));
        ASSERT_GT(n, 0);
        got += static_cast<size_t>(n);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_NEAR(seconds, 2114 / 5760.0, 0.03);
}

TEST_F(SimulatorTest, InterruptedAnswerIsFinishedUnlessToldToDrop) {
    const auto tracks = m_sim.Tracks();
    const Bytes answer =
        Concat(TrackBytes(tracks[0]), TrackEnd(sim::DeviceSimulator::Checksum(tracks[0])));
    for (const bool drop : {false, true}) {
        sim::SimFaults faults;
        faults.dropPendingAnswer = drop;
        m_sim.SetFaults(faults);
        const uint64_t before = m_sim.AnswerBytes();
        Send({0x11, 0, 0, 0});
        uint8_t head[40];
        ASSERT_EQ(m_port.Read(head, sizeof head), 40);
        // The next command reaches the device while the client is not reading, as when it
        // sends a command without first reading the rest of the answer.
        Send({0x33});
        const auto end = Clock::now() + std::chrono::seconds(2);
        while (m_sim.AnswerBytes() < before + answer.size() + 1 && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const Bytes rest = ReadAll();
        if (drop) {
            EXPECT_EQ(rest, Bytes{0x02});
        } else {
            EXPECT_EQ(rest, Concat(Bytes(answer.begin() + 40, answer.end()), {0x02}));
        }
    }
}

TEST_F(SimulatorTest, HostileFaultsShapeTheAnswer) {
    const auto tracks = m_sim.Tracks();
    Bytes table;
    for (const auto& t : tracks) {
        table.insert(table.end(), t.record.begin(), t.record.end());
    }
    const Bytes tableEnd(kTrackTableTerminator.begin(), kTrackTableTerminator.end());

    sim::SimFaults junk;
    junk.junkAfterAnswer = {0x01, 0xFF, 0xDD, 0x11, 0x00};
    m_sim.SetFaults(junk);
    EXPECT_EQ(Ask({0x33}), (Bytes{0x02, 0x01, 0xFF, 0xDD, 0x11, 0x00}));
    EXPECT_EQ(Ask({0xDD}), Concat(Concat(table, tableEnd), junk.junkAfterAnswer));

    // Noise in place of every record; the terminators and the true checksum still come.
    sim::SimFaults garbage;
    garbage.garbageRecords = true;
    m_sim.SetFaults(garbage);
    const Bytes noisyTable = Ask({0xDD});
    ASSERT_EQ(noisyTable.size(), table.size() + 12);
    EXPECT_NE(Bytes(noisyTable.begin(), noisyTable.begin() + 36), table);
    EXPECT_EQ(Bytes(noisyTable.begin() + 36, noisyTable.end()), tableEnd);
    const Bytes noisyTrack = Ask({0x11, 0, 0, 0});
    const Bytes records = TrackBytes(tracks[0]);
    ASSERT_EQ(noisyTrack.size(), records.size() + 34);
    EXPECT_NE(Bytes(noisyTrack.begin(), noisyTrack.begin() + 64),
              Bytes(records.begin(), records.begin() + 64));
    EXPECT_EQ(
        Bytes(noisyTrack.begin() + static_cast<std::ptrdiff_t>(records.size()), noisyTrack.end()),
        TrackEnd(sim::DeviceSimulator::Checksum(tracks[0])));

    // One byte at a time: the 17 bytes of the marks take at least 16 gaps.
    sim::SimFaults slow;
    slow.byteIntervalMs = 20;
    m_sim.SetFaults(slow);
    const auto start = Clock::now();
    EXPECT_EQ(Ask({0x55}).size(), 17u);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(16 * 20));

    // An endless table: the stored records, then more, and never the terminator.
    sim::SimFaults endless;
    endless.endlessTable = true;
    m_sim.SetFaults(endless);
    Send({0xDD});
    Bytes got(12 * 5000);
    size_t filled = 0;
    while (filled < got.size()) {
        const int32_t n =
            m_port.Read(got.data() + filled, static_cast<int32_t>(got.size() - filled));
        ASSERT_GT(n, 0) << "the table ended after " << filled << " bytes";
        filled += static_cast<size_t>(n);
    }
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 36), table);
    for (size_t at = 0; at < got.size(); at += 12) {
        ASSERT_NE(Bytes(got.begin() + static_cast<std::ptrdiff_t>(at),
                        got.begin() + static_cast<std::ptrdiff_t>(at + 12)),
                  tableEnd)
            << "record " << at / 12;
    }
}

// After a client that held the line for exclusive use is killed, another user can open it.
TEST(SimulatorLine, ExclusiveUseEndsWithTheClient) {
    sim::DeviceSimulator device;
    const std::string path = device.Start();
    const bool root = geteuid() == 0;
    if (root) {
        // Root passes the exclusive flag; the second open is made as an ordinary user.
        ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    }
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        const char ok = fd >= 0 && ioctl(fd, TIOCEXCL) == 0 ? 1 : 0;
        [[maybe_unused]] auto w = write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    close(ready[0]);
    close(ready[1]);
    ASSERT_EQ(ok, 1);

    // Opens the line as an ordinary user: 0 when it opened, else the error.
    const auto openAsUser = [&] {
        const pid_t child = fork();
        if (child == 0) {
            if (root && (setgid(65534) != 0 || setuid(65534) != 0)) {
                _exit(255);
            }
            const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
            _exit(fd >= 0 ? 0 : (errno & 0x7F));
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(openAsUser(), EBUSY);  // while the holder lives, the line is its own

    kill(holder, SIGKILL);
    int status = 0;
    waitpid(holder, &status, 0);
    int result = -1;
    const auto end = Clock::now() + std::chrono::seconds(2);
    while ((result = openAsUser()) == EBUSY && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(result, 0) << std::strerror(result);
}

TEST(SimulatorScenario, DemoIsDeterministicAndPlausible) {
    BuildDeviceCharTable();
    sim::DeviceSimulator a;
    sim::DeviceSimulator b;
    a.LoadDemoScenario();
    b.LoadDemoScenario();
    const auto tracks = a.Tracks();
    const auto again = b.Tracks();
    ASSERT_EQ(tracks.size(), again.size());
    EXPECT_GE(tracks.size(), 6u);
    EXPECT_LE(tracks.size(), 8u);
    std::set<int> days;
    uint32_t page = 0;
    for (size_t i = 0; i < tracks.size(); ++i) {
        const auto& t = tracks[i];
        EXPECT_EQ(t.record, again[i].record);
        EXPECT_EQ(t.points, again[i].points);
        const uint16_t count = static_cast<uint16_t>((t.record[10] << 8) | t.record[11]);
        EXPECT_EQ(count, t.points.size());
        EXPECT_GE(count, 200);
        EXPECT_LE(count, 2500);
        EXPECT_GE(t.record[9], 2);
        EXPECT_LE(t.record[9], 10);
        EXPECT_EQ(sim::DeviceSimulator::StartPage(t.record), page);
        page += (count + 63) / 64;
        days.insert(t.record[0]);
        int top = 0;
        for (const auto& p : t.points) {
            const double lat = PositionLatitude(p.data());
            const double lon = PositionLongitude(p.data());
            ASSERT_GT(lat, 55.0);
            ASSERT_LT(lat, 56.5);
            ASSERT_GT(lon, 36.5);
            ASSERT_LT(lon, 38.8);
            const int altitude = (p[13] << 8) | p[14];
            ASSERT_GE(altitude, 80);
            ASSERT_LE(altitude, 3000);
            top = std::max(top, altitude);
            ASSERT_LE(p[16], 20);  // vertical speed, whole m/s
        }
        EXPECT_GT(top, 500) << "track " << i << " never climbed";
        // Starts and ends on the ground, standing or taxiing.
        EXPECT_LT((t.points.front()[11] << 8) | t.points.front()[12], 20);
        EXPECT_LT((t.points.back()[11] << 8) | t.points.back()[12], 20);
    }
    EXPECT_GE(days.size(), 3u);
    EXPECT_EQ(a.Marks().size(), 12u);
    EXPECT_EQ(a.Marks(), b.Marks());
}

TEST(SimulatorScenario, BigTrackDownloadsWhole) {
    BuildDeviceCharTable();
    const auto start = Clock::now();
    sim::SimTrack big = sim::DeviceSimulator::MakeBigTrack(65535);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0);
    ASSERT_EQ(big.points.size(), 65535u);
    sim::DeviceSimulator device;
    device.SetTracks({Track(10, 1), big});
    DeviceLink link;
    link.m_port.Open(device.Start(), 115200, 0, 8, 0);
    link.m_port.SetTimeouts(1000, 1000);
    ASSERT_EQ(link.ReadTrackTable().size(), 2u);
    EXPECT_EQ(link.m_tracks[1].StartPage(), 1u);
    const TrackEntry entry = link.DownloadTrack(1);
    EXPECT_EQ(entry.points.size(), 65535u);
    EXPECT_TRUE(entry.checksumOk);
    EXPECT_EQ(entry.points.back().bytes, big.points.back());
    EXPECT_DOUBLE_EQ(link.m_progress.load(), 1.0);
}

}  // namespace
