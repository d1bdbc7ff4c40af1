// The path resolver of SMB-mode logins: whatever path is asked for, the result lies
// in a granted share (or is the virtual root), writes land only in writeable shares,
// and the working directory comes back.
#include "fuzz_input.h"
#include "share/share.h"
#include "tool/login_state.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string root;
user_share_list shares;

void make(const std::string& path) { mkdir(path.c_str(), 0755); }
void link_to(const char* target, const std::string& path) { (void)symlink(target, path.c_str()); }

// The tree goes when the run ends, however it ends normally.
void remove_tree()
{
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

bool inside(const std::string& path, const std::string& dir)
{
    return path.compare(0, dir.size(), dir) == 0 && (path.size() == dir.size() || path[dir.size()] == '/');
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz_quiet_log();
    char pattern[] = "/tmp/kestrad-fuzz-tree-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        std::abort();
    char* canonical = realpath(pattern, nullptr);
    root = canonical;
    std::free(canonical);
    std::atexit(remove_tree);
    for (const char* dir : {"/pub", "/pub/a", "/pub/a/b", "/public", "/docs", "/docs/d", "/outside"})
        make(root + dir);
    link_to("../docs", root + "/pub/up");
    link_to("/", root + "/pub/slash");
    link_to("/tmp", root + "/pub/tmp");
    link_to((root + "/outside").c_str(), root + "/pub/abs");
    link_to("loop", root + "/pub/loop");
    link_to("/pub/a", root + "/docs/d/virt");
    link_to("../../outside", root + "/pub/a/out");
    shares.push_front(user_share{"docs", root + "/docs", 0, 0, 0, 0, 1});
    shares.push_front(user_share{"pub", root + "/pub", 1, 0, 0, 0, 1});
    login_state.smb_mode = 1;
    if (chdir("/tmp") != 0)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int flags = data[0] & 7;
    // Start from the virtual root or from inside a share, as the first byte says.
    const char* start = (data[0] & 8) ? "/pub/a" : (data[0] & 16) ? "/docs" : "";
    if (chdir(*start ? (root + start).c_str() : "/tmp") != 0)
        std::abort();
    char before[4096];
    if (getcwd(before, sizeof before) == nullptr)
        std::abort();
    const std::string path(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* result = kestrad_share_resolve_path(&shares, path.c_str(), flags);
    char after[4096];
    if (getcwd(after, sizeof after) == nullptr)
        std::abort();
    if (std::strcmp(before, after) != 0 && std::strcmp(after, "/tmp") != 0)
        std::abort();
    if (result != nullptr) {
        const std::string real = result;
        const bool in_pub = inside(real, root + "/pub");
        const bool in_docs = inside(real, root + "/docs");
        if (!in_pub && !in_docs && real != "/tmp")
            std::abort();
        if ((flags & SHARE_RESOLVE_WRITE) && !in_pub)
            std::abort();
    }
    return 0;
}
