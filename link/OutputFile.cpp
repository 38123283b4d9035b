// Output files on POSIX: regular files replaced through a temporary file renamed over them,
// anything else written straight into.

#include "link/OutputFile.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

bool Fail(std::string* error, const std::string& message) {
    if (error != nullptr) {
        *error = message;
    }
    return false;
}

std::string SystemText(int error) {
    char buffer[256];
    // The GNU form returns the text, which may or may not be the buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

std::string Describe(const std::string& path, int error) {
    return path + ": " + SystemText(error);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What a path stands for once its links are followed.
enum class PathKind {
    Missing,     // nothing there (the folder may still be missing)
    Regular,     // a regular file, or a link to one: target is the file itself
    Stream,      // a FIFO, a device, a terminal: written into
    Descriptor,  // one of the process's open descriptors (/dev/stdout, /dev/fd/N): fd
    Directory,
    Refused,  // a dangling link, a link loop, a socket: error says why
};

struct Resolved {
    PathKind kind = PathKind::Missing;
    std::string target;  // for Regular and Missing: the file to create or replace
    int fd = -1;         // for Descriptor
    struct stat info {};
    std::string error;
};

// The descriptor a link text names when it is one of the process's own ("/proc/self/fd/1",
// "/dev/fd/1"), or -1.
int OwnDescriptor(const std::string& text) {
    for (const char* prefix : {"/proc/self/fd/", "/dev/fd/"}) {
        const std::size_t length = std::strlen(prefix);
        if (text.compare(0, length, prefix) == 0 && text.size() > length) {
            char* end = nullptr;
            const long fd = std::strtol(text.c_str() + length, &end, 10);
            if (*end == '\0' && fd >= 0 && fd <= INT_MAX) {
                return static_cast<int>(fd);
            }
        }
    }
    return -1;
}

Resolved Resolve(const std::string& path) {
    Resolved r;
    if (path == "-") {
        r.kind = PathKind::Descriptor;
        r.fd = STDOUT_FILENO;
        return r;
    }
    struct stat own {};
    if (lstat(path.c_str(), &own) != 0) {
        if (errno == ENOENT) {
            r.target = path;
            return r;
        }
        r.kind = PathKind::Refused;
        r.error = Describe(path, errno);
        return r;
    }
    if (S_ISLNK(own.st_mode)) {
        // Follow the chain by hand: a hop through the process's own descriptors is written into
        // that descriptor, whatever it stands for.
        std::string hop = path;
        for (int hops = 0; hops < 40; ++hops) {
            struct stat hopInfo {};
            if (lstat(hop.c_str(), &hopInfo) != 0 || !S_ISLNK(hopInfo.st_mode)) {
                break;
            }
            std::vector<char> text(PATH_MAX + 1);
            const ssize_t n = readlink(hop.c_str(), text.data(), PATH_MAX);
            if (n <= 0) {
                break;
            }
            std::string next(text.data(), static_cast<std::size_t>(n));
            if (next[0] != '/') {
                next = FolderOf(hop) + "/" + next;
            }
            const int fd = OwnDescriptor(next);
            if (fd >= 0 && fcntl(fd, F_GETFD) != -1) {
                r.kind = PathKind::Descriptor;
                r.fd = fd;
                return r;
            }
            hop = next;
        }
    }
    if (stat(path.c_str(), &r.info) != 0) {
        const int why = errno;
        r.kind = PathKind::Refused;
        if (why == ENOENT && S_ISLNK(own.st_mode)) {
            r.error = path + ": ссылка указывает на несуществующий файл";
        } else if (why == ELOOP) {
            r.error = path + ": ссылки замкнуты в кольцо";
        } else {
            r.error = Describe(path, why);
        }
        return r;
    }
    if (S_ISDIR(r.info.st_mode)) {
        r.kind = PathKind::Directory;
        r.error = Describe(path, EISDIR);
    } else if (S_ISREG(r.info.st_mode)) {
        r.kind = PathKind::Regular;
        r.target = path;
        if (S_ISLNK(own.st_mode)) {
            // Replaced in the link's target folder, so that the link itself stays.
            if (char* real = realpath(path.c_str(), nullptr)) {
                r.target = real;
                std::free(real);
            } else {
                r.kind = PathKind::Refused;
                r.error = Describe(path, errno);
            }
        }
    } else if (S_ISSOCK(r.info.st_mode)) {
        r.kind = PathKind::Refused;
        r.error = Describe(path, ENXIO);
    } else {
        r.kind = PathKind::Stream;
    }
    return r;
}

// The process's umask, read without changing it where the system tells it (other threads may
// be creating files); otherwise set and put back at once.
mode_t CurrentUmask() {
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned int mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status) != nullptr) {
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        }
        std::fclose(status);
        if (found) {
            return static_cast<mode_t>(mask);
        }
    }
    const mode_t mask = umask(022);
    umask(mask);
    return mask;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Runs fill with a writer into fd; false with the errno of the failure (EIO when fill itself
// gave up).
int FillDescriptor(int fd, const std::function<bool(const OutputPieceWriter&)>& fill) {
    int failure = 0;
    const bool filled = fill([fd, &failure](const std::string& piece) {
        if (failure == 0 && !WriteAll(fd, piece.data(), piece.size())) {
            failure = errno != 0 ? errno : EIO;
        }
        return failure == 0;
    });
    if (failure == 0 && !filled) {
        failure = EIO;
    }
    return failure;
}

// The name of the temporary file being written, for removal from a signal handler.
char g_temporary[PATH_MAX + 1];
std::atomic<bool> g_temporarySet{false};
std::atomic<bool> g_temporaryBusy{false};

class TemporaryRecord {
public:
    explicit TemporaryRecord(const std::string& name) {
        if (name.size() <= PATH_MAX && !g_temporaryBusy.exchange(true)) {
            std::memcpy(g_temporary, name.c_str(), name.size() + 1);
            g_temporarySet.store(true);
            m_owner = true;
        }
    }
    ~TemporaryRecord() {
        if (m_owner) {
            g_temporarySet.store(false);
            g_temporaryBusy.store(false);
        }
    }
    TemporaryRecord(const TemporaryRecord&) = delete;
    TemporaryRecord& operator=(const TemporaryRecord&) = delete;

private:
    bool m_owner = false;
};

bool ReplaceAtomically(const std::string& path, const Resolved& where,
                       const std::function<bool(const OutputPieceWriter&)>& fill,
                       std::string* error) {
    const std::string folder = FolderOf(where.target);
    const std::string name = NameOf(where.target);
    if (name.empty()) {
        return Fail(error, Describe(path, EISDIR));
    }
    std::string tempName = folder + "/." + name + ".XXXXXX";
    std::vector<char> temp(tempName.begin(), tempName.end());
    temp.push_back('\0');
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return Fail(error, Describe(path, errno));
    }
    tempName = temp.data();
    const TemporaryRecord record(tempName);

    errno = 0;
    int failure = FillDescriptor(fd, fill);
    if (failure == 0 && fsync(fd) != 0) {
        failure = errno;
    }
    if (failure == 0) {
        if (where.kind == PathKind::Regular) {
            // The replaced file's owner and group where the process may set them (an ordinary
            // user may give the group it belongs to), then its mode (chown clears set-id bits).
            if (fchown(fd, where.info.st_uid, where.info.st_gid) != 0) {
                const int ignored = fchown(fd, static_cast<uid_t>(-1), where.info.st_gid);
                (void)ignored;
            }
            if (fchmod(fd, where.info.st_mode & 07777) != 0) {
                failure = errno;
            }
        } else if (fchmod(fd, 0666 & ~CurrentUmask()) != 0) {
            failure = errno;
        }
    }
    if (close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && rename(tempName.c_str(), where.target.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        unlink(tempName.c_str());
        return Fail(error, Describe(path, failure));
    }
    // Make the new name durable too; a failure here loses nothing already written.
    const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

// A reader that goes away makes the write fail with EPIPE instead of ending the process.
class SigpipeBlocked {
public:
    SigpipeBlocked() {
        sigset_t pipeSet;
        sigemptyset(&pipeSet);
        sigaddset(&pipeSet, SIGPIPE);
        sigpending(&m_pendingBefore);
        m_blocked = pthread_sigmask(SIG_BLOCK, &pipeSet, &m_saved) == 0;
    }
    ~SigpipeBlocked() {
        if (!m_blocked) {
            return;
        }
        // Take back a SIGPIPE this write raised, so that it is not delivered on unblocking.
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) && !sigismember(&m_pendingBefore, SIGPIPE)) {
            sigset_t pipeSet;
            sigemptyset(&pipeSet);
            sigaddset(&pipeSet, SIGPIPE);
            const timespec zero{0, 0};
            sigtimedwait(&pipeSet, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &m_saved, nullptr);
    }
    SigpipeBlocked(const SigpipeBlocked&) = delete;
    SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

private:
    sigset_t m_saved{};
    sigset_t m_pendingBefore{};
    bool m_blocked = false;
};

bool WriteIntoDescriptor(const std::string& path, int fd,
                         const std::function<bool(const OutputPieceWriter&)>& fill,
                         std::string* error) {
    const SigpipeBlocked guard;
    errno = 0;
    const int failure = FillDescriptor(fd, fill);
    if (failure != 0) {
        return Fail(error, Describe(path, failure));
    }
    return true;
}

}  // namespace

bool CheckOutputPath(const std::string& path, uint64_t bytesNeeded, std::string* error) {
    if (path.empty()) {
        return Fail(error, "Не указано имя файла");
    }
    const Resolved where = Resolve(path);
    switch (where.kind) {
        case PathKind::Refused:
        case PathKind::Directory:
            return Fail(error, where.error);
        case PathKind::Descriptor:
            return true;
        case PathKind::Stream:
            if (access(path.c_str(), W_OK) != 0) {
                return Fail(error, Describe(path, errno));
            }
            return true;
        case PathKind::Missing:
        case PathKind::Regular:
            break;
    }
    // A new file is made in the target's folder and renamed over it.
    const std::string folder = FolderOf(where.target);
    struct stat folderInfo {};
    if (stat(folder.c_str(), &folderInfo) != 0) {
        return Fail(error, Describe(path, errno));
    }
    if (!S_ISDIR(folderInfo.st_mode)) {
        return Fail(error, Describe(path, ENOTDIR));
    }
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return Fail(error, Describe(path, errno));
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        bytesNeeded > limit.rlim_cur) {
        return Fail(error, Describe(path, EFBIG));
    }
    struct statvfs space {};
    if (statvfs(folder.c_str(), &space) == 0) {
        const uint64_t blocks = geteuid() == 0 ? space.f_bfree : space.f_bavail;
        const uint64_t freeBytes = blocks * space.f_frsize;
        if (freeBytes < bytesNeeded) {
            const auto megabytes = [](uint64_t bytes) {
                return std::to_string((bytes + (1 << 20) - 1) >> 20);
            };
            return Fail(error, path + ": недостаточно места на диске (нужно около " +
                                   megabytes(bytesNeeded) + " МБ, свободно " +
                                   megabytes(freeBytes) + " МБ)");
        }
    }
    return true;
}

bool WriteOutputFile(const std::string& path,
                     const std::function<bool(const OutputPieceWriter& write)>& fill,
                     std::string* error) {
    if (path.empty()) {
        return Fail(error, "Не указано имя файла");
    }
    const Resolved where = Resolve(path);
    switch (where.kind) {
        case PathKind::Refused:
        case PathKind::Directory:
            return Fail(error, where.error);
        case PathKind::Descriptor:
            return WriteIntoDescriptor(path, where.fd, fill, error);
        case PathKind::Stream: {
            // Never replaced, never truncated: one stream into what is there.
            const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
            if (fd < 0) {
                return Fail(error, Describe(path, errno));
            }
            const bool written = WriteIntoDescriptor(path, fd, fill, error);
            if (close(fd) != 0 && written) {
                return Fail(error, Describe(path, errno));
            }
            return written;
        }
        case PathKind::Missing:
        case PathKind::Regular:
            return ReplaceAtomically(path, where, fill, error);
    }
    return Fail(error, Describe(path, EINVAL));
}

void RemoveOutputTemporary() {
    if (g_temporarySet.load()) {
        unlink(g_temporary);
    }
}

bool IsRegularOutputFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool OutputPathExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

bool IsOutputFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool EnsureOutputFolder(const std::string& folder, std::string* error) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return true;
        }
        if (error != nullptr) {
            *error = folder + ": " + std::strerror(ENOTDIR);
        }
        return false;
    }
    if (errno == ENOENT && ::mkdir(folder.c_str(), 0777) == 0) {
        return true;
    }
    if (error != nullptr) {
        *error = folder + ": " + std::strerror(errno);
    }
    return false;
}
