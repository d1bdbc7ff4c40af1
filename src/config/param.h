#pragma once
// The server parameters: one process-wide record of every option of the main
// configuration file, and the table that ties each option name to its field.

#include "share/share.h"

#include <cstdint>
#include <forward_list>
#include <optional>
#include <string>

// One line of a per-user option: a user, '@' and a group, or '@' alone, and its value.
struct user_option {
    std::string name;
    std::string value;
};
// Newest line of the file first.
using user_option_list = std::forward_list<user_option>;

struct port_range {
    uint32_t low = 0;
    uint32_t high = 0;
};

using param_text = std::optional<std::string>;

struct server_param_record {
    user_option_list ChrootSet;
    user_option_list MaxDownloadRate;
    user_option_list MaxUploadRate;
    param_text ServerName;
    param_text ListenOnAddress;
    param_text Port;
    param_text ForcePassiveIP;
    param_text ShareConfPath;
    param_text ExceptionList;
    param_text PidFile;
    param_text TransferLog;
    param_text NoLoginList;
    param_text VirtualUserMapping;
    param_text VirtualUserAuthMethod;
    param_text VirtualUserAuthConfig;
    param_text SSLCertFile;
    param_text SSLKeyFile;
    void* reserved = nullptr; // no option fills it; the server keeps it for its own use
    param_text CharsetEncoding;
    int32_t DefaultMode = 0;
    int32_t SupportUTF8Client = 0;
    int32_t UsingUTF8FileSystem = 0;
    int32_t ShowProgramVersion = 0;
    int32_t SecurityPolicy = 0;
    int32_t EncryptionType = 0;
    int32_t NormalUserMustSecure = 0;
    int32_t AnonymDisableSecure = 0;
    int32_t DebugMode = 0;
    int32_t LogCommand = 0;
    int32_t DoWtmpLog = 0;
    int32_t RequireValidShell = 0;
    int32_t RestrictedPorts = 0;
    port_range PassiveModePortRange;
    int32_t AnonymousLogin = 0;
    int32_t AnonymousOnly = 0;
    int32_t AnonymousReadOnly = 0;
    int32_t EmptyPasswdLogin = 0;
    int32_t ShowSymlinks = 0;
    int32_t ShowDotFiles = 0;
    int32_t DisableEPSV = 0;
    int32_t Umask = 0;
    int32_t MaxConnection = 0;
    int32_t MaxConnectionPerIP = 0;
    int32_t TimeOut = 0;
    int32_t MaxTimeOut = 0;
};

extern server_param_record server_params;

// The share sections that the load read, kept beside server_params.
extern share_conf_list share_confs;

enum param_type : int {
    PARAM_INT = 1,
    PARAM_OCTAL = 2,
    PARAM_STRING = 3,
    PARAM_USER_LIST = 4,
    PARAM_BOOL = 5,
    PARAM_MODE = 6,
    PARAM_FILE = 7,
    PARAM_KEYWORD = 8,
    PARAM_RANGE = 9,
};

inline constexpr int32_t MODE_NORMAL = 0;
inline constexpr int32_t MODE_SMB = 1;

// Gives every option its default. Cannot fail.
void kestrad_param_init();
// Stores one option through the table: 0 stored or unknown key skipped, -1 bad value.
[[nodiscard]] int kestrad_param_set_option(const char* key, char* value);
// Reads and validates the configuration; 0 ready, -1 after a logged failure and a reset.
[[nodiscard]] int kestrad_param_load(const char* path);
// Releases everything the load built and clears the record.
void kestrad_param_free();
