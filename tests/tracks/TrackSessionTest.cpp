// One download session against the device simulator: what is kept, dropped and not received,
// the overall share, and where the kept tracks are written.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "link/OutputFile.h"
#include "tracks/SimLink.h"
#include "tracks/TrackDownload.h"
#include "tracks/TrackKml.h"

using sim::DeviceSimulator;
using sim::SimFaults;
using sim::SimTrack;

namespace fs = std::filesystem;

namespace {

SimTrack MakeTrack(int day, int hour, uint16_t points) {
    SimTrack t;
    t.record = DeviceSimulator::MakeRecord(day, 3, 13, hour, 0, 0, 5, points);
    for (uint16_t i = 0; i < points; ++i) {
        t.points.push_back(DeviceSimulator::MakePoint(55.75 + i / 1000.0, 37.6, 150, 80, 1.5, 90));
    }
    return t;
}

// Answers the keep-or-drop question from a list; may stop the session after a track.
class ScriptedObserver : public TrackDownloadObserver {
public:
    explicit ScriptedObserver(TrackDownload* session = nullptr) : m_session(session) {}
    void OnTrackStarted(std::size_t k, std::size_t n) override {
        started.push_back(k);
        EXPECT_EQ(n, m_session != nullptr ? m_session->TrackCount() : n);
        if (m_session != nullptr) {
            EXPECT_EQ(m_session->CurrentTrack(), k);
        }
    }
    void OnTrackEnded(std::size_t k, std::size_t) override {
        if (m_session != nullptr) {
            fractions.push_back(m_session->OverallFraction());
            if (stopAfter == k) {
                m_session->RequestStop();
            }
        }
    }
    bool KeepDamagedTrack(uint32_t index) override {
        asked.push_back(index);
        return keep;
    }

    bool keep = false;
    std::size_t stopAfter = 0;
    std::vector<std::size_t> started;
    std::vector<uint32_t> asked;
    std::vector<double> fractions;

private:
    TrackDownload* m_session;
};

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

class TrackSession : public sim_test::SimLink {
protected:
    void SetUp() override {
        SimLink::SetUp();
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        char pattern[] = "/tmp/pelnora-session-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    // Three tracks of 10, 20 and 30 points, table read.
    void LoadThree(const SimFaults& faults = {}) {
        m_sim.SetTracks({MakeTrack(5, 9, 10), MakeTrack(5, 10, 20), MakeTrack(6, 8, 30)});
        ASSERT_EQ(m_link.ReadTrackTable().size(), 3u);
        ASSERT_TRUE(WaitForAnswerBytes(4 * 12));
        m_sim.SetFaults(faults);
    }
    fs::path m_dir;
};

TEST_F(TrackSession, OutcomesOfEachWayToEnd) {
    struct Case {
        const char* name;
        SimFaults faults;
        bool keep;
        std::size_t stopAfter;
        std::vector<uint32_t> saved, dropped, notReceived, asked;
        bool stopped, error, complete;
    };
    SimFaults badMiddle;
    badMiddle.badChecksumTrack = 1;
    SimFaults hangUp;
    hangUp.hangupAfterBytes = 10 * 32 + 34 + 100;  // the first track whole, part of the second
    const std::vector<Case> cases = {
        {"all whole", {}, false, 0, {0, 1, 2}, {}, {}, {}, false, false, true},
        {"damaged dropped", badMiddle, false, 0, {0, 2}, {1}, {}, {1}, false, false, false},
        {"damaged kept", badMiddle, true, 0, {0, 1, 2}, {}, {}, {1}, false, false, true},
        {"stop after the first", {}, false, 1, {0}, {}, {1, 2}, {}, true, false, false},
        {"link error", hangUp, false, 0, {0}, {}, {1, 2}, {}, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::DeviceSimulator device;
        device.SetTracks({MakeTrack(5, 9, 10), MakeTrack(5, 10, 20), MakeTrack(6, 8, 30)});
        DeviceLink link;
        link.m_port.Open(device.Start(), 115200, 0, 8, 0);
        link.m_port.SetTimeouts(sim_test::kTestTimeoutMs, sim_test::kTestTimeoutMs);
        ASSERT_EQ(link.ReadTrackTable().size(), 3u);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        device.SetFaults(c.faults);

        TrackDownload session(link, {0, 1, 2});
        ScriptedObserver observer(&session);
        observer.keep = c.keep;
        observer.stopAfter = c.stopAfter;
        const TrackDownloadResult result = session.Run(observer);

        EXPECT_EQ(result.saved, c.saved);
        EXPECT_EQ(result.dropped, c.dropped);
        EXPECT_EQ(result.notReceived, c.notReceived);
        EXPECT_EQ(observer.asked, c.asked);
        EXPECT_EQ(result.stopped, c.stopped);
        EXPECT_EQ(!result.error.empty(), c.error) << result.error;
        EXPECT_EQ(result.Complete(), c.complete);
        EXPECT_TRUE(session.Finished());
        EXPECT_DOUBLE_EQ(session.OverallFraction(), 1.0);
        // The kept tracks are the link's own entries, whole where they arrived whole.
        for (const uint32_t index : result.saved) {
            EXPECT_EQ(link.m_tracks[index].points.size(), link.m_tracks[index].PointCount());
        }
        link.m_port.Close();
    }
}

// One formula: each finished track counts its points + 1 of all chosen (11 + 21 + 31).
TEST_F(TrackSession, OverallShareGrowsByTheTracksPoints) {
    LoadThree();
    TrackDownload session(m_link, {0, 1, 2});
    EXPECT_DOUBLE_EQ(session.OverallFraction(), 0.0);
    ScriptedObserver observer(&session);
    session.Run(observer);
    ASSERT_EQ(observer.fractions.size(), 3u);
    EXPECT_DOUBLE_EQ(observer.fractions[0], 11.0 / 63.0);
    EXPECT_DOUBLE_EQ(observer.fractions[1], 32.0 / 63.0);
    EXPECT_DOUBLE_EQ(observer.fractions[2], 1.0);
    EXPECT_EQ(observer.started, (std::vector<std::size_t>{1, 2, 3}));
}

TEST_F(TrackSession, StopBeforeTheStartSendsNothing) {
    LoadThree();
    const std::size_t before = m_sim.Received().commands.size();
    TrackDownload session(m_link, {0, 1});
    session.RequestStop();
    ScriptedObserver observer;
    const TrackDownloadResult result = session.Run(observer);
    EXPECT_TRUE(result.saved.empty());
    EXPECT_EQ(result.notReceived, (std::vector<uint32_t>{0, 1}));
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(m_sim.Received().commands.size(), before);
}

// A stop from another thread (a signal's watcher, the Stop button) while the long second track
// arrives: cut short after its current record, or let it arrive whole. The third is never
// asked for, and the link's flag is clear again afterwards.
TEST_F(TrackSession, StopDuringATrackCutsItOrLetsItFinish) {
    for (const bool cut : {true, false}) {
        SCOPED_TRACE(cut ? "cut" : "after the track");
        sim::DeviceSimulator device;
        device.SetTracks({MakeTrack(5, 9, 5), MakeTrack(5, 10, 300), MakeTrack(5, 11, 5)});
        DeviceLink link;
        link.m_port.Open(device.Start(), 115200, 0, 8, 0);
        link.m_port.SetTimeouts(sim_test::kTestTimeoutMs, sim_test::kTestTimeoutMs);
        ASSERT_EQ(link.ReadTrackTable().size(), 3u);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SimFaults paced;
        paced.pacingBaud = 57600;  // about 1.7 s for the long track
        device.SetFaults(paced);
        TrackDownload session(link, {0, 1, 2});
        ScriptedObserver observer;
        std::thread stopper([&] {
            while (session.CurrentTrack() < 2) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (cut) {
                session.RequestStop();
            } else {
                session.RequestStopAfterTrack();
            }
        });
        const auto start = std::chrono::steady_clock::now();
        const TrackDownloadResult result = session.Run(observer);
        const auto took = std::chrono::steady_clock::now() - start;
        stopper.join();

        EXPECT_EQ(result.saved, cut ? std::vector<uint32_t>{0} : (std::vector<uint32_t>{0, 1}));
        EXPECT_EQ(result.notReceived,
                  cut ? (std::vector<uint32_t>{1, 2}) : std::vector<uint32_t>{2});
        EXPECT_TRUE(result.stopped);
        EXPECT_TRUE(result.error.empty()) << result.error;
        EXPECT_TRUE(observer.asked.empty());  // a track cut off is not asked about
        EXPECT_EQ(link.m_tracks[1].points.size() < 300u, cut);
        if (cut) {
            EXPECT_LT(took, std::chrono::milliseconds(1500));
        }
        EXPECT_FALSE(link.m_cancel.load());
        link.m_port.Close();
    }
}

// An incomplete download never replaces a file that is there; a complete one does.
TEST_F(TrackSession, IncompleteDownloadGoesBesideTheGoodFile) {
    SimFaults hangUp;
    hangUp.hangupAfterBytes = 10 * 32 + 34 + 100;
    LoadThree(hangUp);
    const fs::path good = m_dir / "полёт.kml";
    { std::ofstream(good) << "good old file\n"; }
    TrackDownload session(m_link, {0, 1, 2});
    ScriptedObserver observer;
    const TrackDownloadResult result = session.Run(observer);
    ASSERT_FALSE(result.Complete());

    const TrackSaveOutcome outcome = SaveDownloadedTracks(m_link.m_tracks, result, good.string());
    ASSERT_EQ(outcome.result, KmlWriteResult::Written) << outcome.error;
    EXPECT_TRUE(outcome.incomplete);
    EXPECT_EQ(outcome.path, (m_dir / "полёт-неполный.kml").string());
    EXPECT_EQ(Slurp(good), "good old file\n");
    EXPECT_EQ(Count(Slurp(outcome.path), "<LineString>"), 1u);
    EXPECT_EQ(SaveOutcomeText(outcome, good.string()),
              "Сохранён 1 трек из 3 в файл " + outcome.path + "\nЗагрузка неполная, файл " +
                  good.string() + " не изменён.");

    // With no file there the incomplete result takes the name asked for.
    const fs::path fresh = m_dir / "new.kml";
    const TrackSaveOutcome first = SaveDownloadedTracks(m_link.m_tracks, result, fresh.string());
    EXPECT_EQ(first.path, fresh.string());
    EXPECT_FALSE(first.incomplete);

    // A complete result replaces the good file.
    TrackDownloadResult whole;
    whole.saved = {0};
    const TrackSaveOutcome replaced = SaveDownloadedTracks(m_link.m_tracks, whole, good.string());
    EXPECT_EQ(replaced.path, good.string());
    EXPECT_EQ(Count(Slurp(good), "<LineString>"), 1u);
}

// The formats with times through the same save path: the incomplete rule holds for each, for
// IGC as a folder beside the folder of an earlier download.
TEST_F(TrackSession, EveryFormatKeepsTheIncompleteRule) {
    SimFaults hangUp;
    hangUp.hangupAfterBytes = 10 * 32 + 34 + 100;
    LoadThree(hangUp);
    TrackDownload session(m_link, {0, 1, 2});
    ScriptedObserver observer;
    const TrackDownloadResult cut = session.Run(observer);
    ASSERT_FALSE(cut.Complete());
    TrackDownloadResult whole;
    whole.saved = {0};
    const ClockOffset offset = *ClockOffset::Device(3, 0);

    for (const TrackFormat format : {TrackFormat::KmlTime, TrackFormat::Gpx}) {
        const fs::path good = m_dir / (std::string("old.") + TrackFormatOf(format).extension);
        { std::ofstream(good) << "good"; }
        const TrackSaveOutcome outcome =
            SaveDownloadedTracks(m_link.m_tracks, cut, good.string(), format, offset);
        ASSERT_EQ(outcome.result, KmlWriteResult::Written) << outcome.error;
        EXPECT_TRUE(outcome.incomplete);
        EXPECT_EQ(outcome.path, IncompleteFileName(good.string()));
        EXPECT_EQ(Slurp(good), "good");
        // 05.03.13 09:00 on the device at +3:00.
        EXPECT_NE(Slurp(outcome.path).find("2013-03-05T06:00:00Z"), std::string::npos);
        const TrackSaveOutcome replaced =
            SaveDownloadedTracks(m_link.m_tracks, whole, good.string(), format, offset);
        EXPECT_EQ(replaced.path, good.string());
        EXPECT_NE(Slurp(good), "good");
    }

    // IGC: a missing folder is made and takes the logs even of an incomplete download.
    const fs::path folder = m_dir / "igc";
    TrackSaveOutcome outcome =
        SaveDownloadedTracks(m_link.m_tracks, cut, folder.string() + "/", TrackFormat::Igc, offset);
    ASSERT_EQ(outcome.result, KmlWriteResult::Written) << outcome.error;
    EXPECT_FALSE(outcome.incomplete);
    EXPECT_EQ(outcome.tracks, 1u);
    const fs::path log = folder / "2013-03-05-XXX-000000-01.igc";
    ASSERT_TRUE(fs::exists(log));
    EXPECT_EQ(SaveOutcomeText(outcome, folder.string()).rfind("Сохранён 1 трек из 3 в папку ", 0),
              0u);
    // Into the folder now there: beside it, the earlier log untouched.
    { std::ofstream(log) << "good"; }
    outcome = SaveDownloadedTracks(m_link.m_tracks, cut, folder.string(), TrackFormat::Igc, offset);
    ASSERT_EQ(outcome.result, KmlWriteResult::Written) << outcome.error;
    EXPECT_TRUE(outcome.incomplete);
    EXPECT_EQ(outcome.path, folder.string() + "-неполный");
    EXPECT_EQ(Slurp(log), "good");
    EXPECT_TRUE(fs::exists(m_dir / "igc-неполный" / log.filename()));
    EXPECT_NE(SaveOutcomeText(outcome, folder.string())
                  .find("\nЗагрузка неполная, папка " + folder.string() + " не изменена."),
              std::string::npos);
    // A complete download replaces the log.
    outcome =
        SaveDownloadedTracks(m_link.m_tracks, whole, folder.string(), TrackFormat::Igc, offset);
    EXPECT_EQ(outcome.path, folder.string());
    EXPECT_EQ(Slurp(log).rfind("AXXX", 0), 0u);
}

// The IGC output is a folder: one there, or a missing one whose parent can take it.
TEST_F(TrackSession, IgcOutputCheckIsOfTheFolder) {
    LoadThree();
    const fs::path file = m_dir / "file.igc";
    { std::ofstream(file) << "x"; }
    fs::create_directories(m_dir / "there");
    const struct {
        std::string path;
        bool accepted;
        const char* says;  // part of the refusal
    } cases[] = {
        {(m_dir / "there").string(), true, ""},
        {(m_dir / "there").string() + "/", true, ""},
        {(m_dir / "new").string(), true, ""},
        {(m_dir / "missing" / "new").string(), false, "missing"},
        {file.string(), false, "это не папка"},
        {"-", false, "не в поток"},
        {"", false, "Не указана папка"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string why;
        EXPECT_EQ(CheckTrackOutput(c.path, m_link.m_tracks, {0, 1, 2}, &why, TrackFormat::Igc),
                  c.accepted)
            << why;
        EXPECT_NE(why.find(c.says), std::string::npos) << why;
    }
    EXPECT_FALSE(fs::exists(m_dir / "new"));  // checked, not made
}

TEST(TrackSaveText, RussianPluralsAndNothingKept) {
    const struct {
        std::size_t tracks, chosen;
        const char* text;
    } cases[] = {
        {1, 7, "Сохранён 1 трек из 7 в файл f.kml"},
        {4, 7, "Сохранено 4 трека из 7 в файл f.kml"},
        {5, 7, "Сохранено 5 треков из 7 в файл f.kml"},
        {11, 30, "Сохранено 11 треков из 30 в файл f.kml"},
        {12, 30, "Сохранено 12 треков из 30 в файл f.kml"},
        {21, 30, "Сохранён 21 трек из 30 в файл f.kml"},
        {22, 30, "Сохранено 22 трека из 30 в файл f.kml"},
        {111, 200, "Сохранено 111 треков из 200 в файл f.kml"},
    };
    for (const auto& c : cases) {
        TrackSaveOutcome outcome;
        outcome.result = KmlWriteResult::Written;
        outcome.path = "f.kml";
        outcome.tracks = c.tracks;
        outcome.chosen = c.chosen;
        EXPECT_EQ(SaveOutcomeText(outcome, "f.kml"), c.text);
    }
    TrackSaveOutcome none;
    EXPECT_EQ(SaveOutcomeText(none, "f.kml"), "Ошибка при получении треков");
}

// The estimate the free-space check uses is close to the file a flight makes.
TEST(TrackKmlEstimate, CloseToTheWrittenSize) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    std::vector<TrackEntry> tracks(2);
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        const uint16_t count = t == 0 ? 500 : 2000;
        const SimTrack sim = MakeTrack(5 + static_cast<int>(t), 9, count);
        tracks[t].record = sim.record;
        for (const auto& p : sim.points) {
            tracks[t].points.push_back(TrackPoint{p});
        }
    }
    std::string kml = BuildTrackKml(tracks, "x.kml");
    const double written = static_cast<double>(kml.size() + Count(kml, "\n"));
    const double estimate = static_cast<double>(EstimateTrackKmlBytes({500, 2000}));
    EXPECT_GT(estimate, written * 0.9);
    EXPECT_LT(estimate, written * 1.1);
    EXPECT_LT(EstimateTrackKmlBytes({}), 4096u);
}

}  // namespace
