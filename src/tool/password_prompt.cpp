#include "tool/password_prompt.h"

#include "config/unique_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Turns echo off on a terminal for the life of the object. Signals from the keyboard
// are off too, so an interrupt cannot leave the terminal silent.
class echo_off {
public:
    explicit echo_off(int fd) : fd_(fd)
    {
        if (::tcgetattr(fd_, &saved_) != 0)
            return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ISIG);
        changed_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    ~echo_off()
    {
        if (changed_)
            ::tcsetattr(fd_, TCSAFLUSH, &saved_);
    }
    echo_off(const echo_off&) = delete;
    echo_off& operator=(const echo_off&) = delete;

    bool changed() const noexcept { return changed_; }

private:
    int fd_;
    termios saved_{};
    bool changed_ = false;
};

// Where the prompt goes and the answer comes from.
class password_channel {
public:
    password_channel() : tty_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}

    int input_fd() const { return tty_ ? tty_.get() : ::fileno(stdin); }

    void show(const char* text) const
    {
        if (!tty_) {
            std::fputs(text, stderr);
            std::fflush(stderr);
            return;
        }
        const std::size_t length = std::strlen(text);
        std::size_t done = 0;
        while (done < length) {
            const ssize_t written = ::write(tty_.get(), text + done, length - done);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return;
            done += static_cast<std::size_t>(written);
        }
    }

    // The next byte, or EOF. The terminal is read a byte at a time so that no copy of
    // the password stays behind in a stream buffer; standard input is read through its
    // stream, which the other prompts share.
    int next() const
    {
        if (!tty_)
            return std::getc(stdin);
        unsigned char byte = 0;
        for (;;) {
            const ssize_t got = ::read(tty_.get(), &byte, 1);
            if (got == 1)
                return byte;
            if (got < 0 && errno == EINTR)
                continue;
            return EOF;
        }
    }

private:
    unique_fd tty_;
};

} // namespace

std::optional<secret> read_password(const char* prompt)
{
    const password_channel channel;
    const echo_off quiet(channel.input_fd());
    channel.show(prompt);

    secret line;
    bool any = false;
    for (;;) {
        const int c = channel.next();
        if (c == EOF)
            break;
        any = true;
        if (c == '\n') {
            // The newline was not echoed; the next output starts on a line of its own.
            if (quiet.changed())
                channel.show("\n");
            return line;
        }
        line.push_back(static_cast<char>(c));
    }
    // Whatever came before the end of the input still counts as an answer; the end of
    // the input alone is no answer at all.
    if (!any)
        return std::nullopt;
    return line;
}
