// The KML writers' file writes on Windows, over the platform's output file: every LF becomes
// CR LF, a piece at a time. Built only while link/KmlOutput.cpp still holds the POSIX writer
// (link/CMakeLists.txt then takes just its text helpers).

#include <cstring>

#include "link/KmlOutput.h"
#include "link/OutputFile.h"

namespace {

bool WriteWithCrLf(const OutputPieceWriter& write, const std::string& text) {
    constexpr std::size_t kPieceBytes = 256 * 1024;
    std::string piece;
    piece.reserve(kPieceBytes + 2);
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const char* stop = lf != nullptr ? lf : end;
        piece.append(p, stop);
        p = stop;
        if (lf != nullptr) {
            piece += "\r\n";
            ++p;
        }
        if (piece.size() >= kPieceBytes || p == end) {
            if (!write(piece)) {
                return false;
            }
            piece.clear();
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
            return fill([&write](const std::string& piece) { return WriteWithCrLf(write, piece); });
        },
        error);
}
