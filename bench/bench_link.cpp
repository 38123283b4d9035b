// Speed and memory of the core against the simulator: downloads, echo log, KML, route import.
// Usage: bench_link paced|pty|echo|kml|route|memory [runs]
// Prints "RESULT key value" lines (times in ms unless the key says otherwise).

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <tinyxml.h>

#include "bench/BenchUtil.h"
#include "link/DataFormats.h"
#include "link/DeviceLink.h"
#include "link/EchoLog.h"
#include "marks_route/Route.h"
#include "sim/DeviceSimulator.h"
#include "tracks/TrackKml.h"

namespace {

using namespace bench;

// Keeps the chunks as the terminal page does; rendering is measured on its own.
class AppendOnlySink : public LogSink {
public:
    void LogChunk(int32_t count, const uint8_t* data, bool received) override {
        m_log.Append(count, data, received);
    }
    void RefreshLog() override {}
    EchoLog m_log;
};

struct Bench {
    sim::DeviceSimulator sim;
    DeviceLink link;
    std::string path;

    explicit Bench(std::vector<sim::SimTrack> tracks) {
        BuildDeviceCharTable();
        sim.SetTracks(std::move(tracks));
        path = sim.Start();
        Open();
        link.ReadTrackTable();
    }
    void Open() {
        link.m_port.Open(path, 115200, 0, 8, 0);
        link.m_port.SetTimeouts(1000, 1000);
    }
    TrackEntry Download(uint32_t index) {
        link.m_tracks[index].checksumOk = false;
        TrackEntry got = link.DownloadTrack(index);
        if (!got.checksumOk) {
            std::fprintf(stderr, "download of track %u failed\n", index);
            std::exit(1);
        }
        return got;
    }
};

// 10 tracks at 115200 with the simulator sending at the line rate.
int Paced(int runs) {
    constexpr int kTracks = 10;
    constexpr uint16_t kPoints = 100;
    std::vector<sim::SimTrack> tracks(kTracks, sim::DeviceSimulator::MakeBigTrack(kPoints));
    Bench b(tracks);
    sim::SimFaults faults;
    faults.pacingBaud = 115200;
    b.sim.SetFaults(faults);
    const double wireBytes = kTracks * (4.0 + (kPoints + 1) * 32.0 + 2.0);
    const double lineMs = wireBytes * 10 / 115200 * 1000;
    std::vector<double> totals;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        for (uint32_t i = 0; i < kTracks; ++i) {
            b.Download(i);
        }
        totals.push_back(MsSince(start));
    }
    const double total = Median(totals);
    Result("paced_tracks", kTracks);
    Result("paced_wire_bytes", wireBytes);
    Result("paced_line_ms", lineMs);
    Result("paced_total_ms", total);
    Result("paced_overhead_per_track_ms", (total - lineMs) / kTracks);
    return 0;
}

// The same answer read as bare 32-byte records from a raw descriptor on the same pty.
double BareReadLoop(const std::string& path, const std::array<uint8_t, 12>& record,
                    std::size_t expected, double* cpuMs) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::perror("open");
        std::exit(1);
    }
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    const auto start = Clock::now();
    const double cpu = ThreadCpuMs();
    const uint8_t command[4] = {0x11, record[6], record[7], record[8]};
    if (write(fd, command, 4) != 4) {
        std::perror("write");
        std::exit(1);
    }
    uint8_t buffer[32];
    std::size_t total = 0;
    while (total < expected) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0) {
            break;
        }
        const ssize_t n = read(fd, buffer, std::min<std::size_t>(32, expected - total));
        if (n > 0) {
            total += static_cast<std::size_t>(n);
        }
    }
    const double ms = MsSince(start);
    *cpuMs = ThreadCpuMs() - cpu;
    close(fd);
    if (total != expected) {
        std::fprintf(stderr, "bare loop got %zu of %zu bytes\n", total, expected);
        std::exit(1);
    }
    return ms;
}

// One 65535-point track unpaced over the pty, against the bare loop, alternating.
int Pty(int runs) {
    Bench b({sim::DeviceSimulator::MakeBigTrack(65535)});
    const std::size_t expected = (65535 + 1) * 32 + 2;
    std::vector<double> walls, cpus, bares, bareCpus, ratios;
    for (int r = 0; r < runs; ++r) {
        AppendOnlySink sink;
        b.link.m_terminal = &sink;
        const auto start = Clock::now();
        const double cpu = ThreadCpuMs();
        b.Download(0);
        walls.push_back(MsSince(start));
        cpus.push_back(ThreadCpuMs() - cpu);
        b.link.m_terminal = nullptr;
        b.link.m_port.Close();
        double bareCpu = 0;
        bares.push_back(BareReadLoop(b.path, b.link.m_tracks[0].record, expected, &bareCpu));
        bareCpus.push_back(bareCpu);
        ratios.push_back(walls.back() / bares.back());
        b.Open();
    }
    Result("pty_download_ms", Median(walls));
    Result("pty_download_cpu_ms", Median(cpus));
    Result("pty_bare_ms", Median(bares));
    Result("pty_bare_cpu_ms", Median(bareCpus));
    Result("pty_ratio", Median(ratios));
    return 0;
}

// Rendering the echo log of a whole 2 MiB download into the terminal text.
int Echo(int runs) {
    Bench b({sim::DeviceSimulator::MakeBigTrack(65535)});
    AppendOnlySink sink;
    b.link.m_terminal = &sink;
    b.Download(0);
    std::vector<double> times, cpus;
    std::size_t length = 0;
    for (int r = 0; r < runs; ++r) {
        EchoLog log = sink.m_log;
        const auto start = Clock::now();
        const double cpu = ThreadCpuMs();
        length = log.Render().size();
        times.push_back(MsSince(start));
        cpus.push_back(ThreadCpuMs() - cpu);
    }
    Result("echo_chunks", static_cast<double>(sink.m_log.Chunks().size()));
    Result("echo_text_bytes", static_cast<double>(length));
    Result("echo_render_ms", Median(times));
    Result("echo_render_cpu_ms", Median(cpus));
    return 0;
}

// WriteTrackKml against gpsbabel turning the same points, as GPX, into KML.
int Kml(int runs, const std::string& dir) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    BuildDeviceCharTable();
    const std::vector<TrackEntry> tracks = {BigEntry()};
    const std::string gpx = dir + "/bench-track.gpx";
    {
        std::ofstream out(gpx);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<gpx version=\"1.1\" creator=\"bench\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
               "<trk><name>bench</name><trkseg>\n";
        char line[256];
        const TrackEntry& e = tracks[0];
        for (std::size_t i = 0; i < e.points.size(); ++i) {
            const TrackPoint& p = e.points[i];
            const long s = static_cast<long>(i) * e.Interval();
            std::snprintf(line, sizeof line,
                          "<trkpt lat=\"%.6f\" lon=\"%.6f\"><ele>%u</ele>"
                          "<time>2024-07-01T%02ld:%02ld:%02ldZ</time></trkpt>\n",
                          p.Latitude(), p.Longitude(), p.Altitude(), (8 + s / 3600) % 24,
                          s / 60 % 60, s % 60);
            out << line;
        }
        out << "</trkseg></trk>\n</gpx>\n";
    }
    const std::string kml = dir + "/bench-track.kml";
    const std::string babelOut = dir + "/bench-gpsbabel.kml";
    const std::string babel = "gpsbabel -i gpx -f '" + gpx + "' -o kml -F '" + babelOut + "'";
    std::vector<double> ours, theirs, ratios, builds, buildCpus, writeCpus;
    for (int r = 0; r < runs; ++r) {
        std::string error;
        auto start = Clock::now();
        const double cpu = ThreadCpuMs();
        const std::size_t built = BuildTrackKml(tracks, "bench-track.kml").size();
        builds.push_back(MsSince(start));
        buildCpus.push_back(ThreadCpuMs() - cpu);
        (void)built;
        start = Clock::now();
        const double writeCpu = ThreadCpuMs();
        if (WriteTrackKml(tracks, kml, &error) != KmlWriteResult::Written) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        ours.push_back(MsSince(start));
        writeCpus.push_back(ThreadCpuMs() - writeCpu);
        start = Clock::now();
        if (std::system(babel.c_str()) != 0) {
            std::fprintf(stderr, "gpsbabel failed\n");
            return 1;
        }
        theirs.push_back(MsSince(start));
        ratios.push_back(theirs.back() / ours.back());
    }
    std::ifstream in(kml, std::ios::binary | std::ios::ate);
    Result("kml_file_bytes", static_cast<double>(in.tellg()));
    Result("kml_build_text_ms", Median(builds));
    Result("kml_build_text_cpu_ms", Median(buildCpus));
    Result("kml_write_ms", Median(ours));
    Result("kml_write_cpu_ms", Median(writeCpus));
    Result("kml_gpsbabel_ms", Median(theirs));
    Result("kml_ratio", Median(ratios));
    std::remove(gpx.c_str());
    std::remove(kml.c_str());
    std::remove(babelOut.c_str());
    return 0;
}

// Reads path in a child process: wall time and the child's peak memory. False if it failed.
bool ReadRouteInChild(const std::string& path, double& ms, double& peakMb, bool& refused) {
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        const RouteReading reading = ReadRouteFile(path);
        ::_exit(reading.Refused() ? 1 : 0);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)) {
        return false;
    }
    ms = MsSince(start);
    peakMb = usage.ru_maxrss / 1024.0;
    refused = WEXITSTATUS(status) != 0;
    return true;
}

// Files built to cost the parser the most, each read in a fresh process.
struct HostileRoute {
    const char* key;
    std::string (*make)();
};

std::string KmlHead() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml><Document>\n";
}

const HostileRoute kHostileRoutes[] = {
    // Quadratic in the parser's duplicate check: 25 s before the markup was bounded.
    {"attributes_100k_one_element",
     [] {
         std::string text = KmlHead() + "<Folder";
         for (int i = 0; i < 100000; ++i) {
             text += " a" + std::to_string(i) + "=\"\"";
         }
         return text + "/>\n</Document></kml>\n";
     }},
    // The most attributes the scan lets through, 64 on each element.
    {"attributes_at_bound",
     [] {
         std::string text = KmlHead();
         for (int e = 0; e < 1562; ++e) {
             text += "<Folder";
             for (int i = 0; i < 64; ++i) {
                 text += " a" + std::to_string(i) + "=\"v\"";
             }
             text += "/>\n";
         }
         return text + "</Document></kml>\n";
     }},
    // 16 MiB of small elements: 953 MB before the size cap fell to 8 MiB.
    {"small_elements_16mib",
     [] {
         std::string text = KmlHead();
         while (text.size() < (16u << 20)) {
             text += "<a/>";
         }
         return text + "</Document></kml>\n";
     }},
    // The most markup under the cap, each element with a long value and a text.
    {"elements_at_bound",
     [] {
         std::string text = KmlHead();
         const std::string value(30, 'v');
         for (int i = 0; i < 99990; ++i) {
             text += "<a b=\"" + value + "\">" + value + "</a>\n";
         }
         return text + "</Document></kml>\n";
     }},
    // Nearly 8 MiB of character references in one text.
    {"references_8mib",
     [] {
         std::string text = KmlHead() + "<description>";
         while (text.size() < (8u << 20) - 200) {
             text += "&#x416;&amp; ";
         }
         return text + "</description>\n</Document></kml>\n";
     }},
    // One text of nearly 8 MiB.
    {"one_text_8mib",
     [] {
         return KmlHead() + "<description>" + std::string((8u << 20) - 200, 'x') +
                "</description>\n</Document></kml>\n";
     }},
};

// LoadRouteFile on a KML document of 10 000 placemarks, then the hostile files.
int Route(int runs, const std::string& dir) {
    BuildDeviceCharTable();
    const std::string path = dir + "/bench-route.kml";
    {
        std::ofstream out(path);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n<name>bench</name>\n";
        char line[512];
        for (int i = 0; i < 10000; ++i) {
            std::snprintf(line, sizeof line,
                          "<Placemark>\n<name>WP%04d</name>\n<description>Route point %d "
                          "of the benchmark route, near the field</description>\n"
                          "<styleUrl>#point</styleUrl>\n<Point>\n<coordinates>%.6f,%.6f,0"
                          "</coordinates>\n</Point>\n</Placemark>\n",
                          i, i, 37.6 + i * 1e-4, 55.75 + i * 1e-4);
            out << line;
        }
        out << "</Document>\n</kml>\n";
    }
    std::vector<double> times;
    std::string error;
    bool ok = false;
    std::vector<RoutePoint> route;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        ok = LoadRouteFile(path, route, &error);
        times.push_back(MsSince(start));
    }
    // The whole reading, without the early refusal: document, placemarks, every point.
    std::vector<double> fullTimes;
    std::size_t points = 0;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        TiXmlDocument document;
        document.LoadFile(path.c_str(), TIXML_ENCODING_UTF8);
        std::vector<const TiXmlElement*> placemarks;
        FindPlacemarks(&document, placemarks);
        std::vector<RoutePoint> all;
        all.reserve(placemarks.size());
        for (const TiXmlElement* placemark : placemarks) {
            all.push_back(ReadRoutePoint(placemark));
            ToDeviceName(all.back().name);
        }
        fullTimes.push_back(MsSince(start));
        points = all.size();
    }
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Result("route_file_bytes", static_cast<double>(in.tellg()));
    Result("route_import_ms", Median(times));
    Result("route_accepted", ok ? 1 : 0);
    Result("route_full_read_ms", Median(fullTimes));
    Result("route_full_read_points", static_cast<double>(points));
    std::printf("NOTE route_answer %s\n", ok ? "accepted" : error.c_str());
    std::remove(path.c_str());

    // Each hostile file: median wall time and the largest peak memory of a whole read.
    double worstMs = 0;
    double worstMb = 0;
    for (const HostileRoute& hostile : kHostileRoutes) {
        const std::string file = dir + "/bench-route-" + hostile.key + ".kml";
        std::size_t bytes = 0;
        {
            const std::string text = hostile.make();  // gone before the reading forks
            bytes = text.size();
            std::ofstream(file, std::ios::binary) << text;
        }
        std::vector<double> ms;
        double peakMb = 0;
        bool refused = false;
        for (int r = 0; r < runs; ++r) {
            double t = 0;
            double mb = 0;
            if (!ReadRouteInChild(file, t, mb, refused)) {
                std::fprintf(stderr, "route %s: the reading process failed\n", hostile.key);
                return 1;
            }
            ms.push_back(t);
            peakMb = std::max(peakMb, mb);
        }
        std::remove(file.c_str());
        const std::string key = std::string("route_hostile_") + hostile.key;
        Result((key + "_bytes").c_str(), static_cast<double>(bytes));
        Result((key + "_ms").c_str(), Median(ms));
        Result((key + "_peak_mb").c_str(), peakMb);
        std::printf("NOTE %s %s\n", key.c_str(), refused ? "refused" : "read");
        worstMs = std::max(worstMs, Median(ms));
        worstMb = std::max(worstMb, peakMb);
    }
    Result("route_hostile_worst_ms", worstMs);
    Result("route_hostile_worst_peak_mb", worstMb);
    return 0;
}

// Peak memory of a 2 MiB download with its echo log rendered, then its KML export.
int Memory(const std::string& dir) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    EchoLogRecorder recorder;  // renders on refresh, as the terminal does
    std::vector<TrackEntry> kept;
    {
        Bench b({sim::DeviceSimulator::MakeBigTrack(65535)});
        b.link.m_terminal = &recorder;
        kept.push_back(b.Download(0));
    }
    std::string error;
    const std::string kml = dir + "/bench-memory.kml";
    if (WriteTrackKml(kept, kml, &error) != KmlWriteResult::Written) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::remove(kml.c_str());
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    Result("memory_start_mb", before.ru_maxrss / 1024.0);
    Result("memory_peak_mb", after.ru_maxrss / 1024.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_link paced|pty|echo|kml|route|memory [runs]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = tmp != nullptr ? tmp : "/tmp";
    if (mode == "paced") return Paced(runs);
    if (mode == "pty") return Pty(runs);
    if (mode == "echo") return Echo(runs);
    if (mode == "kml") return Kml(runs, dir);
    if (mode == "route") return Route(runs, dir);
    if (mode == "memory") return Memory(dir);
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
