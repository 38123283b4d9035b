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
// told, the line fails the way a hang-up does. Writes are kept.
class FuzzTransport : public StubTransport {
public:
    using Transport::Read;
    using Transport::Write;
    FuzzTransport(const uint8_t* data, size_t size, bool hangUpAtEnd)
        : m_data(data), m_size(size), m_hangUpAtEnd(hangUpAtEnd) {}

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
    std::vector<uint8_t> m_written;
};
