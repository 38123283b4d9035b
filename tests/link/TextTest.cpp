// Code page 1251, KML numbers and text, atomic file writes.
#include <dirent.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "link/Cp1251.h"
#include "link/KmlOutput.h"
#include "tests/support/FileSizeLimit.h"

namespace {

// The C library's own conversion, as an independent reference for the code page.
std::string Iconv(const char* to, const char* from, const std::string& in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return "<no iconv>";
    }
    std::string inCopy = in;
    std::string out(in.size() * 4 + 4, '\0');
    char* inPtr = inCopy.data();
    char* outPtr = out.data();
    size_t inLeft = inCopy.size();
    size_t outLeft = out.size();
    const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) {
        return "<iconv failed>";
    }
    out.resize(out.size() - outLeft);
    return out;
}

TEST(Cp1251, WholeCodePageAgreesWithTheCLibraryAndRoundTrips) {
    for (int code = 1; code < 256; ++code) {
        if (code == 0x98) {
            continue;
        }
        const std::string one(1, static_cast<char>(code));
        const std::string utf8 = Cp1251ToUtf8(one);
        EXPECT_EQ(utf8, Iconv("UTF-8", "CP1251", one)) << std::hex << code;
        EXPECT_EQ(Utf8ToCp1251(utf8), one) << std::hex << code;
    }
    EXPECT_EQ(Cp1251ToUtf8("\x98"), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToCp1251("Ошибка устройства"),
              "\xCE\xF8\xE8\xE1\xEA\xE0 \xF3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xE0");
}

TEST(Cp1251, BestFitAndReplacement) {
    struct Case {
        const char* utf8;
        const char* cp1251;
    };
    const Case cases[] = {
        {"Ёж №5 €",
         "\xA8\xE6 \xB9"
         "5 \x88"},
        {"Café Łódź Ørsted Ångström", "Cafe Lodz Orsted Angstrom"},
        {"naïve Straße", "naive Stra?e"},
        {"a\xE2\x88\x92"
         "b 2\xC3\x97"
         "3",
         "a-b 2x3"},  // minus sign, multiplication sign
        {"中文", "??"},
        {"😀", "?"},
        {"\xFF", "?"},            // never a UTF-8 byte
        {"\xC0\xAF", "??"},       // overlong
        {"\xED\xA0\x80", "???"},  // encoded surrogate
        {"ab\xD0", "ab?"},        // cut short at the end
        {"\xD0"
         "A",
         "?A"},  // lead byte without its continuation
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8ToCp1251(c.utf8), c.cp1251) << c.utf8;
    }
}

TEST(Cp1251, WideText) {
    const std::string utf8 = "Ошибка 😀 é";
    const std::wstring wide = Utf8ToWide(utf8);
    EXPECT_EQ(wide, L"Ошибка 😀 é");
    EXPECT_EQ(WideToUtf8(wide), utf8);
    EXPECT_EQ(Utf8ToWide("a\xFF"
                         "b"),
              L"a\xFFFD"
              L"b");
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(KmlOutput, FormatKmlNumberLikePercentG) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {55.7558333, "55.7558"},
        {123.457, "123.457"},
        {1.66667e-06, "1.66667e-06"},
        {-0.0, "-0"},
        {100.5, "100.5"},
        {0.0, "0"},
        {1e6, "1e+06"},
        {37.6173, "37.6173"},
        {999999.5, "1e+06"},
        {0.0001, "0.0001"},
        {0.00001, "1e-05"},
        {-12.5, "-12.5"},
        {2.5, "2.5"},
        {1234567.0, "1.23457e+06"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatKmlNumber(c.value), c.text) << c.text;
    }
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> exponent(-12, 12);
    for (int i = 0; i < 2000; ++i) {
        const double v = (i % 2 ? -1 : 1) * std::pow(10.0, exponent(random));
        char expected[64];
        std::snprintf(expected, sizeof expected, "%g", v);
        ASSERT_EQ(FormatKmlNumber(v), expected);
    }
}

TEST(KmlOutput, NumbersKeepTheFullStopUnderACommaLocale) {
    const std::string old = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "ru_RU.UTF-8") == nullptr &&
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no locale with a decimal comma installed";
    }
    EXPECT_EQ(FormatKmlNumber(55.7558333), "55.7558");
    std::setlocale(LC_NUMERIC, old.c_str());
}

TEST(KmlOutput, EscapeAndTitle) {
    EXPECT_EQ(EscapeXml("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&apos;");
    EXPECT_EQ(EscapeXml("Москва"), "Москва");
    EXPECT_EQ(EscapeXml(std::string("a\x01"
                                    "b\tc\x1f",
                                    6)),
              "a?b\tc?");
    struct Case {
        const char* path;
        const char* title;
    };
    const Case cases[] = {{"/home/u/Треки 1.kml", "Треки 1.kml"},
                          {"route.kml", "route.kml"},
                          {"dir/archive.tar.gz", "archive.tar.gz"},
                          {"/dir/", ""},
                          {"", ""}};
    for (const Case& c : cases) {
        EXPECT_EQ(FileTitle(c.path), c.title) << c.path;
    }
}

class AtomicWrite : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/pelnora-link-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        m_file = m_folder + "/out.kml";
    }
    void TearDown() override {
        chmod(m_folder.c_str(), 0700);
        for (const std::string& name : Entries()) {
            unlink((m_folder + "/" + name).c_str());
        }
        rmdir(m_folder.c_str());
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        if (DIR* d = opendir(m_folder.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string name = e->d_name;
                if (name != "." && name != "..") {
                    names.push_back(name);
                }
            }
            closedir(d);
        }
        return names;
    }
    static std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string m_folder;
    std::string m_file;
};

TEST_F(AtomicWrite, WritesCrLfAndReplacesTheOldFile) {
    const mode_t oldMask = umask(027);
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(m_file, "old\n", &error)) << error;
    ASSERT_TRUE(WriteFileAtomically(m_file, "<kml>\n  <a/>\n</kml>\n", &error)) << error;
    umask(oldMask);
    EXPECT_EQ(Slurp(m_file), "<kml>\r\n  <a/>\r\n</kml>\r\n");
    struct stat info {};
    ASSERT_EQ(stat(m_file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(Entries(), std::vector<std::string>{"out.kml"});  // no temporary left
}

TEST_F(AtomicWrite, ReadOnlyFolderKeepsTheOldFileAndSaysWhy) {
    ASSERT_TRUE(WriteFileAtomically(m_file, "old\n", nullptr));
    chmod(m_folder.c_str(), 0555);
    // Permissions do not bind root: then the attempt runs in a child as an ordinary user.
    const bool asRoot = geteuid() == 0;
    const pid_t child = asRoot ? fork() : 0;
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (asRoot && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(3);
        }
        std::string error;
        const bool written = WriteFileAtomically(m_file, "new\n", &error);
        const bool said = error.find(m_file) != std::string::npos &&
                          error.find("Permission denied") != std::string::npos;
        if (!asRoot) {
            EXPECT_FALSE(written);
            EXPECT_TRUE(said) << error;
        } else {
            _exit(written ? 1 : (said ? 0 : 2));
        }
    } else {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: written, 2: no clear message, 3: no user";
    }
    EXPECT_EQ(Slurp(m_file), "old\r\n");
    EXPECT_EQ(Entries(), std::vector<std::string>{"out.kml"});
}

// A write that fails half-way (file size limit, which binds root too) leaves no partial file.
TEST_F(AtomicWrite, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    ASSERT_TRUE(WriteFileAtomically(m_file, "old\n", nullptr));
    std::string error;
    bool written = true;
    {
        FileSizeLimit limit(1000);
        ASSERT_TRUE(limit.Ok());
        written = WriteFileAtomically(m_file, std::string(5000, 'x'), &error);
    }
    EXPECT_FALSE(written);
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    EXPECT_EQ(Slurp(m_file), "old\r\n");
    EXPECT_EQ(Entries(), std::vector<std::string>{"out.kml"});
}

TEST_F(AtomicWrite, MissingFolderOrDirectoryTargetIsReported) {
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(m_folder + "/none/out.kml", "x", &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    ASSERT_EQ(mkdir(m_file.c_str(), 0700), 0);
    error.clear();
    EXPECT_FALSE(WriteFileAtomically(m_file, "x", &error));
    EXPECT_FALSE(error.empty());
    rmdir(m_file.c_str());
    EXPECT_TRUE(Entries().empty());
}

}  // namespace
