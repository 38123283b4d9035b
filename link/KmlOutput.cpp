#include "link/KmlOutput.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "link/OutputFile.h"

std::string FormatKmlNumber(double value) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    return std::string(buffer, result.ptr);
}

std::string EscapeXml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                // XML 1.0 has no place for control characters other than tab, LF and CR.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                    out += '?';
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string FileTitle(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

// Hands text on with every LF turned into CR LF, a buffer at a time (no second copy of a
// large document in memory).
bool WriteWithCrLf(const OutputPieceWriter& write, const std::string& text) {
    constexpr std::size_t kBufferBytes = 256 * 1024;
    std::string buffer;
    buffer.reserve(std::min(kBufferBytes, text.size() + text.size() / 16 + 2));
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const char* stop = lf != nullptr ? lf : end;
        buffer.append(p, stop);
        p = stop;
        if (lf != nullptr) {
            buffer += "\r\n";
            ++p;
        }
        if (buffer.size() >= kBufferBytes || p == end) {
            if (!write(buffer)) {
                return false;
            }
            buffer.clear();
        }
    }
    return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error) {
    return WriteOutputFile(
        path, [&text](const OutputPieceWriter& write) { return WriteWithCrLf(write, text); },
        error);
}

bool WriteFileAtomically(const std::string& path,
                         const std::function<bool(const KmlPieceWriter& write)>& fill,
                         std::string* error) {
    return WriteOutputFile(
        path,
        [&fill](const OutputPieceWriter& write) {
            bool written = true;
            const bool filled = fill([&write, &written](const std::string& piece) {
                written = written && WriteWithCrLf(write, piece);
                return written;
            });
            return filled && written;
        },
        error);
}
