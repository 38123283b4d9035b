// Track table and track download against the device simulator.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "link/DeviceException.h"
#include "tracks/KmlConsumers.h"
#include "tracks/SimLink.h"
#include "tracks/TrackFixtures.h"
#include "tracks/TrackKml.h"
#include "tracks/TrackTable.h"

using sim::DeviceSimulator;
using sim::SimFaults;
using sim::SimTrack;
using sim_test::Bytes;
using sim_test::Got;
using sim_test::Logged;
using sim_test::Sent;

namespace {

// A point whose every byte matters: the uninterpreted tail differs from point to point.
std::array<uint8_t, 32> RawPoint(uint8_t i) {
    std::array<uint8_t, 32> p = DeviceSimulator::MakePoint(
        55.75 + i / 1000.0, 37.6 + i / 1000.0, static_cast<uint16_t>(100 + i), 80, 1.5, 90);
    for (std::size_t b = 20; b < 32; ++b) {
        p[b] = static_cast<uint8_t>(0xA0 + i + b);
    }
    return p;
}

SimTrack MakeTrack(int day, int hour, uint16_t points) {
    SimTrack t;
    t.record = DeviceSimulator::MakeRecord(day, 3, 13, hour, 0, 0, 5, points);
    for (uint16_t i = 0; i < points; ++i) {
        t.points.push_back(RawPoint(static_cast<uint8_t>(i)));
    }
    return t;
}

Bytes Terminator() {
    return Bytes(kTrackTerminator.begin(), kTrackTerminator.end());
}

class TrackExchange : public sim_test::SimLink {
protected:
    // Three tracks of 2, 3 and 4 points; reads the table and forgets its traffic.
    void LoadThree() {
        m_sim.SetTracks({MakeTrack(5, 9, 2), MakeTrack(5, 11, 3), MakeTrack(6, 8, 4)});
        ASSERT_EQ(m_link.ReadTrackTable().size(), 3u);
        ASSERT_TRUE(WaitForAnswerBytes(4 * 12));
        m_recorder.Log().Clear();
    }
    std::size_t CommandsSent() const { return m_sim.Received().commands.size(); }
    void ExpectPointsOf(const TrackEntry& entry, const SimTrack& track, std::size_t count) {
        ASSERT_EQ(entry.points.size(), count);
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(entry.points[i].bytes, track.points[i]) << "point " << i;
        }
    }
};

TEST_F(TrackExchange, TableRecordsAsSentAndTheLog) {
    const std::vector<SimTrack> tracks = {MakeTrack(5, 9, 2), MakeTrack(5, 11, 65)};
    m_sim.SetTracks(tracks);
    const std::vector<TrackEntry>& table = m_link.ReadTrackTable();
    const std::vector<SimTrack> stored = m_sim.Tracks();
    ASSERT_EQ(table.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(table[i].record, stored[i].record);
        EXPECT_TRUE(table[i].points.empty());
        EXPECT_FALSE(table[i].checksumOk);
    }
    EXPECT_EQ(table[1].StartPage(), 1u);
    EXPECT_EQ(MemoryFillPercent(table.back()), 3 / 524160.0 * 100);
    const Bytes end(kTrackTableTerminator.begin(), kTrackTableTerminator.end());
    EXPECT_EQ(Chunks(),
              (std::vector<Logged>{
                  Sent({0xDD}), Got(Bytes(stored[0].record.begin(), stored[0].record.end())),
                  Got(Bytes(stored[1].record.begin(), stored[1].record.end())), Got(end)}));
    EXPECT_EQ(m_recorder.RefreshCount(), 1);
}

TEST_F(TrackExchange, EmptyAndSilentDevicesGiveAnEmptyTable) {
    m_sim.SetTracks({});
    EXPECT_TRUE(m_link.ReadTrackTable().empty());

    SimFaults silent;
    silent.silentCommands = {0xDD};
    m_sim.SetFaults(silent);
    m_recorder.Log().Clear();
    EXPECT_TRUE(m_link.ReadTrackTable().empty());
    EXPECT_EQ(Chunks(), (std::vector<Logged>{Sent({0xDD})}));
    EXPECT_EQ(m_recorder.RefreshCount(), 2);
}

TEST_F(TrackExchange, IntactTrackWireLogAndProgress) {
    LoadThree();
    const SimTrack track = m_sim.Tracks()[1];
    const TrackEntry got = m_link.DownloadTrack(1);
    EXPECT_TRUE(got.checksumOk);
    ExpectPointsOf(got, track, 3);
    EXPECT_EQ(m_link.m_progress.load(), 1.0);

    const uint16_t sum = DeviceSimulator::Checksum(track);
    std::vector<Logged> expected = {Sent({0x11}),
                                    Sent({track.record[6], track.record[7], track.record[8]})};
    for (const auto& p : track.points) {
        expected.push_back(Got(Bytes(p.begin(), p.end())));
    }
    expected.push_back(Got(Terminator()));
    expected.push_back(Got({static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum)}));
    EXPECT_EQ(Chunks(), expected);
    EXPECT_EQ(m_recorder.RefreshCount(), 2);  // table, then this download

    // Kept in the table; asked again, nothing goes over the line.
    const std::size_t commands = CommandsSent();
    const std::size_t chunks = Chunks().size();
    const TrackEntry again = m_link.DownloadTrack(1);
    EXPECT_TRUE(again.checksumOk);
    EXPECT_EQ(again.points.size(), 3u);
    EXPECT_EQ(CommandsSent(), commands);
    EXPECT_EQ(Chunks().size(), chunks);
}

TEST_F(TrackExchange, IndexBeyondTheTableSendsNothing) {
    LoadThree();
    const std::size_t commands = CommandsSent();
    const TrackEntry none = m_link.DownloadTrack(3);
    EXPECT_FALSE(none.checksumOk);
    EXPECT_TRUE(none.points.empty());
    EXPECT_EQ(none.record, (std::array<uint8_t, 12>{}));
    EXPECT_EQ(CommandsSent(), commands);
    EXPECT_TRUE(Chunks().empty());
}

TEST_F(TrackExchange, WrongChecksumKeepsThePointsAndTransfersAgain) {
    LoadThree();
    SimFaults faults;
    faults.badChecksumTrack = 2;
    m_sim.SetFaults(faults);
    const SimTrack track = m_sim.Tracks()[2];
    const TrackEntry first = m_link.DownloadTrack(2);
    EXPECT_FALSE(first.checksumOk);
    ExpectPointsOf(first, track, 4);
    // The second transfer starts from an empty list.
    const TrackEntry second = m_link.DownloadTrack(2);
    EXPECT_FALSE(second.checksumOk);
    ExpectPointsOf(second, track, 4);
    m_sim.SetFaults({});
    EXPECT_TRUE(m_link.DownloadTrack(2).checksumOk);
    EXPECT_EQ(m_link.m_tracks[2].points.size(), 4u);
}

TEST_F(TrackExchange, SilenceAfterSomeRecords) {
    LoadThree();
    SimFaults faults;
    faults.silenceAfterRecords = 2;
    m_sim.SetFaults(faults);
    const TrackEntry got = m_link.DownloadTrack(2);
    EXPECT_FALSE(got.checksumOk);
    ExpectPointsOf(got, m_sim.Tracks()[2], 2);
    EXPECT_EQ(m_link.m_progress.load(), 0.5);
    EXPECT_EQ(m_recorder.RefreshCount(), 2);  // table, then this download
}

TEST_F(TrackExchange, ShortRecordKeepsThePreviousTail) {
    LoadThree();
    SimFaults faults;
    faults.shortRecordAt = 1;
    // The read of record 1 times out with 20 bytes; the rest comes during the next read.
    faults.shortRecordPauseMs = sim_test::kTestTimeoutMs * 3 / 2;
    m_sim.SetFaults(faults);
    const SimTrack track = m_sim.Tracks()[2];
    const TrackEntry got = m_link.DownloadTrack(2);
    // Record 1 came with 20 bytes: its last 12 are those of record 0. The device dropped the
    // rest of it, so the records after it are whole again.
    ASSERT_EQ(got.points.size(), 4u);
    std::array<uint8_t, 32> mixed = track.points[1];
    std::copy(track.points[0].begin() + 20, track.points[0].end(), mixed.begin() + 20);
    EXPECT_EQ(got.points[0].bytes, track.points[0]);
    EXPECT_EQ(got.points[1].bytes, mixed);
    EXPECT_EQ(got.points[2].bytes, track.points[2]);
    EXPECT_EQ(got.points[3].bytes, track.points[3]);
    EXPECT_FALSE(got.checksumOk);
    EXPECT_EQ(Chunks()[3], Got(Bytes(track.points[1].begin(), track.points[1].begin() + 20)));
}

TEST_F(TrackExchange, ExtraRecordIsStoredAndTheChecksumFails) {
    LoadThree();
    SimFaults faults;
    faults.extraRecord = true;
    m_sim.SetFaults(faults);
    const TrackEntry got = m_link.DownloadTrack(0);
    // pointCount + 1 records end the loop; the terminator's first bytes are taken as checksum.
    EXPECT_EQ(got.points.size(), 3u);
    EXPECT_FALSE(got.checksumOk);
    EXPECT_EQ(m_link.m_progress.load(), 1.5);
    EXPECT_EQ(Chunks().back(), Got({0xFF, 0xFF}));
}

TEST_F(TrackExchange, NoPointsWithTerminatorAndThe1020Checksum) {
    m_sim.SetTracks({MakeTrack(5, 9, 0)});
    ASSERT_EQ(m_link.ReadTrackTable().size(), 1u);
    m_link.m_progress.store(0.25);
    const TrackEntry got = m_link.DownloadTrack(0);
    EXPECT_TRUE(got.checksumOk);
    EXPECT_TRUE(got.points.empty());
    EXPECT_EQ(m_link.m_progress.load(), 0.25);  // no record stored, not touched
    EXPECT_EQ(Chunks().back(), Got({0x03, 0xFC}));
}

TEST_F(TrackExchange, RecordBeyondAZeroCountGivesANonFiniteFraction) {
    SimTrack odd = MakeTrack(5, 9, 1);
    odd.record[10] = 0;
    odd.record[11] = 0;  // the table says no points, the device sends one
    m_sim.SetTracks({odd});
    ASSERT_EQ(m_link.ReadTrackTable().size(), 1u);
    const TrackEntry got = m_link.DownloadTrack(0);
    EXPECT_EQ(got.points.size(), 1u);
    EXPECT_FALSE(got.checksumOk);
    EXPECT_FALSE(std::isfinite(m_link.m_progress.load()));
}

TEST_F(TrackExchange, HangUpAfterTheSecondTrackKeepsTheFirstTwo) {
    LoadThree();
    SimFaults faults;
    // Track 0 answers 2*32+34 bytes, track 1 3*32+34; the line goes 40 bytes into track 2.
    faults.hangupAfterBytes = 98 + 130 + 40;
    m_sim.SetFaults(faults);
    std::vector<TrackEntry> kept;
    bool failed = false;
    for (uint32_t index : {0u, 1u, 2u}) {
        try {
            kept.push_back(m_link.DownloadTrack(index));
        } catch (const MCommunication::ComException&) {
            failed = true;
            break;
        }
    }
    EXPECT_TRUE(failed);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_TRUE(kept[0].checksumOk);
    EXPECT_TRUE(kept[1].checksumOk);
    EXPECT_EQ(kept[1].points.size(), 3u);
    // The table keeps both, and the records of the broken transfer stored before the error.
    EXPECT_TRUE(m_link.m_tracks[0].checksumOk);
    EXPECT_TRUE(m_link.m_tracks[1].checksumOk);
    EXPECT_FALSE(m_link.m_tracks[2].checksumOk);
    EXPECT_EQ(m_link.m_tracks[2].points.size(), 1u);
}

TEST_F(TrackExchange, DownloadedTracksMakeAReadableFile) {
    track_test::ScopedTimeZone zone("Europe/Moscow");
    LoadThree();
    std::vector<TrackEntry> kept;
    for (uint32_t index : {0u, 1u, 2u}) {
        kept.push_back(m_link.DownloadTrack(index));
        ASSERT_TRUE(kept.back().checksumOk);
    }
    const std::filesystem::path dir =
        std::filesystem::path(PELNORA_BIN_DIR) / "test-output" / "track_download";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "tracks.kml").string();
    std::string error;
    ASSERT_EQ(WriteTrackKml(kept, path, &error), KmlWriteResult::Written) << error;
    EXPECT_TRUE(kml_test::XmlWellFormed(path));
    int status = 0;
    const std::string gpx = kml_test::GpsbabelGpx(path, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(kml_test::CountOf(gpx, "<trkpt "), 9u);
    EXPECT_EQ(kml_test::CountOf(gpx, "<wpt "), 9u);
    const std::string text = kml_test::ReadFile(path);
    EXPECT_NE(text.find("<name>05.03.13</name>"), std::string::npos);
    EXPECT_NE(text.find("<name>06.03.13</name>"), std::string::npos);
    std::filesystem::remove_all(dir);
}

TEST_F(TrackExchange, NewTableDiscardsDownloadedPoints) {
    LoadThree();
    ASSERT_TRUE(m_link.DownloadTrack(0).checksumOk);
    const std::vector<TrackEntry>& table = m_link.ReadTrackTable();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_FALSE(table[0].checksumOk);
    EXPECT_TRUE(table[0].points.empty());
}

// At 110 baud a record takes 2.9 s on the line, beyond the connection's 1000 ms time-out; the
// device paces its answer like a real line and the track still arrives whole.
TEST_F(TrackExchange, TrackAtTheLowestSpeedArrivesWhole) {
    const SimTrack track = MakeTrack(5, 9, 1);
    m_sim.SetTracks({track});
    m_link.m_port.Open(m_path, 110, 0, 8, 0);
    m_link.m_port.SetTimeouts(1000, 1000);
    SimFaults faults;
    faults.pacingBaud = 110;
    m_sim.SetFaults(faults);
    TrackEntry entry;
    entry.record = track.record;
    m_link.m_tracks = {entry};
    const TrackEntry& got = m_link.DownloadTrack(0);
    EXPECT_TRUE(got.checksumOk);
    ExpectPointsOf(got, track, 1);
}

}  // namespace
