#pragma once
// The account files and PAM password file that the wrappers read in this process. Their
// paths are fixed when the process starts (the test registration names them in the
// environment); tests only rewrite their content.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>

// The path that the variable names, or empty when the process was not started for this.
inline std::string wrapped_path(const char* variable)
{
    const char* value = std::getenv(variable);
    return value != nullptr ? value : "";
}

// True when this process was started with the PAM service stack of that name; tests of
// another stack skip, so no test ever reaches the machine's own PAM configuration.
inline bool running_stack(const char* name)
{
    const char* stack = std::getenv("KESTRAD_PAM_STACK");
    return std::getenv("PAM_WRAPPER") != nullptr && stack != nullptr && std::string(stack) == name;
}

// Replaces the file through a rename, with a modification time that differs from every
// earlier version, so that a wrapper that caches the file sees the change at once.
inline void rewrite(const std::string& path, const std::string& content)
{
    static long generation = 0;
    const std::string working = path + ".new";
    {
        std::ofstream out(working, std::ios::binary | std::ios::trunc);
        out << content;
    }
    const timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000 + ++generation, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, working.c_str(), times, 0), 0);
    std::filesystem::rename(working, path);
}
