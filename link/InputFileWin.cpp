#include <windows.h>

#include "link/Cp1251.h"
#include "link/InputFile.h"
#include "link/SystemText.h"

namespace {

// A handle's kind: a disk file, or a pipe, or a character device.
InputFileResult KindOf(HANDLE handle) {
    switch (GetFileType(handle)) {
        case FILE_TYPE_DISK:
            return InputFileResult::kRead;
        case FILE_TYPE_PIPE:
            return InputFileResult::kPipe;
        case FILE_TYPE_CHAR:
            return InputFileResult::kDevice;
        default:
            return InputFileResult::kNotRegular;
    }
}

// The names Windows keeps for devices in every folder: CON, PRN, AUX, NUL, COM1-9, LPT1-9,
// with any extension ("nul.kml"), and everything under \\.\.
bool IsDeviceName(const std::string& path) {
    if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0) {
        return true;
    }
    const std::size_t separator = path.find_last_of("/\\:");
    std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    name = name.substr(0, name.find('.'));
    while (!name.empty() && name.back() == ' ') {
        name.pop_back();
    }
    for (char& c : name) {
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL") {
        return true;
    }
    return name.size() == 4 && (name.rfind("COM", 0) == 0 || name.rfind("LPT", 0) == 0) &&
           name[3] >= '1' && name[3] <= '9';
}

}  // namespace

InputFileResult ReadInputFile(const std::string& path, std::size_t limit, std::string& text,
                              std::string& reason) {
    text.clear();
    const auto failed = [&](DWORD code) {
        reason = MCommunication::SystemErrorText(code);
        while (!reason.empty() &&
               (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) {
            reason.pop_back();
        }
        return InputFileResult::kFailed;
    };
    const std::wstring wide = Utf8ToWide(path);
    // Devices are refused before they are opened: opening a port would take it.
    if (IsDeviceName(path)) {
        return InputFileResult::kDevice;
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
        return failed(GetLastError());
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return InputFileResult::kFolder;
    }
    const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size > limit) {
        return InputFileResult::kTooLarge;
    }
    const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return failed(GetLastError());
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (const InputFileResult kind = KindOf(handle); kind != InputFileResult::kRead) {
        CloseHandle(handle);
        return kind;
    }
    if (GetFileInformationByHandle(handle, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(handle);
        return InputFileResult::kFolder;
    }
    char chunk[65536];
    for (;;) {
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
        if (text.size() > limit) {
            CloseHandle(handle);
            text.clear();
            return InputFileResult::kTooLarge;
        }
    }
    CloseHandle(handle);
    return InputFileResult::kRead;
}
