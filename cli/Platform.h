#pragma once
// What pelnora-cli needs from the system around it, one implementation per platform
// (Platform.cpp for POSIX, PlatformWin.cpp for Windows).

namespace cli {

// Texts in Russian and UTF-8 both ways; on Windows argv is replaced by the UTF-8 form of the
// wide command line (kept until the process ends).
void PrepareProcess(int& argc, char**& argv);

bool StdinIsTerminal();
bool StderrIsTerminal();

}  // namespace cli
