// Mapping between an SMB-mode login's virtual tree and the file system. The resolver
// walks a path one component at a time with the process's working directory, and after
// every step into a directory asks the system where it really stands, so that neither
// "..", nor a symbolic link, nor a directory moved during the walk can carry it outside
// the granted shares.

#include "share/share.h"

#include "config/log.h"
#include "share/cwd_guard.h"
#include "tool/login_state.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Longest path the resolver builds or hands back; with its terminator it fills 1025 bytes.
constexpr size_t resolve_path_max = 1024;
// A resolution that would follow more symbolic links than this is refused, which ends cycles.
constexpr int max_links_followed = 32;

// Every call overwrites it; callers copy what they need before the next call.
char resolved_path[resolve_path_max + 1];

// A path that never grows past resolve_path_max. A text that does not fit is refused as
// a whole rather than cut, because a cut path names some other file.
class bounded_path {
public:
    [[nodiscard]] bool assign(std::string_view text) noexcept
    {
        clear();
        return append(text);
    }
    [[nodiscard]] bool append(std::string_view text) noexcept
    {
        if (text.size() > resolve_path_max - size_)
            return false;
        std::memcpy(data_ + size_, text.data(), text.size());
        size_ += text.size();
        data_[size_] = '\0';
        return true;
    }
    void clear() noexcept
    {
        size_ = 0;
        data_[0] = '\0';
    }
    // The working directory; false when it cannot be read or is longer than the limit.
    [[nodiscard]] bool load_cwd() noexcept
    {
        if (::getcwd(data_, sizeof data_) == nullptr) {
            clear();
            return false;
        }
        size_ = std::strlen(data_);
        return true;
    }
    const char* c_str() const noexcept { return data_; }
    std::string_view view() const noexcept { return {data_, size_}; }

private:
    char data_[resolve_path_max + 1] = {};
    size_t size_ = 0;
};

bool is_virtual_root(std::string_view dir)
{
    return dir == SHARE_ROOT_DIR;
}

// A share holds a real path when its directory is a prefix that ends at a component boundary.
bool share_holds(const user_share& share, std::string_view real)
{
    const std::string_view top = share.path;
    return !top.empty() && real.substr(0, top.size()) == top && (real.size() == top.size() || real[top.size()] == '/');
}

const user_share* find_holder(const user_share_list* shares, std::string_view real)
{
    if (shares == nullptr)
        return nullptr;
    for (const user_share& share : *shares) {
        if (share_holds(share, real))
            return &share;
    }
    return nullptr;
}

bool is_share_top(const user_share_list& shares, std::string_view dir)
{
    for (const user_share& share : shares) {
        if (!share.path.empty() && share.path == dir)
            return true;
    }
    return false;
}

// Where one component of a path starts and ends.
struct component {
    std::string_view name;
    size_t end = 0; // offset just past the name
};

// The next component at or after the offset, runs of '/' counting as one separator.
bool next_component(std::string_view path, size_t from, component& out)
{
    const size_t start = path.find_first_not_of('/', from);
    if (start == std::string_view::npos)
        return false;
    size_t end = path.find('/', start);
    if (end == std::string_view::npos)
        end = path.size();
    out = {path.substr(start, end - start), end};
    return true;
}

// One resolution in SMB mode. It exists only once the start directory is known to be the
// virtual root or inside a share, and it brings the process back there when it ends.
// here_ always names the directory the process stands in, as getcwd gave it.
class share_walk {
public:
    share_walk(const user_share_list& shares, int flags, const bounded_path& start) noexcept
        : shares_(shares), flags_(flags), start_(start)
    {
    }

    // The resolved real path, or none.
    const char* run(const bounded_path& path) noexcept
    {
        if (!back_.saved() || !working_.assign(path.view()))
            return nullptr;
        here_ = start_;
        for (;;) {
            switch (walk()) {
            case outcome::resolved:
                std::memcpy(resolved_path, result_.c_str(), result_.view().size() + 1);
                return resolved_path;
            case outcome::refused:
                return nullptr;
            case outcome::follow:
                if (!working_.assign(next_.view()))
                    return nullptr;
                break;
            }
        }
    }

private:
    enum class outcome { resolved, refused, follow };

    outcome walk() noexcept
    {
        const std::string_view path = working_.view();
        if (!path.empty() && path.front() == '/' && !to_root())
            return outcome::refused;

        component c;
        for (size_t at = 0; next_component(path, at, c); at = c.end) {
            component after;
            const bool last = !next_component(path, c.end, after);
            if (c.name == SHARE_ROOT_MARKER) {
                if (!to_root())
                    return outcome::refused;
                continue;
            }
            // ".." from a share's top directory, or anything that stays put at the
            // virtual root, leads to the virtual root.
            if ((c.name == ".." && is_share_top(shares_, here_.view())) ||
                (is_virtual_root(here_.view()) && (c.name == "." || c.name == ".."))) {
                if (!to_root())
                    return outcome::refused;
                continue;
            }
            if (is_virtual_root(here_.view())) {
                if (!enter_share(c.name))
                    return outcome::refused;
                continue;
            }
            if (find_holder(&shares_, here_.view()) == nullptr || !name_.assign(c.name))
                return outcome::refused;

            struct stat st;
            if (::lstat(name_.c_str(), &st) != 0)
                return final_component(last);
            if (S_ISDIR(st.st_mode)) {
                if (!enter_dir())
                    return outcome::refused;
                continue;
            }
            const bool follow = S_ISLNK(st.st_mode) && (flags_ & SHARE_RESOLVE_NOFOLLOW) == 0 &&
                                ((flags_ & SHARE_RESOLVE_NOFOLLOW_LAST) == 0 || !last);
            if (follow) {
                // The rest starts after the one '/' that ends the link's component.
                const std::string_view rest = c.end < path.size() ? path.substr(c.end + 1) : std::string_view();
                return follow_link(rest);
            }
            return final_component(last);
        }

        if ((flags_ & SHARE_RESOLVE_WRITE) != 0 &&
            (is_share_top(shares_, here_.view()) || kestrad_share_check_access(&shares_, here_.c_str(), 1) == 0))
            return outcome::refused;
        return outcome::resolved;
    }

    bool to_root() noexcept
    {
        if (!result_.assign(SHARE_ROOT_DIR))
            return false;
        if (is_virtual_root(here_.view()))
            return true;
        if (::chdir(SHARE_ROOT_DIR) != 0)
            return false;
        return here_.assign(SHARE_ROOT_DIR);
    }

    // At the virtual root a component names a share.
    bool enter_share(std::string_view name) noexcept
    {
        if (shares_.empty()) {
            log_error("share.c", 68, "bad parameter");
            return false;
        }
        const user_share* share = nullptr;
        for (const user_share& entry : shares_) {
            if (entry.name == name) {
                share = &entry;
                break;
            }
        }
        if (share == nullptr || share->path.empty())
            return false;
        // A share directory that has been moved or replaced by a link no longer stands
        // where the list says; entering it would leave the tree that was granted.
        if (::chdir(share->path.c_str()) != 0 || !here_.load_cwd() || here_.view() != share->path)
            return false;
        return result_.assign(here_.view());
    }

    bool enter_dir() noexcept
    {
        // The check after the step, not the lstat before it, is what confines the walk:
        // the name may have been replaced by a link, or the directory moved, in between.
        if (::chdir(name_.c_str()) != 0 || !here_.load_cwd() || find_holder(&shares_, here_.view()) == nullptr)
            return false;
        return result_.assign(here_.view());
    }

    // The component is the object itself: a missing name, a file, or a link not followed.
    outcome final_component(bool last) noexcept
    {
        if ((flags_ & SHARE_RESOLVE_WRITE) != 0) {
            const user_share* holder = find_holder(&shares_, here_.view());
            if (holder == nullptr || holder->writeable == 0)
                return outcome::refused;
        }
        if (!last || !result_.assign(here_.view()) || !result_.append("/") || !result_.append(name_.view()))
            return outcome::refused;
        return outcome::resolved;
    }

    // A link's target is a path of the virtual tree. The walk goes on with it in place of
    // the link: an absolute target from the virtual root, a relative one from the link's
    // directory, where the process already stands.
    outcome follow_link(std::string_view rest) noexcept
    {
        if (++links_ > max_links_followed)
            return outcome::refused;
        // One byte more than any path we build: a target that fills it was cut short by
        // readlink, and the assignment below refuses it.
        char target[resolve_path_max + 1];
        const ssize_t length = ::readlink(name_.c_str(), target, sizeof target);
        if (length < 0) {
            const int error = errno;
            log_error("share.c", 403, "Why I can lstat, but can't readlink? errno:%d(%s)", error,
                      std::strerror(error));
            return outcome::refused;
        }
        if (!next_.assign({target, static_cast<size_t>(length)}) ||
            (!rest.empty() && (!next_.append("/") || !next_.append(rest))))
            return outcome::refused;
        return outcome::follow;
    }

    const user_share_list& shares_;
    const int flags_;
    const bounded_path& start_;
    cwd_guard back_;
    bounded_path working_; // the path being walked
    bounded_path here_;    // the directory the process stands in
    bounded_path name_;    // the component at hand
    bounded_path result_;
    bounded_path next_;    // the path to walk on with after a link
    int links_ = 0;
};

// Outside SMB mode the path is only made canonical, or copied as it is.
const char* plain_path(const char* path, int flags) noexcept
{
    if ((flags & SHARE_RESOLVE_NOFOLLOW_LAST) != 0) {
        const size_t length = std::strlen(path);
        if (length > resolve_path_max)
            return nullptr;
        std::memcpy(resolved_path, path, length + 1);
        return resolved_path;
    }
    // realpath refuses the empty path without writing anything.
    if (*path == '\0')
        return resolved_path;
    // realpath may write up to PATH_MAX bytes. On failure the caller still gets what it
    // left there: the path up to the component that failed, a name still to be made.
    char canonical[PATH_MAX] = "";
    static_cast<void>(::realpath(path, canonical));
    const size_t length = strnlen(canonical, sizeof canonical);
    if (length > resolve_path_max)
        return nullptr;
    std::memcpy(resolved_path, canonical, length);
    resolved_path[length] = '\0';
    return resolved_path;
}

} // namespace

const char* kestrad_share_resolve_path(const user_share_list* shares, const char* path, int flags)
{
    if (path == nullptr) {
        log_error("share.c", 280, "bad parameter");
        return nullptr;
    }
    if (login_state.smb_mode == 0)
        return plain_path(path, flags);
    if (*path == '\0')
        return nullptr;

    bounded_path working;
    if (!working.assign(path))
        return nullptr;
    const user_share_list no_shares;
    const user_share_list& granted = shares != nullptr ? *shares : no_shares;

    bounded_path start;
    if (!start.load_cwd() || (!is_virtual_root(start.view()) && find_holder(&granted, start.view()) == nullptr)) {
        // The login stands outside everything it was granted: put it back at the virtual root.
        static_cast<void>(::chdir(SHARE_ROOT_DIR));
        return nullptr;
    }
    share_walk walk(granted, flags, start);
    return walk.run(working);
}

int kestrad_share_real_to_virtual(const user_share_list* shares, char* path, size_t size)
{
    if (path == nullptr || size == 0 || std::memchr(path, '\0', size) == nullptr) {
        log_error("share.c", 140, "bad parameter");
        return -1;
    }
    if (login_state.smb_mode == 0)
        return 0;
    const std::string_view real(path);
    if (is_virtual_root(real)) {
        std::strcpy(path, "/");
        return 0;
    }
    const user_share* share = find_holder(shares, real);
    if (share == nullptr)
        return -1;
    // A virtual form that does not fit is refused: cut short it would name another file.
    const size_t rest = real.size() - share->path.size();
    if (1 + share->name.size() + rest > size - 1)
        return -1;
    std::memmove(path + 1 + share->name.size(), path + share->path.size(), rest + 1);
    path[0] = '/';
    // The terminator moved in with the rest of the path above.
    std::memcpy(path + 1, share->name.data(), share->name.size()); // NOLINT(bugprone-not-null-terminated-result)
    return 0;
}

int kestrad_share_check_access(const user_share_list* shares, const char* path, int want_write)
{
    if (path == nullptr) {
        log_error("share.c", 232, "bad parameter");
        return 0;
    }
    const user_share* share = find_holder(shares, path);
    if (share == nullptr)
        return 0;
    return want_write == 0 || share->writeable != 0 ? 1 : 0;
}

const user_share* kestrad_share_find(const user_share_list* shares, const char* path)
{
    return path != nullptr ? find_holder(shares, path) : nullptr;
}
