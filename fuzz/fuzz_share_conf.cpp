// The share configuration reader; every share it keeps must have a canonical path.
#include "fuzz_input.h"
#include "share/share.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_quiet_log();
    char before[4096];
    if (getcwd(before, sizeof before) == nullptr)
        std::abort();
    const std::string& path = fuzz_input_file(data, size);
    share_conf_list list;
    if (kestrad_share_read_conf(path.c_str(), &list) == 0) {
        for (const share_conf& share : list) {
            if (share.name != "homes" && (!share.path || share.path->empty() || (*share.path)[0] != '/'))
                std::abort();
        }
    } else if (!list.empty()) {
        std::abort();
    }
    kestrad_share_free_conf(&list);
    char after[4096];
    if (getcwd(after, sizeof after) == nullptr || std::string(before) != after)
        std::abort();
    return 0;
}
