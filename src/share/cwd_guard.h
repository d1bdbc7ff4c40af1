#pragma once
// Returns the process to the working directory it had when the guard was made, on
// every way out of a scope that changes directory for a moment.

#include "config/unique_file.h"

#include <fcntl.h>
#include <unistd.h>

class cwd_guard {
public:
    // The directory is held open rather than remembered by name, so the way back does
    // not depend on the name still leading there or fitting any buffer.
    cwd_guard() noexcept : dir_(::open(".", open_flags)) {}
    ~cwd_guard() { static_cast<void>(restore()); }
    cwd_guard(const cwd_guard&) = delete;
    cwd_guard& operator=(const cwd_guard&) = delete;

    // False when the working directory could not be held: do not leave it then.
    bool saved() const noexcept { return static_cast<bool>(dir_); }
    // Goes back now; true when the process stands in the saved directory again.
    [[nodiscard]] bool restore() noexcept { return dir_ && ::fchdir(dir_.get()) == 0; }

private:
#ifdef O_PATH
    // A directory the process may enter but not read can still be held this way.
    static constexpr int open_flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    static constexpr int open_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    unique_fd dir_;
};
