#pragma once
// A scoped temporary directory for tests that need real files.

#include <string>

class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return path_; }
    // Absolute path of a name inside the directory.
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes a file inside the directory and returns its absolute path.
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::string path_;
};

// The whole content of a file; empty when it cannot be read.
std::string read_file(const std::string& path);
