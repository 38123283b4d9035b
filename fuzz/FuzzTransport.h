#pragma once
// A transport that answers every read from a fixed byte string, for the fuzz targets.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "link/DeviceException.h"
#include "link/Transport.h"
#include "tests/support/StubTransport.h"

// Reads hand out the input in order; once it is used up, reads time out (return 0) or, when
// told, the line fails the way a hang-up does. When told, the input is also there before each
// command (stale bytes a drain takes). Writes are kept.
class FuzzTransport : public StubTransport {
public:
    using Transport::Read;
    using Transport::Write;
    FuzzTransport(const uint8_t* data, size_t size, bool hangUpAtEnd, bool waiting = false)
        : m_data(data), m_size(size), m_hangUpAtEnd(hangUpAtEnd), m_waiting(waiting) {}

    int32_t ReadPending(uint8_t* buffer, int32_t count) override {
        if (!m_waiting || count <= 0) {
            return 0;
        }
        // At most a few bytes at a time, so drains see short reads as well as full ones.
        const size_t n = std::min({static_cast<size_t>(count), m_size - m_offset, size_t{7}});
        if (n > 0) {
            std::memcpy(buffer, m_data + m_offset, n);
        }
        m_offset += n;
        return static_cast<int32_t>(n);
    }

    int32_t Read(uint8_t* buffer, int32_t count) override {
        if (count <= 0) {
            return 0;
        }
        const size_t n = std::min(static_cast<size_t>(count), m_size - m_offset);
        if (n > 0) {
            std::memcpy(buffer, m_data + m_offset, n);
        }
        m_offset += n;
        if (n < static_cast<size_t>(count) && m_hangUpAtEnd) {
            throw MCommunication::ComException(5, static_cast<int32_t>(n));
        }
        return static_cast<int32_t>(n);
    }
    int32_t Write(const uint8_t* buffer, int32_t count) override {
        if (count > 0) {
            m_written.insert(m_written.end(), buffer, buffer + count);
        }
        return count;
    }
    const std::vector<uint8_t>& Written() const { return m_written; }
    size_t Consumed() const { return m_offset; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
    bool m_hangUpAtEnd;
    bool m_waiting;
    std::vector<uint8_t> m_written;
};
