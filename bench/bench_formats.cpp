// GPX, KML with time and IGC of one 65535-point track, each beside gpsbabel converting the
// same points (a plain GPX) into the same format; and the peak memory of writing all three.
// Usage: bench_formats [runs] [folder]
// Prints "RESULT key value" lines (times in ms unless the key says otherwise).

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "sim/DeviceSimulator.h"
#include "tracks/TrackFormats.h"
#include "tracks/TrackTimeline.h"

namespace {

using namespace bench;

// The same points as a plain GPX track for gpsbabel to read.
void WritePlainGpx(const TrackEntry& entry, const ClockOffset& offset, const std::string& path) {
    const TrackTimeline track(entry, offset);
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"bench\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
        "<trk><name>bench</name><trkseg>\n";
    for (std::size_t i = 0; i < track.Size(); ++i) {
        const TimedPoint p = track.At(i);
        out += "<trkpt lat=\"";
        AppendFixed(out, p.latitude, 7);
        out += "\" lon=\"";
        AppendFixed(out, p.longitude, 7);
        out += "\"><ele>";
        AppendUnsigned(out, p.altitude);
        out += "</ele><time>";
        AppendIsoUtc(out, p.utc);
        out += "</time></trkpt>\n";
    }
    out += "</trkseg></trk>\n</gpx>\n";
    std::ofstream(path, std::ios::binary) << out;
}

uint64_t SizeOf(const std::string& path) {
    namespace fs = std::filesystem;
    if (fs::is_directory(path)) {
        uint64_t total = 0;
        for (const auto& f : fs::directory_iterator(path)) {
            total += fs::file_size(f.path());
        }
        return total;
    }
    return fs::exists(path) ? fs::file_size(path) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const ClockOffset offset = *ClockOffset::Device(3, 0);
    const std::vector<TrackEntry> tracks = {BigEntry()};
    const std::string input = dir + "/bench-formats-input.gpx";
    WritePlainGpx(tracks[0], offset, input);

    struct Case {
        TrackFormat format;
        const char* key;
        const char* babelType;
        std::string ours;
        std::string theirs;
    };
    std::vector<Case> cases = {
        {TrackFormat::Gpx, "gpx", "gpx", dir + "/bench-formats.gpx", dir + "/bench-babel.gpx"},
        {TrackFormat::KmlTime, "kml_time", "kml", dir + "/bench-formats.kml",
         dir + "/bench-babel.kml"},
        {TrackFormat::Igc, "igc", "igc", dir + "/bench-formats-igc", dir + "/bench-babel.igc"},
    };
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (const Case& c : cases) {
        std::vector<double> ours, oursCpu, theirs, ratios;
        const std::string babel = std::string("gpsbabel -i gpx -f '") + input + "' -o " +
                                  c.babelType + " -F '" + c.theirs + "'";
        for (int r = 0; r < runs; ++r) {
            std::string error;
            auto start = Clock::now();
            const double cpu = ThreadCpuMs();
            if (WriteTracks(c.format, c.ours, tracks, offset, &error) != KmlWriteResult::Written) {
                std::fprintf(stderr, "%s: %s\n", c.key, error.c_str());
                return 1;
            }
            ours.push_back(MsSince(start));
            oursCpu.push_back(ThreadCpuMs() - cpu);
            start = Clock::now();
            if (std::system(babel.c_str()) != 0) {
                std::fprintf(stderr, "gpsbabel failed: %s\n", babel.c_str());
                return 1;
            }
            theirs.push_back(MsSince(start));
            ratios.push_back(theirs.back() / ours.back());
        }
        const std::string key = c.key;
        Result((key + "_file_bytes").c_str(), static_cast<double>(SizeOf(c.ours)));
        Result((key + "_write_ms").c_str(), Median(ours));
        Result((key + "_write_cpu_ms").c_str(), Median(oursCpu));
        Result((key + "_gpsbabel_ms").c_str(), Median(theirs));
        Result((key + "_ratio").c_str(), Median(ratios));
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    Result("formats_memory_start_mb", before.ru_maxrss / 1024.0);
    Result("formats_memory_peak_mb", after.ru_maxrss / 1024.0);
    std::filesystem::remove(input);
    for (const Case& c : cases) {
        std::filesystem::remove_all(c.ours);
        std::filesystem::remove(c.theirs);
    }
    return 0;
}
