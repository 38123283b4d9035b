#include "link/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace {

InputFileResult KindOf(mode_t mode) {
    return S_ISDIR(mode)                    ? InputFileResult::kFolder
           : S_ISFIFO(mode)                 ? InputFileResult::kPipe
           : S_ISSOCK(mode)                 ? InputFileResult::kSocket
           : S_ISCHR(mode) || S_ISBLK(mode) ? InputFileResult::kDevice
                                            : InputFileResult::kNotRegular;
}

}  // namespace

InputFileResult ReadInputFile(const std::string& path, std::size_t limit, std::string& text,
                              std::string& reason) {
    text.clear();
    const auto failed = [&](int code) {
        reason = std::generic_category().message(code);
        return InputFileResult::kFailed;
    };
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return failed(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return KindOf(info.st_mode);
    }
    if (static_cast<std::uintmax_t>(info.st_size) > limit) {
        return InputFileResult::kTooLarge;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return failed(errno);
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int code = errno;
        ::close(fd);
        return S_ISREG(info.st_mode) ? failed(code) : KindOf(info.st_mode);
    }
    char chunk[65536];
    for (;;) {
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
        if (text.size() > limit) {
            ::close(fd);
            text.clear();
            return InputFileResult::kTooLarge;
        }
    }
    ::close(fd);
    return InputFileResult::kRead;
}
