#include "link/Transport.h"

#include <limits>

namespace MCommunication {

namespace {

int32_t ClampCount(std::size_t size) {
    constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<int32_t>::max());
    return static_cast<int32_t>(size < kMax ? size : kMax);
}

}  // namespace

int32_t Transport::Read(std::vector<uint8_t>& buffer) {
    if (buffer.empty()) {
        return 0;
    }
    return Read(buffer.data(), ClampCount(buffer.size()));
}

int32_t Transport::Read(char* buffer, int32_t count) {
    return Read(reinterpret_cast<uint8_t*>(buffer), count);
}

int32_t Transport::Read(std::vector<char>& buffer) {
    if (buffer.empty()) {
        return 0;
    }
    return Read(buffer.data(), ClampCount(buffer.size()));
}

int32_t Transport::ReadPending(uint8_t*, int32_t) {
    return 0;
}

int32_t Transport::Write(const std::vector<uint8_t>& buffer) {
    if (buffer.empty()) {
        return 0;
    }
    return Write(buffer.data(), ClampCount(buffer.size()));
}

int32_t Transport::Write(const std::vector<char>& buffer) {
    if (buffer.empty()) {
        return 0;
    }
    return Write(buffer.data(), ClampCount(buffer.size()));
}

int32_t Transport::Write(const char* buffer, int32_t count) {
    return Write(reinterpret_cast<const uint8_t*>(buffer), count);
}

void Transport::GetTimeouts(int32_t& readMs, int32_t& writeMs) const {
    readMs = m_readTimeout;
    writeMs = m_writeTimeout;
}

void Transport::SetTimeouts(int32_t readMs, int32_t writeMs) {
    m_readTimeout = readMs;
    m_writeTimeout = writeMs;
}

}  // namespace MCommunication
