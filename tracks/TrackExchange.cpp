// Track table and track download exchanges (0xDD, 0x11).

#include <array>

#include "link/CommandByte.h"
#include "link/DeviceLink.h"
#include "tracks/TrackTable.h"

std::vector<TrackEntry>& DeviceLink::ReadTrackTable() {
    Send(CommandByte[kCmdReadTrackTable]);
    m_tracks.clear();
    for (;;) {
        std::array<uint8_t, 12> buffer{};
        const int32_t got = Receive(buffer.data(), static_cast<int32_t>(buffer.size()));
        if (buffer == kTrackTableTerminator) {
            break;
        }
        if (got == 0) {
            break;
        }
        TrackEntry entry;
        entry.record = buffer;
        m_tracks.push_back(std::move(entry));
    }
    RefreshLog();
    return m_tracks;
}

TrackEntry DeviceLink::DownloadTrack(uint32_t index) {
    if (index >= m_tracks.size()) {
        return TrackEntry{};
    }
    TrackEntry& entry = m_tracks[index];
    if (entry.checksumOk) {
        return entry;
    }
    entry.points.clear();

    Send(CommandByte[kCmdDownloadTrack]);
    Send(entry.record.data() + 6, 3);

    // Prepared once: a short read leaves the previous record's bytes in place.
    std::array<uint8_t, 32> buffer{};
    buffer[15] = 0x77;
    uint16_t sum = 0;
    const uint32_t n = entry.PointCount();
    uint32_t k = 0;
    while (k < n + 1) {
        if (Receive(buffer.data(), static_cast<int32_t>(buffer.size())) == 0) {
            break;
        }
        if (buffer == kTrackTerminator) {
            sum = static_cast<uint16_t>(sum + kTrackTerminatorSum);
            break;
        }
        for (const uint8_t b : buffer) {
            sum = static_cast<uint16_t>(sum + b);
        }
        entry.points.push_back(TrackPoint{buffer});
        ++k;
        // With pointCount 0 this is k / 0, a non-finite value; the dialog shows it as 0.
        m_progress.store(static_cast<double>(k) / static_cast<double>(n));
    }

    std::array<uint8_t, 2> checksum{};
    const int32_t got = Receive(checksum.data(), static_cast<int32_t>(checksum.size()));
    if (got == 2 && ((checksum[0] << 8) | checksum[1]) == sum) {
        entry.checksumOk = true;
    }
    RefreshLog();
    return entry;
}
