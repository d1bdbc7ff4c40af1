// The rewrite of the text user file: the one place that writes it.

#include "textuser/textuser.h"

#include "config/log.h"
#include "config/misc.h"
#include "config/unique_file.h"
#include "textuser/file_lock.h"
#include "textuser/piece_reader.h"
#include "textuser/textuser_log.h"
#include "textuser/user_line.h"
#include "textuser/working_file.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool has(const std::optional<std::string>& field, std::string_view characters)
{
    return field->find_first_of(characters) != std::string::npos;
}

// A record is written as one line of four fields; anything that would split it into
// other lines or fields is refused rather than written.
bool is_writable(const text_user& user)
{
    if (!user.name || !user.group || !user.home || !user.hash)
        return false;
    if (has(user.name, ":\n") || has(user.group, ":\n") || has(user.home, ":\n") || has(user.hash, "\n"))
        return false;
    // The lookup reads at most 2047 characters of a line at a time; a longer record would
    // be found cut short, or not at all.
    const size_t length = user.name->size() + user.group->size() + user.home->size() + user.hash->size() + 3;
    return length <= static_cast<size_t>(kestrad_line_size - 1);
}

// The new file is in place; if its directory entry could not be forced to the disk the
// change may not survive a power cut, which is logged, but it is made.
int report_directory_sync(const char* path, const working_file& work)
{
    if (work.directory_error() != 0)
        log_rewrite_failure(path, work.directory_error());
    return 0;
}

std::string record_line(const text_user& user)
{
    return *user.name + ':' + *user.group + ':' + *user.home + ':' + *user.hash + '\n';
}

// Copies the old file, replacing the user's first line by the record (or dropping it
// when there is none) and dropping the user's later lines.
bool copy_with_change(const char* path, int old_fd, const char* name, const std::string* record,
                      working_file& work)
{
    piece_reader reader(old_fd);
    const std::string_view sought(name);
    // Unchanged lines lie one after the other in the reader's buffer: they are written
    // as one run, before the buffer moves or a changed line comes.
    const char* run = nullptr;
    std::size_t run_length = 0;
    const auto write_run = [&] {
        const bool written = work.write(std::string_view(run, run_length));
        run_length = 0;
        return written;
    };
    std::string_view piece;
    bool seen = false;
    bool writing = true;
    while (writing && reader.next(piece)) {
        if (!is_line_of(piece, sought)) {
            if (run_length == 0)
                run = piece.data();
            run_length += piece.size();
            if (!reader.next_is_buffered())
                writing = write_run();
            continue;
        }
        writing = write_run();
        if (seen) {
            log_plain("Skip redundant user %s", name);
            continue;
        }
        seen = true;
        if (record != nullptr && writing)
            writing = work.write(*record);
    }
    if (writing)
        write_run();
    if (reader.error() != 0) {
        log_rewrite_failure(path, reader.error());
        return false;
    }
    if (work.error() != 0) {
        log_rewrite_failure(path, work.error());
        return false;
    }
    if (!seen && record != nullptr) {
        // A last line without its newline must not swallow the new record.
        const bool written = (work.at_line_start() || work.write("\n")) && work.write(*record);
        if (!written) {
            log_rewrite_failure(path, work.error());
            return false;
        }
    }
    return true;
}

int rewrite(const char* path, const char* name, const text_user* user)
{
    if (user != nullptr && !is_writable(*user))
        return -1;
    const std::string record = user != nullptr ? record_line(*user) : std::string();
    const std::string target(path);

    // The mask stays as set, so anything else this process creates is private too.
    ::umask(066);

    // Concurrent rewrites take turns, or the later rename would undo the earlier one.
    // The lock is on a file of its own because the user file is replaced each time.
    const std::string lock_path = target + ".lock";
    const file_lock lock(lock_path);
    if (!lock.held()) {
        log_rewrite_open_failure(lock_path, lock.error());
        return -1;
    }

    working_file work(target + '.' + std::to_string(::getpid()));
    if (!work.created()) {
        log_rewrite_open_failure(work.path(), work.error());
        return -1;
    }

    const unique_fd old_file(::open(path, O_RDONLY | O_CLOEXEC));
    if (!old_file) {
        if (errno != ENOENT || user == nullptr)
            return -1;
        if (!work.write(record) || !work.finish() || !work.commit(target)) {
            log_rewrite_failure(path, work.error());
            return -1;
        }
        return report_directory_sync(path, work);
    }
    if (!copy_with_change(path, old_file.get(), name, user != nullptr ? &record : nullptr, work))
        return -1;
    if (!work.finish() || !work.commit(target)) {
        log_rewrite_failure(path, work.error());
        return -1;
    }
    return report_directory_sync(path, work);
}

} // namespace

int kestrad_textuser_put(const char* path, const char* name, const text_user* user)
{
    if (path == nullptr || name == nullptr)
        return -1;
    try {
        return rewrite(path, name, user);
    } catch (const std::bad_alloc&) {
        log_rewrite_failure(path, ENOMEM);
        return -1;
    }
}
