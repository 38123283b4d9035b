#include "link/EchoLines.h"

#include <algorithm>
#include <cstdint>

namespace {

// With EchoLogBytes below, the only code that reads the log's chunk storage.
struct ChunkView {
    bool received;
    const uint8_t* bytes;
    std::size_t size;
};

std::size_t ChunkCount(const EchoLog& log) {
    return log.Chunks().size();
}

ChunkView ChunkAt(const EchoLog& log, std::size_t i) {
    const EchoChunk& chunk = log.Chunks()[i];
    return {chunk.received, chunk.bytes.data(), chunk.bytes.size()};
}

constexpr char kDigits[] = "0123456789ABCDEF";

}  // namespace

EchoLines::EchoLines(int bytesPerLine) : m_bytesPerLine(bytesPerLine == 12 ? 12 : 16) {}

void EchoLines::SetBytesPerLine(int bytesPerLine) {
    const int value = bytesPerLine == 12 ? 12 : 16;
    if (value != m_bytesPerLine) {
        m_bytesPerLine = value;
        Reset();
    }
}

void EchoLines::Reset() {
    std::vector<uint32_t>().swap(m_firstLine);
    m_lineCount = 0;
}

void EchoLines::Update(const EchoLog& log) {
    const std::size_t chunks = ChunkCount(log);
    if (chunks < m_firstLine.size()) {
        Reset();
    }
    if (chunks > m_firstLine.capacity()) {
        m_firstLine.reserve(std::max(chunks, m_firstLine.capacity() + m_firstLine.capacity() / 2));
    }
    const auto perLine = static_cast<std::size_t>(m_bytesPerLine);
    for (std::size_t i = m_firstLine.size(); i < chunks; ++i) {
        const std::size_t lines = (ChunkAt(log, i).size + perLine - 1) / perLine;
        if (m_lineCount + lines > UINT32_MAX) {
            break;
        }
        m_firstLine.push_back(static_cast<uint32_t>(m_lineCount));
        m_lineCount += lines;
    }
}

void EchoLines::AppendLine(const EchoLog& log, std::size_t k, std::string& out) const {
    if (k >= m_lineCount) {
        return;
    }
    // The chunk whose lines hold k: the last one starting at or before it. Chunks without
    // bytes start where the next one does; upper_bound passes them.
    const auto after =
        std::upper_bound(m_firstLine.begin(), m_firstLine.end(), static_cast<uint32_t>(k));
    const auto index = static_cast<std::size_t>(after - m_firstLine.begin()) - 1;
    const ChunkView chunk = ChunkAt(log, index);
    const auto perLine = static_cast<std::size_t>(m_bytesPerLine);
    const std::size_t from = (k - m_firstLine[index]) * perLine;
    const std::size_t count = std::min(perLine, chunk.size - from);
    const std::size_t gapAfter = perLine / 2 - 1;

    const std::size_t start = out.size();
    out.resize(start + 2 + 3 * count + (count > gapAfter ? 1 : 0));
    char* p = out.data() + start;
    *p++ = chunk.received ? '<' : '>';
    *p++ = ' ';
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t b = chunk.bytes[from + i];
        *p++ = kDigits[b >> 4];
        *p++ = kDigits[b & 0x0F];
        *p++ = ' ';
        if (i == gapAfter) {
            *p++ = ' ';
        }
    }
}

std::string EchoLines::Line(const EchoLog& log, std::size_t k) const {
    std::string line;
    line.reserve(LineLength());
    AppendLine(log, k, line);
    return line;
}

bool EchoLines::WriteText(const EchoLog& log, std::size_t count, const char* lineEnd,
                          const std::function<bool(const std::string& piece)>& write) const {
    constexpr std::size_t kPieceBytes = 1 << 20;
    count = std::min(count, m_lineCount);
    std::string piece;
    piece.reserve(kPieceBytes + LineLength() + 8);
    for (std::size_t k = 0; k < count; ++k) {
        AppendLine(log, k, piece);
        piece += lineEnd;
        if (piece.size() >= kPieceBytes) {
            if (!write(piece)) {
                return false;
            }
            piece.clear();
        }
    }
    return piece.empty() || write(piece);
}

std::size_t EchoLogBytes(const EchoLog& log) {
    return log.StorageBytes();
}
