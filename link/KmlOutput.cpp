#include "link/KmlOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

std::string FormatKmlNumber(double value) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    return std::string(buffer, result.ptr);
}

std::string EscapeXml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                // XML 1.0 has no place for control characters other than tab, LF and CR.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                    out += '?';
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string FileTitle(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

std::string Describe(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
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

// Writes text with every LF turned into CR LF, a buffer at a time (no second copy of a
// large document in memory).
bool WriteWithCrLf(int fd, const std::string& text) {
    constexpr std::size_t kBufferBytes = 256 * 1024;
    std::vector<char> buffer(kBufferBytes);
    std::size_t used = 0;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        // Room for the longest step: a run of text up to a line end plus CR LF.
        const std::size_t room = kBufferBytes - used - 2;
        const char* limit = end - p > static_cast<std::ptrdiff_t>(room) ? p + room : end;
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', limit - p));
        const char* stop = lf != nullptr ? lf : limit;
        std::memcpy(buffer.data() + used, p, static_cast<std::size_t>(stop - p));
        used += static_cast<std::size_t>(stop - p);
        p = stop;
        if (lf != nullptr) {
            buffer[used++] = '\r';
            buffer[used++] = '\n';
            ++p;
        }
        if (used + 2 >= kBufferBytes || p == end) {
            if (!WriteAll(fd, buffer.data(), used)) {
                return false;
            }
            used = 0;
        }
    }
    return true;
}

}  // namespace

namespace {

// Writes through a temporary file in the target's folder renamed over it; body writes the
// contents to the descriptor and returns false with errno set when that fails.
bool WriteThroughTemporary(const std::string& path, const std::function<bool(int fd)>& body,
                           std::string* error) {
    const auto fail = [&](const std::string& message) {
        if (error != nullptr) {
            *error = message;
        }
        return false;
    };
    if (path.empty()) {
        return fail("No file name given");
    }

    // A link is replaced through its target, so the link itself stays.
    std::string target = path;
    struct stat linkInfo {};
    if (lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        if (char* resolved = realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }

    const std::size_t slash = target.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty()) {
        return fail(Describe(path, EISDIR));
    }

    std::string tempName = folder + "/." + name + ".XXXXXX";
    std::vector<char> temp(tempName.begin(), tempName.end());
    temp.push_back('\0');
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return fail(Describe(path, errno));
    }
    tempName = temp.data();

    int failure = 0;
    errno = 0;
    if (!body(fd)) {
        failure = errno != 0 ? errno : EIO;
    } else if (fsync(fd) != 0) {
        failure = errno;
    } else if (fchmod(fd, 0666 & ~CurrentUmask()) != 0) {
        failure = errno;
    }
    if (close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && rename(tempName.c_str(), target.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        unlink(tempName.c_str());
        return fail(Describe(path, failure));
    }

    // Make the new name durable too; a failure here loses nothing already written.
    const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error) {
    return WriteThroughTemporary(
        path, [&text](int fd) { return WriteWithCrLf(fd, text); }, error);
}

bool WriteFileAtomically(const std::string& path,
                         const std::function<bool(const KmlPieceWriter& write)>& fill,
                         std::string* error) {
    return WriteThroughTemporary(
        path,
        [&fill](int fd) {
            int failure = 0;
            const bool filled = fill([fd, &failure](const std::string& piece) {
                if (failure == 0 && !WriteWithCrLf(fd, piece)) {
                    failure = errno != 0 ? errno : EIO;
                }
                return failure == 0;
            });
            if (failure != 0) {
                errno = failure;
                return false;
            }
            return filled;
        },
        error);
}
