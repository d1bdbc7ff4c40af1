#include "auth/auth.h"

#include "auth/pam_backend.h"
#include "auth/text_backend.h"
#include "auth/unix_backend.h"
#include "config/log.h"

#include <strings.h>

namespace {

constexpr auth_method method_table[] = {
    {"unix", unix_backend_init, unix_backend_check, unix_backend_end, unix_backend_is_group_member,
     unix_backend_get_home},
    {"pam", pam_backend_init, pam_backend_check, pam_backend_end, pam_backend_is_group_member,
     pam_backend_get_home},
    {"text", text_backend_init, text_backend_check, text_backend_end, text_backend_is_group_member,
     text_backend_get_home},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Both the chosen method and the cursor of the next search: a search starts here, not at
// the top, and a failed one leaves it on the last row, whose operations are all empty.
const auth_method* selected = nullptr;

} // namespace

int kestrad_auth_init_config(const char* method, const char* config)
{
    if (selected == nullptr)
        selected = method_table;
    for (;; ++selected) {
        if (selected->name == nullptr) {
            log_plain("Authentication method (%s) not found.", method != nullptr ? method : "(null)");
            return -1;
        }
        if (method != nullptr && strcasecmp(selected->name, method) == 0)
            return selected->init(config) == 0 ? 0 : -1;
    }
}

int kestrad_auth_check(const char* user, const char* password)
{
    if (selected == nullptr || selected->check == nullptr) {
        log_error("auth.c", 90, "Please do kestrad_auth_init_config() first.");
        return -1;
    }
    return selected->check(user, password) == 0 ? 0 : -1;
}

void kestrad_auth_end()
{
    if (selected != nullptr && selected->end != nullptr)
        selected->end();
}

int kestrad_auth_is_group_member(const char* user, const char* group)
{
    if (selected == nullptr || selected->is_group_member == nullptr)
        return 0;
    return selected->is_group_member(user, group);
}

std::optional<std::string> kestrad_auth_get_home(const char* user)
{
    if (selected == nullptr || selected->get_home == nullptr)
        return std::nullopt;
    return selected->get_home(user);
}
