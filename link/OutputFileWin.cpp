// Output files on Windows: paths are UTF-8 here and wide only at the system calls; a regular
// file is replaced through a temporary file beside it moved over it (MoveFileExW).

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "link/Cp1251.h"
#include "link/OutputFile.h"
#include "link/SystemText.h"

namespace {

bool Fail(std::string* error, const std::string& message) {
    if (error != nullptr) {
        *error = message;
    }
    return false;
}

// The system's text for code without its closing full stop and line break.
std::string Reason(DWORD code) {
    std::string text = MCommunication::SystemErrorText(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    if (text.empty()) {
        text = "Unknown error " + std::to_string(static_cast<int32_t>(code));
    }
    return text;
}

std::string Describe(const std::string& path, DWORD code) {
    return path + ": " + Reason(code);
}

// The folder part of path: "." for a bare name, a root ("\", "C:\", "C:") kept whole.
std::string FolderOf(const std::string& path) {
    const std::size_t separator = path.find_last_of("/\\");
    if (separator == std::string::npos) {
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    }
    if (separator == 0 || (separator == 2 && path[1] == ':')) {
        return path.substr(0, separator + 1);
    }
    return path.substr(0, separator);
}

std::string NameOf(const std::string& path) {
    const std::size_t separator = path.find_last_of("/\\");
    std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    if (separator == std::string::npos && name.size() >= 2 && name[1] == ':') {
        name = name.substr(2);
    }
    return name;
}

enum class Kind { Missing, Regular, Folder, Stream, BrokenLink, Unreadable };

struct Target {
    Kind kind = Kind::Missing;
    std::string path;  // where the bytes go: a link's target for a link to a regular file
    DWORD attributes = 0;
    DWORD code = 0;  // the system's code for Unreadable
};

// What path names now, links followed.
Target Inspect(const std::string& path) {
    Target target;
    target.path = path;
    const std::wstring wide = Utf8ToWide(path);
    const DWORD own = GetFileAttributesW(wide.c_str());
    const HANDLE handle = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            target.kind = Kind::BrokenLink;
        } else if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            target.kind = Kind::Missing;
        } else if (code == ERROR_CANT_RESOLVE_FILENAME) {
            target.kind = Kind::BrokenLink;
        } else {
            target.kind = Kind::Unreadable;
            target.code = code;
        }
        return target;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        target.kind = Kind::Stream;
        CloseHandle(handle);
        return target;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(handle, &info)) {
        target.attributes = info.dwFileAttributes;
    }
    if ((target.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        target.kind = Kind::Folder;
    } else {
        target.kind = Kind::Regular;
        if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            wchar_t resolved[MAX_PATH * 4];
            const DWORD length = GetFinalPathNameByHandleW(
                handle, resolved, sizeof resolved / sizeof resolved[0], VOLUME_NAME_DOS);
            if (length > 0 && length < sizeof resolved / sizeof resolved[0]) {
                target.path = WideToUtf8(std::wstring(resolved, length));
            }
        }
    }
    CloseHandle(handle);
    return target;
}

// Refusals that do not depend on the folder.
bool Refused(const std::string& path, const Target& target, std::string* error) {
    switch (target.kind) {
        case Kind::Folder:
            return !Fail(error, path + ": это папка, а не файл");
        case Kind::BrokenLink:
            return !Fail(error, path + ": ссылка никуда не ведёт или ведёт по кругу");
        case Kind::Unreadable:
            return !Fail(error, Describe(path, target.code));
        case Kind::Regular:
            // A read-only file is not replaced (not every file system refuses the move itself).
            return (target.attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
                   !Fail(error, Describe(path, ERROR_ACCESS_DENIED));
        default:
            return false;
    }
}

bool WriteAll(HANDLE handle, const std::string& piece, DWORD& code) {
    const char* data = piece.data();
    std::size_t left = piece.size();
    while (left > 0) {
        const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD done = 0;
        if (!WriteFile(handle, data, chunk, &done, nullptr) || done == 0) {
            code = GetLastError();
            if (code == 0) {
                code = ERROR_WRITE_FAULT;
            }
            return false;
        }
        data += done;
        left -= done;
    }
    return true;
}

// Runs fill into handle; code is the system's code of what went wrong (0 when all was written).
DWORD FillInto(HANDLE handle, const std::function<bool(const OutputPieceWriter& write)>& fill) {
    DWORD code = 0;
    const bool filled = fill([handle, &code](const std::string& piece) {
        return code == 0 && WriteAll(handle, piece, code);
    });
    if (code == 0 && !filled) {
        code = ERROR_OPERATION_ABORTED;
    }
    return code;
}

bool WriteToStandardOutput(const std::function<bool(const OutputPieceWriter& write)>& fill,
                           std::string* error) {
    std::fflush(stdout);
    const DWORD code = FillInto(GetStdHandle(STD_OUTPUT_HANDLE), fill);
    return code == 0 || Fail(error, Describe("-", code));
}

bool WriteIntoStream(const std::string& path,
                     const std::function<bool(const OutputPieceWriter& write)>& fill,
                     std::string* error) {
    const HANDLE handle =
        CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return Fail(error, Describe(path, GetLastError()));
    }
    const DWORD code = FillInto(handle, fill);
    CloseHandle(handle);
    return code == 0 || Fail(error, Describe(path, code));
}

// The temporary file being written, for removal when the process ends on a console event
// (the handler runs in a thread of its own, so a lock will do).
std::mutex g_temporaryLock;
std::wstring g_temporary;

class TemporaryRecord {
public:
    explicit TemporaryRecord(const std::wstring& name) {
        std::lock_guard lock(g_temporaryLock);
        g_temporary = name;
    }
    ~TemporaryRecord() {
        std::lock_guard lock(g_temporaryLock);
        g_temporary.clear();
    }
    TemporaryRecord(const TemporaryRecord&) = delete;
    TemporaryRecord& operator=(const TemporaryRecord&) = delete;
};

// A new file beside target that no one else has: "<folder>\.<name>.<process>-<n>".
HANDLE CreateTemporary(const std::string& target, std::wstring& tempName, DWORD& code) {
    const std::string stem = FolderOf(target) + "\\." + NameOf(target) + "." +
                             std::to_string(GetCurrentProcessId()) + "-";
    static LONG counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = Utf8ToWide(stem + std::to_string(InterlockedIncrement(&counter)) + "-" +
                              std::to_string(GetTickCount64() % 1000000));
        // Shared for deletion only, so that RemoveOutputTemporary can take it away.
        const HANDLE handle = CreateFileW(tempName.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            return handle;
        }
        code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    return INVALID_HANDLE_VALUE;
}

bool ReplaceAtomically(const std::string& path, const Target& target,
                       const std::function<bool(const OutputPieceWriter& write)>& fill,
                       std::string* error) {
    std::wstring tempName;
    DWORD code = 0;
    const HANDLE handle = CreateTemporary(target.path, tempName, code);
    if (handle == INVALID_HANDLE_VALUE) {
        return Fail(error, Describe(path, code));
    }
    const TemporaryRecord record(tempName);
    code = FillInto(handle, fill);
    if (code == 0 && !FlushFileBuffers(handle)) {
        code = GetLastError();
    }
    if (!CloseHandle(handle) && code == 0) {
        code = GetLastError();
    }
    // The file keeps the old one's hidden, system and archive marks.
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (code == 0 && target.kind == Kind::Regular && (target.attributes & kKept) != 0) {
        SetFileAttributesW(tempName.c_str(), target.attributes & kKept);
    }
    if (code == 0 && !MoveFileExW(tempName.c_str(), Utf8ToWide(target.path).c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        code = GetLastError();
    }
    if (code != 0) {
        DeleteFileW(tempName.c_str());
        return Fail(error, Describe(path, code));
    }
    return true;
}

}  // namespace

bool CheckOutputPath(const std::string& path, uint64_t bytesNeeded, std::string* error) {
    if (path.empty()) {
        return Fail(error, "Не задано имя файла.");
    }
    if (path == "-") {
        return true;
    }
    const Target target = Inspect(path);
    if (Refused(path, target, error)) {
        return false;
    }
    if (target.kind == Kind::Stream) {
        return true;
    }
    const std::string folder = FolderOf(target.path);
    const std::wstring wideFolder = Utf8ToWide(folder);
    const DWORD attributes = GetFileAttributesW(wideFolder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return Fail(error, Describe(path, GetLastError()));
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return Fail(error, Describe(path, ERROR_PATH_NOT_FOUND));
    }
    // The folder must take the temporary file the writer puts beside the target.
    std::wstring probeName;
    DWORD code = 0;
    const HANDLE probe = CreateTemporary(target.path, probeName, code);
    if (probe == INVALID_HANDLE_VALUE) {
        return Fail(error, Describe(path, code));
    }
    CloseHandle(probe);
    DeleteFileW(probeName.c_str());

    ULARGE_INTEGER freeBytes{};
    if (GetDiskFreeSpaceExW(wideFolder.c_str(), &freeBytes, nullptr, nullptr) &&
        freeBytes.QuadPart < bytesNeeded) {
        return Fail(error, Describe(path, ERROR_DISK_FULL) + " (нужно около " +
                               std::to_string(bytesNeeded) + " байт, свободно " +
                               std::to_string(freeBytes.QuadPart) + ")");
    }
    return true;
}

bool WriteOutputFile(const std::string& path,
                     const std::function<bool(const OutputPieceWriter& write)>& fill,
                     std::string* error) {
    if (path.empty()) {
        return Fail(error, "Не задано имя файла.");
    }
    if (path == "-") {
        return WriteToStandardOutput(fill, error);
    }
    const Target target = Inspect(path);
    if (Refused(path, target, error)) {
        return false;
    }
    if (target.kind == Kind::Stream) {
        return WriteIntoStream(path, fill, error);
    }
    return ReplaceAtomically(path, target, fill, error);
}

void RemoveOutputTemporary() {
    std::lock_guard lock(g_temporaryLock);
    if (!g_temporary.empty()) {
        DeleteFileW(g_temporary.c_str());
    }
}

bool IsRegularOutputFile(const std::string& path) {
    return Inspect(path).kind == Kind::Regular;
}

bool OutputPathExists(const std::string& path) {
    return GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsOutputFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool EnsureOutputFolder(const std::string& folder, std::string* error) {
    const std::wstring wide = Utf8ToWide(folder);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return true;
        }
        return Fail(error, Describe(folder, ERROR_DIRECTORY));
    }
    if (CreateDirectoryW(wide.c_str(), nullptr)) {
        return true;
    }
    return Fail(error, Describe(folder, GetLastError()));
}
