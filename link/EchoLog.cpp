#include "link/EchoLog.h"

#include <algorithm>
#include <array>
#include <exception>
#include <memory>

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

EchoLog::EchoLog(const EchoLog& other)
    : m_index(other.m_index),
      m_byteCount(other.m_byteCount),
      m_clears(other.m_clears),
      m_text(other.m_text),
      m_rendered(other.m_rendered) {
    m_blocks.reserve(other.m_blocks.size());
    for (const Block& b : other.m_blocks) {
        Block copy;
        copy.bytes = std::make_unique_for_overwrite<uint8_t[]>(b.used);
        std::copy(b.bytes.get(), b.bytes.get() + b.used, copy.bytes.get());
        copy.capacity = b.used;
        copy.used = b.used;
        m_blocks.push_back(std::move(copy));
    }
}

EchoLog& EchoLog::operator=(const EchoLog& other) {
    if (this != &other) {
        EchoLog copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void EchoLog::Append(int32_t count, const uint8_t* data, bool received) {
    if (count <= 0) {
        return;
    }
    const auto size = static_cast<std::size_t>(count);
    try {
        if (m_blocks.empty() || m_blocks.back().capacity - m_blocks.back().used < size) {
            Block block;
            block.capacity = std::max(size, kBlockBytes);
            block.bytes = std::make_unique_for_overwrite<uint8_t[]>(block.capacity);
            m_blocks.push_back(std::move(block));
        }
        // The index grows in small nodes, never by doubling a copy of itself.
        m_index.push_back(Entry{static_cast<uint32_t>(m_blocks.size() - 1),
                                static_cast<uint32_t>(m_blocks.back().used),
                                static_cast<uint32_t>(size) | (received ? kReceivedBit : 0u)});
    } catch (const std::exception&) {
        Clear();
        return;
    }
    Block& block = m_blocks.back();
    std::copy(data, data + size, block.bytes.get() + block.used);
    block.used += size;
    m_byteCount += size;
}

std::size_t EchoLog::StorageBytes() const {
    // The index's nodes hold 512 bytes each (whole entries).
    constexpr std::size_t kPerNode = 512 / sizeof(Entry);
    std::size_t total = (m_index.size() + kPerNode - 1) / kPerNode * kPerNode * sizeof(Entry) +
                        m_blocks.capacity() * sizeof(Block);
    for (const Block& block : m_blocks) {
        total += block.capacity;
    }
    return total;
}

void EchoLog::Clear() {
    std::vector<Block>().swap(m_blocks);
    m_index.clear();  // frees every node but one, and allocates nothing
    std::string().swap(m_text);
    m_byteCount = 0;
    m_rendered = 0;
    ++m_clears;
}

EchoChunk EchoLog::Chunk(std::size_t i) const {
    const Entry& e = m_index[i];
    const std::size_t size = e.sizeAndDirection & ~kReceivedBit;
    return EchoChunk{(e.sizeAndDirection & kReceivedBit) != 0,
                     EchoBytes(m_blocks[e.block].bytes.get() + e.offset, size)};
}

const std::string& EchoLog::Render() {
    if (m_rendered == m_index.size()) {
        return m_text;
    }
    const std::size_t oldSize = m_text.size();
    try {
        std::size_t needed = oldSize;
        for (std::size_t i = m_rendered; i < m_index.size(); ++i) {
            needed += RenderedLength(m_index[i].sizeAndDirection & ~kReceivedBit);
        }
        if (needed > m_text.capacity()) {
            // Room to grow in place: the log is rendered again after every command, and
            // untouched capacity costs no memory.
            m_text.reserve(std::max(needed * 2, m_text.capacity() * 2));
        }
        for (std::size_t i = m_rendered; i < m_index.size(); ++i) {
            RenderChunk(Chunk(i), m_text);
        }
    } catch (...) {
        m_text.resize(oldSize);
        throw;
    }
    m_rendered = m_index.size();
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
    if (m_textClears != m_log.ClearCount()) {
        std::string().swap(m_text);
        m_textChunks = 0;
        m_textClears = m_log.ClearCount();
    }
    m_refreshedChunks = m_log.ChunkCount();
    ++m_refreshCount;
}

const std::string& EchoLogRecorder::Text() const {
    // Once the log is emptied, the chunks of the last refresh are gone: the text made so far
    // stands until the next refresh.
    if (m_textClears == m_log.ClearCount()) {
        const std::size_t end = std::min(m_refreshedChunks, m_log.ChunkCount());
        for (; m_textChunks < end; ++m_textChunks) {
            EchoLog::RenderChunk(m_log.Chunk(m_textChunks), m_text);
        }
    }
    return m_text;
}
