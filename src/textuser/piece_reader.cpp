#include "textuser/piece_reader.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

void piece_reader::fill()
{
    // Keep the unread bytes and read behind them until a whole piece is at hand.
    if (begin_ > 0) {
        std::memmove(buffer_, buffer_ + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    while (end_ < max_piece && !at_end_) {
        const ssize_t got = ::read(fd_, buffer_ + end_, capacity - end_);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            return;
        }
        if (got == 0)
            at_end_ = true;
        end_ += static_cast<std::size_t>(got);
    }
}

bool piece_reader::next(std::string_view& piece)
{
    if (error_ != 0)
        return false;
    if (end_ - begin_ < max_piece && !at_end_) {
        fill();
        if (error_ != 0)
            return false;
    }
    const std::size_t available = end_ - begin_;
    if (available == 0)
        return false;
    const std::size_t limit = available < max_piece ? available : max_piece;
    const char* start = buffer_ + begin_;
    const void* newline = std::memchr(start, '\n', limit);
    const std::size_t length =
        newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - start) + 1 : limit;
    piece = std::string_view(start, length);
    begin_ += length;
    return true;
}
