// The names of output files, the same on every platform.

#include "link/OutputFile.h"

std::string IncompleteFileName(const std::string& path) {
    const std::size_t separator = path.find_last_of("/\\");
    const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
    const std::size_t dot = path.find_last_of('.');
    // A dot that starts the name (".kml") or lies in a folder name is no extension.
    if (dot == std::string::npos || dot <= nameStart) {
        return path + "-неполный";
    }
    return path.substr(0, dot) + "-неполный" + path.substr(dot);
}
