// Peak memory of a long download: 32 full tracks (64 MiB of point records) read through the
// link from a stand-in device that makes each answer as it is read, with the echo log kept as
// the command-line tool keeps it and every track left where the link put it.
// Usage: bench_memory [tracks]   (default 32; each track is 65535 points, 2 MiB)
// Prints "RESULT key value" lines; the target is peak ≤ 3 × received + 40 MB.

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <vector>

#include "bench/BenchUtil.h"
#include "link/CommandByte.h"
#include "link/DeviceLink.h"
#include "link/EchoLog.h"
#include "link/WireRecords.h"
#include "tests/support/StubTransport.h"

namespace {

using namespace bench;

constexpr uint16_t kPoints = 65535;

// Answers 0xDD with `tracks` full tracks and 0x11 with that track's points, made one record at
// a time, so the device itself holds next to nothing.
class MadeUpDevice : public StubTransport {
public:
    explicit MadeUpDevice(uint32_t tracks) : m_tracks(tracks) {}

    int32_t Write(const uint8_t* data, int32_t count) override {
        for (int32_t i = 0; i < count; ++i) {
            Take(data[i]);
        }
        return count;
    }
    int32_t Read(uint8_t* buffer, int32_t count) override {
        int32_t n = 0;
        while (n < count) {
            if (m_out.empty() && !Refill()) {
                break;
            }
            buffer[n++] = m_out.front();
            m_out.pop_front();
        }
        m_received += static_cast<uint64_t>(n);
        return n;
    }
    uint64_t Received() const { return m_received; }

private:
    void Take(uint8_t byte) {
        if (m_argsWanted > 0) {
            m_page = (m_page << 8) | byte;
            if (--m_argsWanted == 0) {
                m_pointsLeft = kPoints;
                m_sum = kTrackTerminatorSum;
                m_trackOpen = true;
            }
            return;
        }
        if (byte == CommandByte[kCmdReadTrackTable]) {
            for (uint32_t t = 0; t < m_tracks; ++t) {
                TrackTableRecord r;
                r.day = static_cast<uint8_t>(t % 28 + 1);
                r.month = 7;
                r.year = 24;
                r.interval = 1;
                r.startPage.Set(t * 1024);
                r.pointCount.Set(kPoints);
                Put(r.ToBytes());
            }
            Put(kTrackTableTerminator);
        } else if (byte == CommandByte[kCmdDownloadTrack]) {
            m_argsWanted = 3;
            m_page = 0;
        }
    }
    template <typename Array>
    void Put(const Array& bytes) {
        m_out.insert(m_out.end(), bytes.begin(), bytes.end());
    }
    bool Refill() {
        if (!m_trackOpen) {
            return false;
        }
        if (m_pointsLeft > 0) {
            TrackPointRecord p;
            const uint32_t k = kPoints - m_pointsLeft--;
            p.position = {55, static_cast<uint8_t>(k % 60), static_cast<uint8_t>(m_page), 0, 37,
                          static_cast<uint8_t>(k / 60 % 60), 0, static_cast<uint8_t>(k)};
            p.altitude.Set(k % 4000);
            const auto bytes = p.ToBytes();
            for (uint8_t b : bytes) {
                m_sum = static_cast<uint16_t>(m_sum + b);
            }
            Put(bytes);
            return true;
        }
        Put(kTrackTerminator);
        m_out.push_back(static_cast<uint8_t>(m_sum >> 8));
        m_out.push_back(static_cast<uint8_t>(m_sum));
        m_trackOpen = false;
        return true;
    }

    uint32_t m_tracks;
    std::deque<uint8_t> m_out;
    int m_argsWanted = 0;
    uint32_t m_page = 0;
    uint32_t m_pointsLeft = 0;
    uint16_t m_sum = 0;
    bool m_trackOpen = false;
    uint64_t m_received = 0;
};

double PeakMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t tracks = argc > 1 ? static_cast<uint32_t>(std::max(1, std::atoi(argv[1]))) : 32;
    const double startMb = PeakMb();
    MadeUpDevice device(tracks);
    EchoLogRecorder recorder;
    DeviceLink link;
    link.m_transport = &device;
    link.m_terminal = &recorder;
    const auto start = Clock::now();
    if (link.ReadTrackTable().size() != tracks) {
        std::fprintf(stderr, "table of %zu tracks\n", link.m_tracks.size());
        return 1;
    }
    std::vector<const TrackEntry*> kept;
    for (uint32_t i = 0; i < tracks; ++i) {
        const TrackEntry& entry = link.DownloadTrack(i);
        if (!entry.checksumOk) {
            std::fprintf(stderr, "track %u failed its checksum\n", i);
            return 1;
        }
        kept.push_back(&entry);
    }
    const double ms = MsSince(start);
    const double receivedMb = static_cast<double>(device.Received()) / (1024.0 * 1024.0);
    const double peakMb = PeakMb();
    const double limitMb = 3 * receivedMb + 40;
    Result("memory_download_received_mb", receivedMb);
    Result("memory_download_start_mb", startMb);
    Result("memory_download_peak_mb", peakMb);
    Result("memory_download_ratio", peakMb / receivedMb);
    Result("memory_download_limit_mb", limitMb);
    Result("memory_download_within_limit", peakMb <= limitMb ? 1 : 0);
    Result("memory_download_ms", ms);
    Result("memory_download_echo_bytes", static_cast<double>(recorder.Log().ByteCount()));
    return peakMb <= limitMb ? 0 : 1;
}
