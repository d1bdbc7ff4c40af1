#pragma once
// The new copy of a file, written beside it and renamed over it at the end. Unless the
// rename happened, the destructor removes the copy, so every way out of a rewrite that
// fails leaves the directory as it found it.

#include "config/unique_file.h"

#include <cstddef>
#include <string>
#include <string_view>

class working_file {
public:
    // Creates the file exclusively with the permissions 0600; an existing file or
    // symbolic link of that name is never opened.
    explicit working_file(std::string path);
    ~working_file();
    working_file(const working_file&) = delete;
    working_file& operator=(const working_file&) = delete;

    bool created() const noexcept { return created_; }
    const std::string& path() const noexcept { return path_; }
    // The error number of the step that failed.
    int error() const noexcept { return error_; }
    // Set when the rename took place but its directory could not be synced.
    int directory_error() const noexcept { return directory_error_; }

    // Each step returns false on failure; later steps then fail too.
    [[nodiscard]] bool write(std::string_view data);
    // Writes what is buffered, forces it to the disk and closes the file.
    [[nodiscard]] bool finish();
    // Renames the finished file to the target and forces the directory entry to the
    // disk, so a power cut cannot bring back the old file.
    [[nodiscard]] bool commit(const std::string& target);

    // Whether everything written so far ends with a newline (true when nothing was).
    bool at_line_start() const noexcept { return at_line_start_; }

private:
    bool write_through(const char* data, std::size_t length);
    bool flush();
    bool fail(int error);
    void start_writeback();

    static constexpr std::size_t capacity = std::size_t{64} * 1024;
    static constexpr std::size_t writeback_stretch = std::size_t{8} * 1024 * 1024;

    std::string path_;
    unique_fd fd_;
    bool created_ = false;
    bool committed_ = false;
    bool at_line_start_ = true;
    int error_ = 0;
    int directory_error_ = 0;
    std::size_t used_ = 0;
    std::size_t written_ = 0;
    std::size_t handed_to_disk_ = 0;
    char buffer_[capacity];
};
