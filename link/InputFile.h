#pragma once
// Reading a whole input file, one implementation per platform (InputFile.cpp for POSIX,
// InputFileWin.cpp for Windows; the path is UTF-8 on both).

#include <cstddef>
#include <string>

// Reads path into text, stopping once more than limit bytes have come (so the caller can refuse
// the size without reading the rest). A folder is refused. On failure reason is the system's
// text for what went wrong.
bool ReadInputFile(const std::string& path, std::size_t limit, std::string& text,
                   std::string& reason);
