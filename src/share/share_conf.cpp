#include "share/share.h"

#include "config/log.h"
#include "config/misc.h"
#include "config/unique_file.h"
#include "share/canonical_dir.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <strings.h>

namespace {

constexpr const char* source = "share.c";

void log_out_of_memory(int line)
{
    log_error(source, line, "Out of memory");
}

// Reads one line into the buffer, without its newline. A line too long for the buffer
// is consumed to its end and reported as overlong: a piece of a cut line is not what
// its writer meant, and a cut user list could name a user whose name is only a prefix
// of a listed one. False at end of file.
bool read_line(FILE* file, char (&line)[kestrad_line_size], bool& overlong)
{
    size_t length = 0;
    int c = std::getc(file);
    if (c == EOF)
        return false;
    overlong = false;
    for (; c != EOF && c != '\n'; c = std::getc(file)) {
        if (length + 1 < sizeof line)
            line[length++] = static_cast<char>(c);
        else
            overlong = true;
    }
    line[length] = '\0';
    return true;
}

// Copies a value into a field; false, logged with the line of that field, when memory runs out.
bool store_copy(std::optional<std::string>& field, const char* value, int oom_line)
{
    try {
        field = value;
        return true;
    } catch (const std::bad_alloc&) {
        log_out_of_memory(oom_line);
        return false;
    }
}

// The canonical form of a "path" value. A directory that cannot be entered leaves the
// record as it was and the read goes on; false only when memory runs out.
bool store_path(share_conf& record, const char* value)
{
    char canonical[share_path_size];
    if (!canonical_dir(value, canonical)) {
        log_error(source, 743, "path \"%s\" does not exist.", value);
        return true;
    }
    return store_copy(record.path, canonical, 747);
}

struct text_key {
    const char* key;
    std::optional<std::string> share_conf::* field;
    int oom_line;
};

constexpr text_key text_keys[] = {
    {"rw", &share_conf::rw_users, 711},
    {"ro", &share_conf::ro_users, 717},
    {"disable_download", &share_conf::disable_download, 723},
    {"disable_ls", &share_conf::disable_ls, 729},
    {"disable_modify", &share_conf::disable_modify, 735},
};

// Applies one "key = value" line to the section; false when memory runs out.
bool apply_key(share_conf& record, char* line)
{
    char* equals = std::strchr(line, '=');
    if (equals == nullptr)
        return true;
    *equals = '\0';
    const char* key = kestrad_trim_quotes(line);
    const char* value = kestrad_trim_quotes(equals + 1);
    for (const text_key& row : text_keys) {
        if (std::strcmp(key, row.key) == 0)
            return store_copy(record.*row.field, value, row.oom_line);
    }
    if (std::strcmp(key, "path") == 0)
        return store_path(record, value);
    // Only "no" takes browsing away, and nothing gives it back.
    if (std::strcmp(key, "browseable") == 0 && strcasecmp(value, "no") == 0)
        record.browseable = 0;
    return true;
}

// Opens a section for a "[name]" head and makes it the current one; a head that names
// nothing changes nothing. False when memory runs out.
bool open_section(share_conf_list& list, char* line, share_conf*& current)
{
    char* close = std::strchr(line + 1, ']');
    if (close == nullptr || close == line + 1)
        return true;
    *close = '\0';
    const char* name = kestrad_trim(line + 1);
    try {
        list.emplace_front();
    } catch (const std::bad_alloc&) {
        log_out_of_memory(682);
        return false;
    }
    try {
        list.front().name = name;
    } catch (const std::bad_alloc&) {
        log_out_of_memory(687);
        list.pop_front();
        return false;
    }
    current = &list.front();
    return true;
}

// Reports the file that cannot be read from errno, as it stands, and releases the list.
int fail_unreadable(const char* path, share_conf_list& list)
{
    const int error = errno;
    log_error(source, 661, "Failed to open share config [%s], errno:%d (%s)", path, error, std::strerror(error));
    list.clear();
    return -1;
}

// Reads every line into the list; false when memory ran out.
bool read_sections(FILE* file, share_conf_list& list)
{
    char line[kestrad_line_size];
    bool overlong = false;
    // Keys apply to the section this file opened last, never to a record the caller had.
    share_conf* current = nullptr;
    while (read_line(file, line, overlong)) {
        if (overlong)
            continue;
        char* text = kestrad_trim(line);
        if (text[0] == '\0' || text[0] == '#')
            continue;
        const bool ok = text[0] == '[' ? open_section(list, text, current)
                                       : current == nullptr || apply_key(*current, text);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

int kestrad_share_read_conf(const char* path, share_conf_list* list)
{
    if (path == nullptr || list == nullptr) {
        log_error(source, 654, "bad parameter");
        return -1;
    }
    unique_file file = open_file(path, "r");
    if (!file)
        return fail_unreadable(path, *list);
    if (!read_sections(file.get(), *list)) {
        list->clear();
        return -1;
    }
    // A file that fails in the middle (or a directory, which opens but cannot be read)
    // would otherwise pass for a shorter file and quietly drop the shares after the fault.
    if (std::ferror(file.get()))
        return fail_unreadable(path, *list);
    // A section is only usable through its directory; "homes" stands for every user's own.
    list->remove_if([](const share_conf& record) { return record.name != "homes" && !record.path; });
    return 0;
}

void kestrad_share_free_conf(share_conf_list* list)
{
    if (list != nullptr)
        list->clear();
}
