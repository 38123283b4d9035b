// KML writes that cannot finish are reported and leave the file that was there untouched.

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "link/DataFormats.h"
#include "link/KmlOutput.h"
#include "marks_route/Marks.h"
#include "tracks/TrackKml.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A track of count points near 55.75 N 37.6 E, big enough to pass a small file size limit.
std::vector<TrackEntry> OneTrack(uint16_t count) {
    TrackEntry e;
    e.record = {5, 3, 13, 9, 0, 0, 0, 0, 0, 5, static_cast<uint8_t>(count >> 8),
                static_cast<uint8_t>(count)};
    for (uint16_t i = 0; i < count; ++i) {
        TrackPoint p;
        const PackedAngle lat = EncodeAngle(55.75 + i * 1e-4);
        const PackedAngle lon = EncodeAngle(37.6 + i * 1e-4);
        std::copy(lat.begin(), lat.end(), p.bytes.begin());
        std::copy(lon.begin(), lon.end(), p.bytes.begin() + 4);
        p.bytes[14] = 200;
        p.bytes[15] = 0x77;
        e.points.push_back(p);
    }
    e.checksumOk = true;
    return {e};
}

std::vector<PackedPosition> TwoMarks() {
    std::vector<PackedPosition> marks(2);
    for (std::size_t i = 0; i < marks.size(); ++i) {
        const PackedAngle lat = EncodeAngle(55.7 + i);
        const PackedAngle lon = EncodeAngle(37.6 + i);
        std::copy(lat.begin(), lat.end(), marks[i].begin());
        std::copy(lon.begin(), lon.end(), marks[i].begin() + 4);
    }
    return marks;
}

// One writer under test: writes to path, returns whether it says it wrote, sets error.
struct Writer {
    const char* name;
    std::function<bool(const std::string&, std::string*)> write;
};

std::vector<Writer> Writers() {
    return {
        {"tracks",
         [](const std::string& path, std::string* error) {
             return WriteTrackKml(OneTrack(400), path, error) == KmlWriteResult::Written;
         }},
        {"marks",
         [](const std::string& path, std::string* error) {
             return WriteMarksKml(path, TwoMarks(), error) == KmlWriteResult::Written;
         }},
    };
}

// Runs body in a child process; the child's result and error text come back.
struct ChildResult {
    bool wrote = true;
    std::string error;
    bool exited = false;
};

ChildResult InChild(const std::function<bool(std::string*)>& body) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        std::string error;
        const bool wrote = body(&error);
        const std::string message = (wrote ? "1" : "0") + error;
        ssize_t ignored = write(pipeFds[1], message.data(), message.size());
        (void)ignored;
        close(pipeFds[1]);
        _exit(0);
    }
    close(pipeFds[1]);
    std::string message;
    char buffer[512];
    ssize_t n = 0;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        message.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ChildResult result;
    result.exited = WIFEXITED(status) && WEXITSTATUS(status) == 0 && !message.empty();
    if (result.exited) {
        result.wrote = message[0] == '1';
        result.error = message.substr(1);
    }
    return result;
}

class FileSafety : public ::testing::Test {
protected:
    void SetUp() override {
        BuildDeviceCharTable();
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        char pattern[] = "/tmp/pelnora-file-safety-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        chmod(m_dir.c_str(), 0755);
    }
    void TearDown() override {
        chmod(m_dir.c_str(), 0755);
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    // The old file is still there, whole, and no temporary file was left beside it.
    void ExpectOnlyTheOldFile(const fs::path& folder, const fs::path& file) {
        EXPECT_EQ(Slurp(file), "old contents\n");
        std::size_t entries = 0;
        for (const auto& entry : fs::directory_iterator(folder)) {
            EXPECT_EQ(entry.path(), file) << "left behind: " << entry.path();
            ++entries;
        }
        EXPECT_EQ(entries, 1u);
    }
    fs::path m_dir;
};

// The folder cannot take a new file. Root writes into read-only folders, so the write runs in
// a child process that has given up root for an unprivileged user.
TEST_F(FileSafety, ReadOnlyFolderIsReportedAndTheOldFileStays) {
    const fs::path folder = m_dir / "readonly";
    fs::create_directory(folder);
    const fs::path file = folder / "out.kml";
    std::ofstream(file) << "old contents\n";
    chmod(file.c_str(), 0644);
    chmod(folder.c_str(), 0555);
    for (const Writer& w : Writers()) {
        SCOPED_TRACE(w.name);
        const ChildResult r = InChild([&](std::string* error) {
            if (geteuid() == 0) {
                const passwd* nobody = getpwnam("nobody");
                if (nobody == nullptr || setgid(nobody->pw_gid) != 0 ||
                    setuid(nobody->pw_uid) != 0) {
                    *error = "cannot drop root";
                    return true;
                }
            }
            return w.write(file.string(), error);
        });
        ASSERT_TRUE(r.exited);
        EXPECT_FALSE(r.wrote);
        EXPECT_NE(r.error.find(std::strerror(EACCES)), std::string::npos) << r.error;
        EXPECT_NE(r.error.find(file.string()), std::string::npos) << r.error;
        ExpectOnlyTheOldFile(folder, file);
    }
}

// A file size limit stops the write part-way (SIGXFSZ ignored, so write fails with EFBIG).
TEST_F(FileSafety, WriteFailingPartWayIsReportedAndTheOldFileStays) {
    const fs::path file = m_dir / "out.kml";
    std::ofstream(file) << "old contents\n";
    for (const Writer& w : Writers()) {
        SCOPED_TRACE(w.name);
        const ChildResult r = InChild([&](std::string* error) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            limit.rlim_cur = 300;
            limit.rlim_max = 300;
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                *error = "setrlimit failed";
                return true;
            }
            return w.write(file.string(), error);
        });
        ASSERT_TRUE(r.exited);
        EXPECT_FALSE(r.wrote);
        EXPECT_NE(r.error.find(std::strerror(EFBIG)), std::string::npos) << r.error;
        ExpectOnlyTheOldFile(m_dir, file);
    }
}

// Paths that cannot be written at all, whoever runs the test.
TEST_F(FileSafety, UnwritablePathsAreReported) {
    const fs::path plain = m_dir / "plain";
    std::ofstream(plain) << "old contents\n";
    const fs::path folder = m_dir / "folder";
    fs::create_directory(folder);
    struct Case {
        const char* name;
        std::string path;
        int code;
    };
    const std::vector<Case> cases = {
        {"missing folder", (m_dir / "missing" / "out.kml").string(), ENOENT},
        {"folder is a file", (plain / "out.kml").string(), ENOTDIR},
        {"target is a folder", folder.string(), EISDIR},
        {"no file name", "", 0},
    };
    for (const Writer& w : Writers()) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(w.name) + ": " + c.name);
            std::string error;
            EXPECT_FALSE(w.write(c.path, &error));
            EXPECT_FALSE(error.empty());
            if (c.code != 0) {
                EXPECT_NE(error.find(std::strerror(c.code)), std::string::npos) << error;
            }
        }
    }
    EXPECT_EQ(Slurp(plain), "old contents\n");
    EXPECT_TRUE(fs::is_empty(folder));
}

// A large text goes out in pieces; line ends across the piece borders must all become CR LF.
TEST_F(FileSafety, LargeTextKeepsEveryLineEnd) {
    std::string text;
    std::string expected;
    for (int i = 0; text.size() < (3u << 20); ++i) {
        const std::string line(static_cast<std::size_t>(i % 97), static_cast<char>('a' + i % 26));
        text += line + "\n";
        expected += line + "\r\n";
        if (i % 5 == 0) {
            text += "\n\n";  // runs of empty lines
            expected += "\r\n\r\n";
        }
    }
    text += "no end";
    expected += "no end";
    const fs::path file = m_dir / "large.kml";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(file.string(), text, &error)) << error;
    EXPECT_TRUE(Slurp(file) == expected);
}

// A long track is written in pieces as it is made; the file is the whole document all the same.
TEST_F(FileSafety, LongTrackFileEqualsTheWholeDocument) {
    const std::vector<TrackEntry> tracks = OneTrack(6000);  // about 4 MB of text
    const fs::path file = m_dir / "long.kml";
    std::string error;
    ASSERT_EQ(WriteTrackKml(tracks, file.string(), &error), KmlWriteResult::Written) << error;
    std::string expected;
    for (char c : BuildTrackKml(tracks, "long.kml")) {
        if (c == '\n') {
            expected += '\r';
        }
        expected += c;
    }
    EXPECT_GT(expected.size(), 3u << 20);
    EXPECT_TRUE(Slurp(file) == expected);
}

}  // namespace
