#pragma once
// Timing and reporting shared by the benchmark programs.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "link/TrackEntry.h"
#include "sim/DeviceSimulator.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of the calling thread.
inline double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

// One figure for scripts/bench.sh to pick up.
inline void Result(const char* key, double value) {
    std::printf("RESULT %s %.3f\n", key, value);
    std::fflush(stdout);
}

// The 65535-point track (2 MiB) of the simulator, as downloaded whole.
inline TrackEntry BigEntry() {
    const sim::SimTrack t = sim::DeviceSimulator::MakeBigTrack(65535);
    TrackEntry e;
    e.record = t.record;
    e.points.resize(t.points.size());
    for (std::size_t i = 0; i < t.points.size(); ++i) {
        e.points[i].bytes = t.points[i];
    }
    e.checksumOk = true;
    return e;
}

}  // namespace bench
