#pragma once
// Reads a text file the way a 2048-byte line buffer would: every piece is one line
// with its newline, or the next 2047 bytes of a longer line.

#include "config/misc.h"

#include <cstddef>
#include <string_view>

class piece_reader {
public:
    // Reads from the descriptor, which stays owned by the caller.
    explicit piece_reader(int fd) noexcept : fd_(fd) {}
    piece_reader(const piece_reader&) = delete;
    piece_reader& operator=(const piece_reader&) = delete;

    // The next piece, valid until the next call; false at the end of the file or on a
    // read error.
    [[nodiscard]] bool next(std::string_view& piece);
    // Whether the next piece is already in the buffer: until then, the pieces handed out
    // stay where they are, one after the other.
    bool next_is_buffered() const noexcept { return at_end_ || error_ != 0 || end_ - begin_ >= max_piece; }
    // The error number of a failed read, 0 when the file was read to its end.
    int error() const noexcept { return error_; }

private:
    static constexpr std::size_t max_piece = kestrad_line_size - 1;
    // Large reads keep a file of millions of lines cheap; the buffer lives in the
    // reader, so reading allocates nothing.
    static constexpr std::size_t capacity = std::size_t{64} * 1024;

    void fill();

    int fd_;
    int error_ = 0;
    bool at_end_ = false;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    char buffer_[capacity];
};
