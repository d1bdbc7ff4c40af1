#include "tool/report.h"

#include "auth/auth.h"
#include "config/lookups.h"
#include "config/param.h"
#include "tool/login_state.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <pwd.h>
#include <string>

namespace {

const char* const anonymous_account = "ftp";

bool is_anonymous_candidate(const char* name)
{
    if (server_params.AnonymousOnly)
        return true;
    return server_params.AnonymousLogin &&
           (std::strcmp(name, "ftp") == 0 || std::strcmp(name, "anonymous") == 0);
}

// The chroot directory as the server would enter it: '~' and relative forms hang below the home.
std::string chroot_path(const std::string& directory, const std::string& home)
{
    if (!directory.empty() && directory[0] == '~')
        return home + "/" + directory.substr(1);
    if (!directory.empty() && directory[0] == '/')
        return directory;
    return home + "/" + directory;
}

void print_rate(const char* label, int64_t rate)
{
    std::printf("%s: %lld KB/s %s\n", label, static_cast<long long>(rate / 1024), rate == 0 ? "(unlimited)" : "");
}

void print_shares()
{
    std::printf("Mode               : smb\n");
    std::printf("Available shares   :\n");
    for (const user_share& share : login_state.shares) {
        std::printf("    [%s]\n", share.name.c_str());
        std::printf("        Path        : %s\n", share.path.c_str());
        std::printf("        Writeable   : %s\n", share.writeable ? "Yes" : "No");
        std::printf("        Browseable  : %s\n", share.browseable ? "Yes" : "No");
        std::printf("        List files  : %s\n", share.no_list ? "No" : "Yes");
        std::printf("        Download    : %s\n", share.no_download ? "No" : "Yes");
        std::printf("        Modify data : %s\n", share.no_modify ? "No" : "Yes");
    }
}

// Works the login out the way the server does and prints it; -1 when the user does
// not exist or memory ran out.
int report(const char* name)
{
    std::printf("\n");
    if (server_params.VirtualUserMapping)
        std::printf("Authentication Method: %s\n\n", server_params.VirtualUserAuthMethod->c_str());
    else
        std::printf("Authentication Method: pam\n\n");

    std::string real_user;
    std::optional<std::string> home;
    const passwd* anonymous = is_anonymous_candidate(name) ? getpwnam(anonymous_account) : nullptr;
    if (anonymous != nullptr) {
        login_state.anonymous = 1;
        real_user = anonymous_account;
        std::printf("Anonymouse only. The user will be changed to [ftp].\n");
        login_state.login_name = anonymous_account;
        // Without a copy of the account's home the login cannot be set up: reported like
        // an account that does not exist.
        try {
            if (anonymous->pw_dir != nullptr)
                home = anonymous->pw_dir;
        } catch (const std::bad_alloc&) {
            home.reset();
        }
    } else {
        real_user = server_params.VirtualUserMapping ? *server_params.VirtualUserMapping : std::string(name);
        login_state.login_name = std::string(name).substr(0, login_name_max);
        home = kestrad_auth_get_home(login_state.login_name.c_str());
    }
    if (!home) {
        std::printf("User [%s] does not exist.\n", name);
        return -1;
    }

    const char* login = login_state.login_name.c_str();
    const char* exceptions = server_params.ExceptionList ? server_params.ExceptionList->c_str() : nullptr;
    login_state.smb_mode = kestrad_get_mode(server_params.DefaultMode, exceptions, login);
    login_state.upload_rate = kestrad_get_rate(&server_params.MaxUploadRate, login);
    login_state.download_rate = kestrad_get_rate(&server_params.MaxDownloadRate, login);

    std::optional<std::string> chroot;
    if (login_state.anonymous && !login_state.smb_mode) {
        chroot = chroot_path(*home, *home);
    } else if (const std::string* directory = kestrad_get_chroot(&server_params.ChrootSet, login)) {
        chroot = chroot_path(*directory, *home);
    }
    if (chroot) {
        login_state.chrooted = 1;
        login_state.smb_mode = 0;
    } else if (login_state.smb_mode && !share_confs.empty()) {
        if (kestrad_share_user_list(login, home->c_str(), &share_confs, &login_state.shares) != 0) {
            std::printf("Ran out of memory.");
            return -1;
        }
    }

    std::printf("Login              : %s\n", name);
    std::printf("Real user          : %s\n", real_user.c_str());
    std::printf("Home               : %s\n", home->c_str());
    std::printf("Anonymous          : %s\n", login_state.anonymous ? "Yes" : "No");
    print_rate("Download bandwidth ", login_state.download_rate);
    print_rate("Upload bandwidth   ", login_state.upload_rate);
    if (login_state.chrooted)
        std::printf("Mode               : chrooted (%s)\n", chroot->c_str());
    else if (login_state.smb_mode)
        print_shares();
    else
        std::printf("Mode               : normal\n");
    std::printf("\n");
    return 0;
}

} // namespace

int print_user_status(const char* name)
{
    int result = -1;
    try {
        result = report(name);
    } catch (const std::bad_alloc&) {
        std::printf("Ran out of memory.");
    }
    kestrad_share_free_user_list(&login_state.shares);
    return result;
}
