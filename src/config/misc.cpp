#include "config/misc.h"

#include "auth/auth.h"
#include "config/log.h"
#include "config/unique_file.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <vector>

namespace {

bool is_quote_pair(const char* text, size_t length)
{
    if (length < 2)
        return false;
    const char first = text[0];
    return (first == '"' || first == '\'') && text[length - 1] == first;
}

// Trims in place and returns the length of the kept text, which starts at the buffer.
size_t trim_in_place(char* text, bool drop_quotes)
{
    std::string_view kept = trim_view(text);
    if (drop_quotes && is_quote_pair(kept.data(), kept.size()))
        kept = kept.substr(1, kept.size() - 2);
    if (kept.data() != text)
        std::memmove(text, kept.data(), kept.size());
    text[kept.size()] = '\0';
    return kept.size();
}

} // namespace

std::string_view trim_view(std::string_view text) noexcept
{
    std::size_t first = 0;
    while (first < text.size() && is_white_space(text[first]))
        ++first;
    std::size_t last = text.size();
    while (last > first && is_white_space(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

char* kestrad_trim(char* text)
{
    if (text == nullptr)
        return nullptr;
    trim_in_place(text, false);
    return text;
}

char* kestrad_trim_quotes(char* text)
{
    if (text == nullptr)
        return nullptr;
    trim_in_place(text, true);
    return text;
}

std::optional<std::string> kestrad_double_quotes(const char* text)
{
    try {
        std::string doubled;
        doubled.reserve(std::strlen(text));
        for (const char* p = text; *p != '\0'; ++p) {
            doubled += *p;
            if (*p == '"')
                doubled += '"';
        }
        return doubled;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

int kestrad_read_conf(const char* path, conf_callback callback)
{
    if (path == nullptr || callback == nullptr)
        return -1;
    unique_file file = open_file(path, "r");
    // A directory opens on some systems but holds no lines; it is no configuration file.
    struct stat info {};
    if (file && fstat(fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
        file.reset();
        errno = EISDIR;
    }
    if (!file) {
        log_error("misc.c", 250, "Failed to open [%s] (%s)", path, std::strerror(errno));
        return -1;
    }
    char line[kestrad_line_size];
    // A read error ends the file like its end does.
    while (std::fgets(line, sizeof line, file.get()) != nullptr) {
        size_t length = std::strlen(line);
        if (length > 0 && line[length - 1] == '\n')
            line[--length] = '\0';
        char* key = line;
        while (is_blank(*key))
            ++key;
        if (*key == '\0' || *key == '#')
            continue;
        char* end = key;
        while (*end != '\0' && !is_blank(*end))
            ++end;
        char* value = nullptr;
        if (*end != '\0') {
            *end = '\0';
            value = kestrad_trim_quotes(end + 1);
        }
        if (value == nullptr || *value == '\0') {
            log_error("misc.c", 284, "bad syntax of config option %s", key);
            return -1;
        }
        if (callback(key, value) != 0)
            return -1;
    }
    return 0;
}

int kestrad_in_list(const char* user, const char* list)
{
    if (user == nullptr || list == nullptr)
        return 0;
    std::vector<char> copy;
    try {
        copy.assign(list, list + std::strlen(list) + 1);
    } catch (const std::bad_alloc&) {
        log_error("misc.c", 175, "failed to allocate memory, errno:%d(%s)", ENOMEM, std::strerror(ENOMEM));
        return 0;
    }
    // The entries are cut out by hand rather than with strtok, so the group test
    // may use the tokenizer without losing our place in the list.
    char* cursor = copy.data();
    while (*cursor != '\0') {
        char* entry = cursor;
        char* comma = std::strchr(cursor, ',');
        if (comma != nullptr) {
            *comma = '\0';
            cursor = comma + 1;
        } else {
            cursor += std::strlen(cursor);
        }
        if (*entry == '\0')
            continue;
        kestrad_trim(entry);
        if (entry[0] == '@') {
            if (kestrad_auth_is_group_member(user, entry + 1) == 1)
                return 1;
        } else if (std::strcmp(entry, user) == 0) {
            return 1;
        }
    }
    return 0;
}
