// Faults that real files cannot be made to show on demand: this test binary puts its own
// rename, fsync and close in front of the C library's and links the failing allocator;
// each fails only while a test arms it.

#include "textuser/textuser.h"

#include "support/failing_new.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <new>
#include <set>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace fault {

int rename_error = 0;
int fsync_error = 0;
int fsync_countdown = 0; // the nth fsync from now fails
int close_error = 0;     // the close of the last descriptor handed to fsync fails
int last_synced = -1;

template <typename Function>
Function next_definition(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

void disarm()
{
    rename_error = fsync_error = fsync_countdown = close_error = 0;
    last_synced = -1;
    failing_new::disarm();
}

} // namespace fault

extern "C" int rename(const char* from, const char* to) noexcept
{
    static const auto real = fault::next_definition<int (*)(const char*, const char*)>("rename");
    if (fault::rename_error != 0) {
        errno = fault::rename_error;
        return -1;
    }
    return real(from, to);
}

extern "C" int fsync(int fd)
{
    static const auto real = fault::next_definition<int (*)(int)>("fsync");
    fault::last_synced = fd;
    if (fault::fsync_countdown > 0 && --fault::fsync_countdown == 0) {
        errno = fault::fsync_error;
        return -1;
    }
    return real(fd);
}

extern "C" int close(int fd)
{
    static const auto real = fault::next_definition<int (*)(int)>("close");
    const int result = real(fd);
    if (fault::close_error != 0 && fd == fault::last_synced) {
        errno = fault::close_error;
        return -1;
    }
    return result;
}

namespace {

const text_user new_bob{"bob", "staff", "/home/bob", "$1$salt$new"};

std::set<std::string> names_in(const std::string& directory)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

class TextUserFaults : public ::testing::Test {
protected:
    void TearDown() override { fault::disarm(); }
    temp_dir dir;
};

TEST_F(TextUserFaults, AFailedStepKeepsTheOldFileAndRemovesTheWorkingFile)
{
    struct Case {
        const char* what;
        void (*arm)();
        const char* error;
    };
    const std::vector<Case> cases = {
        {"fsync of the new file", [] { fault::fsync_countdown = 1, fault::fsync_error = EIO; }, "Input/output error"},
        {"close of the new file", [] { fault::close_error = EDQUOT; }, "Disk quota exceeded"},
        {"rename", [] { fault::rename_error = EPERM; }, "Operation not permitted"},
    };
    const std::string before = "alice:a:/a:ha\nbob:old:/o:h\n";
    for (const Case& c : cases) {
        for (const text_user* record : {&new_bob, static_cast<const text_user*>(nullptr)}) {
            SCOPED_TRACE(std::string(c.what) + (record != nullptr ? ", edit" : ", delete"));
            const std::string path = dir.write("users", before);
            log_capture log;
            c.arm();
            const int result = kestrad_textuser_put(path.c_str(), "bob", record);
            fault::disarm();
            EXPECT_EQ(result, -1);
            EXPECT_EQ(log.lines(), std::vector<std::string>{"textuser.c (240) " + path + ": " + c.error});
            EXPECT_EQ(read_file(path), before);
            EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"users", "users.lock"}));
        }
    }
}

TEST_F(TextUserFaults, AFailedFirstWriteCreatesNoFile)
{
    const std::string path = dir.file("users");
    log_capture log;
    fault::rename_error = EROFS;
    EXPECT_EQ(kestrad_textuser_put(path.c_str(), "bob", &new_bob), -1);
    fault::disarm();
    EXPECT_EQ(log.lines(), std::vector<std::string>{"textuser.c (240) " + path + ": Read-only file system"});
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"users.lock"});
}

// Once the rename is done the change is made and the old file cannot come back; a
// directory that cannot be synced is logged, because the change may not survive a
// power cut, but the change is not reported as a failure.
TEST_F(TextUserFaults, AnUnsyncedDirectoryIsLoggedButTheChangeStands)
{
    const std::string path = dir.write("users", "alice:a:/a:ha\n");
    log_capture log;
    fault::fsync_countdown = 2;
    fault::fsync_error = EIO;
    EXPECT_EQ(kestrad_textuser_put(path.c_str(), "bob", &new_bob), 0);
    fault::disarm();
    EXPECT_EQ(log.lines(), std::vector<std::string>{"textuser.c (240) " + path + ": Input/output error"});
    EXPECT_EQ(read_file(path), "alice:a:/a:ha\nbob:staff:/home/bob:$1$salt$new\n");
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"users", "users.lock"}));
}

// A file size limit stands in for a full disk: the write fails part way.
TEST_F(TextUserFaults, AFullDiskKeepsTheOldFile)
{
    std::string before;
    for (int i = 0; i < 2000; ++i)
        before += "user" + std::to_string(i) + ":g:/home/u:$1$abcdefgh$0123456789012345678901\n";
    const std::string path = dir.write("users", before);
    log_capture log;
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old_limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    rlimit small = old_limit;
    small.rlim_cur = 10000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = kestrad_textuser_put(path.c_str(), "bob", &new_bob);
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"textuser.c (240) " + path + ": File too large"});
    EXPECT_EQ(read_file(path), before);
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"users", "users.lock"}));
}

TEST_F(TextUserFaults, TheLookupReportsWhichCopyRanOutOfMemory)
{
    // Fields long enough to need memory of their own, each of a length of its own.
    const std::string name(150, 'n'), group(250, 'g'), home(350, 'h'), hash(450, 'p');
    const std::string path = dir.write("users", name + ":" + group + ":" + home + ":" + hash + "\n");
    struct Case {
        const std::string* field;
        int source_line;
    };
    for (const Case c : {Case{&name, 93}, Case{&group, 109}, Case{&home, 125}, Case{&hash, 134}}) {
        SCOPED_TRACE(c.source_line);
        text_user user;
        log_capture log;
        failing_new::fail_size(c.field->size() + 1);
        const int result = kestrad_textuser_get(path.c_str(), name.c_str(), &user);
        fault::disarm();
        EXPECT_EQ(result, -1);
        EXPECT_EQ(log.lines(),
                  std::vector<std::string>{"textuser.c (" + std::to_string(c.source_line) + ") Out of memory."});
        EXPECT_FALSE(user.name || user.group || user.home || user.hash);
    }
    text_user user;
    EXPECT_EQ(kestrad_textuser_get(path.c_str(), name.c_str(), &user), 0);
    EXPECT_EQ(user.hash, hash);
}

} // namespace
