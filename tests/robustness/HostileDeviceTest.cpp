// A device that misbehaves on purpose, on a real pty and through DeviceLink: each command
// ends within a bounded time and memory, keeps what arrived whole and invents nothing.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/CommandByte.h"
#include "link/DataFormats.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "link/EchoLog.h"
#include "sim/DeviceSimulator.h"
#include "link/TrackEntry.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using sim::DeviceSimulator;
using sim::SimFaults;
using sim::SimTrack;

SimTrack Track(uint16_t points, int day) {
    SimTrack t;
    t.record = DeviceSimulator::MakeRecord(day, 6, 2024, 10, 0, 0, 2, points);
    for (uint16_t i = 0; i < points; ++i) {
        t.points.push_back(DeviceSimulator::MakePoint(
            55.7 + i * 1e-4, 37.6 + day * 1e-3, static_cast<uint16_t>(200 + i), 90, 1.5, 100));
    }
    return t;
}

std::vector<PackedPosition> Marks(size_t n) {
    std::vector<PackedPosition> marks;
    for (size_t i = 0; i < n; ++i) {
        marks.push_back(PackPosition(55.0 + static_cast<double>(i) / 100, 37.5));
    }
    return marks;
}

struct Device {
    DeviceSimulator sim;
    EchoLogRecorder recorder;
    DeviceLink link;

    Device(std::vector<SimTrack> tracks, const SimFaults& faults, int32_t timeoutMs) {
        BuildDeviceCharTable();
        sim.SetTracks(std::move(tracks));
        sim.SetMarks(Marks(12));
        sim.SetFaults(faults);
        link.m_terminal = &recorder;
        link.m_port.Open(sim.Start(), 115200, 0, 8, 0);
        link.m_port.SetTimeouts(timeoutMs, timeoutMs);
    }

    Bytes Received() {
        Bytes out;
        for (const EchoChunk& chunk : recorder.Log().Chunks()) {
            if (chunk.received) {
                out.insert(out.end(), chunk.bytes.begin(), chunk.bytes.end());
            }
        }
        return out;
    }
};

struct HostileCase {
    std::string name;
    std::function<void(SimFaults&)> fault;
    int32_t timeoutMs;
    long limitMs;  // the whole case, however the device behaves
    std::function<void(Device&, const std::vector<SimTrack>&)> check;
};

// Reads the table; false on a link error (the entries read are kept).
bool ReadTable(Device& d) {
    try {
        d.link.ReadTrackTable();
        return true;
    } catch (const MCommunication::DeviceException&) {
        return false;
    }
}

void ExpectTrackWhole(const TrackEntry& got, const SimTrack& stored) {
    ASSERT_TRUE(got.checksumOk);
    ASSERT_EQ(got.points.size(), stored.points.size());
    for (size_t i = 0; i < stored.points.size(); ++i) {
        EXPECT_EQ(got.points[i].bytes, stored.points[i]) << "point " << i;
    }
}

TEST(HostileDevice, EachMisbehaviourEndsBoundedAndInventsNothing) {
    const std::vector<HostileCase> cases = {
        {"endless table",
         [](SimFaults& f) {
             f.endlessTable = true;
             // Safety net: a reader without a bound would otherwise read for ever.
             f.hangupAfterBytes = TrackTableRecord::kSize * (DeviceLink::kMaxTableRecords + 1000);
         },
         1000, 60000,
         [](Device& d, const std::vector<SimTrack>& stored) {
             EXPECT_THROW(d.link.ReadTrackTable(), MCommunication::AnswerException);
             EXPECT_FALSE(d.sim.HungUp()) << "the reader stopped only when the line went";
             const auto& table = d.link.m_tracks;
             EXPECT_EQ(table.size(), DeviceLink::kMaxTableRecords);
             for (size_t i = 0; i < stored.size(); ++i) {
                 EXPECT_EQ(table[i].record, stored[i].record) << i;
             }
         }},
        {"junk after each answer",
         [](SimFaults& f) {
             f.junkAfterAnswer = {0xFF, 0xFF, 0xDD, 0x11, 0x05};
         },
         200, 10000,
         [](Device& d, const std::vector<SimTrack>& stored) {
             ASSERT_TRUE(ReadTable(d));
             ASSERT_EQ(d.link.m_tracks.size(), stored.size());
             for (size_t i = 0; i < stored.size(); ++i) {
                 ExpectTrackWhole(d.link.DownloadTrack(static_cast<uint32_t>(i)), stored[i]);
             }
             // The junk is drained, not lost from sight: the terminal shows it.
             const Bytes got = d.Received();
             const Bytes junk = {0xFF, 0xFF, 0xDD, 0x11, 0x05};
             EXPECT_NE(std::search(got.begin(), got.end(), junk.begin(), junk.end()), got.end());
             // A second table is the same table.
             ASSERT_TRUE(ReadTable(d));
             ASSERT_EQ(d.link.m_tracks.size(), stored.size());
             for (size_t i = 0; i < stored.size(); ++i) {
                 EXPECT_EQ(d.link.m_tracks[i].record, stored[i].record) << i;
             }
         }},
        {"one byte every 50 ms", [](SimFaults& f) { f.byteIntervalMs = 50; }, 1000, 12000,
         [](Device& d, const std::vector<SimTrack>& stored) {
             // A 12-byte record takes 600 ms: within the read time-out, so the table is whole.
             ASSERT_TRUE(ReadTable(d));
             ASSERT_EQ(d.link.m_tracks.size(), stored.size());
             for (size_t i = 0; i < stored.size(); ++i) {
                 EXPECT_EQ(d.link.m_tracks[i].record, stored[i].record) << i;
             }
             // A point record takes 1.6 s: the track is either whole or reported as failed.
             const TrackEntry got = d.link.DownloadTrack(0);
             if (got.checksumOk) {
                 ExpectTrackWhole(got, stored[0]);
             }
         }},
        {"garbage records", [](SimFaults& f) { f.garbageRecords = true; }, 200, 10000,
         [](Device& d, const std::vector<SimTrack>& stored) {
             ASSERT_TRUE(ReadTable(d));
             // The records are kept as they came; nothing is resynchronised or dropped.
             ASSERT_EQ(d.link.m_tracks.size(), stored.size());
             const Bytes got = d.Received();
             for (size_t i = 0; i < stored.size(); ++i) {
                 const auto& r = d.link.m_tracks[i].record;
                 EXPECT_TRUE(std::equal(r.begin(), r.end(), got.begin() + 12 * i)) << i;
             }
             // Noisy point records fail their checksum: never a whole track.
             d.link.m_tracks[0].record = stored[0].record;
             const TrackEntry track = d.link.DownloadTrack(0);
             EXPECT_FALSE(track.checksumOk);
             EXPECT_LE(track.points.size(), stored[0].points.size() + 1);
         }},
        {"fewer marks than announced", [](SimFaults& f) { f.marksSent = 4; }, 200, 5000,
         [](Device& d, const std::vector<SimTrack>&) {
             bool answered = false;
             unsigned announced = 0;
             const std::vector<PackedPosition> marks = d.link.ReadMarks(&answered, &announced);
             // Only the marks that came, each as sent: none at 0°N 0°E; the count says 12.
             EXPECT_TRUE(answered);
             EXPECT_EQ(announced, 12u);
             EXPECT_EQ(marks, Marks(4));
         }},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimFaults faults;
        c.fault(faults);
        const std::vector<SimTrack> stored = {Track(1, 14), Track(3, 15)};
        const auto start = Clock::now();
        {
            Device d(stored, faults, c.timeoutMs);
            c.check(d, d.sim.Tracks());
        }
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_LE(ms, c.limitMs);
    }
}

}  // namespace
