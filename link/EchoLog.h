#pragma once
// The echo log: every chunk sent or received, in order, and its hexadecimal rendering.

#include <cstddef>
#include <cstdint>
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

// One Write or Read call's bytes with their direction.
struct EchoChunk {
    bool received = false;
    std::vector<uint8_t> bytes;
};

// Chunks in order of arrival; rendering is incremental, so each Render() costs only new chunks.
class EchoLog {
public:
    // count 0 appends nothing; if copying or growing fails, the whole log is emptied.
    void Append(int32_t count, const uint8_t* data, bool received);
    void Clear();
    const std::vector<EchoChunk>& Chunks() const { return m_chunks; }
    std::size_t ByteCount() const { return m_byteCount; }

    // Whole log as text: "> "/"< " per line, "%02X " per byte, an extra blank after the
    // 8th byte, CR LF after the 16th and after a chunk not a multiple of 16 long.
    const std::string& Render();

    // Renders one chunk onto out (the rule above; the one place it lives).
    static void RenderChunk(const EchoChunk& chunk, std::string& out);

private:
    std::vector<EchoChunk> m_chunks;
    std::size_t m_byteCount = 0;
    std::string m_text;             // rendering of m_chunks[0 .. m_rendered)
    std::size_t m_rendered = 0;
};

// A sink that keeps its own log and renders on refresh (for the CLI and tests).
class EchoLogRecorder : public LogSink {
public:
    void LogChunk(int32_t count, const uint8_t* data, bool received) override;
    void RefreshLog() override;
    EchoLog& Log() { return m_log; }
    const std::string& Text() const { return m_text; }
    int RefreshCount() const { return m_refreshCount; }

private:
    EchoLog m_log;
    std::string m_text;
    int m_refreshCount = 0;
};
