#pragma once
// A device on a pseudo-terminal that answers the protocol, for tests, the demo and --simulate.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace sim {

// One recorded track as the device stores it.
struct SimTrack {
    std::array<uint8_t, 12> record{};             // table record; startPage filled by Layout
    std::vector<std::array<uint8_t, 32>> points;  // point records
};

// Misbehaviour the simulator can be told to show. Unset options mean "behave".
struct SimFaults {
    std::optional<uint32_t> badChecksumTrack;           // track index whose checksum is off by one
    std::optional<uint32_t> silenceAfterRecords;        // 0x11: stop sending after k records
    std::optional<uint32_t> shortRecordAt;              // 0x11: record k sent with only 20 bytes
    uint32_t shortRecordPauseMs = 1200;                 // quiet gap after the short record
    bool extraRecord = false;                           // 0x11: one record beyond pointCount
    std::optional<uint32_t> marksSent;                  // 0x55: announce all, send only this many
    std::optional<std::array<uint8_t, 4>> clearAnswer;  // 0xEE: answer other than EE EE EE EE
    uint32_t clearDelayMs = 0;                          // 0xEE: answer after this delay
    std::optional<uint64_t> hangupAfterBytes;           // close the master after n answer bytes
    std::optional<uint8_t> capability;                  // 0x33: answer (default 2)
    std::vector<uint8_t> silentCommands;                // commands that get no answer at all
    uint32_t pacingBaud = 0;                            // >0: send at baud/10 bytes per second
    // A new command discards what the client has not read of the answer before it (a device
    // finishes its answer; this one throws the rest away).
    bool dropPendingAnswer = false;
    bool endlessTable = false;             // 0xDD: records for ever, never the terminator
    std::vector<uint8_t> junkAfterAnswer;  // sent after every answer
    uint32_t byteIntervalMs = 0;           // >0: each answer byte alone, this long after the last
    // Line noise: every table and point record arrives as random bytes; the terminators and
    // the checksum (of the stored records) arrive intact.
    bool garbageRecords = false;
};

// What the device was told, for checks.
struct SimReceived {
    std::optional<std::array<uint8_t, 2>> utcOffset;    // hours, minutes
    std::optional<std::array<uint8_t, 2>> calibration;  // reference, onboard
    std::optional<uint8_t> interval;
    std::vector<uint8_t> routeBytes;  // everything after AA: length byte, points
    uint32_t routeCount = 0;          // completed uploads
    uint32_t clearCount = 0;
    std::vector<uint8_t> commands;  // command bytes in order of arrival
    uint64_t bytesIn = 0;           // every byte the device read
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
    // True once the device hung up (fault) or was stopped.
    bool HungUp() const { return m_hungUp.load(); }

    // Device contents (thread-safe; may be changed while serving).
    // layout: start pages from page 0, each track after the pages of the one before (an empty
    // track takes none); false keeps the start pages already in the records.
    void SetTracks(std::vector<SimTrack> tracks, bool layout = true);
    void SetMarks(std::vector<std::array<uint8_t, 8>> marks);
    void SetFaults(const SimFaults& faults);  // also restarts the hang-up byte count
    // Seven flights over four days near 55.75 N 37.6 E and twelve marks; faults stay as set.
    void LoadDemoScenario();
    std::vector<SimTrack> Tracks() const;
    std::vector<std::array<uint8_t, 8>> Marks() const;
    SimReceived Received() const;
    void ClearReceived();
    std::vector<uint8_t> Route() const;  // last uploaded route bytes (length byte + points)
    // A route upload ends when the line has been quiet this long (the length byte wraps).
    void SetRouteQuietMs(uint32_t ms);
    // Waits until at least count route uploads have ended; false on time-out.
    bool WaitForRoute(uint32_t count, uint32_t timeoutMs) const;
    uint64_t AnswerBytes() const { return m_answerBytes.load(); }  // every byte answered

    // Track checksum as the device sends it: byte sum of the records + 1020, 16 bits.
    static uint16_t Checksum(const SimTrack& track);
    // A point record from readable values (vertical speed in m/s, negative downwards).
    static std::array<uint8_t, 32> MakePoint(double lat, double lon, uint16_t altitude,
                                             uint16_t groundSpeed, double verticalSpeed,
                                             uint16_t airSpeed);
    // A table record; startPage is set by SetTracks. year: full (2024) or since 2000 (24).
    static std::array<uint8_t, 12> MakeRecord(int day, int month, int year, int hour, int minute,
                                              int second, uint8_t interval, uint16_t pointCount);
    // A long track of synthetic points (65535 points make 2 MiB), built quickly.
    static SimTrack MakeBigTrack(uint16_t points);
    // Start page of a table record.
    static uint32_t StartPage(const std::array<uint8_t, 12>& record);
    static void SetStartPage(std::array<uint8_t, 12>& record, uint32_t page);

private:
    enum class State { Idle, Arguments, Route };

    void Serve();
    void Feed(uint8_t byte);
    void BeginCommand(uint8_t command);
    void FinishArguments();
    void FinishRoute();
    bool Silent(uint8_t command) const;
    void AnswerTrack(uint32_t startPage);
    bool Answer(const uint8_t* data, size_t count);
    bool Answer(const std::vector<uint8_t>& data) { return Answer(data.data(), data.size()); }
    bool WriteAll(const uint8_t* data, size_t count);
    bool WaitMs(uint32_t ms);  // false when stopped meanwhile
    void HangUp();
    void BeginAnswer();
    bool Reply(std::vector<uint8_t> answer);  // one whole answer, then any junk
    std::vector<uint8_t> Junk() const;        // what the fault sends after each answer
    bool SendJunk();
    void AnswerEndlessTable();
    void Garble(uint8_t* record, size_t size, const uint8_t* avoid);
    void WatchClients();   // open/close events of the slave
    void DiscardUnread();  // the answer bytes no client has read yet

    mutable std::mutex m_mutex;
    int m_master = -1;
    int m_slave = -1;  // held open so the master never sees the client's close
    int m_watch = -1;  // inotify on the slave: a client's last close ends its exclusive use
    int m_wakePipe[2] = {-1, -1};
    std::string m_slavePath;
    std::thread m_thread;
    std::vector<SimTrack> m_tracks;
    std::vector<std::array<uint8_t, 8>> m_marks;
    SimFaults m_faults;
    SimReceived m_received;
    uint32_t m_routeQuietMs = 200;

    // Serving thread only.
    State m_state = State::Idle;
    uint8_t m_command = 0;
    size_t m_argumentsNeeded = 0;
    std::vector<uint8_t> m_arguments;
    std::vector<uint8_t> m_routeBuffer;
    bool m_stopping = false;
    uint64_t m_paceSent = 0;
    int m_clients = 0;  // opens of the slave not yet closed, other than m_slave
    std::mt19937 m_noise{0x5EED};
    std::chrono::steady_clock::time_point m_paceStart;

    std::atomic<bool> m_hungUp{false};
    std::atomic<uint64_t> m_answerBytes{0};
    std::atomic<uint64_t> m_faultBytes{0};  // answer bytes since the faults were set
    mutable std::condition_variable m_routeDone;
};

}  // namespace sim
