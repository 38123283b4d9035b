// Track table and track download exchanges (0xDD, 0x11).

#include <string>

#include "link/CommandByte.h"
#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "link/WireRecords.h"

std::vector<TrackEntry>& DeviceLink::ReadTrackTable() {
    SendCommand(CommandByte[kCmdReadTrackTable]);
    m_tracks.clear();
    while (!m_cancel.load()) {
        TrackTableRecord::Bytes buffer{};
        const int32_t got = Receive(buffer.data(), static_cast<int32_t>(buffer.size()));
        if (buffer == kTrackTableTerminator) {
            break;
        }
        if (got == 0) {
            break;
        }
        if (m_tracks.size() == kMaxTableRecords) {
            throw MCommunication::AnswerException(
                "Прибор не закончил таблицу треков: чтение остановлено после " +
                std::to_string(kMaxTableRecords) + " записей.");
        }
        TrackEntry entry;
        entry.record = buffer;
        m_tracks.push_back(std::move(entry));
    }
    RefreshLog();
    return m_tracks;
}

const TrackEntry& DeviceLink::DownloadTrack(uint32_t index) {
    static const TrackEntry kNoTrack{};
    if (index >= m_tracks.size()) {
        return kNoTrack;
    }
    TrackEntry& entry = m_tracks[index];
    if (entry.checksumOk) {
        return entry;
    }
    entry.points.clear();
    const uint32_t n = entry.PointCount();
    // Room for every announced record and the one extra a device without terminator sends.
    entry.points.reserve(n + 1);

    const TrackTableRecord record = entry.Record();
    SendCommand(CommandByte[kCmdDownloadTrack]);
    Send(record.startPage.bytes, static_cast<int32_t>(sizeof record.startPage.bytes));

    // Prepared once: a short read leaves the previous record's bytes in place.
    TrackPointRecord prepared{};
    prepared.verticalSign = TrackPointRecord::kUpwards;
    TrackPointRecord::Bytes buffer = prepared.ToBytes();
    uint16_t sum = 0;
    uint32_t k = 0;
    bool cancelled = false;
    while (k < n + 1) {
        if (m_cancel.load()) {
            cancelled = true;
            break;
        }
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
    if (entry.points.capacity() - entry.points.size() > 1) {
        entry.points.shrink_to_fit();  // a track cut short keeps no room for what never came
    }

    if (!cancelled) {
        std::array<uint8_t, 2> checksum{};
        const int32_t got = Receive(checksum.data(), static_cast<int32_t>(checksum.size()));
        if (got == 2 && ((checksum[0] << 8) | checksum[1]) == sum) {
            entry.checksumOk = true;
        }
    }
    RefreshLog();
    return entry;
}
