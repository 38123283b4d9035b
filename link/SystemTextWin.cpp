#include <windows.h>

#include "link/Cp1251.h"
#include "link/SystemText.h"

namespace MCommunication {

// The system message table in the language-neutral default language; the text is allocated by
// the system and released after copying.
std::string SystemErrorText(uint32_t code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text),
        0, nullptr);
    if (length == 0 || text == nullptr) {
        return {};
    }
    const std::wstring wide(text, length);
    LocalFree(text);
    return WideToUtf8(wide);
}

}  // namespace MCommunication
