#pragma once
// The commands of the device protocol, carried over the serial port and echoed to a sink.

#include <atomic>
#include <cstdint>
#include <vector>

#include "link/ComPort.h"
#include "link/DataFormats.h"
#include "link/EchoLog.h"
#include "marks_route/RoutePoint.h"
#include "tracks/TrackEntry.h"

// Owns the port, the track table and the download fraction; one command at a time.
class DeviceLink {
public:
    DeviceLink() = default;
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Settings commands.
    uint8_t QueryDevice();  // answer byte; 1 when silent; 0xFF when the port is closed
    void SetUtcOffset(uint8_t hours, uint8_t minutes);
    void SendAnemometerCalibration(uint8_t reference, uint8_t onboard);
    bool ClearTrackMemory();  // true when the device answered EE EE EE EE
    void SetTrackInterval(uint8_t value);

    // Tracks.
    std::vector<TrackEntry>& ReadTrackTable();
    TrackEntry DownloadTrack(uint32_t index);

    // Marks and route.
    // A device that sends no count byte at all: *answered (when given) is set false.
    std::vector<PackedPosition> ReadMarks(bool* answered = nullptr);
    bool UploadRoute(const std::vector<RoutePoint>& route);  // false above 255 points

    MCommunication::ComPort m_port;
    // What the commands talk through: the port, or a stand-in transport in tests and fuzzing.
    MCommunication::Transport* m_transport = &m_port;
    LogSink* m_terminal = nullptr;
    std::vector<TrackEntry> m_tracks;
    std::atomic<double> m_progress{0.0};
    // How long ClearTrackMemory waits for its answer, ms (the device erases meanwhile).
    int32_t m_clearTimeout = 20000;

private:
    // Write one field and echo it as sent (the requested count is logged).
    void Send(const uint8_t* data, int32_t count);
    void Send(uint8_t byte) { Send(&byte, 1); }
    // Read up to count bytes and echo what arrived as received.
    int32_t Receive(uint8_t* data, int32_t count);
    void LogChunk(int32_t count, const uint8_t* data, bool received);
    void RefreshLog();
};
