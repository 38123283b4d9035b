#pragma once
// Abstract byte transport to the device.

#include <cstdint>
#include <vector>

namespace MCommunication {

// A byte link with read/write time-outs; a short count is a time-out, never an error.
class Transport {
public:
    virtual ~Transport() = default;

    // Opaque connection parameters (ComPort takes a PortParameters).
    virtual void SetParameters(const void* parameters) = 0;
    virtual bool Open() = 0;
    virtual bool Close() = 0;

    virtual int32_t Read(uint8_t* buffer, int32_t count) = 0;
    // Up to count bytes that have already arrived, taken without waiting (0: none waiting).
    // A transport that cannot tell what has arrived takes nothing.
    virtual int32_t ReadPending(uint8_t* buffer, int32_t count);
    int32_t Read(std::vector<uint8_t>& buffer);
    int32_t Read(char* buffer, int32_t count);
    int32_t Read(std::vector<char>& buffer);

    virtual int32_t Write(const uint8_t* buffer, int32_t count) = 0;
    int32_t Write(const std::vector<uint8_t>& buffer);
    int32_t Write(const std::vector<char>& buffer);
    int32_t Write(const char* buffer, int32_t count);

    // Integer query without arguments; the serial port answers 0.
    virtual int32_t PendingCount() = 0;
    virtual void Purge() = 0;
    virtual bool IsOpen() = 0;

    virtual void GetTimeouts(int32_t& readMs, int32_t& writeMs) const;
    virtual void SetTimeouts(int32_t readMs, int32_t writeMs);

protected:
    int32_t m_readTimeout = 0;
    int32_t m_writeTimeout = 0;
};

}  // namespace MCommunication
