// The names of output files, the same rule on every platform.

#include "link/OutputFile.h"

namespace {

#ifdef _WIN32
constexpr const char* kFolderSeparators = "/\\";
#else
constexpr const char* kFolderSeparators = "/";
#endif

}  // namespace

std::string IncompleteFileName(const std::string& path) {
    const std::size_t separator = path.find_last_of(kFolderSeparators);
    const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
    const std::size_t dot = path.find_last_of('.');
    // An extension is a dot inside the name, not its first character ("./.hidden" has none).
    if (dot == std::string::npos || dot <= nameStart) {
        return path + "-неполный";
    }
    return path.substr(0, dot) + "-неполный" + path.substr(dot);
}
