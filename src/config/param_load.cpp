#include "config/param.h"

#include "auth/auth.h"
#include "config/log.h"
#include "config/misc.h"
#include "config/param_table.h"
#include "limits/ipconn.h"
#include "share/share.h"

namespace {

// SMB mode applies to somebody when it is the default, or when the exception list
// turns some users of the normal default into SMB users.
bool smb_mode_can_apply()
{
    return server_params.DefaultMode == MODE_SMB ||
           (server_params.DefaultMode == MODE_NORMAL && server_params.ExceptionList.has_value());
}

int read_shares()
{
    if (!server_params.ShareConfPath) {
        log_error("param.c", 300, "Enable SMB mode but failed to find samba config file.");
        return -1;
    }
    if (kestrad_share_read_conf(server_params.ShareConfPath->c_str(), &share_confs) != 0) {
        log_error("param.c", 303, "Failed to enumerate shares");
        return -1;
    }
    return 0;
}

int select_auth_method()
{
    if (!server_params.VirtualUserMapping)
        return kestrad_auth_init_config("pam", nullptr) == 0 ? 0 : -1;
    if (!server_params.VirtualUserAuthMethod || !server_params.VirtualUserAuthConfig) {
        log_error("param.c", 319,
                  "VirtualUserMapping is set. But There is no VirtualUserAuthMethod or VirtualUserAuthConfig");
        return -1;
    }
    return kestrad_auth_init_config(server_params.VirtualUserAuthMethod->c_str(),
                                    server_params.VirtualUserAuthConfig->c_str()) == 0
               ? 0
               : -1;
}

int load_stages(const char* path)
{
    if (path == nullptr) {
        log_error("param.c", 286, "Please specify the config file");
        return -1;
    }
    if (kestrad_read_conf(path, kestrad_param_set_option) != 0) {
        log_error("param.c", 291, "Failed to parse %s", path);
        return -1;
    }
    if (smb_mode_can_apply() && read_shares() != 0)
        return -1;
    if (server_params.TimeOut > server_params.MaxTimeOut) {
        log_error("param.c", 311, "The MaxTimeOut should be bigger than TimeOut.");
        return -1;
    }
    if (select_auth_method() != 0)
        return -1;
    if (server_params.CharsetEncoding)
        log_error("param.c", 357, "iconv is not supported. Disable CharsetEncoding.");
    if (server_params.MaxConnection != 0 && server_params.MaxConnectionPerIP != 0 &&
        kestrad_ipconn_alloc(server_params.MaxConnection) != 0) {
        log_error("param.c", 363, "Failed to alloc space for max connection per ip table.");
        return -1;
    }
    return 0;
}

} // namespace

int kestrad_param_load(const char* path)
{
    if (load_stages(path) == 0)
        return 0;
    kestrad_param_free();
    return -1;
}

void kestrad_param_free()
{
    for (const param_entry& row : param_table) {
        if (row.name == nullptr)
            break;
        if (auto text = std::get_if<param_text server_param_record::*>(&row.target))
            (server_params.**text).reset();
        else if (auto list = std::get_if<user_option_list server_param_record::*>(&row.target))
            (server_params.**list).clear();
    }
    kestrad_share_free_conf(&share_confs);
    server_params = server_param_record{};
    kestrad_auth_end();
    kestrad_ipconn_free();
}
