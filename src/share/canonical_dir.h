#pragma once
// The canonical absolute form of a directory, as the system gives it from inside.

#include "share/cwd_guard.h"

#include <unistd.h>

// Longest canonical directory kept, with its terminator.
inline constexpr size_t share_path_size = 1024;

// Enters the directory and reads back where the process stands, every symbolic link
// resolved, then returns to where it was. False when the directory cannot be entered,
// its canonical form does not fit, or the way back is lost; the buffer is then unspecified.
[[nodiscard]] inline bool canonical_dir(const char* dir, char (&out)[share_path_size]) noexcept
{
    if (dir == nullptr)
        return false;
    cwd_guard back;
    if (!back.saved() || ::chdir(dir) != 0)
        return false;
    const bool read = ::getcwd(out, sizeof out) != nullptr;
    return back.restore() && read;
}
