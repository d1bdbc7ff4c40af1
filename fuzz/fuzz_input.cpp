#include "fuzz_input.h"

#include "config/log.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

std::string scratch_path;

void remove_scratch()
{
    unlink(scratch_path.c_str());
}

} // namespace

const std::string& fuzz_input_file(const uint8_t* data, size_t size)
{
    if (scratch_path.empty()) {
        const char* base = std::getenv("TMPDIR");
        scratch_path = std::string(base != nullptr ? base : "/tmp") + "/kestrad-fuzz-" + std::to_string(getpid());
        std::atexit(remove_scratch);
    }
    const std::string& path = scratch_path;
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, out) != size)
        std::abort();
    std::fclose(out);
    return path;
}

void fuzz_quiet_log()
{
    set_log_sink([](const std::string&) {});
}
