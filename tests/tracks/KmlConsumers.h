#pragma once
// Reads written KML files back with real consumers: xmllint and gpsbabel.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace kml_test {

// Runs a shell command; returns its standard output and sets status to its exit code.
inline std::string Run(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return out;
    }
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    status = ::pclose(pipe);
    return out;
}

inline std::string Quote(const std::string& path) {
    std::string out = "'";
    for (char c : path) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// True when xmllint finds the file well-formed.
inline bool XmlWellFormed(const std::string& path) {
    int status = 0;
    Run("xmllint --noout " + Quote(path) + " 2>&1", status);
    return status == 0;
}

// What gpsbabel makes of a KML file, as GPX text ("" and status != 0 on failure).
inline std::string GpsbabelGpx(const std::string& path, int& status) {
    return Run("gpsbabel -i kml -f " + Quote(path) + " -o gpx -F - 2>/dev/null", status);
}

inline std::size_t CountOf(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + what.size())) {
        ++count;
    }
    return count;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kml_test
