#pragma once
// The commands of the device protocol, carried over the serial port and echoed to a sink.

#include <atomic>
#include <cstdint>
#include <vector>

#include "link/ComPort.h"
#include "link/DataFormats.h"
#include "link/EchoLog.h"
#include "link/RoutePoint.h"
#include "link/TrackEntry.h"

// Owns the port, the track table and the download fraction; one command at a time.
class DeviceLink {
public:
    // Every track begins on a page of its own, so the memory describes at most kMemoryPages
    // tracks; a table read stops at 2^16 records, far beyond any pilot's log, and takes such
    // a table as a device that does not end its answer (about 1 MB of records, a minute at
    // 115200).
    static constexpr uint32_t kMaxTableRecords = 65536;
    static_assert(kMaxTableRecords <= kMemoryPages);
    // Most stale bytes one drain reads off (a device that never stops sending).
    static constexpr int32_t kMaxDrainBytes = 65536;

    DeviceLink() = default;
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Reads off what is waiting on the line, without waiting, and logs it as received. Every
    // command does so before its first byte; call it right after opening the port as well.
    void DrainInput();

    // Settings commands.
    uint8_t QueryDevice();  // answer byte; 1 when silent; 0xFF when the port is closed
    void SetUtcOffset(uint8_t hours, uint8_t minutes);
    void SendAnemometerCalibration(uint8_t reference, uint8_t onboard);
    bool ClearTrackMemory();  // true when the device answered EE EE EE EE
    void SetTrackInterval(uint8_t value);

    // Tracks.
    // Past kMaxTableRecords throws AnswerException; m_tracks keeps the records read, as it
    // does after a link error or when m_cancel stops the read.
    std::vector<TrackEntry>& ReadTrackTable();
    // The entry in m_tracks with its points; out of range, an empty entry. Valid until the
    // next ReadTrackTable. Stopped by m_cancel, the entry keeps the records that came.
    const TrackEntry& DownloadTrack(uint32_t index);

    // Marks and route.
    // The whole marks that came, in order; a mark cut short ends the read (nothing is made
    // up for what did not arrive). *answered: the count byte came; *announced: that count.
    std::vector<PackedPosition> ReadMarks(bool* answered = nullptr, unsigned* announced = nullptr);
    bool UploadRoute(const std::vector<RoutePoint>& route);  // false above 255 points

    MCommunication::ComPort m_port;
    // What the commands talk through: the port, or a stand-in transport in tests and fuzzing.
    MCommunication::Transport* m_transport = &m_port;
    LogSink* m_terminal = nullptr;
    // Destroyed before m_port, which then closes the line.
    std::vector<TrackEntry> m_tracks;
    std::atomic<double> m_progress{0.0};
    // Set from any thread to stop ReadTrackTable or DownloadTrack between records. The link
    // never clears it: whoever starts a read clears it first.
    std::atomic<bool> m_cancel{false};
    // How long ClearTrackMemory waits for its answer, ms (the device erases meanwhile).
    int32_t m_clearTimeout = 20000;

private:
    // Drains the line, then writes the command's first byte(s) and echoes them as sent.
    void SendCommand(const uint8_t* data, int32_t count);
    void SendCommand(uint8_t byte) { SendCommand(&byte, 1); }
    // Bytes drained, all logged as received.
    int32_t DrainStale();
    // Write one field and echo it as sent (the requested count is logged).
    void Send(const uint8_t* data, int32_t count);
    void Send(uint8_t byte) { Send(&byte, 1); }
    // Read up to count bytes and echo what arrived as received.
    int32_t Receive(uint8_t* data, int32_t count);
    void LogChunk(int32_t count, const uint8_t* data, bool received);
    void RefreshLog();
};
