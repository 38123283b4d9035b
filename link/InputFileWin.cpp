#include <windows.h>

#include <cerrno>
#include <system_error>

#include "link/Cp1251.h"
#include "link/InputFile.h"
#include "link/SystemText.h"

bool ReadInputFile(const std::string& path, std::size_t limit, std::string& text,
                   std::string& reason) {
    text.clear();
    const auto failed = [&](DWORD code) {
        reason = MCommunication::SystemErrorText(code);
        while (!reason.empty() &&
               (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) {
            reason.pop_back();
        }
        return false;
    };
    const std::wstring wide = Utf8ToWide(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        reason = std::generic_category().message(EISDIR);
        return false;
    }
    const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return failed(GetLastError());
    }
    char chunk[65536];
    while (text.size() <= limit) {
        DWORD got = 0;
        if (!ReadFile(handle, chunk, sizeof chunk, &got, nullptr)) {
            const DWORD code = GetLastError();
            CloseHandle(handle);
            return failed(code);
        }
        if (got == 0) {
            break;
        }
        text.append(chunk, got);
    }
    CloseHandle(handle);
    return true;
}
