// The text user lookup: the first byte picks the name sought, the rest is the file.
#include "fuzz_input.h"
#include "textuser/textuser.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_quiet_log();
    static const char* const names[] = {"bob", "alice", "", "#x", " bob"};
    const char* name = names[size > 0 ? data[0] % 5 : 0];
    const std::string& path = fuzz_input_file(size > 0 ? data + 1 : data, size > 0 ? size - 1 : 0);
    text_user user;
    const int result = kestrad_textuser_get(path.c_str(), name, &user);
    const bool filled = user.name && user.group && user.home && user.hash;
    const bool empty = !user.name && !user.group && !user.home && !user.hash;
    if ((result == 0 && (!filled || *user.name != name)) || (result != 0 && !empty))
        std::abort();
    kestrad_textuser_free(&user);
    return 0;
}
