#pragma once
// Shares: the sections of the share configuration file, the shares granted to one
// user, and the mapping between an SMB-mode login's virtual tree and the file system.

#include <cstddef>
#include <cstdint>
#include <forward_list>
#include <optional>
#include <string>

// One section of the share configuration file.
struct share_conf {
    std::string name;
    std::optional<std::string> path; // canonical absolute directory
    std::optional<std::string> rw_users;
    std::optional<std::string> ro_users;
    std::optional<std::string> disable_download;
    std::optional<std::string> disable_ls;
    std::optional<std::string> disable_modify;
    int32_t browseable = 1;
};
// Sections in the reverse of their order in the file.
using share_conf_list = std::forward_list<share_conf>;

[[nodiscard]] int kestrad_share_read_conf(const char* path, share_conf_list* list);
void kestrad_share_free_conf(share_conf_list* list);

// One share as granted to one user.
struct user_share {
    std::string name;
    std::string path; // canonical absolute directory
    int32_t writeable = 0;
    int32_t no_download = 0;
    int32_t no_list = 0;
    int32_t no_modify = 0;
    int32_t browseable = 0;
};
// Built from an empty head, the shares stand in the order of their sections in the file.
using user_share_list = std::forward_list<user_share>;

[[nodiscard]] int kestrad_share_user_list(const char* user, const char* home, const share_conf_list* conf,
                                          user_share_list* out);
void kestrad_share_free_user_list(user_share_list* out);

// Flags of kestrad_share_resolve_path, combined by OR.
inline constexpr int SHARE_RESOLVE_WRITE = 1;
inline constexpr int SHARE_RESOLVE_NOFOLLOW = 2;
inline constexpr int SHARE_RESOLVE_NOFOLLOW_LAST = 4;

// The physical directory that stands for the virtual root of an SMB-mode login.
inline constexpr const char* SHARE_ROOT_DIR = "/tmp";
// The component put in front of an absolute path; meeting it moves the walk to the virtual root.
inline constexpr const char* SHARE_ROOT_MARKER = "_@KESTRAD_ROOT@_";

// The real path for a path that the login names, or none when it cannot be resolved or
// is not allowed. The result lives in a buffer that the next call overwrites. In SMB mode
// the process's working directory is the login's current directory; the call leaves it
// where it was, except that a login found outside its shares is put back at the virtual root.
[[nodiscard]] const char* kestrad_share_resolve_path(const user_share_list* shares, const char* path, int flags);
// Rewrites a real path in the buffer into its virtual form: 0, or -1 when no share holds it.
[[nodiscard]] int kestrad_share_real_to_virtual(const user_share_list* shares, char* path, size_t size);
// 1 when a granted share holds the real path (and is writeable, if asked); 0 otherwise.
[[nodiscard]] int kestrad_share_check_access(const user_share_list* shares, const char* path, int want_write);
// The first granted share that holds the real path, or none.
[[nodiscard]] const user_share* kestrad_share_find(const user_share_list* shares, const char* path);
