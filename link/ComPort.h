#pragma once
// Serial port over POSIX termios, with poll-based time-outs.

#include <mutex>
#include <string>

#include "link/Transport.h"

namespace MCommunication {

// Connection parameters of a serial line.
struct PortParameters {
    std::string name;       // device path, passed to the system unchanged
    uint32_t baudRate = 0;  // bits per second
    uint8_t parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t byteSize = 8;   // data bits
    uint8_t stopBits = 0;   // 0 one, 1 one and a half, 2 two
};

// Exclusive serial device: raw, no flow control; one lock around every system call.
class ComPort : public Transport {
public:
    ComPort() = default;
    ~ComPort() override;
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;

    void SetParameters(const void* parameters) override;  // a PortParameters
    bool Open() override;
    // Closes first if open; throws ComException with errno on failure; then time-outs 30/30.
    void Open(const std::string& name, uint32_t baudRate, uint8_t parity, uint8_t byteSize,
              uint8_t stopBits);
    bool Close() override;

    using Transport::Read;
    using Transport::Write;
    int32_t Read(uint8_t* buffer, int32_t count) override;
    int32_t ReadPending(uint8_t* buffer, int32_t count) override;
    int32_t Write(const uint8_t* buffer, int32_t count) override;
    int32_t PendingCount() override { return 0; }
    void Purge() override;
    bool IsOpen() override;
    void SetTimeouts(int32_t readMs, int32_t writeMs) override;

private:
    int m_fd = -1;
    std::mutex m_lock;
    PortParameters m_parameters;
    uint32_t m_baudRate = 0;  // speed of the open line; reads wait for its line time too
};

}  // namespace MCommunication
