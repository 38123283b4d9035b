#include "link/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

bool ReadInputFile(const std::string& path, std::size_t limit, std::string& text,
                   std::string& reason) {
    text.clear();
    const auto failed = [&](int code) {
        reason = std::generic_category().message(code);
        return false;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return failed(errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int code = errno;
        ::close(fd);
        return failed(code);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        return failed(EISDIR);
    }
    char chunk[65536];
    while (text.size() <= limit) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int code = errno;
            ::close(fd);
            return failed(code);
        }
        if (got == 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return true;
}
