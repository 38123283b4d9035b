#pragma once
// A device on a pseudo-terminal that answers the protocol, for tests, the demo and --simulate.

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sim {

// One recorded track as the device stores it.
struct SimTrack {
    std::array<uint8_t, 12> record{};                // table record; startPage filled by Layout
    std::vector<std::array<uint8_t, 32>> points;     // point records
};

// Misbehaviour the simulator can be told to show. Unset options mean "behave".
struct SimFaults {
    std::optional<uint32_t> badChecksumTrack;     // track index whose checksum is off by one
    std::optional<uint32_t> silenceAfterRecords;  // 0x11: stop sending after k records
    std::optional<uint32_t> shortRecordAt;        // 0x11: record k sent with only 20 bytes
    bool extraRecord = false;                     // 0x11: one record beyond pointCount
    std::optional<uint32_t> marksSent;            // 0x55: announce all, send only this many
    std::optional<std::array<uint8_t, 4>> clearAnswer;  // 0xEE: answer other than EE EE EE EE
    uint32_t clearDelayMs = 0;                    // 0xEE: answer after this delay
    std::optional<uint64_t> hangupAfterBytes;     // close the master after n answer bytes
    std::optional<uint8_t> capability;            // 0x33: answer (default 2)
    std::vector<uint8_t> silentCommands;          // commands that get no answer at all
    uint32_t pacingBaud = 0;                      // >0: send at baud/10 bytes per second
};

// What the device was told, for checks.
struct SimReceived {
    std::optional<std::array<uint8_t, 2>> utcOffset;     // hours, minutes
    std::optional<std::array<uint8_t, 2>> calibration;   // reference, onboard
    std::optional<uint8_t> interval;
    std::vector<uint8_t> routeBytes;   // everything after AA: length byte, points
    uint32_t clearCount = 0;
    std::vector<uint8_t> commands;     // command bytes in order of arrival
};

class DeviceSimulator {
public:
    DeviceSimulator();
    ~DeviceSimulator();  // stops
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    // Opens the pty (raw), starts serving; returns the slave path. Throws std::runtime_error.
    std::string Start();
    void Stop();
    const std::string& SlavePath() const { return m_slavePath; }

    // Device contents (thread-safe; may be changed while serving).
    void SetTracks(std::vector<SimTrack> tracks);  // lays out start pages from 0
    void SetMarks(std::vector<std::array<uint8_t, 8>> marks);
    void SetFaults(const SimFaults& faults);
    void LoadDemoScenario();  // several days of flights near 55.75 N 37.6 E, a dozen marks
    std::vector<SimTrack> Tracks() const;
    SimReceived Received() const;
    std::vector<uint8_t> Route() const;  // last uploaded route bytes (length byte + points)

    // Track checksum as the device sends it: byte sum of the records + 1020, 16 bits.
    static uint16_t Checksum(const SimTrack& track);
    // A point record from readable values.
    static std::array<uint8_t, 32> MakePoint(double lat, double lon, uint16_t altitude,
                                             uint16_t groundSpeed, double verticalSpeed,
                                             uint16_t airSpeed);
    // A table record; startPage is set by SetTracks.
    static std::array<uint8_t, 12> MakeRecord(int day, int month, int year, int hour, int minute,
                                              int second, uint8_t interval, uint16_t pointCount);

private:
    void Serve();

    mutable std::mutex m_mutex;
    int m_master = -1;
    int m_wakePipe[2] = {-1, -1};
    std::string m_slavePath;
    std::thread m_thread;
    std::vector<SimTrack> m_tracks;
    std::vector<std::array<uint8_t, 8>> m_marks;
    SimFaults m_faults;
    SimReceived m_received;
};

}  // namespace sim
