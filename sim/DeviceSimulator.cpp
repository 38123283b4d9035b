#include "sim/DeviceSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>

#include "link/DataFormats.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::array<uint8_t, 12> kTableEnd = {0xFF, 0xFF, 0xFF, 0xFF, 0xDD, 0xDD,
                                               0xDD, 0xDD, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::array<uint8_t, 4> kClearOk = {0xEE, 0xEE, 0xEE, 0xEE};
constexpr uint32_t kTerminatorSum = 1020;
constexpr uint32_t kRecordsPerPage = 64;
constexpr size_t kMaxRouteBytes = 1 + 255 * 12;
constexpr int kStuckWriteMs = 5000;  // a client that stopped reading loses the rest

void AppendTrackEnd(std::vector<uint8_t>& out) {
    for (int i = 0; i < 4; ++i) {
        out.insert(out.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0x11, 0x11, 0x11, 0x11});
    }
}

std::runtime_error SystemError(const char* what) {
    return std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// Uniform number in [0, 1) from the generator's raw output (the same on every library).
double Unit(std::mt19937& rng) {
    return rng() / 4294967296.0;
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
    for (int* fd : {&m_master, &m_slave, &m_wakePipe[0], &m_wakePipe[1]}) {
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
            track.record[6] = static_cast<uint8_t>(page >> 16);
            track.record[7] = static_cast<uint8_t>(page >> 8);
            track.record[8] = static_cast<uint8_t>(page);
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

// Records --------------------------------------------------------------------------------

uint16_t DeviceSimulator::Checksum(const SimTrack& track) {
    uint32_t sum = kTerminatorSum;
    for (const auto& point : track.points) {
        for (uint8_t byte : point) {
            sum += byte;
        }
    }
    return static_cast<uint16_t>(sum);
}

std::array<uint8_t, 32> DeviceSimulator::MakePoint(double lat, double lon, uint16_t altitude,
                                                   uint16_t groundSpeed, double verticalSpeed,
                                                   uint16_t airSpeed) {
    std::array<uint8_t, 32> point{};
    const PackedPosition position = PackPosition(lat, lon);
    std::copy(position.begin(), position.end(), point.begin());
    point[11] = static_cast<uint8_t>(groundSpeed >> 8);
    point[12] = static_cast<uint8_t>(groundSpeed);
    point[13] = static_cast<uint8_t>(altitude >> 8);
    point[14] = static_cast<uint8_t>(altitude);
    const double speed = std::fabs(verticalSpeed);
    int tenths = static_cast<int>(std::lround(speed * 10));
    tenths = std::min(tenths, 255 * 10 + 9);
    point[15] = verticalSpeed >= 0 ? 0x77 : 0x00;
    point[16] = static_cast<uint8_t>(tenths / 10);
    point[17] = static_cast<uint8_t>(tenths % 10);
    point[18] = static_cast<uint8_t>(airSpeed >> 8);
    point[19] = static_cast<uint8_t>(airSpeed);
    return point;
}

std::array<uint8_t, 12> DeviceSimulator::MakeRecord(int day, int month, int year, int hour,
                                                    int minute, int second, uint8_t interval,
                                                    uint16_t pointCount) {
    if (year >= 2000) {
        year -= 2000;
    }
    return {static_cast<uint8_t>(day),
            static_cast<uint8_t>(month),
            static_cast<uint8_t>(year),
            static_cast<uint8_t>(hour),
            static_cast<uint8_t>(minute),
            static_cast<uint8_t>(second),
            0,
            0,
            0,
            interval,
            static_cast<uint8_t>(pointCount >> 8),
            static_cast<uint8_t>(pointCount)};
}

SimTrack DeviceSimulator::MakeBigTrack(uint16_t points) {
    SimTrack track;
    track.record = MakeRecord(1, 7, 2024, 8, 0, 0, 2, points);
    track.points.resize(points);
    for (uint32_t i = 0; i < points; ++i) {
        auto& p = track.points[i];
        // Latitude 55° and longitude 37° with the minutes walking through the track.
        p[0] = 55;
        p[1] = static_cast<uint8_t>(i / 10000 % 60);
        p[2] = static_cast<uint8_t>(i % 10000 >> 8);
        p[3] = static_cast<uint8_t>(i % 10000);
        p[4] = 37;
        p[5] = static_cast<uint8_t>((i / 7000 + 20) % 60);
        p[6] = static_cast<uint8_t>(i * 7 % 10000 >> 8);
        p[7] = static_cast<uint8_t>(i * 7 % 10000);
        p[11] = 0;
        p[12] = static_cast<uint8_t>(150 + i % 50);
        p[13] = static_cast<uint8_t>((500 + i % 1000) >> 8);
        p[14] = static_cast<uint8_t>(500 + i % 1000);
        p[15] = i % 3 ? 0x77 : 0x00;
        p[16] = static_cast<uint8_t>(i % 5);
        p[17] = static_cast<uint8_t>(i % 10);
        p[19] = static_cast<uint8_t>(140 + i % 60);
        p[31] = static_cast<uint8_t>(i);
    }
    return track;
}

uint32_t DeviceSimulator::StartPage(const std::array<uint8_t, 12>& record) {
    return (uint32_t{record[6]} << 16) | (uint32_t{record[7]} << 8) | record[8];
}

// Demonstration scenario ----------------------------------------------------------------

namespace {

struct Airfield {
    double lat;
    double lon;
    double elevation;
};

struct Flight {
    int day, month, year, hour, minute, second;
    uint8_t interval;
    uint16_t points;
    int field;
    double cruiseAltitude;  // above the field
    double cruiseSpeed;     // km/h
};

double Smooth(double x) {
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3 - 2 * x);
}

// One flight: taxi, take-off roll, climb, cruise over a wide loop, descent, landing roll.
SimTrack MakeFlight(const Flight& f, const Airfield& field, std::mt19937& rng) {
    constexpr double kPi = 3.14159265358979323846;
    SimTrack track;
    track.record = DeviceSimulator::MakeRecord(f.day, f.month, f.year, f.hour, f.minute, f.second,
                                               f.interval, f.points);
    const double wind = 8 + 14 * Unit(rng);  // km/h, head/tail component varies with heading
    const double windFrom = 2 * kPi * Unit(rng);
    double heading = 2 * kPi * Unit(rng);
    const double turn = (Unit(rng) < 0.5 ? 1 : -1) * 2 * kPi;  // one loop over the flight
    const double wobble = 0.15 + 0.2 * Unit(rng);
    double lat = field.lat;
    double lon = field.lon;
    double previousAltitude = field.elevation;
    const double n = f.points;
    for (uint32_t i = 0; i < f.points; ++i) {
        const double x = n > 1 ? i / (n - 1) : 0;
        // Altitude above the field: climb over the first quarter, descent over the last.
        const double climb = Smooth((x - 0.04) / 0.22);
        const double descent = Smooth((0.96 - x) / 0.22);
        const double bumps = 25 * std::sin(17 * x + f.points) * climb * descent;
        const double altitude =
            field.elevation + f.cruiseAltitude * std::min(climb, descent) + bumps;
        // Speed: taxi, roll, then towards cruise speed; slower on the climb and approach.
        const double roll = Smooth(x / 0.04) * Smooth((1.0 - x) / 0.04);
        const double airspeed = roll * f.cruiseSpeed * (0.8 + 0.2 * std::min(climb, descent));
        heading += turn / n + wobble * (Unit(rng) - 0.5) / 10;
        const double windAlong = wind * std::cos(heading - windFrom) * roll;
        const double ground = std::max(0.0, airspeed - windAlong) + (1 - roll) * 12 * (x < 0.5);
        const double metres = ground / 3.6 * f.interval;
        lat += metres * std::cos(heading) / 111320.0;
        lon += metres * std::sin(heading) / (111320.0 * std::cos(lat * kPi / 180));
        const double vertical = i == 0 ? 0.0 : (altitude - previousAltitude) / f.interval;
        previousAltitude = altitude;
        track.points.push_back(DeviceSimulator::MakePoint(
            lat, lon, static_cast<uint16_t>(std::lround(altitude)),
            static_cast<uint16_t>(std::lround(ground)), std::round(vertical * 10) / 10,
            static_cast<uint16_t>(std::lround(airspeed))));
    }
    return track;
}

}  // namespace

void DeviceSimulator::LoadDemoScenario() {
    static const Airfield kFields[] = {
        {55.7558, 37.6173, 150},  // the centre
        {55.5915, 37.2615, 190},
        {55.9726, 37.4146, 190},
        {55.5089, 38.0950, 120},
    };
    static const Flight kFlights[] = {
        {14, 6, 2024, 7, 42, 10, 4, 420, 1, 600, 160},
        {14, 6, 2024, 13, 5, 0, 2, 1380, 0, 900, 180},
        {15, 6, 2024, 9, 30, 45, 5, 760, 2, 1200, 200},
        {15, 6, 2024, 16, 12, 30, 2, 1990, 3, 1500, 210},
        {16, 6, 2024, 11, 0, 5, 10, 310, 1, 800, 170},
        {17, 6, 2024, 6, 55, 20, 3, 1150, 2, 2100, 220},
        {17, 6, 2024, 18, 20, 0, 5, 640, 0, 700, 150},
    };
    std::mt19937 rng(20240614);
    std::vector<SimTrack> tracks;
    for (const auto& flight : kFlights) {
        tracks.push_back(MakeFlight(flight, kFields[flight.field], rng));
    }
    SetTracks(std::move(tracks));

    static const double kMarks[][2] = {
        {55.7539, 37.6208}, {55.7520, 37.6175}, {55.7415, 37.6208}, {55.7448, 37.6057},
        {55.8197, 37.6117}, {55.7100, 37.5530}, {55.8316, 37.6297}, {55.6763, 37.5742},
        {55.7894, 37.6747}, {55.7308, 37.6019}, {55.7601, 37.5766}, {55.7749, 37.5793},
    };
    std::vector<std::array<uint8_t, 8>> marks;
    for (const auto& mark : kMarks) {
        const PackedPosition p = PackPosition(mark[0], mark[1]);
        marks.push_back(p);
    }
    SetMarks(std::move(marks));
}

// Serving ---------------------------------------------------------------------------------

void DeviceSimulator::Serve() {
    uint8_t buffer[4096];
    Clock::time_point routeDeadline{};
    while (!m_stopping) {
        int timeout = -1;
        if (m_state == State::Route) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(routeDeadline - Clock::now())
                    .count();
            if (left <= 0) {
                FinishRoute();
                continue;
            }
            timeout = static_cast<int>(left) + 1;
        }
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        const int ready = poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            continue;
        }
        if (fds[1].revents != 0) {
            break;
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = read(m_master, buffer, sizeof buffer);
            for (ssize_t i = 0; i < n && !m_stopping; ++i) {
                Feed(buffer[i]);
                if (m_state == State::Route) {
                    std::lock_guard lock(m_mutex);
                    routeDeadline = Clock::now() + std::chrono::milliseconds(m_routeQuietMs);
                }
            }
        } else if (fds[0].revents != 0) {
            // No client on the line right now; look again shortly.
            poll(&fds[1], 1, 20);
        }
    }
}

bool DeviceSimulator::Silent(uint8_t command) const {
    std::lock_guard lock(m_mutex);
    const auto& silent = m_faults.silentCommands;
    return std::find(silent.begin(), silent.end(), command) != silent.end();
}

void DeviceSimulator::Feed(uint8_t byte) {
    {
        std::lock_guard lock(m_mutex);
        ++m_received.bytesIn;
    }
    switch (m_state) {
        case State::Idle:
            BeginCommand(byte);
            break;
        case State::Arguments:
            m_arguments.push_back(byte);
            if (m_arguments.size() == m_argumentsNeeded) {
                m_state = State::Idle;
                FinishArguments();
            }
            break;
        case State::Route:
            m_routeBuffer.push_back(byte);
            if (m_routeBuffer.size() >= kMaxRouteBytes) {
                FinishRoute();
            }
            break;
    }
}

void DeviceSimulator::BeginCommand(uint8_t command) {
    // Bytes of an earlier answer that no client read would otherwise precede this answer.
    tcflush(m_slave, TCIFLUSH);
    {
        std::lock_guard lock(m_mutex);
        m_received.commands.push_back(command);
    }
    const auto expect = [this, command](size_t count) {
        m_command = command;
        m_arguments.clear();
        m_argumentsNeeded = count;
        m_state = State::Arguments;
    };
    switch (command) {
        case 0x11:
            expect(3);
            break;
        case 0x22:
        case 0xBB:
            expect(2);
            break;
        case 0xCC:
            expect(1);
            break;
        case 0xAA:
            m_routeBuffer.clear();
            m_state = State::Route;
            break;
        case 0x33: {
            if (Silent(command)) {
                break;
            }
            uint8_t answer = 2;
            {
                std::lock_guard lock(m_mutex);
                answer = m_faults.capability.value_or(2);
            }
            BeginAnswer();
            Answer(&answer, 1);
            break;
        }
        case 0xDD: {
            if (Silent(command)) {
                break;
            }
            std::vector<uint8_t> answer;
            {
                std::lock_guard lock(m_mutex);
                for (const auto& track : m_tracks) {
                    answer.insert(answer.end(), track.record.begin(), track.record.end());
                }
            }
            answer.insert(answer.end(), kTableEnd.begin(), kTableEnd.end());
            BeginAnswer();
            Answer(answer);
            break;
        }
        case 0x55: {
            if (Silent(command)) {
                break;
            }
            std::vector<uint8_t> answer;
            {
                std::lock_guard lock(m_mutex);
                const size_t count = std::min<size_t>(m_marks.size(), 255);
                const size_t sent = std::min<size_t>(count, m_faults.marksSent.value_or(count));
                answer.push_back(static_cast<uint8_t>(count));
                for (size_t i = 0; i < sent; ++i) {
                    answer.insert(answer.end(), m_marks[i].begin(), m_marks[i].end());
                }
            }
            BeginAnswer();
            Answer(answer);
            break;
        }
        case 0xEE: {
            std::array<uint8_t, 4> answer = kClearOk;
            uint32_t delay = 0;
            {
                std::lock_guard lock(m_mutex);
                ++m_received.clearCount;
                answer = m_faults.clearAnswer.value_or(kClearOk);
                delay = m_faults.clearDelayMs;
            }
            if (Silent(command) || !WaitMs(delay)) {
                break;
            }
            BeginAnswer();
            if (Answer(answer.data(), answer.size()) && answer == kClearOk) {
                std::lock_guard lock(m_mutex);
                m_tracks.clear();
            }
            break;
        }
        default:
            break;  // not a command of this device
    }
}

void DeviceSimulator::FinishArguments() {
    const auto& a = m_arguments;
    switch (m_command) {
        case 0x11:
            if (!Silent(0x11)) {
                AnswerTrack((uint32_t{a[0]} << 16) | (uint32_t{a[1]} << 8) | a[2]);
            }
            break;
        case 0x22: {
            std::lock_guard lock(m_mutex);
            m_received.calibration = std::array<uint8_t, 2>{a[0], a[1]};
            break;
        }
        case 0xBB: {
            std::lock_guard lock(m_mutex);
            m_received.utcOffset = std::array<uint8_t, 2>{a[0], a[1]};
            break;
        }
        case 0xCC: {
            std::lock_guard lock(m_mutex);
            m_received.interval = a[0];
            break;
        }
        default:
            break;
    }
}

void DeviceSimulator::FinishRoute() {
    m_state = State::Idle;
    std::lock_guard lock(m_mutex);
    m_received.routeBytes = m_routeBuffer;
    ++m_received.routeCount;
    m_routeDone.notify_all();
}

void DeviceSimulator::AnswerTrack(uint32_t startPage) {
    SimTrack track;
    SimFaults faults;
    bool found = false;
    size_t index = 0;
    {
        std::lock_guard lock(m_mutex);
        faults = m_faults;
        // An empty track shares its page with the next one; the page's records are that one's.
        for (size_t pass = 0; pass < 2 && !found; ++pass) {
            for (size_t i = 0; i < m_tracks.size(); ++i) {
                if (StartPage(m_tracks[i].record) == startPage &&
                    (pass == 1 || !m_tracks[i].points.empty())) {
                    track = m_tracks[i];
                    index = i;
                    found = true;
                    break;
                }
            }
        }
    }
    if (faults.extraRecord) {
        auto extra = track.points.empty() ? std::array<uint8_t, 32>{} : track.points.back();
        extra[31] ^= 0x5A;
        track.points.push_back(extra);
    }
    uint16_t checksum = Checksum(track);
    if (found && faults.badChecksumTrack && *faults.badChecksumTrack == index) {
        ++checksum;
    }
    std::vector<uint8_t> stream;
    stream.reserve(track.points.size() * 32 + 34);
    for (const auto& point : track.points) {
        stream.insert(stream.end(), point.begin(), point.end());
    }
    bool ends = true;
    if (faults.silenceAfterRecords && *faults.silenceAfterRecords < track.points.size() + 1) {
        stream.resize(size_t{*faults.silenceAfterRecords} * 32);
        ends = false;
    }
    if (ends) {
        AppendTrackEnd(stream);
        stream.push_back(static_cast<uint8_t>(checksum >> 8));
        stream.push_back(static_cast<uint8_t>(checksum));
    }
    BeginAnswer();
    if (faults.shortRecordAt && size_t{*faults.shortRecordAt} * 32 + 32 <= stream.size()) {
        const size_t at = size_t{*faults.shortRecordAt} * 32;
        if (!Answer(stream.data(), at + 20) || !WaitMs(faults.shortRecordPauseMs)) {
            return;
        }
        BeginAnswer();
        Answer(stream.data() + at + 32, stream.size() - at - 32);
        return;
    }
    Answer(stream);
}

void DeviceSimulator::BeginAnswer() {
    m_paceStart = Clock::now();
    m_paceSent = 0;
}

bool DeviceSimulator::Answer(const uint8_t* data, size_t count) {
    uint32_t baud = 0;
    std::optional<uint64_t> hangup;
    {
        std::lock_guard lock(m_mutex);
        baud = m_faults.pacingBaud;
        hangup = m_faults.hangupAfterBytes;
    }
    // Bursts of about 5 ms of line time, each released when the line would have carried it.
    const size_t burst = baud ? std::max<size_t>(1, baud / 10 / 200) : count;
    size_t offset = 0;
    while (offset < count) {
        size_t chunk = std::min(burst, count - offset);
        if (hangup) {
            const uint64_t sent = m_faultBytes.load();
            if (sent >= *hangup) {
                HangUp();
                return false;
            }
            chunk = static_cast<size_t>(std::min<uint64_t>(chunk, *hangup - sent));
        }
        if (baud) {
            const auto due = m_paceStart + std::chrono::nanoseconds(static_cast<int64_t>(
                                               (m_paceSent + chunk) * 10 * 1e9 / baud));
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
            if (left > 2 && !WaitMs(static_cast<uint32_t>(left - 1))) {
                return false;
            }
            std::this_thread::sleep_until(due);
        }
        if (!WriteAll(data + offset, chunk)) {
            return false;
        }
        offset += chunk;
        m_paceSent += chunk;
        m_answerBytes += chunk;
        m_faultBytes += chunk;
        if (hangup && m_faultBytes.load() >= *hangup) {
            HangUp();
            return false;
        }
    }
    return true;
}

bool DeviceSimulator::WriteAll(const uint8_t* data, size_t count) {
    auto lastProgress = Clock::now();
    while (count > 0) {
        const ssize_t n = write(m_master, data, count);
        if (n > 0) {
            data += n;
            count -= static_cast<size_t>(n);
            lastProgress = Clock::now();
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        if (Clock::now() - lastProgress > std::chrono::milliseconds(kStuckWriteMs)) {
            tcflush(m_slave, TCIFLUSH);  // nobody reads: drop this answer
            return false;
        }
        pollfd fds[2] = {{m_master, POLLOUT, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (poll(fds, 2, 100) > 0 && fds[1].revents != 0) {
            m_stopping = true;
            return false;
        }
    }
    return true;
}

bool DeviceSimulator::WaitMs(uint32_t ms) {
    if (ms == 0) {
        return !m_stopping;
    }
    pollfd wake = {m_wakePipe[0], POLLIN, 0};
    if (poll(&wake, 1, static_cast<int>(ms)) > 0) {
        m_stopping = true;
    }
    return !m_stopping;
}

void DeviceSimulator::HangUp() {
    // Let the client read what was sent: a hang-up discards the line's unread input.
    const auto limit = Clock::now() + std::chrono::seconds(3);
    int pending = 0;
    while (Clock::now() < limit && ioctl(m_slave, FIONREAD, &pending) == 0 && pending > 0) {
        if (!WaitMs(5)) {
            break;
        }
    }
    WaitMs(20);
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    m_hungUp = true;  // before the close, so whoever sees the line gone sees this too
    close(m_master);
    m_master = -1;
    close(m_slave);
    m_slave = -1;
    m_routeDone.notify_all();
}

}  // namespace sim
