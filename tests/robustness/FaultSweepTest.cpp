// The device hangs up after every byte position of each answer: the link fails cleanly and
// promptly, the echo log holds exactly what arrived, and finished tracks are kept.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "link/DataFormats.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "link/EchoLog.h"
#include "sim/DeviceSimulator.h"
#include "tracks/TrackKml.h"
#include "tracks/TrackTable.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using MCommunication::ComException;
using MCommunication::LLDevException;
using sim::DeviceSimulator;
using sim::SimFaults;
using sim::SimTrack;

constexpr int32_t kTimeoutMs = 150;
// A failing command must end within a few time-outs, never hang.
constexpr long kLimitMs = 6 * kTimeoutMs;

long ElapsedMs(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

Bytes ReceivedBytes(EchoLogRecorder& recorder) {
    Bytes out;
    for (const EchoChunk& chunk : recorder.Log().Chunks()) {
        if (chunk.received) {
            out.insert(out.end(), chunk.bytes.begin(), chunk.bytes.end());
        }
    }
    return out;
}

Bytes SentBytes(EchoLogRecorder& recorder) {
    Bytes out;
    for (const EchoChunk& chunk : recorder.Log().Chunks()) {
        if (!chunk.received) {
            out.insert(out.end(), chunk.bytes.begin(), chunk.bytes.end());
        }
    }
    return out;
}

// Received chunks shorter than a whole piece: only a read cut by the hang-up makes them, so
// they show that the bytes of a failed read reach the log.
std::size_t CutChunks(EchoLogRecorder& recorder, std::initializer_list<std::size_t> pieces) {
    std::size_t count = 0;
    for (const EchoChunk& chunk : recorder.Log().Chunks()) {
        if (chunk.received &&
            std::find(pieces.begin(), pieces.end(), chunk.bytes.size()) == pieces.end()) {
            ++count;
        }
    }
    return count;
}

Bytes Prefix(const Bytes& bytes, std::size_t n) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

SimTrack MakeTrack(int day, int hour, uint16_t points) {
    SimTrack t;
    t.record = DeviceSimulator::MakeRecord(day, 3, 13, hour, 0, 0, 5, points);
    for (uint16_t i = 0; i < points; ++i) {
        t.points.push_back(
            DeviceSimulator::MakePoint(55.75 + i * 0.001, 37.6 + i * 0.002, 300, 90, 1.5, 95));
    }
    return t;
}

std::vector<std::array<uint8_t, 8>> ThreeMarks() {
    std::vector<std::array<uint8_t, 8>> marks;
    for (int i = 0; i < 3; ++i) {
        const auto p = DeviceSimulator::MakePoint(55.7 + i * 0.01, 37.6 + i * 0.01, 0, 0, 0, 0);
        std::array<uint8_t, 8> mark{};
        std::copy(p.begin(), p.begin() + 8, mark.begin());
        marks.push_back(mark);
    }
    return marks;
}

// A simulator with one link on its port; a fresh one per hang-up position.
struct Rig {
    DeviceSimulator sim;
    EchoLogRecorder recorder;
    DeviceLink link;

    explicit Rig(const std::vector<SimTrack>& tracks = {},
                 const std::vector<std::array<uint8_t, 8>>& marks = {}) {
        sim.SetTracks(tracks);
        sim.SetMarks(marks);
        const std::string path = sim.Start();
        link.m_terminal = &recorder;
        link.m_port.Open(path, 115200, 0, 8, 0);
        link.m_port.SetTimeouts(kTimeoutMs, kTimeoutMs);
    }
    void HangUpAfter(uint64_t n) {
        SimFaults faults;
        faults.hangupAfterBytes = n;
        sim.SetFaults(faults);
    }
};

// One short command swept over its whole answer: what it returns when complete, and that an
// earlier hang-up throws with the log holding the bytes that arrived.
struct ShortCommand {
    const char* name;
    uint8_t command;
    std::function<Bytes(Rig&)> answer;        // the full answer the device gives
    std::function<void(Rig&)> run;            // runs the command; throws on failure
    std::function<void(Rig&)> checkComplete;  // result when the whole answer came
};

TEST(FaultSweep, ShortAnswersFailCleanlyAtEveryByte) {
    BuildDeviceCharTable();
    const std::vector<SimTrack> tracks = {MakeTrack(5, 9, 2), MakeTrack(5, 11, 3),
                                          MakeTrack(6, 8, 4)};
    const auto marks = ThreeMarks();
    const std::vector<ShortCommand> commands = {
        {"QueryDevice", 0x33, [](Rig&) { return Bytes{0x02}; },
         [](Rig& r) { r.link.QueryDevice(); },
         [](Rig& r) { EXPECT_EQ(r.recorder.Text(), "> 33 \r\n< 02 \r\n"); }},
        {"ClearTrackMemory", 0xEE, [](Rig&) { return Bytes{0xEE, 0xEE, 0xEE, 0xEE}; },
         [](Rig& r) { EXPECT_TRUE(r.link.ClearTrackMemory()); }, [](Rig&) {}},
        {"ReadTrackTable", 0xDD,
         [](Rig& r) {
             Bytes out;
             for (const SimTrack& t : r.sim.Tracks()) {
                 out.insert(out.end(), t.record.begin(), t.record.end());
             }
             out.insert(out.end(), kTrackTableTerminator.begin(), kTrackTableTerminator.end());
             return out;
         },
         [](Rig& r) { r.link.ReadTrackTable(); },
         [](Rig& r) { EXPECT_EQ(r.link.m_tracks.size(), 3u); }},
        {"ReadMarks", 0x55,
         [](Rig& r) {
             Bytes out{static_cast<uint8_t>(r.sim.Marks().size())};
             for (const auto& m : r.sim.Marks()) {
                 out.insert(out.end(), m.begin(), m.end());
             }
             return out;
         },
         [](Rig& r) {
             bool answered = false;
             const auto got = r.link.ReadMarks(&answered);
             EXPECT_TRUE(answered);
             EXPECT_EQ(got.size(), 3u);
         },
         [](Rig&) {}},
    };

    std::size_t cut = 0;
    for (const ShortCommand& c : commands) {
        std::size_t length = 0;
        {
            Rig probe(tracks, marks);
            length = c.answer(probe).size();
        }
        for (std::size_t n = 0; n <= length; ++n) {
            SCOPED_TRACE(std::string(c.name) + " hang-up after " + std::to_string(n));
            Rig rig(tracks, marks);
            const Bytes answer = c.answer(rig);
            rig.HangUpAfter(n);
            const auto start = Clock::now();
            bool failed = false;
            try {
                c.run(rig);
            } catch (const LLDevException&) {
                failed = true;
            }
            EXPECT_LT(ElapsedMs(start), kLimitMs);
            EXPECT_EQ(SentBytes(rig.recorder), Bytes{c.command});
            if (n == length) {
                EXPECT_FALSE(failed);
                c.checkComplete(rig);
            } else {
                EXPECT_TRUE(failed);
            }
            if (c.command == 0xEE) {
                // The wait for the erase is bracketed: a failure logs no part of the answer.
                if (failed) {
                    EXPECT_TRUE(ReceivedBytes(rig.recorder).empty());
                }
            } else {
                const Bytes got = ReceivedBytes(rig.recorder);
                ASSERT_LE(got.size(), n);
                EXPECT_EQ(got, Prefix(answer, got.size()));
                cut += CutChunks(rig.recorder, {1, 8, 12});
            }
        }
    }
    // A hang-up drops bytes still in flight on the pty, so a loaded machine (or a sanitizer
    // build) may log fewer bytes than were sent; but cut reads must show up in the log.
    EXPECT_GT(cut, 0u);
}

// Bytes of one track's answer: records, terminator, checksum.
std::size_t TrackAnswerLength(const SimTrack& t) { return t.points.size() * 32 + 32 + 2; }

Bytes TrackAnswer(const SimTrack& t) {
    Bytes out;
    for (const auto& p : t.points) {
        out.insert(out.end(), p.begin(), p.end());
    }
    out.insert(out.end(), kTrackTerminator.begin(), kTrackTerminator.end());
    const uint16_t sum = DeviceSimulator::Checksum(t);
    out.push_back(static_cast<uint8_t>(sum >> 8));
    out.push_back(static_cast<uint8_t>(sum));
    return out;
}

// A download of three tracks cut at every record boundary and inside records, the way the
// download worker runs it: the kept tracks go to the file, which is never left half written.
TEST(FaultSweep, TrackDownloadKeepsWhatCompletedAtEveryRecord) {
    BuildDeviceCharTable();
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const std::vector<SimTrack> tracks = {MakeTrack(5, 9, 2), MakeTrack(5, 11, 3),
                                          MakeTrack(6, 8, 4)};
    const std::filesystem::path dir =
        std::filesystem::path(PELNORA_BIN_DIR) / "test-output" / "fault_sweep";
    std::filesystem::create_directories(dir);
    const std::string kml = (dir / "tracks.kml").string();

    Bytes stream;
    std::vector<std::size_t> ends;  // end offset of each track's answer in the stream
    for (const SimTrack& t : tracks) {
        const Bytes a = TrackAnswer(t);
        stream.insert(stream.end(), a.begin(), a.end());
        ends.push_back(stream.size());
    }
    std::vector<std::size_t> positions;
    std::size_t begin = 0;
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        const std::size_t length = TrackAnswerLength(tracks[t]);
        for (std::size_t record = 0; record * 32 < length; ++record) {
            for (std::size_t inside : {0, 1, 17, 31}) {
                if (record * 32 + inside < length) {
                    positions.push_back(begin + record * 32 + inside);
                }
            }
        }
        positions.push_back(begin + length - 1);  // half of the checksum
        begin += length;
    }
    positions.push_back(stream.size());
    std::size_t cut = 0;

    for (const std::size_t n : positions) {
        SCOPED_TRACE("hang-up after " + std::to_string(n) + " of " +
                     std::to_string(stream.size()) + " bytes");
        Rig rig(tracks);
        ASSERT_EQ(rig.link.ReadTrackTable().size(), 3u);
        rig.recorder.Log().Clear();
        rig.HangUpAfter(n);
        {
            std::ofstream(kml, std::ios::binary | std::ios::trunc) << "old";
        }

        std::vector<TrackEntry> kept;
        bool failed = false;
        const auto start = Clock::now();
        for (uint32_t index = 0; index < tracks.size(); ++index) {
            try {
                kept.push_back(rig.link.DownloadTrack(index));
            } catch (const ComException&) {
                failed = true;
                break;
            }
        }
        EXPECT_LT(ElapsedMs(start), kLimitMs);

        // What arrived decides what is complete (see the note on lost bytes above).
        const Bytes got = ReceivedBytes(rig.recorder);
        ASSERT_LE(got.size(), n);
        EXPECT_EQ(got, Prefix(stream, got.size()));
        cut += CutChunks(rig.recorder, {2, 32});
        std::size_t complete = 0;
        while (complete < ends.size() && ends[complete] <= got.size()) {
            ++complete;
        }
        EXPECT_EQ(failed, got.size() < stream.size());
        ASSERT_EQ(kept.size(), complete);
        for (std::size_t t = 0; t < complete; ++t) {
            EXPECT_TRUE(kept[t].checksumOk) << t;
            ASSERT_EQ(kept[t].points.size(), tracks[t].points.size()) << t;
            EXPECT_EQ(kept[t].points.back().bytes, tracks[t].points.back()) << t;
        }
        const std::size_t asked = complete + (failed ? 1 : 0);
        EXPECT_EQ(SentBytes(rig.recorder).size(), 4 * asked);

        if (!kept.empty()) {
            std::string error;
            ASSERT_EQ(WriteTrackKml(kept, kml, &error), KmlWriteResult::Written) << error;
        }
        std::ifstream in(kml, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        if (kept.empty()) {
            EXPECT_EQ(text, "old");
        } else {
            std::size_t lines = 0;
            for (std::size_t at = text.find("<LineString>"); at != std::string::npos;
                 at = text.find("<LineString>", at + 1)) {
                ++lines;
            }
            EXPECT_EQ(lines, kept.size());
            EXPECT_NE(text.find("</kml>"), std::string::npos);
        }
    }
    EXPECT_GT(cut, 0u);
    std::filesystem::remove_all(dir);
}

}  // namespace
