#include "cli/Platform.h"

#include <unistd.h>

#include <clocale>
#include <cstdlib>

namespace cli {

// The C library's texts (for error numbers) in Russian, as the rest of the program speaks;
// numbers are never formatted by the locale here.
void PrepareProcess(int& /*argc*/, char**& /*argv*/) {
    unsetenv("LANGUAGE");
    if (std::setlocale(LC_MESSAGES, "ru_RU.UTF-8") == nullptr) {
        std::setlocale(LC_MESSAGES, "");
    }
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
        std::setlocale(LC_CTYPE, "");
    }
}

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

}  // namespace cli
