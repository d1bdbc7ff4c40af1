#include "config/lookups.h"

#include "auth/auth.h"
#include "config/misc.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

bool names_user(const user_option& node, const char* user)
{
    if (node.name[0] != '@')
        return node.name == user;
    // '@' alone is every user; '@' and a name is a group, which the selected method knows.
    return node.name.size() == 1 || kestrad_auth_is_group_member(user, node.name.c_str() + 1) != 0;
}

} // namespace

const std::string* kestrad_user_option(const user_option_list* list, const char* user)
{
    if (list == nullptr || user == nullptr)
        return nullptr;
    // The list holds the newest line first, so the last matching line of the file wins.
    for (const user_option& node : *list) {
        if (names_user(node, user))
            return &node.value;
    }
    return nullptr;
}

const std::string* kestrad_get_chroot(const user_option_list* list, const char* user)
{
    return kestrad_user_option(list, user);
}

int64_t kestrad_get_rate(const user_option_list* list, const char* user)
{
    const std::string* value = kestrad_user_option(list, user);
    if (value == nullptr)
        return 0;
    constexpr int64_t kilobyte = 1024;
    constexpr int64_t most = std::numeric_limits<int64_t>::max();
    constexpr int64_t least = std::numeric_limits<int64_t>::min();
    const long long kilobytes = std::strtoll(value->c_str(), nullptr, 10);
    // A rate too large to count in bytes is held at the largest count rather than wrapped.
    if (kilobytes > most / kilobyte)
        return most;
    if (kilobytes < least / kilobyte)
        return least;
    return static_cast<int64_t>(kilobytes) * kilobyte;
}

int32_t kestrad_get_mode(int32_t mode, const char* list, const char* user)
{
    if (kestrad_in_list(user, list) != 1)
        return mode;
    if (mode == MODE_NORMAL)
        return MODE_SMB;
    if (mode == MODE_SMB)
        return MODE_NORMAL;
    return mode;
}
