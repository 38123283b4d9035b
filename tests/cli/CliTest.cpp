// pelnora-cli end to end: the binary against a simulated device, exit codes, messages, bytes
// that reached the device, and the files it writes read back by xmllint and gpsbabel.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <locale.h>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/DataFormats.h"
#include "link/OutputFile.h"
#include "link/Version.h"
#include "marks_route/MarksExchange.h"
#include "sim/DeviceSimulator.h"
#include "tracks/KmlConsumers.h"
#include "link/TrackEntry.h"
#include "tracks/TrackTable.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const std::string kCli = std::string(PELNORA_BIN_DIR) + "/cli/pelnora-cli";
const std::string kSim = std::string(PELNORA_BIN_DIR) + "/sim/pelnora-sim";
const std::string kIntegerMessage = "Enter an integer between 0 and 255.";
using nlohmann::json;

// The C library's Russian text for an error number, as pelnora-cli words it.
std::string RussianSystemText(int number) {
    const locale_t russian =
        newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, "ru_RU.UTF-8", static_cast<locale_t>(0));
    if (russian == static_cast<locale_t>(0)) {
        return std::strerror(number);
    }
    std::string text = strerror_l(number, russian);
    freelocale(russian);
    return text;
}

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path) {
    return kml_test::ReadFile(path);
}

// Starts a program in scratch with standard input from /dev/null (not a terminal), its output
// into scratch/stdout and scratch/stderr.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& args,
                   const fs::path& scratch) {
    const std::string outPath = (scratch / "stdout").string();
    const std::string errPath = (scratch / "stderr").string();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(scratch.c_str()) != 0) {
            _exit(126);
        }
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
    return pid;
}

Result Finish(pid_t pid, const fs::path& scratch) {
    int status = 0;
    waitpid(pid, &status, 0);
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp((scratch / "stdout").string());
    r.err = Slurp((scratch / "stderr").string());
    return r;
}

Result RunProgram(const std::string& program, const std::vector<std::string>& args,
                  const fs::path& scratch) {
    return Finish(StartProgram(program, args, scratch), scratch);
}

// The names in folder other than the captured output streams.
std::set<std::string> FilesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != "stdout" && name != "stderr") {
            names.insert(name);
        }
    }
    return names;
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
        {{"download", "--all", "--output", m_scratch.string()}, 1, m_scratch.string()},
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

TEST_F(CliTest, PortProblemsNameTheProgramAndThePort) {
    const std::string missing = "/dev/nonexistent-pelnora";
    Result r = RunProgram(kCli, {"--port", missing, "query"}, m_scratch);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelnora-cli: " + missing + ": " + RussianSystemText(ENOENT) + "\n");

    // Not a terminal: said so, with the system's text.
    std::ofstream(File("plain")) << "x";
    r = RunProgram(kCli, {"query", "--port", File("plain")}, m_scratch);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelnora-cli: " + File("plain") +
                         ": Это не последовательный порт: " + RussianSystemText(ENOTTY) + "\n");

    // Another program holds the port.
    {
        const int holder = open(m_port.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(holder, 0);
        ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
        r = Cli({"query"});
        close(holder);
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("pelnora-cli: " + m_port + ": " + RussianSystemText(EBUSY)),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Порт занят другой программой"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("ModemManager"), std::string::npos) << r.err;
    EXPECT_EQ(Settled().bytesIn, 0u);
}

// No permission on the port: the dialout hint. As root the CLI runs as nobody.
TEST_F(CliTest, NoPermissionGivesTheDialoutHint) {
    struct stat before {};
    ASSERT_EQ(stat(m_port.c_str(), &before), 0);
    ASSERT_EQ(chmod(m_port.c_str(), 0), 0);
    std::vector<std::string> args = {"--port", m_port, "query"};
    std::string program = kCli;
    if (geteuid() == 0) {
        if (!fs::exists("/usr/bin/setpriv")) {
            chmod(m_port.c_str(), before.st_mode & 07777);
            GTEST_SKIP() << "setpriv is needed to run as a user without rights";
        }
        // nobody must reach the program and its folders, and write its captured output: a copy
        // of the program in the scratch folder, whatever folder the build is in.
        fs::permissions(m_scratch, fs::perms::all);
        const fs::path copy = fs::path(m_scratch) / "pelnora-cli";
        fs::copy_file(kCli, copy, fs::copy_options::overwrite_existing);
        fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read |
                                  fs::perms::others_exec);
        args.insert(args.begin(),
                    {"--reuid=nobody", "--regid=nogroup", "--clear-groups", copy.string()});
        program = "/usr/bin/setpriv";
    }
    const Result r = RunProgram(program, args, m_scratch);
    chmod(m_port.c_str(), before.st_mode & 07777);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("pelnora-cli: " + m_port + ": " + RussianSystemText(EACCES) + "\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("dialout"), std::string::npos) << r.err;
}

TEST_F(CliTest, LinkFailuresAndTrace) {
    Result r = Cli({"--trace", "utc", "3", "30"});
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

// The formats with times, each from the device to a file that xmllint and gpsbabel read back,
// with the UTC times the offset gives (device 09:07 at +3:00 is 06:07Z).
TEST_F(CliTest, DownloadInEveryFormatWithTimes) {
    const struct {
        const char* format;
        const char* file;
        const char* gpsbabelFormat;
        const char* firstTime;  // as the file writes it
        const char* perPoint;   // one per point
    } cases[] = {
        {"gpx", "f.gpx", "gpx", "<time>2013-03-05T06:07:00Z</time>", "<trkpt "},
        {"kml-time", "f.kml", "kml", "<when>2013-03-05T06:07:00Z</when>", "<when>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        const Result r = Cli({"download", "--all", "--format", c.format, "--utc-offset", "3:00",
                              "-o", File(c.file)});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("Смещение часов прибора от UTC: +3:00\n"), std::string::npos) << r.err;
        const std::string text = Slurp(File(c.file));
        EXPECT_NE(text.find(c.firstTime), std::string::npos);
        EXPECT_EQ(kml_test::CountOf(text, c.perPoint), 3u + 70 + 2);
        EXPECT_TRUE(kml_test::XmlWellFormed(File(c.file)));
        int status = 0;
        const std::string back =
            kml_test::Run(std::string("gpsbabel -t -i ") + c.gpsbabelFormat + " -f " +
                              kml_test::Quote(File(c.file)) + " -o gpx -F - 2>/dev/null",
                          status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(kml_test::CountOf(back, "<trkpt "), 3u + 70 + 2);
        EXPECT_NE(back.find("2013-03-05T06:07:00"), std::string::npos);
    }

    // Without --utc-offset: the computer's zone (Moscow, +4:00 in 2013), and it says so.
    Result r = Cli({"download", "0", "--format", "gpx", "-o", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("<time>2013-03-05T05:07:00Z</time>"), std::string::npos);
    EXPECT_NE(r.err.find("Смещение часов прибора от UTC: +4:00 (часовой пояс компьютера)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(kml_test::CountOf(r.out, "<trkpt "), 3u);
    EXPECT_FALSE(fs::exists(File("-")));
}

// IGC: one log per track in the folder (made when missing), named by the day of its first fix;
// never into a stream; an incomplete download leaves an existing folder as it was.
TEST_F(CliTest, DownloadIgcWritesAFolderOfLogs) {
    Result r = Cli(
        {"download", "--all", "--format", "igc", "--utc-offset", "3:00", "-o", File("flights")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("в папку " + File("flights")), std::string::npos) << r.err;
    const std::set<std::string> names = {"2013-03-05-XXX-000000-01.igc",
                                         "2013-03-05-XXX-000000-02.igc",
                                         "2013-03-06-XXX-000000-01.igc"};
    EXPECT_EQ(FilesIn(File("flights")), names);
    const std::string log = Slurp(File("flights") + "/2013-03-05-XXX-000000-01.igc");
    EXPECT_EQ(log.rfind("AXXX", 0), 0u);
    EXPECT_NE(log.find("\r\nHFDTEDATE:050313,01\r\n"), std::string::npos);
    // 55.75°N 37.69°E at 06:07:00 UTC, valid fix, no pressure altitude, 150 m GNSS altitude.
    EXPECT_NE(log.find("\r\nB0607005545000N03741400EA0000000150"), std::string::npos) << log;
    EXPECT_EQ(kml_test::CountOf(log, "\r\nB"), 3u);
    int status = 0;
    const std::string back = kml_test::Run(
        "gpsbabel -i igc -f " + kml_test::Quote(File("flights") + "/2013-03-05-XXX-000000-02.igc") +
            " -o gpx -F - 2>/dev/null",
        status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(kml_test::CountOf(back, "<trkpt "), 70u);

    // Standard output cannot take a folder; nothing is asked of the device.
    m_sim.ClearReceived();
    r = Cli({"download", "--all", "--format", "igc", "-o", "-"});
    EXPECT_EQ(r.status, 2);
    r = Cli({"download", "--all", "--format", "igc", "-o", File("flights") + "/" + *names.begin()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("это не папка"), std::string::npos) << r.err;
    EXPECT_EQ(Settled().bytesIn, 0u);

    // Cut off in the second track: the earlier logs stay, the first track goes beside them.
    std::ofstream(File("flights") + "/" + *names.begin()) << "good";
    Fault([](auto& f) { f.hangupAfterBytes = 12 * 4 + (3 * 32 + 34) + 500; });
    r = Cli(
        {"download", "--all", "--format", "igc", "--utc-offset", "3:00", "-o", File("flights")});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(Slurp(File("flights") + "/" + *names.begin()), "good");
    EXPECT_EQ(FilesIn(File("flights")), names);
    EXPECT_EQ(FilesIn(File("flights-неполный")), std::set<std::string>{*names.begin()});
    EXPECT_NE(r.err.find(File("flights-неполный")), std::string::npos) << r.err;
}

TEST_F(CliTest, FormatAndOffsetRefusalsSendNothing) {
    const std::vector<std::vector<std::string>> refused = {
        {"download", "--all", "--format", "kmz", "-o", File("x")},
        {"download", "--all", "--format", "gpx", "--utc-offset", "24:00", "-o", File("x")},
        {"download", "--all", "--format", "gpx", "--utc-offset", "3", "-o", File("x")},
        {"download", "--all", "--format", "gpx", "--utc-offset", "3:60", "-o", File("x")},
        {"marks", "--format", "igc", "-o", File("x")},
    };
    for (const auto& args : refused) {
        SCOPED_TRACE(args[2] + " " + args[3] + " " + args[4]);
        m_sim.ClearReceived();
        const Result r = Cli(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(Settled().bytesIn, 0u);
    }
    EXPECT_TRUE(FilesIn(m_scratch).empty());
}

TEST_F(CliTest, DownloadKeepsOrDropsABadChecksum) {
    Fault([](auto& f) { f.badChecksumTrack = 1; });
    const struct {
        std::vector<std::string> options;
        size_t tracks;
        int status;  // 3: a chosen track is not in the file
    } cases[] = {{{"--keep-bad"}, 3, 0}, {{"--drop-bad"}, 2, 3}, {{}, 2, 3}};  // not a terminal
    int n = 0;
    for (const auto& c : cases) {
        const std::string file = File("bad" + std::to_string(n++) + ".kml");
        std::vector<std::string> args = {"download", "--all", "--output", file};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Result r = Cli(args);
        SCOPED_TRACE(c.options.empty() ? "(asked)" : c.options[0]);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(
            r.err.find("Трек 1: Ошибка при получении трека (контрольная сумма не совпадает)."),
            std::string::npos);
        const std::string text = Slurp(file);
        EXPECT_EQ(kml_test::CountOf(text, "<LineString>"), c.tracks);
        ExpectConsumersRead(file, c.tracks == 3 ? 75 : 5);
    }

    // Nothing kept: failure, and the file that was there stays as it was.
    std::ofstream(File("old.kml")) << "old";
    const Result none = Cli({"download", "1", "--drop-bad", "--output", File("old.kml")});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("Ошибка при получении треков"), std::string::npos);
    EXPECT_EQ(Slurp(File("old.kml")), "old");
    EXPECT_EQ(FilesIn(m_scratch),
              (std::set<std::string>{"bad0.kml", "bad1.kml", "bad2.kml", "old.kml"}));
}

TEST_F(CliTest, DownloadKeepsTracksReceivedBeforeAHangUp) {
    // The table (3 records and the end), then the first two tracks; the device hangs up.
    const uint64_t bytes = 12 * 4 + (3 * 32 + 34) + (70 * 32 + 34);
    Fault([&](auto& f) { f.hangupAfterBytes = bytes; });
    std::ofstream(File("cut.kml")) << "good";
    const Result r = Cli({"download", "--all", "--output", File("cut.kml")});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find(m_port + ": " + RussianSystemText(EIO)), std::string::npos) << r.err;
    // The older file stays; the two tracks go beside it, and the message names that file.
    EXPECT_EQ(Slurp(File("cut.kml")), "good");
    const std::string beside = IncompleteFileName(File("cut.kml"));
    EXPECT_EQ(beside, File("cut-неполный.kml"));
    EXPECT_NE(r.err.find(beside), std::string::npos) << r.err;
    const std::string text = Slurp(beside);
    EXPECT_EQ(kml_test::CountOf(text, "<LineString>"), 2u);
    ExpectConsumersRead(beside, 3 + 70);
}

TEST_F(CliTest, OutputDashIsStandardOutput) {
    Result r = Cli({"download", "0", "2", "-o", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("<?xml", 0), 0u);
    EXPECT_EQ(kml_test::CountOf(r.out, "<LineString>"), 2u);
    EXPECT_NE(r.err.find("Получение 2 трека из 2"), std::string::npos);  // progress on stderr
    EXPECT_EQ(r.err.find("<?xml"), std::string::npos);
    r = Cli({"marks", "--output", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("<coordinates>37.6173,55.7558</coordinates>"), std::string::npos);
    EXPECT_TRUE(FilesIn(m_scratch).empty());  // no file named "-"
    // Both on standard output cannot be.
    m_sim.ClearReceived();
    r = Cli({"download", "--all", "-o", "-", "--json"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(Settled().bytesIn, 0u);
}

TEST_F(CliTest, JsonDocumentsParseBack) {
    Result r = Cli({"query", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    json doc = json::parse(r.out);
    EXPECT_EQ(doc["capability"], 2);
    EXPECT_EQ(doc["answer"], "02");
    EXPECT_EQ(doc["anemometer"], true);

    r = Cli({"table", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    doc = json::parse(r.out);
    ASSERT_EQ(doc["tracks"].size(), m_tracks.size());
    for (uint32_t j = 0; j < m_tracks.size(); ++j) {
        TrackEntry entry;
        entry.record = m_tracks[j].record;
        const auto texts = TrackRowTexts(entry, j);
        const json& row = doc["tracks"][j];
        EXPECT_EQ(row["index"], j);
        EXPECT_EQ(row["date"], texts[1]);
        EXPECT_EQ(row["time"], texts[2]);
        EXPECT_EQ(row["duration"], texts[3]);
        EXPECT_EQ(row["pointCount"], entry.PointCount());
    }
    EXPECT_TRUE(doc["memoryFillPercent"].is_number());

    Fault([](auto& f) { f.badChecksumTrack = 1; });
    r = Cli({"download", "--all", "--drop-bad", "--json", "-o", File("j.kml")});
    EXPECT_EQ(r.status, 3) << r.err;
    doc = json::parse(r.out);
    EXPECT_EQ(doc["file"], File("j.kml"));
    EXPECT_EQ(doc["saved"], json::array({0, 2}));
    EXPECT_EQ(doc["dropped"], json::array({1}));
    EXPECT_EQ(doc["notReceived"], json::array());
    EXPECT_EQ(doc["complete"], false);
    EXPECT_EQ(doc["incomplete"], false);  // no older file: the asked name
    EXPECT_TRUE(doc["error"].is_null());
    EXPECT_TRUE(doc["signal"].is_null());
    EXPECT_EQ(kml_test::CountOf(Slurp(File("j.kml")), "<LineString>"), 2u);
}

TEST_F(CliTest, OptionsBeforeOrAfterTheCommandAndTheSpeedList) {
    // The global options after the command, the command's own in any order.
    Result r = RunProgram(kCli, {"query", "--baud", "9600", "--port", m_port}, m_scratch);
    EXPECT_EQ(r.status, 0) << r.err;
    r = RunProgram(kCli, {"download", "--output", File("a.kml"), "--port", m_port, "0", "--trace"},
                   m_scratch);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("> 11 \r\n"), std::string::npos);
    m_sim.ClearReceived();
    for (const char* baud : {"1000", "0", "x", "115200.5", ""}) {
        SCOPED_TRACE(baud);
        r = Cli({"--baud", baud, "query"});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, "
                             "57600, 115200, 128000, 256000"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_EQ(Settled().bytesIn, 0u);
}

// Waits until file holds text; false after ms.
bool WaitForText(const fs::path& file, const std::string& text, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (Slurp(file.string()).find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A paced download stopped by a signal during track k: that track arrives whole and is in the
// file with the ones before it, nothing else is left in the folder, and the status tells the
// signal.
TEST(CliSignals, StopTheDownloadAndKeepWholeTracks) {
    setenv("TZ", "Europe/Moscow", 1);
    BuildDeviceCharTable();
    const fs::path scratch =
        fs::temp_directory_path() / ("pelnora-cli-signals-" + std::to_string(getpid()));
    const struct {
        int signal;
        std::size_t track;  // 1-based track during which it comes
    } cases[] = {{SIGINT, 1}, {SIGTERM, 2}, {SIGHUP, 3}, {SIGINT, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE("signal " + std::to_string(c.signal) + " in track " + std::to_string(c.track));
        fs::remove_all(scratch);
        fs::create_directories(scratch);
        sim::DeviceSimulator device;
        // 30 points (994 bytes) at 19200 baud: half a second per track.
        device.SetTracks({Track(5, 9, 30), Track(5, 10, 30), Track(5, 11, 30), Track(5, 12, 30)});
        sim::SimFaults paced;
        paced.pacingBaud = 19200;
        device.SetFaults(paced);
        const std::string port = device.Start();
        const std::string out = (scratch / "out.kml").string();
        const pid_t pid =
            StartProgram(kCli, {"--port", port, "download", "--all", "--json", "-o", out}, scratch);
        ASSERT_TRUE(WaitForText(scratch / "stderr",
                                "Получение " + std::to_string(c.track) + " трека из 4", 20000));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        kill(pid, c.signal);
        const Result r = Finish(pid, scratch);
        EXPECT_EQ(r.status, 128 + c.signal) << r.err;
        const json doc = json::parse(r.out);
        EXPECT_EQ(doc["signal"], c.signal);
        EXPECT_EQ(doc["stopped"], true);
        // The track under way arrives whole and is kept with every one before it; no further
        // track is asked for (the next may have started on a busy machine).
        EXPECT_NE(r.err.find("pelnora-cli: трек дополучается, повторный сигнал — выход сразу"),
                  std::string::npos)
            << r.err;
        const std::size_t saved = doc["saved"].size();
        EXPECT_GE(saved, c.track);
        EXPECT_LE(saved, std::min<std::size_t>(c.track + 1, 4));
        EXPECT_EQ(saved + doc["notReceived"].size(), 4u);
        EXPECT_EQ(FilesIn(scratch), std::set<std::string>{"out.kml"});
        EXPECT_EQ(kml_test::CountOf(Slurp(out), "<LineString>"), saved);
        EXPECT_TRUE(kml_test::XmlWellFormed(out));
    }

    // A second signal ends at once: no orderly end, no file and no temporary file left.
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    sim::DeviceSimulator device;
    device.SetTracks({Track(5, 9, 30), Track(5, 10, 300)});
    sim::SimFaults paced;
    paced.pacingBaud = 19200;
    device.SetFaults(paced);
    const std::string port = device.Start();
    const pid_t pid = StartProgram(
        kCli, {"--port", port, "download", "--all", "--json", "-o", "out.kml"}, scratch);
    ASSERT_TRUE(WaitForText(scratch / "stderr", "Получение 2 трека из 2", 20000));
    // Two different signals, so that the second is not merged into the first while pending;
    // the status is the first one's.
    kill(pid, SIGINT);
    kill(pid, SIGTERM);
    const Result r = Finish(pid, scratch);
    EXPECT_TRUE(r.status == 128 + SIGINT || r.status == 128 + SIGTERM) << r.status;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(FilesIn(scratch).empty());
    fs::remove_all(scratch);
}

// The device hangs up after every byte of every answer of a download, with an older good file
// in place: that file survives each run, whatever came goes beside it whole, and nothing else
// is left behind.
TEST(CliFaultSweep, HangUpAfterEveryByteKeepsTheGoodFile) {
    setenv("TZ", "Europe/Moscow", 1);
    BuildDeviceCharTable();
    const fs::path scratch =
        fs::temp_directory_path() / ("pelnora-cli-sweep-" + std::to_string(getpid()));
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    const std::vector<sim::SimTrack> tracks = {Track(5, 9, 3), Track(5, 14, 5), Track(6, 8, 2)};
    // The table (three records and the end), then each track's records, end and checksum.
    const uint64_t total = 4 * 12 + (3 * 32 + 34) + (5 * 32 + 34) + (2 * 32 + 34);
    const std::string good = (scratch / "good.kml").string();
    const std::string beside = IncompleteFileName(good);
    const std::string goodText = "<kml>an older good file</kml>";
    for (uint64_t n = 0; n <= total; ++n) {
        SCOPED_TRACE("hang-up after " + std::to_string(n) + " bytes");
        std::ofstream(good, std::ios::trunc) << goodText;
        fs::remove(beside);
        sim::DeviceSimulator device;
        device.SetTracks(tracks);
        if (n < total) {
            sim::SimFaults faults;
            faults.hangupAfterBytes = n;
            device.SetFaults(faults);
        }
        const std::string port = device.Start();
        const Result r =
            RunProgram(kCli, {"--port", port, "download", "--all", "--json", "-o", good}, scratch);
        const std::set<std::string> files = FilesIn(scratch);
        if (n == total) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(kml_test::CountOf(Slurp(good), "<LineString>"), 3u);
            EXPECT_EQ(files, std::set<std::string>{"good.kml"});
            break;
        }
        EXPECT_EQ(Slurp(good), goodText);
        if (r.out.empty()) {  // the table did not come: nothing asked, nothing written
            EXPECT_EQ(r.status, 1) << r.err;
            EXPECT_EQ(files, std::set<std::string>{"good.kml"});
            continue;
        }
        const json doc = json::parse(r.out);
        const std::size_t saved = doc["saved"].size();
        EXPECT_EQ(r.status, saved == 0 ? 1 : 3) << r.err;
        EXPECT_FALSE(doc["error"].is_null());
        if (saved == 0) {
            EXPECT_EQ(files, std::set<std::string>{"good.kml"});
        } else {
            EXPECT_EQ(files, (std::set<std::string>{"good.kml", fs::path(beside).filename()}));
            EXPECT_EQ(doc["file"], beside);
            EXPECT_EQ(kml_test::CountOf(Slurp(beside), "<LineString>"), saved);
        }
        if (::testing::Test::HasFailure()) {
            break;  // one position tells the fault
        }
    }
    fs::remove_all(scratch);
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

TEST_F(CliTest, MarksAsGpxWaypoints) {
    const Result r = Cli({"marks", "--format", "gpx", "--output", File("Points.gpx")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = Slurp(File("Points.gpx"));
    EXPECT_NE(text.find("<name>Points3</name>"), std::string::npos) << text;
    EXPECT_NE(text.find("lat=\"55.7558000\" lon=\"37.6173000\""), std::string::npos) << text;
    EXPECT_TRUE(kml_test::XmlWellFormed(File("Points.gpx")));
    int status = 0;
    const std::string back = kml_test::Run(
        "gpsbabel -i gpx -f " + kml_test::Quote(File("Points.gpx")) + " -o gpx -F - 2>/dev/null",
        status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(kml_test::CountOf(back, "<wpt "), 3u);
}

TEST_F(CliTest, MarksThatCameInPartGoBesideAnOlderFile) {
    Fault([](auto& f) { f.marksSent = 1; });
    std::ofstream(File("m.kml")) << "old";
    const Result r = Cli({"marks", "--output", File("m.kml")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(MarksIncompleteText(1, 3)), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(File("m.kml")), "old");
    const std::string beside = IncompleteFileName(File("m.kml"));
    EXPECT_NE(r.err.find(beside), std::string::npos) << r.err;
    EXPECT_EQ(kml_test::CountOf(Slurp(beside), "<Placemark>"), 1u);
    ExpectConsumersRead(beside, 1);
}

TEST_F(CliTest, RouteWithoutPointsNeedsForceAndSameNamesWarn) {
    std::ofstream(File("empty.kml")) << "<kml><Document><name>x</name></Document></kml>";
    Result r = Cli({"route", File("empty.kml")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    EXPECT_EQ(Settled().bytesIn, 0u);
    r = Cli({"route", "--force", File("empty.kml")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Маршрут передан успешно"), std::string::npos);

    std::ofstream(File("same.kml"))
        << "<kml><Document>"
           "<Placemark><name>Москва-1</name><Point><coordinates>37.6,55.7</coordinates></Point>"
           "</Placemark>"
           "<Placemark><name>Москва-2</name><Point><coordinates>37.7,55.8</coordinates></Point>"
           "</Placemark></Document></kml>";
    ASSERT_TRUE(m_sim.WaitForRoute(1, 3000));
    EXPECT_EQ(m_sim.Route(), Bytes{0x00});  // the device's route emptied, as asked
    m_sim.ClearReceived();
    r = Cli({"route", File("same.kml")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("pelnora-cli: предупреждение: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Москва-2"), std::string::npos) << r.err;
    ASSERT_TRUE(m_sim.WaitForRoute(1, 3000));
    EXPECT_EQ(m_sim.Route().size(), 1 + 2 * 12u);
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

TEST(CliPrograms, HelpAndVersion) {
    const fs::path scratch =
        fs::temp_directory_path() / ("pelnora-help-" + std::to_string(getpid()));
    fs::create_directories(scratch);
    Result r = RunProgram(kCli, {"--help"}, scratch);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const char* text : {"query", "utc", "anemometer", "interval", "clear", "table", "download",
                             "marks", "route", "--port", "--simulate", "--trace", "--baud",
                             "--version", "256000", "Коды завершения", "129, 130, 143", "--json"}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
    }
    // Each command has its own help, with its own options, before or after the global ones.
    const struct {
        std::vector<std::string> args;
        std::vector<const char*> texts;
    } commands[] = {
        {{"download", "--help"},
         {"--output", "--all", "--keep-bad", "--drop-bad", "--json", "INDEX", "-неполный"}},
        {{"--simulate", "clear", "-h"}, {"--yes"}},
        {{"route", "--help", "--trace"}, {"--force", "FILE"}},
        {{"query", "--help"}, {"--json"}},
        {{"table", "--help"}, {"--json", "memoryFillPercent"}},
        {{"utc", "--help"}, {"HOURS", "MINUTES"}},
    };
    for (const auto& c : commands) {
        SCOPED_TRACE(c.args[0]);
        r = RunProgram(kCli, c.args, scratch);
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("Использование: pelnora-cli "), std::string::npos) << r.out;
        for (const char* text : c.texts) {
            EXPECT_NE(r.out.find(text), std::string::npos) << text;
        }
    }
    r = RunProgram(kCli, {"download", "--help"}, scratch);
    EXPECT_EQ(r.out.find("--yes"), std::string::npos);

    r = RunProgram(kCli, {"--version"}, scratch);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("pelnora-cli ") + kPelnoraVersion + "\n");
    EXPECT_EQ(RunProgram(kSim, {"--help"}, scratch).status, 0);
    EXPECT_EQ(RunProgram(kSim, {"--no-such-option"}, scratch).status, 2);
    fs::remove_all(scratch);
}

// What the bash completion offers, as words.
std::vector<std::string> Completions(const std::vector<std::string>& words) {
    const std::string script =
        std::string(PELNORA_TEST_DATA) + "/../../resources/bash-completion/pelnora-cli";
    std::string line;
    for (const auto& w : words) {
        line += " " + kml_test::Quote(w);
    }
    const std::string command =
        "bash -c " +
        kml_test::Quote("source " + kml_test::Quote(script) + " && COMP_WORDS=(" + line +
                        ") && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && "
                        "_pelnora_cli && printf '%s\\n' \"${COMPREPLY[@]}\"");
    int status = 0;
    const std::string out = kml_test::Run(command, status);
    EXPECT_EQ(status, 0) << command;
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        result.push_back(out.substr(start, end - start));
    }
    return result;
}

// The completion offers every command, and for each command only options its help names.
TEST(CliPrograms, CompletionOffersWhatTheHelpNames) {
    const fs::path scratch =
        fs::temp_directory_path() / ("pelnora-completion-" + std::to_string(getpid()));
    fs::create_directories(scratch);
    const std::string help = RunProgram(kCli, {"--help"}, scratch).out;
    const std::vector<std::string> top = Completions({"pelnora-cli", ""});
    std::size_t commands = 0;
    for (const std::string& word : top) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
        if (word[0] == '-') {
            continue;
        }
        ++commands;
        const std::string own = RunProgram(kCli, {word, "--help"}, scratch).out;
        for (const std::string& option : Completions({"pelnora-cli", word, "--"})) {
            EXPECT_TRUE(own.find(option) != std::string::npos ||
                        help.find(option) != std::string::npos)
                << word << " " << option;
        }
    }
    EXPECT_EQ(commands, 9u);
    const std::vector<std::string> speeds = Completions({"pelnora-cli", "--baud", ""});
    EXPECT_EQ(speeds.size(), 15u);
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
