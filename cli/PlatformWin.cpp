#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/Platform.h"
#include "link/Cp1251.h"

namespace cli {

void PrepareProcess(int& argc, char**& argv) {
    // The console speaks UTF-8 both ways; the system's texts come in the user's language.
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
    static std::vector<std::string> arguments;
    static std::vector<char*> pointers;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return;
    }
    for (int k = 0; k < count; ++k) {
        arguments.push_back(WideToUtf8(wide[k]));
    }
    LocalFree(wide);
    for (std::string& a : arguments) {
        pointers.push_back(a.data());
    }
    pointers.push_back(nullptr);
    argc = count;
    argv = pointers.data();
}

bool StdinIsTerminal() {
    return _isatty(_fileno(stdin)) != 0;
}

bool StderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

}  // namespace cli
