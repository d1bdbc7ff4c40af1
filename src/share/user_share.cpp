#include "share/share.h"

#include "config/log.h"
#include "config/misc.h"
#include "share/canonical_dir.h"
#include "tool/login_state.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace {

constexpr const char* source = "share.c";

enum class grant { none, entry, out_of_memory };

void log_out_of_memory()
{
    log_error(source, 558, "Ran out of memory.");
}

bool listed(const char* user, const std::optional<std::string>& list)
{
    return list && kestrad_in_list(user, list->c_str()) != 0;
}

// The home share, at the canonical form of the user's home directory. A home that
// cannot be entered, or whose canonical form does not fit, gives no entry.
grant home_share(const share_conf& section, const char* home, user_share& entry)
{
    char canonical[share_path_size];
    if (!canonical_dir(home, canonical))
        return grant::none;
    try {
        entry.path = canonical;
    } catch (const std::bad_alloc&) {
        // The login's own note names it when a server has set one; the tool never does.
        const char* about = login_state.login_note ? login_state.login_note->c_str() : canonical;
        log_error(source, 531, "Failed to strdup(%s). (%s)", about, std::strerror(ENOMEM));
        return grant::out_of_memory;
    }
    entry.name = "home";
    entry.writeable = 1;
    entry.browseable = section.browseable;
    return grant::entry;
}

// An ordinary share, granted through its read-write or read-only list, while its
// directory still is one.
grant listed_share(const share_conf& section, const char* user, user_share& entry)
{
    const bool writeable = listed(user, section.rw_users);
    if (!writeable && !listed(user, section.ro_users))
        return grant::none;
    struct stat info;
    if (!section.path || ::stat(section.path->c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return grant::none;
    try {
        entry.name = section.name;
        entry.path = *section.path;
    } catch (const std::bad_alloc&) {
        log_out_of_memory();
        return grant::out_of_memory;
    }
    entry.writeable = writeable ? 1 : 0;
    entry.browseable = section.browseable;
    return grant::entry;
}

} // namespace

int kestrad_share_user_list(const char* user, const char* home, const share_conf_list* conf, user_share_list* out)
{
    if (user == nullptr || out == nullptr) {
        log_error(source, 508, "bad parameter");
        return -1;
    }
    if (conf == nullptr || conf->empty()) {
        out->clear();
        return 0;
    }
    for (const share_conf& section : *conf) {
        user_share entry;
        const grant granted =
            section.name == "homes" ? home_share(section, home, entry) : listed_share(section, user, entry);
        if (granted == grant::none)
            continue;
        if (granted == grant::out_of_memory) {
            out->clear();
            return -1;
        }
        entry.no_download = listed(user, section.disable_download) ? 1 : 0;
        entry.no_list = listed(user, section.disable_ls) ? 1 : 0;
        entry.no_modify = listed(user, section.disable_modify) ? 1 : 0;
        try {
            out->push_front(std::move(entry));
        } catch (const std::bad_alloc&) {
            log_out_of_memory();
            out->clear();
            return -1;
        }
    }
    return 0;
}

void kestrad_share_free_user_list(user_share_list* out)
{
    if (out != nullptr)
        out->clear();
}
