#pragma once
// The echo log as lines of a chosen length, each rendered on demand, so that a view shows
// only the lines on screen and nothing keeps the whole text.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/EchoLog.h"

// A line index over an EchoLog: every chunk starts a line of its own and has
// ceil(bytes / bytesPerLine) lines. Not locked; the caller keeps the log still meanwhile.
class EchoLines {
public:
    explicit EchoLines(int bytesPerLine = 16);

    // 16, or 12; any other value counts as 16. The index is built anew at the next Update.
    void SetBytesPerLine(int bytesPerLine);
    int BytesPerLine() const { return m_bytesPerLine; }
    // Characters of a full line without its end: prefix, the bytes, the wider gap.
    std::size_t LineLength() const { return 3 + 3 * static_cast<std::size_t>(m_bytesPerLine); }

    // Takes in the chunks appended since the last call; a log that was emptied (or has fewer
    // chunks than indexed) is indexed from its start. Lines past the 2^32nd are not indexed.
    void Update(const EchoLog& log);
    void Reset();
    std::size_t LineCount() const { return m_lineCount; }

    // Line k of the log (k < LineCount()), without its end: "> " for sent, "< " for received,
    // "%02X " per byte, one more blank after the middle byte (the 8th of 16, the 6th of 12).
    // At 16 bytes this is exactly what EchoLog::RenderChunk writes for that line.
    std::string Line(const EchoLog& log, std::size_t k) const;
    void AppendLine(const EchoLog& log, std::size_t k, std::string& out) const;

    // The first `count` lines, each ended by lineEnd, handed on in pieces of about 1 MiB;
    // false as soon as write returns false.
    bool WriteText(const EchoLog& log, std::size_t count, const char* lineEnd,
                   const std::function<bool(const std::string& piece)>& write) const;

    // Bytes the index itself holds.
    std::size_t IndexBytes() const { return m_firstLine.capacity() * sizeof(uint32_t); }

private:
    int m_bytesPerLine;
    std::vector<uint32_t> m_firstLine;  // per indexed chunk: the number of its first line
    std::size_t m_lineCount = 0;
};

// Bytes the log holds for its chunks (for memory figures).
std::size_t EchoLogBytes(const EchoLog& log);
