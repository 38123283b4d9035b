// KML writes that cannot finish are reported and leave the file that was there untouched.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "link/DataFormats.h"
#include "link/KmlOutput.h"
#include "link/OutputFile.h"
#include "marks_route/Marks.h"
#include "tests/support/FileSizeLimit.h"
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
    e.record = {5,
                3,
                13,
                9,
                0,
                0,
                0,
                0,
                0,
                5,
                static_cast<uint8_t>(count >> 8),
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

// Writes "new contents\n" in two pieces through the one file writer.
bool WriteNew(const std::string& path, std::string* error) {
    return WriteOutputFile(
        path, [](const OutputPieceWriter& write) { return write("new ") && write("contents\n"); },
        error);
}

// What lies at a path without following it: "file 0600", "link -> target", "fifo", ...
std::string KindAt(const fs::path& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return "none";
    }
    if (S_ISLNK(info.st_mode)) {
        return "link -> " + fs::read_symlink(path).string();
    }
    if (S_ISFIFO(info.st_mode)) {
        return "fifo";
    }
    if (S_ISCHR(info.st_mode)) {
        return "char";
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", info.st_mode & 07777);
    return (S_ISREG(info.st_mode) ? "file " : "other ") + std::string(mode);
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Path kinds in the file system: what the check and the writer make of each, and what is left.
TEST_F(FileSafety, PathKindsAreReplacedRefusedOrKept) {
    struct Case {
        const char* name;
        std::function<fs::path(const fs::path& dir)> make;  // returns the path to write
        bool ok;
        const char* errorPart;  // when refused
        std::function<void(const fs::path& dir)> verify;
    };
    const std::vector<Case> cases = {
        {"new file", [](const fs::path& d) { return d / "out.kml"; }, true, nullptr,
         [](const fs::path& d) {
             EXPECT_EQ(Slurp(d / "out.kml"), "new contents\n");
             EXPECT_EQ(Names(d), std::vector<std::string>{"out.kml"});
         }},
        {"regular file keeps its mode",
         [](const fs::path& d) {
             std::ofstream(d / "out.kml") << "old contents\n";
             chmod((d / "out.kml").c_str(), 0600);
             return d / "out.kml";
         },
         true, nullptr,
         [](const fs::path& d) {
             EXPECT_EQ(Slurp(d / "out.kml"), "new contents\n");
             EXPECT_EQ(KindAt(d / "out.kml"), "file 0600");
             EXPECT_EQ(Names(d), std::vector<std::string>{"out.kml"});
         }},
        {"link to a file in another folder",
         [](const fs::path& d) {
             fs::create_directory(d / "store");
             std::ofstream(d / "store" / "real.kml") << "old contents\n";
             chmod((d / "store" / "real.kml").c_str(), 0640);
             fs::create_symlink("store/real.kml", d / "out.kml");
             return d / "out.kml";
         },
         true, nullptr,
         [](const fs::path& d) {
             EXPECT_EQ(KindAt(d / "out.kml"), "link -> store/real.kml");
             EXPECT_EQ(Slurp(d / "store" / "real.kml"), "new contents\n");
             EXPECT_EQ(KindAt(d / "store" / "real.kml"), "file 0640");
             EXPECT_EQ(Names(d / "store"), std::vector<std::string>{"real.kml"});
         }},
        {"hard link: the other name keeps the old contents",
         [](const fs::path& d) {
             std::ofstream(d / "out.kml") << "old contents\n";
             fs::create_hard_link(d / "out.kml", d / "other.kml");
             return d / "out.kml";
         },
         true, nullptr,
         [](const fs::path& d) {
             EXPECT_EQ(Slurp(d / "out.kml"), "new contents\n");
             EXPECT_EQ(Slurp(d / "other.kml"), "old contents\n");
         }},
        {"dangling link",
         [](const fs::path& d) {
             fs::create_symlink("nowhere/x.kml", d / "out.kml");
             return d / "out.kml";
         },
         false, "несуществующий",
         [](const fs::path& d) {
             EXPECT_EQ(KindAt(d / "out.kml"), "link -> nowhere/x.kml");
             EXPECT_EQ(Names(d), std::vector<std::string>{"out.kml"});
         }},
        {"link loop",
         [](const fs::path& d) {
             fs::create_symlink("b.kml", d / "a.kml");
             fs::create_symlink("a.kml", d / "b.kml");
             return d / "a.kml";
         },
         false, "кольцо",
         [](const fs::path& d) {
             EXPECT_EQ(KindAt(d / "a.kml"), "link -> b.kml");
             EXPECT_EQ(KindAt(d / "b.kml"), "link -> a.kml");
         }},
        {"folder",
         [](const fs::path& d) {
             fs::create_directory(d / "out.kml");
             return d / "out.kml";
         },
         false, std::strerror(EISDIR),
         [](const fs::path& d) { EXPECT_TRUE(fs::is_empty(d / "out.kml")); }},
        {"missing folder", [](const fs::path& d) { return d / "none" / "out.kml"; }, false,
         std::strerror(ENOENT), [](const fs::path& d) { EXPECT_TRUE(fs::is_empty(d)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = m_dir / "case";
        fs::remove_all(dir);
        fs::create_directory(dir);
        const fs::path path = c.make(dir);
        std::string checkError;
        EXPECT_EQ(CheckOutputPath(path.string(), 1000, &checkError), c.ok) << checkError;
        std::string writeError;
        EXPECT_EQ(WriteNew(path.string(), &writeError), c.ok) << writeError;
        if (!c.ok) {
            for (const std::string& error : {checkError, writeError}) {
                EXPECT_NE(error.find(path.string()), std::string::npos) << error;
                EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
            }
        }
        c.verify(dir);
    }
}

// Anything that is not a regular file is written into, in one stream, and stays what it was.
TEST_F(FileSafety, StreamsAreWrittenIntoNeverReplaced) {
    // A FIFO, read by another thread.
    const fs::path fifo = m_dir / "pipe.kml";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string fromFifo;
    std::thread reader([&] {
        const int fd = open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
        char buffer[256];
        ssize_t n = 0;
        while (fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0) {
            fromFifo.append(buffer, static_cast<std::size_t>(n));
        }
        if (fd >= 0) {
            close(fd);
        }
    });
    std::string error;
    EXPECT_TRUE(CheckOutputPath(fifo.string(), 1ull << 50, &error)) << error;  // no space check
    EXPECT_TRUE(WriteNew(fifo.string(), &error)) << error;
    reader.join();
    EXPECT_EQ(fromFifo, "new contents\n");
    EXPECT_EQ(KindAt(fifo), "fifo");
    EXPECT_EQ(Names(m_dir), std::vector<std::string>{"pipe.kml"});

    // A link through the process's own descriptors (as /dev/stdout is) goes into that one.
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    const fs::path stdoutLike = m_dir / "stdout";
    fs::create_symlink("/proc/self/fd/" + std::to_string(pipeFds[1]), stdoutLike);
    EXPECT_TRUE(CheckOutputPath(stdoutLike.string(), 1000, &error)) << error;
    EXPECT_TRUE(WriteNew(stdoutLike.string(), &error)) << error;
    close(pipeFds[1]);
    char buffer[64] = {};
    EXPECT_EQ(read(pipeFds[0], buffer, sizeof buffer), 13);
    EXPECT_EQ(std::string(buffer), "new contents\n");
    close(pipeFds[0]);
    EXPECT_EQ(KindAt(stdoutLike), "link -> /proc/self/fd/" + std::to_string(pipeFds[1]));

    // A reader that has gone away is an error, not the end of the process.
    const fs::path lonely = m_dir / "lonely";
    ASSERT_EQ(mkfifo(lonely.c_str(), 0600), 0);
    std::thread quitter([&] {
        const int fd = open(lonely.c_str(), O_RDONLY | O_CLOEXEC);
        close(fd);
    });
    const bool written = WriteOutputFile(
        lonely.string(),
        [&quitter](const OutputPieceWriter& write) {
            quitter.join();
            return write(std::string(100000, 'x'));
        },
        &error);
    EXPECT_FALSE(written);
    EXPECT_NE(error.find(std::strerror(EPIPE)), std::string::npos) << error;

    // A character device made in the folder (root only): written into, still a device.
    const fs::path device = m_dir / "null.kml";
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        EXPECT_TRUE(CheckOutputPath(device.string(), 1ull << 50, &error)) << error;
        EXPECT_TRUE(WriteNew(device.string(), &error)) << error;
        EXPECT_EQ(KindAt(device), "char");
    } else {
        EXPECT_NE(geteuid(), 0u) << "mknod as root: " << std::strerror(errno);
    }
}

// Standard output for "-": written straight into (the child's stdout is a pipe).
TEST_F(FileSafety, DashIsStandardOutput) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::string error;
        const bool ok = CheckOutputPath("-", 1ull << 50, &error) && WriteNew("-", &error);
        _exit(ok ? 0 : 1);
    }
    close(pipeFds[1]);
    std::string out;
    char buffer[64];
    ssize_t n = 0;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        out.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(out, "new contents\n");
}

// Before the transfer: not enough room (free space, file size limit) or no right to write.
TEST_F(FileSafety, CheckRefusesWhatCannotHoldTheTracks) {
    const fs::path file = m_dir / "out.kml";
    std::string error;
    EXPECT_TRUE(CheckOutputPath(file.string(), 1 << 20, &error)) << error;
    EXPECT_FALSE(CheckOutputPath(file.string(), 1ull << 60, &error));
    EXPECT_NE(error.find("недостаточно места"), std::string::npos) << error;
    EXPECT_NE(error.find(file.string()), std::string::npos) << error;
    {
        FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.Ok());
        EXPECT_TRUE(CheckOutputPath(file.string(), 4000, &error)) << error;
        EXPECT_FALSE(CheckOutputPath(file.string(), 5000, &error));
        EXPECT_NE(error.find(std::strerror(EFBIG)), std::string::npos) << error;
    }
    const fs::path folder = m_dir / "readonly";
    fs::create_directory(folder);
    chmod(folder.c_str(), 0555);
    const ChildResult r = InChild([&](std::string* childError) {
        if (geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (nobody == nullptr || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) {
                *childError = "cannot drop root";
                return true;
            }
        }
        return CheckOutputPath((folder / "out.kml").string(), 1000, childError);
    });
    ASSERT_TRUE(r.exited);
    EXPECT_FALSE(r.wrote);
    EXPECT_NE(r.error.find(std::strerror(EACCES)), std::string::npos) << r.error;
    EXPECT_FALSE(fs::exists(file));
}

// A signal handler can take the temporary file away while a replacement is under way.
TEST_F(FileSafety, TemporaryOfAWriteUnderWayCanBeRemoved) {
    const fs::path file = m_dir / "out.kml";
    std::ofstream(file) << "old contents\n";
    std::string error;
    std::vector<std::string> during;
    EXPECT_FALSE(WriteOutputFile(
        file.string(),
        [&](const OutputPieceWriter& write) {
            write("half");
            during = Names(m_dir);
            RemoveOutputTemporary();
            return false;  // the process would end here
        },
        &error));
    EXPECT_EQ(during.size(), 2u);
    ExpectOnlyTheOldFile(m_dir, file);
    RemoveOutputTemporary();  // nothing under way: nothing happens
    ExpectOnlyTheOldFile(m_dir, file);
}

TEST(IncompleteName, BesideThePath) {
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"tracks.kml", "tracks-неполный.kml"},
        {"/a/b.c/полёт.kml", "/a/b.c/полёт-неполный.kml"},
        {"/a/b.c/tracks", "/a/b.c/tracks-неполный"},
        {"dir/.hidden", "dir/.hidden-неполный"},
        {"a.tar.kml", "a.tar-неполный.kml"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IncompleteFileName(c.path), c.name);
    }
}

}  // namespace
