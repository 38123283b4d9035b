// Serving the protocol on the pty: commands in, answers out, with the faults that were asked.

#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "link/CommandByte.h"
#include "link/WireRecords.h"
#include "sim/DeviceSimulator.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kDownloadTrack = CommandByte[kCmdDownloadTrack];
constexpr uint8_t kAnemometer = CommandByte[kCmdAnemometer];
constexpr uint8_t kQueryDevice = CommandByte[kCmdQueryDevice];
constexpr uint8_t kReadMarks = CommandByte[kCmdReadMarks];
constexpr uint8_t kUploadRoute = CommandByte[kCmdUploadRoute];
constexpr uint8_t kSetUtcOffset = CommandByte[kCmdSetUtcOffset];
constexpr uint8_t kReadTrackTable = CommandByte[kCmdReadTrackTable];
constexpr uint8_t kClearTrackMemory = CommandByte[kCmdClearTrackMemory];

constexpr uint8_t kCapability = 2;  // answer to 0x33: anemometer calibration supported
constexpr size_t kMaxRouteBytes = 1 + 255 * 12;
constexpr int kStuckWriteMs = 5000;           // a client that stopped reading loses the rest
constexpr size_t kEndlessBatchRecords = 256;  // records per write of an endless table

}  // namespace

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
        pollfd fds[3] = {{m_master, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}, {m_watch, POLLIN, 0}};
        const int ready = poll(fds, m_watch >= 0 ? 3 : 2, timeout);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready <= 0) {
            continue;
        }
        if (fds[1].revents != 0) {
            break;
        }
        // Before the line: a client that closed did so before anything a later one wrote.
        if (fds[2].revents & POLLIN) {
            WatchClients();
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

void DeviceSimulator::WatchClients() {
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t n = read(m_watch, events, sizeof events);
        if (n <= 0) {
            return;
        }
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_OPEN) {
                ++m_clients;
            } else if (event->mask & (IN_CLOSE | IN_Q_OVERFLOW)) {
                m_clients = (event->mask & IN_Q_OVERFLOW) ? 0 : std::max(0, m_clients - 1);
                if (m_clients == 0 && m_slave >= 0) {
                    // A serial line is no longer exclusive once its last user has closed it;
                    // the slave this side holds open would otherwise keep the flag for ever.
                    ioctl(m_slave, TIOCNXCL);
                }
            }
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
    bool drop = false;
    {
        std::lock_guard lock(m_mutex);
        m_received.commands.push_back(command);
        drop = m_faults.dropPendingAnswer;
    }
    if (drop) {
        DiscardUnread();  // what the client has not read of the last answer
    }
    const auto expect = [this, command](size_t count) {
        m_command = command;
        m_arguments.clear();
        m_argumentsNeeded = count;
        m_state = State::Arguments;
    };
    switch (command) {
        case kDownloadTrack:
            expect(3);
            break;
        case kAnemometer:
        case kSetUtcOffset:
            expect(2);
            break;
        case kTrackIntervalCommand:
            expect(1);
            break;
        case kUploadRoute:
            m_routeBuffer.clear();
            m_state = State::Route;
            break;
        case kQueryDevice: {
            if (Silent(command)) {
                break;
            }
            uint8_t answer = kCapability;
            {
                std::lock_guard lock(m_mutex);
                answer = m_faults.capability.value_or(kCapability);
            }
            Reply({answer});
            break;
        }
        case kReadTrackTable: {
            if (Silent(command)) {
                break;
            }
            bool endless = false;
            bool garble = false;
            std::vector<uint8_t> answer;
            {
                std::lock_guard lock(m_mutex);
                endless = m_faults.endlessTable;
                garble = m_faults.garbageRecords;
                for (const auto& track : m_tracks) {
                    answer.insert(answer.end(), track.record.begin(), track.record.end());
                }
            }
            if (endless) {
                AnswerEndlessTable();
                break;
            }
            if (garble) {
                for (size_t at = 0; at < answer.size(); at += TrackTableRecord::kSize) {
                    Garble(answer.data() + at, TrackTableRecord::kSize,
                           kTrackTableTerminator.data());
                }
            }
            answer.insert(answer.end(), kTrackTableTerminator.begin(), kTrackTableTerminator.end());
            Reply(answer);
            break;
        }
        case kReadMarks: {
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
            Reply(answer);
            break;
        }
        case kClearTrackMemory: {
            std::array<uint8_t, 4> answer = kClearTrackMemoryDone;
            uint32_t delay = 0;
            {
                std::lock_guard lock(m_mutex);
                ++m_received.clearCount;
                answer = m_faults.clearAnswer.value_or(kClearTrackMemoryDone);
                delay = m_faults.clearDelayMs;
            }
            if (Silent(command) || !WaitMs(delay)) {
                break;
            }
            BeginAnswer();
            if (Answer(answer.data(), answer.size()) && answer == kClearTrackMemoryDone) {
                std::lock_guard lock(m_mutex);
                m_tracks.clear();
            }
            SendJunk();
            break;
        }
        default:
            break;  // not a command of this device
    }
}

void DeviceSimulator::FinishArguments() {
    const auto& a = m_arguments;
    switch (m_command) {
        case kDownloadTrack:
            if (!Silent(kDownloadTrack)) {
                BigEndianField<3> page;
                std::copy(a.begin(), a.end(), page.bytes);
                AnswerTrack(page.Get());
            }
            break;
        case kAnemometer: {
            std::lock_guard lock(m_mutex);
            m_received.calibration = std::array<uint8_t, 2>{a[0], a[1]};
            break;
        }
        case kSetUtcOffset: {
            std::lock_guard lock(m_mutex);
            m_received.utcOffset = std::array<uint8_t, 2>{a[0], a[1]};
            break;
        }
        case kTrackIntervalCommand: {
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
    stream.reserve(track.points.size() * TrackPointRecord::kSize + kTrackTerminator.size() + 2);
    for (auto point : track.points) {
        if (faults.garbageRecords) {
            Garble(point.data(), point.size(), kTrackTerminator.data());
        }
        stream.insert(stream.end(), point.begin(), point.end());
    }
    bool ends = true;
    if (faults.silenceAfterRecords && *faults.silenceAfterRecords < track.points.size() + 1) {
        stream.resize(size_t{*faults.silenceAfterRecords} * TrackPointRecord::kSize);
        ends = false;
    }
    if (ends) {
        stream.insert(stream.end(), kTrackTerminator.begin(), kTrackTerminator.end());
        stream.push_back(static_cast<uint8_t>(checksum >> 8));
        stream.push_back(static_cast<uint8_t>(checksum));
    }
    constexpr size_t kRecord = TrackPointRecord::kSize;
    if (faults.shortRecordAt &&
        size_t{*faults.shortRecordAt} * kRecord + kRecord <= stream.size()) {
        const size_t at = size_t{*faults.shortRecordAt} * kRecord;
        BeginAnswer();
        if (!Answer(stream.data(), at + 20) || !WaitMs(faults.shortRecordPauseMs)) {
            return;
        }
        BeginAnswer();
        if (Answer(stream.data() + at + kRecord, stream.size() - at - kRecord)) {
            SendJunk();
        }
        return;
    }
    Reply(stream);
}

void DeviceSimulator::AnswerEndlessTable() {
    std::vector<SimTrack> stored = Tracks();
    BeginAnswer();
    std::vector<uint8_t> batch;
    for (uint64_t n = 0;;) {
        batch.clear();
        for (size_t i = 0; i < kEndlessBatchRecords; ++i, ++n) {
            std::array<uint8_t, 12> record{};
            if (n < stored.size()) {
                record = stored[n].record;
            } else {
                record = MakeRecord(static_cast<int>(n % 28 + 1), static_cast<int>(n / 28 % 12 + 1),
                                    24, 12, 0, 0, 1, 64);
                SetStartPage(record, static_cast<uint32_t>(n));
            }
            batch.insert(batch.end(), record.begin(), record.end());
        }
        // Ends only when the client stops reading, hangs up or the simulator stops.
        if (!Answer(batch)) {
            return;
        }
    }
}

void DeviceSimulator::Garble(uint8_t* record, size_t size, const uint8_t* avoid) {
    do {
        for (size_t i = 0; i < size; ++i) {
            record[i] = static_cast<uint8_t>(m_noise());
        }
    } while (std::equal(record, record + size, avoid));
}

void DeviceSimulator::DiscardUnread() {
    // Read off this side: a flush alone leaves what the line has not yet handed to the reader.
    uint8_t buffer[4096];
    pollfd slave = {m_slave, POLLIN, 0};
    while (m_slave >= 0 && poll(&slave, 1, 0) > 0 && (slave.revents & POLLIN) &&
           read(m_slave, buffer, sizeof buffer) > 0) {
    }
}

void DeviceSimulator::BeginAnswer() {
    m_paceStart = Clock::now();
    m_paceSent = 0;
}

std::vector<uint8_t> DeviceSimulator::Junk() const {
    std::lock_guard lock(m_mutex);
    return m_faults.junkAfterAnswer;
}

bool DeviceSimulator::Reply(std::vector<uint8_t> answer) {
    const std::vector<uint8_t> junk = Junk();
    answer.insert(answer.end(), junk.begin(), junk.end());
    BeginAnswer();
    return Answer(answer);  // one write: the junk follows the answer at once
}

bool DeviceSimulator::SendJunk() {
    const std::vector<uint8_t> junk = Junk();
    return junk.empty() || Answer(junk);
}

bool DeviceSimulator::Answer(const uint8_t* data, size_t count) {
    uint32_t baud = 0;
    uint32_t byteInterval = 0;
    std::optional<uint64_t> hangup;
    {
        std::lock_guard lock(m_mutex);
        baud = m_faults.pacingBaud;
        byteInterval = m_faults.byteIntervalMs;
        hangup = m_faults.hangupAfterBytes;
    }
    // Bursts of about 5 ms of line time, each released when the line would have carried it.
    size_t burst = baud ? std::max<size_t>(1, baud / 10 / 200) : count;
    if (byteInterval) {
        burst = 1;
    }
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
        if (byteInterval && !WaitMs(byteInterval)) {
            return false;
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
            DiscardUnread();  // nobody reads: drop this answer
            return false;
        }
        pollfd fds[3] = {{m_master, POLLOUT, 0}, {m_wakePipe[0], POLLIN, 0}, {m_watch, POLLIN, 0}};
        if (poll(fds, m_watch >= 0 ? 3 : 2, 100) > 0) {
            if (fds[1].revents != 0) {
                m_stopping = true;
                return false;
            }
            if (fds[2].revents & POLLIN) {
                WatchClients();
            }
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
