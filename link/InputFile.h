#pragma once
// Reading a whole input file, one implementation per platform (InputFile.cpp for POSIX,
// InputFileWin.cpp for Windows; the path is UTF-8 on both).

#include <cstddef>
#include <string>

enum class InputFileResult {
    kRead,        // text holds the whole file
    kTooLarge,    // more than the limit: refused without reading the rest
    kFailed,      // reason holds the system's text
    kFolder,      // the path is not a regular file but a folder ...
    kPipe,        // ... a pipe (FIFO)
    kSocket,      // ... a socket
    kDevice,      // ... a device
    kNotRegular,  // ... something else
};

// Reads a regular file into text. What is not a regular file is refused before it is opened
// (opening a FIFO waits for a writer, a terminal may change its lines) and again after, in
// case the name was swapped meanwhile.
InputFileResult ReadInputFile(const std::string& path, std::size_t limit, std::string& text,
                              std::string& reason);
