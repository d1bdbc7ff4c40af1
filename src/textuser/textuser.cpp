#include "textuser/textuser.h"

#include "config/log.h"
#include "config/unique_file.h"
#include "textuser/piece_reader.h"
#include "textuser/textuser_log.h"
#include "textuser/user_line.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>

namespace {

enum class copy_result { done, out_of_memory };

// Fills the record from a complete line; the source line of the message names the
// field whose copy failed.
copy_result copy_fields(text_user& user, std::string_view name, const user_fields& fields)
{
    int field_line = 93;
    try {
        user.name.emplace(name);
        field_line = 109;
        user.group.emplace(fields.group);
        field_line = 125;
        user.home.emplace(fields.home);
        field_line = 134;
        user.hash.emplace(fields.hash);
        return copy_result::done;
    } catch (const std::bad_alloc&) {
        log_error(textuser_source, field_line, "Out of memory.");
        return copy_result::out_of_memory;
    }
}

void log_invalid_line(int source_line, int line_number)
{
    log_error(textuser_source, source_line, "Skip invalid line %d", line_number);
}

} // namespace

int kestrad_textuser_get(const char* path, const char* name, text_user* user)
{
    if (path == nullptr || name == nullptr || user == nullptr)
        return -1;
    kestrad_textuser_free(user);
    const unique_fd file(::open(path, O_RDONLY | O_CLOEXEC));
    if (!file) {
        log_error(textuser_source, 69, "Failed to open %s. (%s)", path, std::strerror(errno));
        return -1;
    }
    const std::string_view sought(name);
    piece_reader reader(file.get());
    std::string_view piece;
    int line_number = 0;
    while (reader.next(piece)) {
        ++line_number;
        const user_line line = read_user_line(piece);
        if (line.kind == line_kind::skipped)
            continue;
        if (line.kind == line_kind::invalid) {
            log_invalid_line(83, line_number);
            continue;
        }
        if (line.name != sought)
            continue;
        user_fields fields;
        int missing_colon = 0;
        if (!split_fields(line.rest, fields, missing_colon)) {
            log_invalid_line(missing_colon == 2 ? 101 : 117, line_number);
            continue;
        }
        // The first complete line of the user wins; the rest of the file is not read.
        if (copy_fields(*user, line.name, fields) != copy_result::done) {
            kestrad_textuser_free(user);
            return -1;
        }
        return 0;
    }
    if (reader.error() != 0)
        log_error(textuser_source, 141, "Failed to read %s. (%s)", path, std::strerror(reader.error()));
    return -1;
}

void kestrad_textuser_free(text_user* user)
{
    if (user == nullptr)
        return;
    user->name.reset();
    user->group.reset();
    user->home.reset();
    user->hash.reset();
}
