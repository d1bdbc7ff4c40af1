#pragma once
// The record of the one login that a process serves.

#include "share/share.h"

#include <cstdint>
#include <optional>
#include <string>

// Longest login name kept; longer names are cut.
inline constexpr size_t login_name_max = 255;

struct login_record {
    std::string login_name;                // at most login_name_max characters
    std::optional<std::string> login_note; // not owned by the tool; nothing sets it here
    std::string remote_host;               // handed to PAM as the remote host
    user_share_list shares;                // granted shares in SMB mode
    int32_t chrooted = 0;
    int32_t smb_mode = 0; // never set while chrooted
    int64_t upload_rate = 0;
    int64_t download_rate = 0;
    int32_t anonymous = 0;
};

extern login_record login_state;
