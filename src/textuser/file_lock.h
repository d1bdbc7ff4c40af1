#pragma once
// An exclusive lock held for the life of the object, on a lock file that is never
// replaced or removed.

#include "config/unique_file.h"

#include <string>

class file_lock {
public:
    // Opens (creating it when needed) and locks the file, waiting for other holders.
    explicit file_lock(const std::string& path);

    // Whether the lock is held; when not, error() tells why.
    bool held() const noexcept { return static_cast<bool>(fd_); }
    int error() const noexcept { return error_; }

private:
    unique_fd fd_;
    int error_ = 0;
};
