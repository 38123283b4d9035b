// The Windows forms of the core's platform pieces: serial port errors, system texts, output
// and input files with wide paths, local time, UTF-16 text.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "link/ComPort.h"
#include "link/Cp1251.h"
#include "link/DeviceException.h"
#include "link/InputFile.h"
#include "link/LocalTime.h"
#include "link/OutputFile.h"

using MCommunication::ComException;
using MCommunication::ComPort;
using MCommunication::ErrorText;

namespace {

// A fresh folder under the system's temporary folder, removed with its files afterwards.
class TempFolder {
public:
    TempFolder() {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        m_path = WideToUtf8(base) + "pelnora-win-" + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(s_count++);
        CreateDirectoryW(Utf8ToWide(m_path).c_str(), nullptr);
    }
    ~TempFolder() {
        for (const std::string& name : Files()) {
            const std::wstring file = Utf8ToWide(m_path + "\\" + name);
            SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(file.c_str());
        }
        RemoveDirectoryW(Utf8ToWide(m_path).c_str());
    }
    std::string operator/(const std::string& name) const { return m_path + "\\" + name; }
    const std::string& Path() const { return m_path; }

    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAW found{};
        const HANDLE find = FindFirstFileW(Utf8ToWide(m_path + "\\*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) {
            return names;
        }
        do {
            const std::string name = WideToUtf8(found.cFileName);
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
        return names;
    }

private:
    std::string m_path;
    static inline int s_count = 0;
};

std::string ReadAll(const std::string& path) {
    std::string text;
    std::string reason;
    EXPECT_EQ(ReadInputFile(path, 1 << 20, text, reason), InputFileResult::kRead)
        << path << ": " << reason;
    return text;
}

void WriteRaw(const std::string& path, const std::string& text) {
    const HANDLE file = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
    CloseHandle(file);
}

// A fill that hands the given pieces on and then reports success or failure.
auto Pieces(std::vector<std::string> pieces, bool succeed = true) {
    return [pieces, succeed](const OutputPieceWriter& write) {
        for (const std::string& piece : pieces) {
            if (!write(piece)) {
                return false;
            }
        }
        return succeed;
    };
}

std::string SystemText(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text),
        0, nullptr);
    std::string result = text != nullptr ? WideToUtf8(text) : "";
    LocalFree(text);
    return result;
}

}  // namespace

TEST(WindowsComPort, MissingPortThrowsTheSystemCodeAndStaysClosed) {
    for (const char* name : {"COM197", "\\\\.\\COM197"}) {
        ComPort port;
        try {
            port.Open(name, 115200, 0, 8, 0);
            FAIL() << name << " opened";
        } catch (const ComException& e) {
            EXPECT_EQ(e.Code(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND)) << name;
            EXPECT_EQ(ErrorText(e), SystemText(ERROR_FILE_NOT_FOUND));
        }
        EXPECT_FALSE(port.IsOpen());
    }
}

TEST(WindowsComPort, ClosedPortRefusesWithInvalidHandle) {
    ComPort port;
    uint8_t buffer[4] = {};
    const auto code = [](auto&& call) {
        try {
            call();
        } catch (const ComException& e) {
            return e.Code();
        }
        return 0u;
    };
    EXPECT_EQ(code([&] { port.Read(buffer, 4); }), 6u);
    EXPECT_EQ(code([&] { port.Write(buffer, 4); }), 6u);
    EXPECT_EQ(code([&] { port.Purge(); }), 6u);
    EXPECT_EQ(code([&] { port.SetTimeouts(1000, 1000); }), 6u);
    int32_t read = -1;
    int32_t write = -1;
    port.GetTimeouts(read, write);
    EXPECT_EQ(read, 0);
    EXPECT_EQ(write, 0);
    EXPECT_TRUE(port.Close());
    EXPECT_TRUE(port.Close());
}

TEST(WindowsErrorText, SystemTextsUnknownCodesAndCuts) {
    const std::string invalidHandle = ErrorText(ComException(6));
    EXPECT_EQ(invalidHandle, SystemText(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(invalidHandle.empty());
    EXPECT_EQ(ErrorText(ComException(0x7FFFFF00u)), "Unknown error 2147483392");
    EXPECT_EQ(ErrorText(ComException(0xFFFFFF00u)), "Unknown error -256");

    wchar_t one[1] = {L'x'};
    ComException(6).GetErrorMessage(one, 1);
    EXPECT_EQ(one[0], L'\0');
    wchar_t small[5];
    ComException(6).GetErrorMessage(small, 5);
    EXPECT_EQ(std::wstring(small), Utf8ToWide(SystemText(ERROR_INVALID_HANDLE)).substr(0, 4));
    // The other forms still give the family's own text.
    EXPECT_STREQ(ComException(6).WhatW(), L"Ошибка устройства");
}

TEST(WindowsText, WideIsUtf16) {
    const std::string text = "Трек \xF0\x9F\x98\x80 №1";  // U+1F600 needs a surrogate pair
    const std::wstring wide = Utf8ToWide(text);
    EXPECT_EQ(wide.size(), 10u);
    EXPECT_EQ(static_cast<unsigned>(wide[5]), 0xD83Du);
    EXPECT_EQ(static_cast<unsigned>(wide[6]), 0xDE00u);
    EXPECT_EQ(WideToUtf8(wide), text);
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(WindowsOutputFile, ReplacesWithTheNewBytesAndLeavesNothingBeside) {
    TempFolder folder;
    // A Cyrillic name reaches the system as a wide path.
    const std::string path = folder / "треки.kml";
    WriteRaw(path, "old contents");
    std::string error;
    ASSERT_TRUE(CheckOutputPath(path, 1000, &error)) << error;
    ASSERT_TRUE(WriteOutputFile(path, Pieces({"<kml>\r\n", "", "</kml>\r\n"}), &error)) << error;
    EXPECT_EQ(ReadAll(path), "<kml>\r\n</kml>\r\n");
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"треки.kml"});

    // A new file in a folder given with forward slashes.
    std::string forward = folder.Path() + "/new.kml";
    ASSERT_TRUE(WriteOutputFile(forward, Pieces({"a\nb"}), &error)) << error;
    EXPECT_EQ(ReadAll(forward), "a\nb");
}

TEST(WindowsOutputFile, FailedFillKeepsTheOldFile) {
    TempFolder folder;
    const std::string path = folder / "tracks.kml";
    WriteRaw(path, "good file");
    std::string error;
    EXPECT_FALSE(WriteOutputFile(path, Pieces({"half of a"}, false), &error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_EQ(ReadAll(path), "good file");
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"tracks.kml"});
}

TEST(WindowsOutputFile, RefusalsNameThePath) {
    TempFolder folder;
    CreateDirectoryW(Utf8ToWide(folder / "sub").c_str(), nullptr);
    WriteRaw(folder / "readonly.kml", "kept");
    SetFileAttributesW(Utf8ToWide(folder / "readonly.kml").c_str(), FILE_ATTRIBUTE_READONLY);
    struct Case {
        std::string path;
        uint64_t bytes;
    };
    const Case cases[] = {
        {"", 0},                                      // no name
        {folder / "sub", 0},                          // a folder
        {folder / "missing\\tracks.kml", 0},          // no such folder
        {folder / "readonly.kml", 0},                 // a file that may not be replaced
        {folder / "big.kml", 0xFFFFFFFFFFFFFFF0ull},  // far more than the disk holds
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(CheckOutputPath(c.path, c.bytes, &error)) << c.path;
        EXPECT_FALSE(error.empty()) << c.path;
        EXPECT_NE(error.find(c.path), std::string::npos) << error;
        if (c.bytes == 0) {
            std::string writeError;
            EXPECT_FALSE(WriteOutputFile(c.path, Pieces({"x"}), &writeError)) << c.path;
            EXPECT_FALSE(writeError.empty()) << c.path;
        }
    }
    EXPECT_EQ(ReadAll(folder / "readonly.kml"), "kept");
    const auto files = folder.Files();
    EXPECT_EQ(files.size(), 2u);  // sub and readonly.kml: no temporary file left
}

TEST(WindowsOutputFile, DeviceIsWrittenIntoNotReplaced) {
    std::string error;
    EXPECT_TRUE(CheckOutputPath("NUL", 1000, &error)) << error;
    EXPECT_TRUE(WriteOutputFile("NUL", Pieces({"bytes for nobody"}), &error)) << error;
}

TEST(WindowsOutputFile, IncompleteNames) {
    const std::pair<std::string, std::string> cases[] = {
        {"tracks.kml", "tracks-неполный.kml"},
        {"C:\\Полёты\\2024.06\\tracks.kml", "C:\\Полёты\\2024.06\\tracks-неполный.kml"},
        {"C:\\data.d\\tracks", "C:\\data.d\\tracks-неполный"},
        {"dir/.kml", "dir/.kml-неполный"},
        {"a.b.kml", "a.b-неполный.kml"},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(IncompleteFileName(path), expected);
    }
}

TEST(WindowsInputFile, ReadsWidePathsAndRefusesWhatIsNoFile) {
    TempFolder folder;
    const std::string path = folder / "маршрут.kml";
    WriteRaw(path, std::string("<kml>\x1A\r\n</kml>", 15));
    std::string text;
    std::string reason;
    ASSERT_EQ(ReadInputFile(path, 100, text, reason), InputFileResult::kRead) << reason;
    EXPECT_EQ(text, std::string("<kml>\x1A\r\n</kml>", 15));  // bytes as stored, no text mode

    EXPECT_EQ(ReadInputFile(folder.Path(), 100, text, reason), InputFileResult::kFolder);
    for (const char* device : {"NUL", "nul.kml", "C:\\route\\COM1", "lpt9.kml"}) {
        EXPECT_EQ(ReadInputFile(device, 100, text, reason), InputFileResult::kDevice) << device;
    }
    EXPECT_EQ(ReadInputFile(folder / "com10.kml", 100, text, reason), InputFileResult::kFailed);
    EXPECT_EQ(ReadInputFile("\\\\.\\COM9", 100, text, reason), InputFileResult::kDevice);
    EXPECT_EQ(ReadInputFile(folder / "none.kml", 100, text, reason), InputFileResult::kFailed);
    EXPECT_EQ(reason + ".\r\n", SystemText(ERROR_FILE_NOT_FOUND));

    WriteRaw(path, std::string(200000, 'x'));
    EXPECT_EQ(ReadInputFile(path, 1000, text, reason), InputFileResult::kTooLarge);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(ReadInputFile(path, 200000, text, reason), InputFileResult::kRead);
    EXPECT_EQ(text.size(), 200000u);
}

TEST(WindowsOutputFile, FoldersAndRegularFiles) {
    TempFolder folder;
    const std::string made = folder / "полёты";
    std::string error;
    ASSERT_TRUE(EnsureOutputFolder(made, &error)) << error;
    EXPECT_TRUE(EnsureOutputFolder(made, &error)) << error;  // already there
    WriteRaw(made + "\\a.igc", "x");
    EXPECT_TRUE(IsRegularOutputFile(made + "\\a.igc"));
    EXPECT_FALSE(IsRegularOutputFile(made));
    EXPECT_FALSE(IsRegularOutputFile(made + "\\none.igc"));
    EXPECT_FALSE(EnsureOutputFolder(made + "\\a.igc", &error));
    EXPECT_EQ(error.rfind(made + "\\a.igc: ", 0), 0u) << error;
    EXPECT_FALSE(EnsureOutputFolder(folder / "none\\deeper", &error));
}

TEST(WindowsLocalTime, FollowsTheProcessZone) {
    _putenv("TZ=MSK-3");
    _tzset();
    std::tm local{};
    ASSERT_TRUE(LocalTimeOf(0, local));
    EXPECT_EQ(local.tm_hour, 3);
    EXPECT_EQ(local.tm_year, 70);
    std::tm back = local;
    EXPECT_EQ(std::mktime(&back), 0);
    int offset = 0;
    ASSERT_TRUE(LocalTimeOf(86400 * 200, local, offset));
    EXPECT_EQ(offset, 3 * 3600);
    std::tm utc{};
    utc.tm_year = 124;
    utc.tm_mon = 5;
    utc.tm_mday = 14;
    utc.tm_hour = 6;
    EXPECT_EQ(UtcTimeOf(utc), 1718344800);
    _putenv("TZ=");
    _tzset();
}

// Against a device on a real port (the simulator on PELNORA_TEST_COM, idle until asked).
class WindowsComPortOnDevice : public ::testing::Test {
protected:
    void SetUp() override {
        const char* name = std::getenv("PELNORA_TEST_COM");
        if (name == nullptr || *name == '\0') {
            GTEST_SKIP() << "PELNORA_TEST_COM names no port";
        }
        m_name = name;
    }
    std::string m_name;
};

TEST_F(WindowsComPortOnDevice, OpensExclusivelyAndReopens) {
    ComPort port;
    port.Open(m_name, 115200, 0, 8, 0);
    ASSERT_TRUE(port.IsOpen());
    int32_t read = 0;
    int32_t write = 0;
    port.GetTimeouts(read, write);
    EXPECT_EQ(read, 30);
    EXPECT_EQ(write, 30);

    // Windows keeps a port to its one opener; Wine's serial layer does not (it lets a second
    // handle open the same device), so there the refusal is not asked for.
    const bool underWine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    if (!underWine) {
        ComPort other;
        try {
            other.Open(m_name, 115200, 0, 8, 0);
            FAIL() << "a second handle on an open port";
        } catch (const ComException& e) {
            EXPECT_EQ(e.Code(), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
        }
        EXPECT_FALSE(other.IsOpen());
    }

    // Opening the open port again closes its handle first, so the open succeeds.
    port.Open("\\\\.\\" + m_name, 9600, 0, 8, 0);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.Close());
}

TEST_F(WindowsComPortOnDevice, ShortAnswersComeBackAsCounts) {
    ComPort port;
    port.Open(m_name, 115200, 0, 8, 0);
    port.SetTimeouts(300, 300);
    port.Purge();
    uint8_t answer[4] = {};
    // Nothing sent, nothing comes: the whole read time-out passes and 0 comes back.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Read(answer, 4), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    // The device query gets one byte; the read of four ends with it after the quiet gap.
    const uint8_t query = 0x33;
    ASSERT_EQ(port.Write(&query, 1), 1);
    EXPECT_EQ(port.Read(answer, 4), 1);
    EXPECT_EQ(answer[0], 0x02);
    // ReadPending takes what has come without waiting for the rest.
    ASSERT_EQ(port.Write(&query, 1), 1);
    Sleep(200);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(port.ReadPending(answer, 4), 1);
    EXPECT_EQ(answer[0], 0x02);
    EXPECT_EQ(port.ReadPending(answer, 4), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(250));
}
