#pragma once
// The echo log: every chunk sent or received, in order, and its hexadecimal rendering.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

// Where commands report their traffic (the terminal page, or a recorder in the CLI).
class LogSink {
public:
    virtual ~LogSink() = default;
    // Appends a copy of count bytes; count 0 appends nothing. received: true for device → PC.
    virtual void LogChunk(int32_t count, const uint8_t* data, bool received) = 0;
    // Re-renders the whole log for display.
    virtual void RefreshLog() = 0;
};

// The bytes of one chunk, inside the log (valid until the log is cleared or changed).
class EchoBytes : public std::span<const uint8_t> {
public:
    using std::span<const uint8_t>::span;
    explicit EchoBytes(std::span<const uint8_t> bytes) : std::span<const uint8_t>(bytes) {}
    operator std::vector<uint8_t>() const { return {begin(), end()}; }
    friend bool operator==(const EchoBytes& a, const std::vector<uint8_t>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }
};

// One Write or Read call's bytes with their direction: a view into the log.
struct EchoChunk {
    bool received = false;
    EchoBytes bytes;
};

// Chunks in order of arrival, kept compactly: the bytes in large blocks one after the other,
// and 12 bytes of index per chunk. Rendering is incremental, so each Render() costs only new
// chunks.
class EchoLog {
public:
    class Iterator;
    // The chunks as a range (begin, end, size, empty, [i]); iterators stay valid while the log
    // only grows, each chunk's bytes until the log is cleared.
    class ChunkRange;

    EchoLog() = default;
    EchoLog(const EchoLog& other);
    EchoLog& operator=(const EchoLog& other);
    EchoLog(EchoLog&&) noexcept = default;
    EchoLog& operator=(EchoLog&&) noexcept = default;

    // count 0 appends nothing; if copying or growing fails, the whole log is emptied.
    void Append(int32_t count, const uint8_t* data, bool received);
    void Clear();
    std::size_t ChunkCount() const { return m_index.size(); }
    EchoChunk Chunk(std::size_t i) const;
    ChunkRange Chunks() const;
    std::size_t ByteCount() const { return m_byteCount; }
    // How often the log was emptied (by Clear or a failed append).
    std::size_t ClearCount() const { return m_clears; }
    // Memory held for the chunks: their blocks and their index.
    std::size_t StorageBytes() const;

    // Whole log as text: "> "/"< " per line, "%02X " per byte, an extra blank after the
    // 8th byte, CR LF after the 16th and after a chunk not a multiple of 16 long.
    const std::string& Render();

    // Renders one chunk onto out (the rule above; the one place it lives).
    static void RenderChunk(const EchoChunk& chunk, std::string& out);

private:
    struct Entry {
        uint32_t block;
        uint32_t offset;
        uint32_t sizeAndDirection;  // size, and kReceivedBit for device → PC
    };
    static constexpr uint32_t kReceivedBit = 0x80000000u;
    static constexpr std::size_t kBlockBytes = std::size_t{1} << 16;
    struct Block {
        std::unique_ptr<uint8_t[]> bytes;
        std::size_t capacity = 0;
        std::size_t used = 0;
    };

    std::vector<Block> m_blocks;
    std::deque<Entry> m_index;
    std::size_t m_byteCount = 0;
    std::size_t m_clears = 0;
    std::string m_text;  // rendering of chunks [0 .. m_rendered)
    std::size_t m_rendered = 0;
};

class EchoLog::Iterator {
public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = EchoChunk;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = EchoChunk;

    Iterator() = default;
    Iterator(const EchoLog* log, std::size_t i) : m_log(log), m_i(i) {}
    EchoChunk operator*() const { return m_log->Chunk(m_i); }
    EchoChunk operator[](difference_type n) const { return *(*this + n); }
    Iterator& operator++() {
        ++m_i;
        return *this;
    }
    Iterator operator++(int) {
        Iterator old = *this;
        ++m_i;
        return old;
    }
    Iterator& operator--() {
        --m_i;
        return *this;
    }
    Iterator operator--(int) {
        Iterator old = *this;
        --m_i;
        return old;
    }
    Iterator& operator+=(difference_type n) {
        m_i = static_cast<std::size_t>(static_cast<difference_type>(m_i) + n);
        return *this;
    }
    Iterator& operator-=(difference_type n) { return *this += -n; }
    friend Iterator operator+(Iterator it, difference_type n) { return it += n; }
    friend Iterator operator+(difference_type n, Iterator it) { return it += n; }
    friend Iterator operator-(Iterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const Iterator& a, const Iterator& b) {
        return static_cast<difference_type>(a.m_i) - static_cast<difference_type>(b.m_i);
    }
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.m_i == b.m_i; }
    friend auto operator<=>(const Iterator& a, const Iterator& b) { return a.m_i <=> b.m_i; }

private:
    const EchoLog* m_log = nullptr;
    std::size_t m_i = 0;
};

class EchoLog::ChunkRange {
public:
    explicit ChunkRange(const EchoLog& log) : m_log(&log) {}
    Iterator begin() const { return {m_log, 0}; }
    Iterator end() const { return {m_log, m_log->ChunkCount()}; }
    std::size_t size() const { return m_log->ChunkCount(); }
    bool empty() const { return size() == 0; }
    EchoChunk operator[](std::size_t i) const { return m_log->Chunk(i); }
    EchoChunk front() const { return m_log->Chunk(0); }
    EchoChunk back() const { return m_log->Chunk(size() - 1); }

private:
    const EchoLog* m_log;
};

inline EchoLog::ChunkRange EchoLog::Chunks() const {
    return ChunkRange(*this);
}

// A sink that keeps its own log and renders on refresh (for the CLI and tests); the text is
// made when asked for, so a log nobody reads costs no rendering.
class EchoLogRecorder : public LogSink {
public:
    void LogChunk(int32_t count, const uint8_t* data, bool received) override;
    void RefreshLog() override;
    EchoLog& Log() { return m_log; }
    // The rendering of the log as it stood at the last refresh.
    const std::string& Text() const;
    int RefreshCount() const { return m_refreshCount; }

private:
    EchoLog m_log;
    std::size_t m_refreshedChunks = 0;     // chunks in the log at the last refresh
    mutable std::size_t m_textClears = 0;  // the log's ClearCount when m_text was begun
    mutable std::string m_text;            // rendering of chunks [0 .. m_textChunks)
    mutable std::size_t m_textChunks = 0;
    int m_refreshCount = 0;
};
