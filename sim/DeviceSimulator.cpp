// The simulator's pseudo-terminal and the device contents it serves.

#include <fcntl.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "sim/DeviceSimulator.h"
#include "link/TrackEntry.h"

namespace sim {

namespace {

constexpr uint32_t kRecordsPerPage = kPageBytes / kPointBytes;

std::runtime_error SystemError(const char* what) {
    return std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

DeviceSimulator::DeviceSimulator() = default;

DeviceSimulator::~DeviceSimulator() {
    Stop();
}

std::string DeviceSimulator::Start() {
    if (m_thread.joinable()) {
        return m_slavePath;
    }
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        throw SystemError("posix_openpt");
    }
    char name[128] = {};
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, name, sizeof name) != 0) {
        const auto error = SystemError("pseudo-terminal");
        close(m_master);
        m_master = -1;
        throw error;
    }
    m_slavePath = name;
    // Raw before any byte passes: a cooked line turns CR into LF and echoes.
    m_slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (m_slave < 0 || tcgetattr(m_slave, &tio) != 0) {
        const auto error = SystemError(name);
        Stop();
        throw error;
    }
    cfmakeraw(&tio);
    if (tcsetattr(m_slave, TCSANOW, &tio) != 0 ||
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK) != 0 ||
        pipe2(m_wakePipe, O_CLOEXEC) != 0) {
        const auto error = SystemError("pseudo-terminal set-up");
        Stop();
        throw error;
    }
    // Without the watch the line still works; only a killed client's exclusive use outlives it.
    m_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch >= 0 && inotify_add_watch(m_watch, name, IN_OPEN | IN_CLOSE) < 0) {
        close(m_watch);
        m_watch = -1;
    }
    m_clients = 0;
    m_stopping = false;
    m_hungUp = false;
    m_state = State::Idle;
    m_thread = std::thread([this] { Serve(); });
    return m_slavePath;
}

void DeviceSimulator::Stop() {
    if (m_thread.joinable()) {
        const char wake = 1;
        [[maybe_unused]] auto written = write(m_wakePipe[1], &wake, 1);
        m_thread.join();
    }
    for (int* fd : {&m_master, &m_slave, &m_watch, &m_wakePipe[0], &m_wakePipe[1]}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    m_hungUp = true;
    m_routeDone.notify_all();
}

// Device contents ------------------------------------------------------------------------

void DeviceSimulator::SetTracks(std::vector<SimTrack> tracks, bool layout) {
    if (layout) {
        uint32_t page = 0;
        for (auto& track : tracks) {
            SetStartPage(track.record, page);
            page += static_cast<uint32_t>((track.points.size() + kRecordsPerPage - 1) /
                                          kRecordsPerPage);
        }
    }
    std::lock_guard lock(m_mutex);
    m_tracks = std::move(tracks);
}

void DeviceSimulator::SetMarks(std::vector<std::array<uint8_t, 8>> marks) {
    std::lock_guard lock(m_mutex);
    m_marks = std::move(marks);
}

void DeviceSimulator::SetFaults(const SimFaults& faults) {
    std::lock_guard lock(m_mutex);
    m_faults = faults;
    m_faultBytes = 0;
}

std::vector<SimTrack> DeviceSimulator::Tracks() const {
    std::lock_guard lock(m_mutex);
    return m_tracks;
}

std::vector<std::array<uint8_t, 8>> DeviceSimulator::Marks() const {
    std::lock_guard lock(m_mutex);
    return m_marks;
}

SimReceived DeviceSimulator::Received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

void DeviceSimulator::ClearReceived() {
    std::lock_guard lock(m_mutex);
    m_received = SimReceived{};
}

std::vector<uint8_t> DeviceSimulator::Route() const {
    std::lock_guard lock(m_mutex);
    return m_received.routeBytes;
}

void DeviceSimulator::SetRouteQuietMs(uint32_t ms) {
    std::lock_guard lock(m_mutex);
    m_routeQuietMs = ms;
}

bool DeviceSimulator::WaitForRoute(uint32_t count, uint32_t timeoutMs) const {
    std::unique_lock lock(m_mutex);
    return m_routeDone.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return m_received.routeCount >= count || m_hungUp.load();
    }) && m_received.routeCount >= count;
}

}  // namespace sim
