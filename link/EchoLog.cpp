#include "link/EchoLog.h"

#include <algorithm>
#include <array>
#include <exception>

namespace {

// "XX " for every byte value.
constexpr std::array<char, 256 * 3> MakeHexTable() {
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::array<char, 256 * 3> table{};
    for (int b = 0; b < 256; ++b) {
        table[b * 3] = kDigits[b >> 4];
        table[b * 3 + 1] = kDigits[b & 0x0F];
        table[b * 3 + 2] = ' ';
    }
    return table;
}
constexpr std::array<char, 256 * 3> kHex = MakeHexTable();

// Characters that RenderChunk appends for a chunk of n bytes.
std::size_t RenderedLength(std::size_t n) {
    const std::size_t lines = (n + 15) / 16;
    const std::size_t wideGaps = (n + 8) / 16;  // bytes at position 7 of a line
    return lines * 4 + n * 3 + wideGaps;        // prefix and CR LF per line
}

}  // namespace

void EchoLog::Append(int32_t count, const uint8_t* data, bool received) {
    if (count <= 0) {
        return;
    }
    try {
        EchoChunk chunk;
        chunk.received = received;
        chunk.bytes.assign(data, data + count);
        m_chunks.push_back(std::move(chunk));
        m_byteCount += static_cast<std::size_t>(count);
    } catch (const std::exception&) {
        Clear();
    }
}

void EchoLog::Clear() {
    std::vector<EchoChunk>().swap(m_chunks);
    std::string().swap(m_text);
    m_byteCount = 0;
    m_rendered = 0;
}

const std::string& EchoLog::Render() {
    if (m_rendered == m_chunks.size()) {
        return m_text;
    }
    const std::size_t oldSize = m_text.size();
    try {
        std::size_t needed = oldSize;
        for (std::size_t i = m_rendered; i < m_chunks.size(); ++i) {
            needed += RenderedLength(m_chunks[i].bytes.size());
        }
        if (needed > m_text.capacity()) {
            // Room to grow in place: the log is rendered again after every command, and
            // untouched capacity costs no memory.
            m_text.reserve(std::max(needed * 2, m_text.capacity() * 2));
        }
        for (std::size_t i = m_rendered; i < m_chunks.size(); ++i) {
            RenderChunk(m_chunks[i], m_text);
        }
    } catch (...) {
        m_text.resize(oldSize);
        throw;
    }
    m_rendered = m_chunks.size();
    return m_text;
}

void EchoLog::RenderChunk(const EchoChunk& chunk, std::string& out) {
    const std::size_t n = chunk.bytes.size();
    if (n == 0) {
        return;
    }
    const std::size_t start = out.size();
    out.resize(start + RenderedLength(n));
    char* p = out.data() + start;
    const char prefix = chunk.received ? '<' : '>';
    const uint8_t* bytes = chunk.bytes.data();
    const auto put = [&p](uint8_t b) {
        const char* hex = &kHex[b * 3];
        p[0] = hex[0];
        p[1] = hex[1];
        p[2] = hex[2];
        p += 3;
    };
    // Full lines of 16: prefix, 8 bytes, one more blank, 8 bytes, CR LF.
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        *p++ = prefix;
        *p++ = ' ';
        for (std::size_t k = 0; k < 8; ++k) {
            put(bytes[i + k]);
        }
        *p++ = ' ';
        for (std::size_t k = 8; k < 16; ++k) {
            put(bytes[i + k]);
        }
        *p++ = '\r';
        *p++ = '\n';
    }
    // The last, shorter line.
    if (i < n) {
        *p++ = prefix;
        *p++ = ' ';
        for (std::size_t k = 0; i + k < n; ++k) {
            put(bytes[i + k]);
            if (k == 7) {
                *p++ = ' ';
            }
        }
        *p++ = '\r';
        *p++ = '\n';
    }
}

void EchoLogRecorder::LogChunk(int32_t count, const uint8_t* data, bool received) {
    m_log.Append(count, data, received);
}

void EchoLogRecorder::RefreshLog() {
    m_text = m_log.Render();
    ++m_refreshCount;
}
