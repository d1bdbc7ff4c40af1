#pragma once
// A share_conf as plain values, so that tests write sections as table rows and whole
// lists compare and print.

#include "share/share.h"

#include <optional>
#include <ostream>
#include <string>
#include <utility>

struct section {
    std::string name;
    std::optional<std::string> path = {};
    std::optional<std::string> rw = {};
    std::optional<std::string> ro = {};
    std::optional<std::string> no_download = {};
    std::optional<std::string> no_ls = {};
    std::optional<std::string> no_modify = {};
    int browseable = 1;
    bool operator==(const section&) const = default;
};

inline void PrintTo(const section& s, std::ostream* out)
{
    const auto text = [](const std::optional<std::string>& t) { return t ? "\"" + *t + "\"" : std::string("none"); };
    *out << "[" << s.name << "] path=" << text(s.path) << " rw=" << text(s.rw) << " ro=" << text(s.ro)
         << " dl=" << text(s.no_download) << " ls=" << text(s.no_ls) << " mod=" << text(s.no_modify)
         << " browseable=" << s.browseable;
}

inline section as_section(const share_conf& r)
{
    return {r.name, r.path, r.rw_users, r.ro_users, r.disable_download, r.disable_ls, r.disable_modify, r.browseable};
}

inline share_conf as_share_conf(section s)
{
    share_conf r;
    r.name = std::move(s.name);
    r.path = std::move(s.path);
    r.rw_users = std::move(s.rw);
    r.ro_users = std::move(s.ro);
    r.disable_download = std::move(s.no_download);
    r.disable_ls = std::move(s.no_ls);
    r.disable_modify = std::move(s.no_modify);
    r.browseable = s.browseable;
    return r;
}
