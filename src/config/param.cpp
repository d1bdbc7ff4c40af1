#include "config/param.h"

#include "config/log.h"
#include "config/misc.h"
#include "config/param_table.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

server_param_record server_params;
share_conf_list share_confs;

#define ROW(option, type) param_entry{#option, type, &server_param_record::option}

const std::array<param_entry, param_option_count + 1> param_table = {{
    ROW(ChrootSet, PARAM_USER_LIST),
    ROW(MaxDownloadRate, PARAM_USER_LIST),
    ROW(MaxUploadRate, PARAM_USER_LIST),
    ROW(ServerName, PARAM_STRING),
    ROW(ListenOnAddress, PARAM_STRING),
    ROW(Port, PARAM_STRING),
    ROW(ForcePassiveIP, PARAM_STRING),
    ROW(ShareConfPath, PARAM_FILE),
    ROW(ExceptionList, PARAM_STRING),
    ROW(PidFile, PARAM_STRING),
    ROW(TransferLog, PARAM_STRING),
    ROW(NoLoginList, PARAM_STRING),
    ROW(VirtualUserMapping, PARAM_STRING),
    ROW(VirtualUserAuthMethod, PARAM_STRING),
    ROW(VirtualUserAuthConfig, PARAM_STRING),
    ROW(SSLCertFile, PARAM_FILE),
    ROW(SSLKeyFile, PARAM_FILE),
    ROW(CharsetEncoding, PARAM_STRING),
    ROW(DefaultMode, PARAM_MODE),
    ROW(SupportUTF8Client, PARAM_BOOL),
    ROW(UsingUTF8FileSystem, PARAM_BOOL),
    ROW(ShowProgramVersion, PARAM_BOOL),
    ROW(SecurityPolicy, PARAM_KEYWORD),
    ROW(EncryptionType, PARAM_KEYWORD),
    ROW(NormalUserMustSecure, PARAM_BOOL),
    ROW(AnonymDisableSecure, PARAM_BOOL),
    ROW(DebugMode, PARAM_BOOL),
    ROW(LogCommand, PARAM_BOOL),
    ROW(DoWtmpLog, PARAM_BOOL),
    ROW(RequireValidShell, PARAM_BOOL),
    ROW(RestrictedPorts, PARAM_BOOL),
    ROW(PassiveModePortRange, PARAM_RANGE),
    ROW(AnonymousLogin, PARAM_BOOL),
    ROW(AnonymousOnly, PARAM_BOOL),
    ROW(AnonymousReadOnly, PARAM_BOOL),
    ROW(EmptyPasswdLogin, PARAM_BOOL),
    ROW(ShowSymlinks, PARAM_BOOL),
    ROW(ShowDotFiles, PARAM_BOOL),
    ROW(DisableEPSV, PARAM_BOOL),
    ROW(Umask, PARAM_OCTAL),
    ROW(MaxConnection, PARAM_INT),
    ROW(MaxConnectionPerIP, PARAM_INT),
    ROW(TimeOut, PARAM_INT),
    ROW(MaxTimeOut, PARAM_INT),
    param_entry{nullptr, PARAM_STRING, param_target{}},
}};

#undef ROW

namespace {

void set_default_text(param_text& field, const char* text)
{
    try {
        field = text;
    } catch (const std::bad_alloc&) {
        field.reset();
    }
}

const param_entry* find_row(const char* key)
{
    for (const param_entry& row : param_table) {
        if (row.name != nullptr && strcasecmp(row.name, key) == 0)
            return &row;
    }
    return nullptr;
}

int store_number(const param_entry& row, const char* value, int base, int line)
{
    // The low 32 bits are kept, as the field is a 32-bit signed number.
    const long parsed = std::strtol(value, nullptr, base);
    const auto stored = static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(parsed)));
    server_params.*std::get<int32_t server_param_record::*>(row.target) = stored;
    if (stored <= 0) {
        log_error("param.c", line, "bad number of config option %s", row.name);
        return -1;
    }
    return 0;
}

int store_text(const param_entry& row, const char* value)
{
    try {
        server_params.*std::get<param_text server_param_record::*>(row.target) = std::string(value);
    } catch (const std::bad_alloc&) {
        log_error("param.c", 201, "Ran out of memory.");
        return -1;
    }
    return 0;
}

int store_file(const param_entry& row, const char* value)
{
    struct stat info {};
    if (stat(value, &info) != 0 || !S_ISREG(info.st_mode)) {
        log_error("param.c", 191, "The option %s (%s) does not exist", row.name, value);
        return -1;
    }
    return store_text(row, value);
}

// Cuts the next word of blanks and tabs out of the value in place.
char* next_word(char*& cursor)
{
    while (is_blank(*cursor))
        ++cursor;
    if (*cursor == '\0')
        return nullptr;
    char* word = cursor;
    while (*cursor != '\0' && !is_blank(*cursor))
        ++cursor;
    if (*cursor != '\0')
        *cursor++ = '\0';
    return word;
}

int store_user_option(const param_entry& row, char* value)
{
    char* cursor = value;
    const char* name = next_word(cursor);
    const char* option_value = name != nullptr ? next_word(cursor) : nullptr;
    if (option_value == nullptr) {
        log_error("param.c", 235, "bad syntax of config option %s", row.name);
        return -1;
    }
    try {
        auto& list = server_params.*std::get<user_option_list server_param_record::*>(row.target);
        list.push_front(user_option{name, option_value});
    } catch (const std::bad_alloc&) {
        log_error("param.c", 228, "Ran out of memory.");
        return -1;
    }
    return 0;
}

int32_t keyword_code(const param_entry& row, const char* value)
{
    const bool security = std::strcmp(row.name, "SecurityPolicy") == 0;
    const char* first = security ? "secure" : "ssl";
    const char* second = security ? "nosecure" : "tls";
    if (strcasecmp(value, first) == 0)
        return 1;
    if (strcasecmp(value, second) == 0)
        return 2;
    return 3;
}

int store_range(const char* value)
{
    unsigned low = 0;
    unsigned high = 0;
    if (std::sscanf(value, "%u-%u", &low, &high) != 2 || low < 1024 || high > 65535 || low > high) {
        log_error("param.c", 181, "Bad port range %s", value);
        return -1;
    }
    server_params.PassiveModePortRange = port_range{low, high};
    return 0;
}

} // namespace

void kestrad_param_init()
{
    server_params = server_param_record{};
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0)
        set_default_text(server_params.ServerName, host);
    else
        set_default_text(server_params.ServerName, "Unkown");
    set_default_text(server_params.Port, "ftp");
    server_params.Umask = 022;
    server_params.TimeOut = 900;
    server_params.MaxTimeOut = 7200;
    server_params.ShowProgramVersion = 1;
    server_params.DefaultMode = MODE_NORMAL;
    server_params.ShowDotFiles = 1;
    server_params.RequireValidShell = 1;
    server_params.RestrictedPorts = 1;
    set_default_text(server_params.NoLoginList, "500");
    server_params.AnonymousReadOnly = 1;
    server_params.SecurityPolicy = 2;
    server_params.EncryptionType = 3;
    set_default_text(server_params.SSLCertFile, "/usr/local/etc/kestrad/ssl.crt/server.crt");
    set_default_text(server_params.SSLKeyFile, "/usr/local/etc/kestrad/ssl.key/server.key");
}

int kestrad_param_set_option(const char* key, char* value)
{
    const param_entry* row = find_row(key);
    if (row == nullptr) {
        log_error("param.c", 153, "Skip unknown option %s", key);
        return 0;
    }
    switch (row->type) {
    case PARAM_INT:
        return store_number(*row, value, 10, 170);
    case PARAM_OCTAL:
        return store_number(*row, value, 8, 162);
    case PARAM_STRING:
        return store_text(*row, value);
    case PARAM_USER_LIST:
        return store_user_option(*row, value);
    case PARAM_BOOL:
        server_params.*std::get<int32_t server_param_record::*>(row->target) = strcasecmp(value, "yes") == 0 ? 1 : 0;
        return 0;
    case PARAM_MODE:
        server_params.*std::get<int32_t server_param_record::*>(row->target) =
            strcasecmp(value, "SMB") == 0 ? MODE_SMB : MODE_NORMAL;
        return 0;
    case PARAM_FILE:
        return store_file(*row, value);
    case PARAM_KEYWORD:
        server_params.*std::get<int32_t server_param_record::*>(row->target) = keyword_code(*row, value);
        return 0;
    case PARAM_RANGE:
        return store_range(value);
    }
    return 0;
}
