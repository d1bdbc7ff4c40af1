#pragma once
// Owning handles for streams and descriptors, so every way out of a function closes them.

#include <cstdio>
#include <memory>
#include <unistd.h>

struct file_closer {
    void operator()(FILE* stream) const noexcept { std::fclose(stream); }
};
using unique_file = std::unique_ptr<FILE, file_closer>;

inline unique_file open_file(const char* path, const char* mode)
{
    return unique_file(std::fopen(path, mode));
}

class unique_fd {
public:
    unique_fd() = default;
    explicit unique_fd(int fd) noexcept : fd_(fd) {}
    unique_fd(unique_fd&& other) noexcept : fd_(other.release()) {}
    unique_fd& operator=(unique_fd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    ~unique_fd() { reset(); }

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    int release() noexcept
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) noexcept
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};
