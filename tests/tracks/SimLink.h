#pragma once
// A DeviceLink talking to the device simulator over a real port, with its echo log recorded.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "link/DataFormats.h"
#include "link/DeviceLink.h"
#include "link/EchoLog.h"
#include "sim/DeviceSimulator.h"

namespace sim_test {

using Bytes = std::vector<uint8_t>;

struct Logged {
    bool received;
    Bytes bytes;
    bool operator==(const Logged&) const = default;
};

inline Logged Sent(Bytes b) {
    return {false, std::move(b)};
}
inline Logged Got(Bytes b) {
    return {true, std::move(b)};
}

inline void PrintTo(const Logged& l, std::ostream* os) {
    *os << (l.received ? "<" : ">");
    for (uint8_t b : l.bytes) {
        *os << ' ' << std::hex << int(b) << std::dec;
    }
}

// Read time-out short enough for tests that wait for silence.
inline constexpr int32_t kTestTimeoutMs = 200;

class SimLink : public ::testing::Test {
protected:
    void SetUp() override {
        BuildDeviceCharTable();
        m_path = m_sim.Start();
        m_link.m_terminal = &m_recorder;
        m_link.m_port.Open(m_path, 115200, 0, 8, 0);
        m_link.m_port.SetTimeouts(kTestTimeoutMs, kTestTimeoutMs);
    }

    // The simulator counts an answer's bytes after writing them; a fault that counts bytes
    // must not be set before that count has settled.
    bool WaitForAnswerBytes(uint64_t count, int timeoutMs = 2000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_sim.AnswerBytes() < count) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    std::vector<Logged> Chunks() {
        std::vector<Logged> out;
        for (const EchoChunk& c : m_recorder.Log().Chunks()) {
            out.push_back({c.received, c.bytes});
        }
        return out;
    }

    sim::DeviceSimulator m_sim;
    EchoLogRecorder m_recorder;
    DeviceLink m_link;
    std::string m_path;
};

}  // namespace sim_test
