#include "textuser/file_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

file_lock::file_lock(const std::string& path)
{
    // A planted symbolic link must not make us create or lock a file elsewhere.
    unique_fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
        error_ = errno;
        return;
    }
    while (::flock(fd.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            error_ = errno;
            return;
        }
    }
    fd_ = std::move(fd);
}
