#include "textuser/working_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::string directory_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

int sync_directory(const std::string& path)
{
    const unique_fd directory(::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory || ::fsync(directory.get()) != 0)
        return errno;
    return 0;
}

} // namespace

working_file::working_file(std::string path) : path_(std::move(path))
{
    fd_.reset(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd_)
        error_ = errno;
    created_ = static_cast<bool>(fd_);
}

working_file::~working_file()
{
    fd_.reset();
    if (created_ && !committed_)
        ::unlink(path_.c_str());
}

bool working_file::fail(int error)
{
    if (error_ == 0)
        error_ = error;
    return false;
}

bool working_file::write_through(const char* data, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd_.get(), data, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        data += written;
        length -= static_cast<std::size_t>(written);
        written_ += static_cast<std::size_t>(written);
    }
    start_writeback();
    return true;
}

void working_file::start_writeback()
{
#ifdef __linux__
    // The disk starts on the new file while the rest is still being copied, so the
    // final fsync waits for the last stretch only. A hint: fsync reports any error.
    if (written_ - handed_to_disk_ < writeback_stretch)
        return;
    ::sync_file_range(fd_.get(), static_cast<off_t>(handed_to_disk_), static_cast<off_t>(written_ - handed_to_disk_),
                      SYNC_FILE_RANGE_WRITE);
    handed_to_disk_ = written_;
#endif
}

bool working_file::flush()
{
    const std::size_t pending = used_;
    used_ = 0;
    return write_through(buffer_, pending);
}

bool working_file::write(std::string_view data)
{
    if (error_ != 0 || !fd_)
        return fail(EBADF);
    if (data.empty())
        return true;
    at_line_start_ = data.back() == '\n';
    // Small writes gather in the buffer; large ones go out as they are, without a copy.
    if (data.size() < capacity / 4 && used_ + data.size() <= capacity) {
        std::memcpy(buffer_ + used_, data.data(), data.size());
        used_ += data.size();
        return true;
    }
    return flush() && write_through(data.data(), data.size());
}

bool working_file::finish()
{
    if (error_ != 0 || !fd_)
        return fail(EBADF);
    if (!flush())
        return false;
    if (::fsync(fd_.get()) != 0)
        return fail(errno);
    // A failed close can mean the data never reached the file (network file systems).
    if (::close(fd_.release()) != 0)
        return fail(errno);
    return true;
}

bool working_file::commit(const std::string& target)
{
    if (error_ != 0 || fd_ || !created_)
        return fail(EBADF);
    if (::rename(path_.c_str(), target.c_str()) != 0)
        return fail(errno);
    committed_ = true;
    // The change is visible from here on; a directory that cannot be synced is reported
    // by the caller but does not make the change a failure.
    directory_error_ = sync_directory(target);
    return true;
}
