// pelnora-cli end to end: the binary against a simulated device, exit codes, messages, bytes
// that reached the device, and the files it writes read back by xmllint and gpsbabel.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/DataFormats.h"
#include "sim/DeviceSimulator.h"
#include "tracks/KmlConsumers.h"
#include "tracks/TrackEntry.h"
#include "tracks/TrackTable.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const std::string kCli = std::string(PELNORA_BIN_DIR) + "/cli/pelnora-cli";
const std::string kSim = std::string(PELNORA_BIN_DIR) + "/sim/pelnora-sim";
const std::string kIntegerMessage = "Enter an integer between 0 and 255.";

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path) {
    return kml_test::ReadFile(path);
}

// Runs a program with standard input from /dev/null (not a terminal).
Result RunProgram(const std::string& program, const std::vector<std::string>& args,
                  const fs::path& scratch) {
    const std::string outPath = (scratch / "stdout").string();
    const std::string errPath = (scratch / "stderr").string();
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(outPath);
    r.err = Slurp(errPath);
    return r;
}

// Both consumers read the file; gpsbabel finds one waypoint per point placemark.
void ExpectConsumersRead(const std::string& path, size_t points) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(kml_test::XmlWellFormed(path));
    int status = 0;
    const std::string gpx = kml_test::GpsbabelGpx(path, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(kml_test::CountOf(gpx, "<wpt "), points);
}

sim::SimTrack Track(int day, int hour, uint16_t points) {
    sim::SimTrack t;
    t.record = sim::DeviceSimulator::MakeRecord(day, 3, 2013, hour, 7, 0, 2, points);
    for (uint16_t i = 0; i < points; ++i) {
        t.points.push_back(sim::DeviceSimulator::MakePoint(55.75 + i * 1e-3, 37.6 + hour * 1e-2,
                                                           150 + i, 120, 2.5, 130));
    }
    return t;
}

class CliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TZ", "Europe/Moscow", 1);
        tzset();
        BuildDeviceCharTable();
    }

    void SetUp() override {
        m_scratch = fs::temp_directory_path() /
                    ("pelnora-cli-test-" + std::to_string(getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_scratch);
        fs::create_directories(m_scratch);
        m_tracks = {Track(5, 9, 3), Track(5, 14, 70), Track(6, 8, 2)};
        m_sim.SetTracks(m_tracks);
        m_sim.SetMarks({PackPosition(55.7558, 37.6173), PackPosition(55.8, 37.5),
                        PackPosition(1.0 / 600000, 0)});
        m_sim.SetRouteQuietMs(100);
        m_port = m_sim.Start();
    }

    void TearDown() override {
        m_sim.Stop();
        fs::remove_all(m_scratch);
    }

    Result Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", m_port});
        return RunProgram(kCli, args, m_scratch);
    }

    // What the device received once the line settled.
    sim::SimReceived Settled() {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return m_sim.Received();
    }

    void Fault(const std::function<void(sim::SimFaults&)>& set) {
        sim::SimFaults faults;
        set(faults);
        m_sim.SetFaults(faults);
    }

    std::string File(const std::string& name) const { return (m_scratch / name).string(); }

    fs::path m_scratch;
    std::vector<sim::SimTrack> m_tracks;
    sim::DeviceSimulator m_sim;
    std::string m_port;
};

TEST_F(CliTest, SettingsCommandsReachTheDevice) {
    using Check = std::function<bool(const sim::SimReceived&)>;
    const auto utc = [](uint8_t h, uint8_t m) -> Check {
        return [=](const sim::SimReceived& r) {
            return r.utcOffset == std::array<uint8_t, 2>{h, m};
        };
    };
    const auto calibration = [](uint8_t a, uint8_t b) -> Check {
        return [=](const sim::SimReceived& r) {
            return r.calibration == std::array<uint8_t, 2>{a, b};
        };
    };
    const auto interval = [](uint8_t v) -> Check {
        return [=](const sim::SimReceived& r) { return r.interval == v; };
    };
    const struct {
        std::vector<std::string> args;
        std::string message;
        Check check;
    } cases[] = {
        {{"utc", "3", "30"}, "Сдвиг времени передан успешно", utc(3, 30)},
        {{"utc", "23", "59"}, "Сдвиг времени передан успешно", utc(23, 59)},
        {{"utc", "0", "0"}, "Сдвиг времени передан успешно", utc(0, 0)},
        {{"anemometer", "150", "100"}, "Калибровка передана успешно", calibration(150, 100)},
        {{"anemometer", "50", "100"}, "Калибровка передана успешно", calibration(50, 100)},
        {{"anemometer", "0", "0"}, "Калибровка передана успешно", calibration(0, 0)},
        {{"interval", "10"}, "Временной интервал передан успешно", interval(10)},
        {{"interval", "off"}, "Временной интервал передан успешно", interval(128)},
        {{"interval", "2"}, "Временной интервал передан успешно", interval(2)},
        {{"clear", "--yes"}, "", [](const sim::SimReceived& r) { return r.clearCount == 1; }},
    };
    for (const auto& c : cases) {
        m_sim.ClearReceived();
        const Result r = Cli(c.args);
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(c.check(Settled()));
    }
}

TEST_F(CliTest, RefusedInputSendsNothing) {
    const std::string hours = "Значение поля Часы должно быть от 0 до 23";
    const std::string minutes = "Значение поля Минуты должно быть от 0 до 59";
    const std::string above = "не может быть больше 1.5";
    const std::string below = "не может быть меньше 0.5";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        {{"utc", "24", "60"}, 1, hours},  // hours first: one message only
        {{"utc", "3", "60"}, 1, minutes},
        {{"utc", "abc", "0"}, 1, kIntegerMessage},
        {{"utc", "256", "0"}, 1, kIntegerMessage},
        {{"utc", "3.5", "0"}, 1, kIntegerMessage},
        {{"utc", "-1", "0"}, 1, kIntegerMessage},
        {{"utc", "3", ""}, 1, kIntegerMessage},
        {{"anemometer", "151", "100"}, 1, above},
        {{"anemometer", "10", "0"}, 1, above},
        {{"anemometer", "49", "100"}, 1, below},
        {{"anemometer", "0", "10"}, 1, below},
        {{"anemometer", "300", "100"}, 1, kIntegerMessage},
        {{"clear"}, 1, "--yes"},  // standard input is not a terminal
        {{"route", File("missing.kml")}, 1, "missing.kml"},
        {{"download", "--all", "--output", "/nonexistent-pelnora/t.kml"}, 1, "nonexistent"},
        {{"marks", "--output", "/nonexistent-pelnora/m.kml"}, 1, "nonexistent"},
        {{}, 2, "команда"},
        {{"frobnicate"}, 2, "frobnicate"},
        {{"utc", "3"}, 2, "utc"},
        {{"interval", "7"}, 2, "7"},
        {{"download", "--all"}, 2, "--output"},
        {{"download", "--output", File("t.kml")}, 2, "--all"},
        {{"download", "--all", "1", "--output", File("t.kml")}, 2, "--all"},
        {{"download", "x", "--output", File("t.kml")}, 2, "x"},
        {{"marks"}, 2, "--output"},
        {{"query", "--yes"}, 2, "--yes"},
        {{"--bogus", "query"}, 2, "--bogus"},
    };
    for (const auto& c : cases) {
        m_sim.ClearReceived();
        const Result r = Cli(c.args);
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        if (c.message == hours) {
            EXPECT_EQ(r.err.find(minutes), std::string::npos);
        }
        EXPECT_EQ(Settled().bytesIn, 0u);
    }
    // Neither a port nor --simulate, or both: usage.
    EXPECT_EQ(RunProgram(kCli, {"query"}, m_scratch).status, 2);
    EXPECT_EQ(RunProgram(kCli, {"--simulate", "--port", m_port, "query"}, m_scratch).status, 2);
    EXPECT_FALSE(fs::exists(File("t.kml")));
}

TEST_F(CliTest, QueryPrintsTheAnswerOrReportsSilence) {
    Result r = Cli({"query"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "02\nПрибор поддерживает анемометр.\n");

    Fault([](auto& f) { f.capability = 5; });
    r = Cli({"query"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "05\nДанная версия прибора не поддерживает анемометр!\n");

    Fault([](auto& f) { f.silentCommands = {0x33}; });
    r = Cli({"--trace", "query"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Прибор не отвечает"), std::string::npos);
    EXPECT_NE(r.err.find("> 33 \r\n"), std::string::npos);  // the trace also after a failure
}

TEST_F(CliTest, LinkFailuresAndTrace) {
    Result r = RunProgram(kCli, {"--port", "/dev/nonexistent-pelnora", "query"}, m_scratch);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(std::strerror(ENOENT)), std::string::npos) << r.err;

    r = Cli({"--trace", "utc", "3", "30"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("> BB \r\n> 03 \r\n> 1E \r\n"), std::string::npos) << r.err;

    Fault([](auto& f) { f.clearAnswer = std::array<uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEF}; });
    r = Cli({"clear", "--yes", "--trace"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Не удалось очистить память"), std::string::npos);
    EXPECT_NE(r.err.find("< EE EE EE EF \r\n"), std::string::npos);
}

TEST_F(CliTest, TablePrintsRowsAndMemoryFill) {
    auto tracks = m_tracks;
    tracks[2].record[6] = 0;
    tracks[2].record[7] = 0x03;
    tracks[2].record[8] = 0xE8;  // start page 1000
    tracks[2].record[10] = 0;
    tracks[2].record[11] = 100;  // 100 points: 2 pages
    tracks[0].record[9] = 0;     // zero interval: a faulty track
    m_sim.SetTracks(tracks, false);
    const Result r = Cli({"table"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string expected = "№\tДата\tВремя\tПродолжительность\tИнтервал\n";
    for (uint32_t j = 0; j < tracks.size(); ++j) {
        TrackEntry entry;
        entry.record = tracks[j].record;
        const auto texts = TrackRowTexts(entry, j);
        expected +=
            texts[0] + "\t" + texts[1] + "\t" + texts[2] + "\t" + texts[3] + "\t" + texts[4] + "\n";
    }
    expected += "Заполнение памяти: 0,191000 %\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_NE(r.out.find("неисправный трек"), std::string::npos);
}

TEST_F(CliTest, DownloadWritesAFileThatConsumersRead) {
    const Result r = Cli({"download", "--all", "--output", File("Полёты.kml")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Получение 1 трека из 3"), std::string::npos);
    EXPECT_NE(r.err.find("Получение 3 трека из 3"), std::string::npos);
    const std::string text = Slurp(File("Полёты.kml"));
    EXPECT_NE(text.find("<name>Полёты.kml</name>"), std::string::npos);
    EXPECT_EQ(kml_test::CountOf(text, "<LineString>"), 3u);
    ExpectConsumersRead(File("Полёты.kml"), 3 + 70 + 2);

    // Chosen indices only, in any order on the command line.
    const Result some = Cli({"download", "2", "0", "--output", File("some.kml")});
    ASSERT_EQ(some.status, 0) << some.err;
    const std::string part = Slurp(File("some.kml"));
    EXPECT_EQ(kml_test::CountOf(part, "<LineString>"), 2u);
    EXPECT_EQ(part.find("<name>14:07:00</name>"), std::string::npos);
    ExpectConsumersRead(File("some.kml"), 3 + 2);
}

TEST_F(CliTest, DownloadKeepsOrDropsABadChecksum) {
    Fault([](auto& f) { f.badChecksumTrack = 1; });
    const struct {
        std::vector<std::string> options;
        size_t tracks;
    } cases[] = {{{"--keep-bad"}, 3}, {{"--drop-bad"}, 2}, {{}, 2}};  // not a terminal: dropped
    for (const auto& c : cases) {
        std::vector<std::string> args = {"download", "--all", "--output", File("bad.kml")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Result r = Cli(args);
        SCOPED_TRACE(c.options.empty() ? "(asked)" : c.options[0]);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("контрольная сумма не совпадает"), std::string::npos);
        const std::string text = Slurp(File("bad.kml"));
        EXPECT_EQ(kml_test::CountOf(text, "<LineString>"), c.tracks);
        ExpectConsumersRead(File("bad.kml"), c.tracks == 3 ? 75 : 5);
    }

    // Nothing kept: failure, and the file that was there stays as it was.
    std::ofstream(File("old.kml")) << "old";
    const Result none = Cli({"download", "1", "--drop-bad", "--output", File("old.kml")});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("Ошибка при получении треков"), std::string::npos);
    EXPECT_EQ(Slurp(File("old.kml")), "old");
}

TEST_F(CliTest, DownloadKeepsTracksReceivedBeforeAHangUp) {
    // The table (3 records and the end), then the first two tracks; the device hangs up.
    const uint64_t bytes = 12 * 4 + (3 * 32 + 34) + (70 * 32 + 34);
    Fault([&](auto& f) { f.hangupAfterBytes = bytes; });
    const Result r = Cli({"download", "--all", "--output", File("cut.kml")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(std::strerror(EIO)), std::string::npos) << r.err;
    const std::string text = Slurp(File("cut.kml"));
    EXPECT_EQ(kml_test::CountOf(text, "<LineString>"), 2u);
    ExpectConsumersRead(File("cut.kml"), 3 + 70);
}

TEST_F(CliTest, DownloadRefusesAnIndexBeyondTheTable) {
    const Result r = Cli({"download", "0", "3", "--output", File("t.kml")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("3"), std::string::npos);
    EXPECT_EQ(Settled().commands, Bytes{0xDD});  // the table only, no track asked
    EXPECT_FALSE(fs::exists(File("t.kml")));
}

TEST_F(CliTest, MarksWriteAFileOrNothing) {
    Result r = Cli({"marks", "--output", File("Points.kml")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Метки получены успешно"), std::string::npos);
    const std::string text = Slurp(File("Points.kml"));
    EXPECT_NE(text.find("<name>Points3</name>"), std::string::npos);
    EXPECT_NE(text.find("<coordinates>37.6173,55.7558</coordinates>"), std::string::npos);
    ExpectConsumersRead(File("Points.kml"), 3);

    // No marks: success, and an existing file is left alone.
    m_sim.SetMarks({});
    std::ofstream(File("old.kml")) << "old";
    r = Cli({"marks", "--output", File("old.kml")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Slurp(File("old.kml")), "old");

    // No count byte at all: the device did not answer.
    Fault([](auto& f) { f.silentCommands = {0x55}; });
    r = Cli({"marks", "--output", File("none.kml")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Прибор не отвечает"), std::string::npos);
    EXPECT_FALSE(fs::exists(File("none.kml")));
}

TEST_F(CliTest, RouteUploadsTheSampleAndRefusesBadFiles) {
    const Result r =
        Cli({"route", std::string(PELNORA_TEST_DATA) + "/../../examples/moscow-route.kml"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Маршрут передан успешно"), std::string::npos);
    ASSERT_TRUE(m_sim.WaitForRoute(1, 3000));
    const Bytes route = m_sim.Route();
    ASSERT_EQ(route.size(), 1 + 12 * 12u);
    EXPECT_EQ(route[0], 0x90);
    // Кремль at 37.6175 E 55.7520 N: position, then the first four letters in device codes.
    const PackedPosition kremlin = PackPosition(55.7520, 37.6175);
    EXPECT_EQ(Bytes(route.begin() + 1, route.begin() + 9), Bytes(kremlin.begin(), kremlin.end()));
    EXPECT_EQ(Bytes(route.begin() + 9, route.begin() + 13), (Bytes{0x4B, 0x70, 0x65, 0xBC}));

    std::ofstream(File("broken.kml")) << "<kml><Document><Placemark><name>A</name></Document>";
    std::string many = "<kml><Document>";
    for (int i = 0; i < 256; ++i) {
        many +=
            "<Placemark><name>P</name><Point><coordinates>37,55</coordinates></Point>"
            "</Placemark>";
    }
    std::ofstream(File("many.kml")) << many << "</Document></kml>";
    m_sim.ClearReceived();
    const Result broken = Cli({"route", File("broken.kml")});
    EXPECT_EQ(broken.status, 1);
    EXPECT_FALSE(broken.err.empty());
    const Result tooMany = Cli({"route", File("many.kml")});
    EXPECT_EQ(tooMany.status, 1);
    EXPECT_NE(tooMany.err.find("255"), std::string::npos) << tooMany.err;
    EXPECT_EQ(Settled().bytesIn, 0u);
}

TEST(CliPrograms, HelpNamesEveryCommand) {
    const fs::path scratch =
        fs::temp_directory_path() / ("pelnora-help-" + std::to_string(getpid()));
    fs::create_directories(scratch);
    const Result r = RunProgram(kCli, {"--help"}, scratch);
    EXPECT_EQ(r.status, 0);
    for (const char* command :
         {"query", "utc", "anemometer", "interval", "clear", "table", "download", "marks", "route",
          "--keep-bad", "--drop-bad", "--simulate", "--trace", "--baud"}) {
        EXPECT_NE(r.out.find(command), std::string::npos) << command;
    }
    EXPECT_EQ(RunProgram(kSim, {"--help"}, scratch).status, 0);
    EXPECT_EQ(RunProgram(kSim, {"--no-such-option"}, scratch).status, 2);
    fs::remove_all(scratch);
}

TEST(CliPrograms, SimulateRunsTheDemoInProcess) {
    const fs::path scratch =
        fs::temp_directory_path() / ("pelnora-sim-" + std::to_string(getpid()));
    fs::create_directories(scratch);
    Result r = RunProgram(kCli, {"--simulate", "query"}, scratch);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, 3), "02\n");
    r = RunProgram(kCli, {"--simulate", "table"}, scratch);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(kml_test::CountOf(r.out, "\n"), 7u + 2u);  // header, 7 flights, memory fill
    fs::remove_all(scratch);
}

// pelnora-sim as a separate process: its first line is the device path; it serves the CLI.
TEST(CliPrograms, PelnoraSimServesUntilTerminated) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        close(pipeFds[0]);
        execl(kSim.c_str(), kSim.c_str(), "--capability", "7", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    FILE* out = fdopen(pipeFds[0], "r");
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
    std::string path = line;
    ASSERT_EQ(path.back(), '\n');
    path.pop_back();

    const fs::path scratch =
        fs::temp_directory_path() / ("pelnora-sim2-" + std::to_string(getpid()));
    fs::create_directories(scratch);
    const Result query = RunProgram(kCli, {"--port", path, "query"}, scratch);
    EXPECT_EQ(query.out.substr(0, 3), "07\n");
    const Result table = RunProgram(kCli, {"--port", path, "table"}, scratch);
    EXPECT_EQ(table.status, 0);
    EXPECT_EQ(kml_test::CountOf(table.out, "\n"), 9u);
    fs::remove_all(scratch);

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::fclose(out);
}

}  // namespace
