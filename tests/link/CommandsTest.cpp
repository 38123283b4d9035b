// The settings commands against the device simulator: wire bytes, echo log, results.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/DeviceException.h"
#include "link/DeviceLink.h"
#include "link/EchoLog.h"
#include "sim/DeviceSimulator.h"
#include "tests/support/StubTransport.h"

namespace {

using MCommunication::ComException;
using MCommunication::ErrorText;
using MCommunication::LLDevException;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

struct Logged {
    bool received;
    Bytes bytes;
    bool operator==(const Logged&) const = default;
};

std::vector<Logged> ChunksOf(EchoLogRecorder& recorder) {
    std::vector<Logged> out;
    for (const EchoChunk& c : recorder.Log().Chunks()) {
        out.push_back({c.received, c.bytes});
    }
    return out;
}

Logged Sent(Bytes b) {
    return {false, std::move(b)};
}
Logged Got(Bytes b) {
    return {true, std::move(b)};
}

void PrintTo(const Logged& l, std::ostream* os) {
    *os << (l.received ? "<" : ">");
    for (uint8_t b : l.bytes) {
        *os << " " << std::hex << int(b);
    }
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 1000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = m_sim.Start();
        m_link.m_terminal = &m_recorder;
        m_link.m_port.Open(m_path, 115200, 0, 8, 0);
        m_link.m_port.SetTimeouts(150, 170);  // short stand-ins for the connection's 1000/1000
    }
    void ExpectTimeoutsRestored() {
        int32_t readMs = 0;
        int32_t writeMs = 0;
        m_link.m_port.GetTimeouts(readMs, writeMs);
        EXPECT_EQ(readMs, 150);
        EXPECT_EQ(writeMs, 170);
    }

    sim::DeviceSimulator m_sim;
    std::string m_path;
    DeviceLink m_link;
    EchoLogRecorder m_recorder;
};

TEST_F(Commands, QueryDeviceGivesTheAnswerByteOrOneForSilence) {
    struct Case {
        const char* name;
        sim::SimFaults faults;
        uint8_t result;
        std::vector<Logged> chunks;
        std::string text;
    };
    sim::SimFaults one;
    one.capability = 1;
    sim::SimFaults zero;
    zero.capability = 0;
    sim::SimFaults silent;
    silent.silentCommands = {0x33};
    const Case cases[] = {
        {"airspeed sensor", {}, 2, {Sent({0x33}), Got({0x02})}, "> 33 \r\n< 02 \r\n"},
        {"answer 01", one, 1, {Sent({0x33}), Got({0x01})}, "> 33 \r\n< 01 \r\n"},
        {"answer 00 stays 0", zero, 0, {Sent({0x33}), Got({0x00})}, "> 33 \r\n< 00 \r\n"},
        {"silence", silent, 1, {Sent({0x33})}, "> 33 \r\n"},
    };
    for (const Case& c : cases) {
        EchoLogRecorder recorder;
        m_link.m_terminal = &recorder;
        m_sim.SetFaults(c.faults);
        EXPECT_EQ(m_link.QueryDevice(), c.result) << c.name;
        EXPECT_EQ(ChunksOf(recorder), c.chunks) << c.name;
        EXPECT_EQ(recorder.Text(), c.text) << c.name;
        EXPECT_EQ(recorder.RefreshCount(), 1) << c.name;
    }
}

TEST(CommandsClosed, QueryDeviceOnAClosedPortTouchesNothing) {
    DeviceLink link;
    EchoLogRecorder recorder;
    link.m_terminal = &recorder;
    EXPECT_EQ(link.QueryDevice(), 0xFF);
    EXPECT_TRUE(recorder.Log().Chunks().empty());
    EXPECT_EQ(recorder.RefreshCount(), 0);
    DeviceLink quiet;  // no sink at all
    EXPECT_EQ(quiet.QueryDevice(), 0xFF);
}

TEST(CommandsClosed, OtherCommandsFailWithBadHandleBeforeLogging) {
    const std::vector<std::pair<const char*, std::function<void(DeviceLink&)>>> commands = {
        {"utc", [](DeviceLink& l) { l.SetUtcOffset(3, 30); }},
        {"anemometer", [](DeviceLink& l) { l.SendAnemometerCalibration(100, 90); }},
        {"clear", [](DeviceLink& l) { l.ClearTrackMemory(); }},
        {"interval", [](DeviceLink& l) { l.SetTrackInterval(5); }},
    };
    for (const auto& [name, command] : commands) {
        DeviceLink link;
        EchoLogRecorder recorder;
        link.m_terminal = &recorder;
        try {
            command(link);
            ADD_FAILURE() << name << " did not throw";
        } catch (const ComException& e) {
            EXPECT_EQ(e.Code(), static_cast<uint32_t>(EBADF)) << name;
            EXPECT_EQ(ErrorText(e), "Bad file descriptor") << name;
        }
        EXPECT_TRUE(recorder.Log().Chunks().empty()) << name;
        EXPECT_EQ(recorder.RefreshCount(), 0) << name;
    }
}

TEST_F(Commands, SettingsGoOutOneWritePerFieldAndReadNothing) {
    struct Case {
        const char* name;
        std::function<void(DeviceLink&)> command;
        std::vector<Logged> chunks;
        std::function<bool(const sim::SimReceived&)> arrived;
    };
    const Case cases[] = {
        {"utc 3:30",
         [](DeviceLink& l) { l.SetUtcOffset(3, 30); },
         {Sent({0xBB}), Sent({0x03}), Sent({0x1E})},
         [](const sim::SimReceived& r) {
             return r.utcOffset == std::array<uint8_t, 2>{3, 30};
         }},
        {"utc 0:00 still sends its zero bytes",
         [](DeviceLink& l) { l.SetUtcOffset(0, 0); },
         {Sent({0xBB}), Sent({0x00}), Sent({0x00})},
         [](const sim::SimReceived& r) {
             return r.utcOffset == std::array<uint8_t, 2>{0, 0};
         }},
        {"anemometer 100/90",
         [](DeviceLink& l) { l.SendAnemometerCalibration(100, 90); },
         {Sent({0x22}), Sent({0x64}), Sent({0x5A})},
         [](const sim::SimReceived& r) {
             return r.calibration == std::array<uint8_t, 2>{100, 90};
         }},
        {"interval 5: one 2-byte chunk",
         [](DeviceLink& l) { l.SetTrackInterval(5); },
         {Sent({0xCC, 0x05})},
         [](const sim::SimReceived& r) { return r.interval == uint8_t{5}; }},
        {"interval off",
         [](DeviceLink& l) { l.SetTrackInterval(128); },
         {Sent({0xCC, 0x80})},
         [](const sim::SimReceived& r) { return r.interval == uint8_t{128}; }},
    };
    for (const Case& c : cases) {
        EchoLogRecorder recorder;
        m_link.m_terminal = &recorder;
        m_sim.ClearReceived();
        const auto start = Clock::now();
        c.command(m_link);
        EXPECT_LT(ElapsedMs(start), 100) << c.name << ": waited for an answer";
        EXPECT_EQ(ChunksOf(recorder), c.chunks) << c.name;
        EXPECT_EQ(recorder.RefreshCount(), 1) << c.name;
        EXPECT_TRUE(WaitFor([&] { return c.arrived(m_sim.Received()); })) << c.name;
    }
    EXPECT_EQ(m_sim.Received().bytesIn, 2u);  // the last command only, both bytes
}

TEST_F(Commands, ClearTrackMemoryConfirmedOrNot) {
    struct Case {
        const char* name;
        std::optional<std::array<uint8_t, 4>> answer;
        bool result;
    };
    const Case cases[] = {
        {"EE EE EE EE", std::nullopt, true},
        {"EE EE EE EF", std::array<uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEF}, false},
        {"00 00 00 00", std::array<uint8_t, 4>{0, 0, 0, 0}, false},
    };
    for (const Case& c : cases) {
        EchoLogRecorder recorder;
        m_link.m_terminal = &recorder;
        sim::SimFaults faults;
        faults.clearAnswer = c.answer;
        m_sim.SetFaults(faults);
        EXPECT_EQ(m_link.ClearTrackMemory(), c.result) << c.name;
        const std::array<uint8_t, 4> answer =
            c.answer.value_or(std::array<uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEE});
        EXPECT_EQ(ChunksOf(recorder),
                  (std::vector<Logged>{Sent({0xEE}), Got(Bytes(answer.begin(), answer.end()))}))
            << c.name;
        EXPECT_EQ(recorder.RefreshCount(), 1);
        ExpectTimeoutsRestored();
    }
}

// The answer may take far longer than the connection's read time-out.
TEST_F(Commands, ClearTrackMemoryWaitsBeyondTheConnectionTimeout) {
    sim::SimFaults faults;
    faults.clearDelayMs = 400;  // the connection's read time-out here is 150
    m_sim.SetFaults(faults);
    EXPECT_TRUE(m_link.ClearTrackMemory());
    ExpectTimeoutsRestored();
}

TEST_F(Commands, ClearTrackMemoryLateAnswerIsFalse) {
    m_link.m_clearTimeout = 200;  // stands in for the 20 s wait
    sim::SimFaults faults;
    faults.clearDelayMs = 600;
    m_sim.SetFaults(faults);
    const auto start = Clock::now();
    EXPECT_FALSE(m_link.ClearTrackMemory());
    EXPECT_GE(ElapsedMs(start), 190);
    EXPECT_LT(ElapsedMs(start), 550);
    EXPECT_EQ(ChunksOf(m_recorder), std::vector<Logged>{Sent({0xEE})});
    EXPECT_EQ(m_recorder.RefreshCount(), 1);
    ExpectTimeoutsRestored();
}

// A hang-up during the answer reaches the user as the plain device error; what was sent
// before stays in the log and shows at the next command.
TEST_F(Commands, ClearTrackMemoryReadFailureBecomesTheDeviceError) {
    sim::SimFaults faults;
    faults.hangupAfterBytes = 2;
    m_sim.SetFaults(faults);
    bool plain = false;
    try {
        m_link.ClearTrackMemory();
        ADD_FAILURE() << "no exception";
    } catch (const ComException&) {
        ADD_FAILURE() << "the system error leaked";
    } catch (const LLDevException& e) {
        plain = true;
        EXPECT_EQ(ErrorText(e), "Ошибка устройства");
    }
    EXPECT_TRUE(plain);
    ExpectTimeoutsRestored();
    EXPECT_EQ(ChunksOf(m_recorder), std::vector<Logged>{Sent({0xEE})});
    EXPECT_EQ(m_recorder.RefreshCount(), 0);

    sim::DeviceSimulator other;
    m_link.m_port.Open(other.Start(), 115200, 0, 8, 0);
    m_link.m_port.SetTimeouts(150, 150);
    EXPECT_EQ(m_link.QueryDevice(), 2);
    EXPECT_EQ(m_recorder.Text(), "> EE \r\n> 33 \r\n< 02 \r\n");
}

// A device that confirms with only three bytes: false, and the three bytes are logged.
TEST(CommandsPty, ClearTrackMemoryShortAnswerIsFalse) {
    int master = -1;
    int slave = -1;
    char name[256];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    DeviceLink link;
    EchoLogRecorder recorder;
    link.m_terminal = &recorder;
    link.m_port.Open(name, 115200, 0, 8, 0);
    close(slave);
    link.m_clearTimeout = 200;
    uint8_t sent = 0;
    std::thread device([&] {
        // The answer follows the command, as a device's does.
        if (read(master, &sent, 1) == 1) {
            const uint8_t answer[3] = {0xEE, 0xEE, 0xEE};
            EXPECT_EQ(write(master, answer, 3), 3);
        }
    });
    EXPECT_FALSE(link.ClearTrackMemory());
    device.join();
    EXPECT_EQ(sent, 0xEE);
    EXPECT_EQ(ChunksOf(recorder), (std::vector<Logged>{Sent({0xEE}), Got({0xEE, 0xEE, 0xEE})}));
    int32_t readMs = 0;
    int32_t writeMs = 0;
    link.m_port.GetTimeouts(readMs, writeMs);
    EXPECT_EQ(readMs, 30);
    EXPECT_EQ(writeMs, 30);
    close(master);
}

TEST_F(Commands, DestroyingTheLinkFreesTheDevice) {
    m_link.m_port.Close();
    {
        DeviceLink link;
        link.m_tracks.resize(3);
        link.m_port.Open(m_path, 115200, 0, 8, 0);
        EXPECT_EQ(link.QueryDevice(), 2);
    }
    MCommunication::ComPort again;
    EXPECT_NO_THROW(again.Open(m_path, 115200, 0, 8, 0));
}

// A transport that records each call and writes nothing, to see the calls behind the wire.
class ScriptedTransport : public StubTransport {
public:
    int32_t Read(uint8_t*, int32_t count) override {
        calls.push_back("read " + std::to_string(count));
        if (failRead) {
            throw ComException(EIO);
        }
        return 0;
    }
    int32_t Write(const uint8_t*, int32_t count) override {
        calls.push_back("write " + std::to_string(count));
        return 0;  // nothing went out: the commands do not look
    }
    void SetTimeouts(int32_t readMs, int32_t writeMs) override {
        calls.push_back("timeouts " + std::to_string(readMs) + "/" + std::to_string(writeMs));
        Transport::SetTimeouts(readMs, writeMs);
    }

    std::vector<std::string> calls;
    bool failRead = false;
};

TEST(CommandsScripted, OneWritePerFieldLoggedAsRequested) {
    DeviceLink link;
    ScriptedTransport transport;
    EchoLogRecorder recorder;
    link.m_transport = &transport;
    link.m_terminal = &recorder;
    link.SetUtcOffset(3, 30);
    link.SetTrackInterval(10);
    EXPECT_EQ(transport.calls,
              (std::vector<std::string>{"write 1", "write 1", "write 1", "write 2"}));
    EXPECT_EQ(recorder.Text(), "> BB \r\n> 03 \r\n> 1E \r\n> CC 0A \r\n");
    EXPECT_EQ(recorder.RefreshCount(), 2);
}

TEST(CommandsScripted, ClearTrackMemoryBracketsTheAnswerWithTwentySeconds) {
    for (bool failRead : {false, true}) {
        DeviceLink link;
        ScriptedTransport transport;
        transport.failRead = failRead;
        EchoLogRecorder recorder;
        link.m_transport = &transport;
        link.m_terminal = &recorder;
        transport.Transport::SetTimeouts(1000, 900);
        bool threw = false;
        try {
            EXPECT_FALSE(link.ClearTrackMemory());
        } catch (const ComException&) {
            ADD_FAILURE() << "the system error leaked";
        } catch (const LLDevException&) {
            threw = true;
        }
        EXPECT_EQ(threw, failRead);
        EXPECT_EQ(transport.calls, (std::vector<std::string>{"write 1", "timeouts 20000/20000",
                                                             "read 4", "timeouts 1000/900"}));
        EXPECT_EQ(recorder.RefreshCount(), failRead ? 0 : 1);
        EXPECT_EQ(recorder.Log().Chunks().size(), 1u);  // the command byte only
    }
}

}  // namespace
