#include "link/SystemText.h"

#include <cstring>

namespace MCommunication {

namespace {

// strerror_r comes in two forms; take the text from whichever this C library has.
[[maybe_unused]] const char* StrerrorText(int rc, const char* buffer) {
    return rc == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* StrerrorText(const char* text, const char*) {
    return text;
}

}  // namespace

std::string SystemErrorText(uint32_t code) {
    const int number = static_cast<int>(code);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
    // glibc words unknown numbers itself (and per locale); ask it whether it knows the number.
    if (strerrorname_np(number) == nullptr) {
        return {};
    }
#endif
    char buffer[256] = {};
    const char* text = StrerrorText(strerror_r(number, buffer, sizeof buffer), buffer);
    if (text == nullptr || *text == '\0' || std::strncmp(text, "Unknown error", 13) == 0 ||
        std::strcmp(text, "No error information") == 0) {
        return {};
    }
    return text;
}

}  // namespace MCommunication
