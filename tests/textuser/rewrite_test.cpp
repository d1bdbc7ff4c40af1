#include "textuser/textuser.h"

#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const text_user new_bob{"bob", "staff", "/home/bob", "$1$salt$new"};
const std::string bob_line = "bob:staff:/home/bob:$1$salt$new\n";

struct Case {
    const char* what;
    std::string before;
    std::optional<text_user> record; // none: delete
    std::string after;
    std::vector<std::string> log;
};

std::set<std::string> names_in(const std::string& directory)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

mode_t mode_of(const std::string& path)
{
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_mode & 07777;
}

std::string working_name(const std::string& path)
{
    return path + "." + std::to_string(::getpid());
}

TEST(TextUserRewrite, ChangesOnlyTheLinesOfTheUser)
{
    const std::string redundant = "Skip redundant user bob";
    const std::string long_line = std::string(3000, 'x') + ":y\n";
    const std::vector<Case> cases = {
        {"edit keeps the place", "alice:a:/a:ha\nbob:old:/old:ho\ncarol:c:/c:hc\n", new_bob,
         "alice:a:/a:ha\n" + bob_line + "carol:c:/c:hc\n", {}},
        {"add appends", "alice:a:/a:ha\n", new_bob, "alice:a:/a:ha\n" + bob_line, {}},
        {"add after a last line without newline", "alice:a:/a:ha", new_bob, "alice:a:/a:ha\n" + bob_line, {}},
        {"add to an empty file", "", new_bob, bob_line, {}},
        {"delete from an empty file", "", std::nullopt, "", {}},
        {"delete removes every line of the user", "bob:1:/1:h1\nalice:a:/a:ha\nbob:2:/2:h2\n", std::nullopt,
         "alice:a:/a:ha\n", {redundant}},
        {"edit replaces the first and drops the others", "bob:1:/1:h1\nalice:a:/a:ha\nbob:2:/2:h2\nbob:3\n", new_bob,
         bob_line + "alice:a:/a:ha\n", {redundant, redundant}},
        {"a longer name is another user", "bobby:b:/b:hb\n", new_bob, "bobby:b:/b:hb\n" + bob_line, {}},
        {"delete leaves a longer name", "bobby:b:/b:hb\n", std::nullopt, "bobby:b:/b:hb\n", {}},
        {"names compare with case", "Bob:b:/b:hb\n", std::nullopt, "Bob:b:/b:hb\n", {}},
        {"other lines byte for byte",
         "# users\n\n  \t\nno colon here\r\nalice:a:/a:ha  \r\n" + long_line + "bob:old:/o:h\n#bob:x:/x:x\nzed:z:/z:hz",
         new_bob,
         "# users\n\n  \t\nno colon here\r\nalice:a:/a:ha  \r\n" + long_line + bob_line + "#bob:x:/x:x\nzed:z:/z:hz",
         {}},
        // A line that the lookup finds for bob is his line here too.
        {"edit of a line with blanks around the name", "alice:a:/a:ha\n bob :old:/o:h\ncarol:c:/c:hc\n", new_bob,
         "alice:a:/a:ha\n" + bob_line + "carol:c:/c:hc\n", {}},
        {"delete of a line with blanks around the name", "\tbob\t:old:/o:h\r\ncarol:c:/c:hc\n", std::nullopt,
         "carol:c:/c:hc\n", {}},
        {"an incomplete line of the user is his", "bob:staff\n", new_bob, bob_line, {}},
        {"edit of a last line without newline", "alice:a:/a:ha\nbob:old:/o:h", new_bob, "alice:a:/a:ha\n" + bob_line,
         {}},
        {"delete of a last line without newline", "alice:a:/a:ha\nbob:old:/o:h", std::nullopt, "alice:a:/a:ha\n",
         {}},
        {"a NUL byte inside another line is copied", std::string("al\0ce:a\nbob:o:/o:h\n", 19), std::nullopt,
         std::string("al\0ce:a\n", 8), {}},
        {"a NUL byte before the name field ends it", std::string("bob\0:x\n \0bob:x\nbob:1:/1:h\n", 26),
         std::nullopt, std::string("bob\0:x\n \0bob:x\n", 15), {}},
    };
    temp_dir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.write("users", c.before);
        ::chmod(path.c_str(), 0644);
        log_capture log;
        const text_user* record = c.record ? &*c.record : nullptr;
        EXPECT_EQ(kestrad_textuser_put(path.c_str(), "bob", record), 0);
        EXPECT_EQ(read_file(path), c.after);
        EXPECT_EQ(log.lines(), c.log);
        EXPECT_EQ(mode_of(path), 0600u);
        EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"users", "users.lock"}));
    }
}

// Many buffers' worth of lines of every length, the user's lines among them: every
// other byte comes through, whatever the buffer boundaries.
TEST(TextUserRewrite, CopiesALargeFileExactly)
{
    std::string before, after_edit, after_delete;
    unsigned seed = 777;
    int bob_lines = 0;
    for (int i = 0; i < 4000; ++i) {
        seed = seed * 1103515245u + 12345u;
        std::string line;
        if (i % 997 == 500)
            line = "bob:" + std::to_string(i) + ":/home/bob:h\n";
        else
            line = "u" + std::to_string(i) + ":g:/h:" + std::string((seed >> 8) % 5000, 'p') + "\n";
        before += line;
        if (line.rfind("bob:", 0) == 0) {
            if (bob_lines++ == 0)
                after_edit += bob_line;
        } else {
            after_edit += line;
            after_delete += line;
        }
    }
    ASSERT_GT(before.size(), 4u << 20);
    ASSERT_EQ(bob_lines, 4);
    temp_dir dir;
    const std::string path = dir.write("users", before);
    log_capture log;
    EXPECT_EQ(kestrad_textuser_put(path.c_str(), "bob", &new_bob), 0);
    EXPECT_TRUE(read_file(path) == after_edit);
    dir.write("users", before);
    EXPECT_EQ(kestrad_textuser_put(path.c_str(), "bob", nullptr), 0);
    EXPECT_TRUE(read_file(path) == after_delete);
    EXPECT_EQ(log.lines(), std::vector<std::string>(6, "Skip redundant user bob"));
}

TEST(TextUserRewrite, AMissingFileIsCreatedOnlyForARecord)
{
    temp_dir dir;
    const std::string path = dir.file("users");
    log_capture log;
    EXPECT_EQ(kestrad_textuser_put(path.c_str(), "bob", nullptr), -1);
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"users.lock"});

    EXPECT_EQ(kestrad_textuser_put(path.c_str(), "bob", &new_bob), 0);
    EXPECT_EQ(read_file(path), bob_line);
    EXPECT_EQ(mode_of(path), 0600u);
    EXPECT_TRUE(log.lines().empty());
}

TEST(TextUserRewrite, RefusesWhatCannotBeOneRecordLine)
{
    struct Bad {
        const char* what;
        const char* name;
        text_user record;
    };
    const std::vector<Bad> cases = {
        {"no name", nullptr, new_bob},
        {"record without a hash", "bob", text_user{"bob", "staff", "/home/bob", std::nullopt}},
        {"newline in the name", "bob", text_user{"bob\nroot", "staff", "/home/bob", "h"}},
        {"colon in the group", "bob", text_user{"bob", "st:aff", "/home/bob", "h"}},
        {"colon in the home", "bob", text_user{"bob", "staff", "/home:/bob", "h"}},
        {"newline in the hash", "bob", text_user{"bob", "staff", "/home/bob", "h\nroot::/:"}},
        // 2048 characters with the colons: one more than a lookup reads of a line.
        {"line longer than a lookup reads", "bob", text_user{"bob", std::string(2000, 'g'), "/home/bob", std::string(33, 'h')}},
    };
    temp_dir dir;
    const std::string before = "alice:a:/a:ha\nbob:old:/o:h\n";
    const std::string path = dir.write("users", before);
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(kestrad_textuser_put(path.c_str(), c.name, &c.record), -1);
        EXPECT_EQ(read_file(path), before);
    }
    EXPECT_EQ(kestrad_textuser_put(nullptr, "bob", &new_bob), -1);
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"users"});

    // The longest record that still fits is written and found again whole.
    const text_user longest{"bob", std::string(2000, 'g'), "/home/bob", std::string(32, 'h')};
    ASSERT_EQ(kestrad_textuser_put(path.c_str(), "bob", &longest), 0);
    text_user found;
    ASSERT_EQ(kestrad_textuser_get(path.c_str(), "bob", &found), 0);
    EXPECT_EQ(found.hash, longest.hash);
    EXPECT_EQ(found.group, longest.group);
    kestrad_textuser_free(&found);
}

// The working file name is taken by a stale file or a planted link: nothing is opened
// through it, and neither the user file nor what the link points at changes.
TEST(TextUserRewrite, NeverWritesThroughAnExistingWorkingFile)
{
    temp_dir dir;
    const std::string before = "alice:a:/a:ha\n";
    const std::string path = dir.write("users", before);
    const std::string victim = dir.write("victim", "precious\n");
    const std::string work = working_name(path);
    struct Plant {
        const char* what;
        bool link;
    };
    for (const Plant plant : {Plant{"stale file", false}, Plant{"symbolic link", true}}) {
        SCOPED_TRACE(plant.what);
        if (plant.link)
            ASSERT_EQ(::symlink(victim.c_str(), work.c_str()), 0);
        else
            dir.write(std::filesystem::path(work).filename().string(), "stale\n");
        log_capture log;
        EXPECT_EQ(kestrad_textuser_put(path.c_str(), "bob", &new_bob), -1);
        EXPECT_EQ(log.lines(), std::vector<std::string>{"textuser.c (194) Failed to open " + work + ".(File exists)"});
        EXPECT_EQ(read_file(path), before);
        EXPECT_EQ(read_file(victim), "precious\n");
        EXPECT_EQ(read_file(work), plant.link ? "precious\n" : "stale\n");
        ASSERT_EQ(::unlink(work.c_str()), 0);
    }
}

TEST(TextUserRewrite, ALinkedLockFileIsNotFollowed)
{
    temp_dir dir;
    const std::string path = dir.write("users", "alice:a:/a:ha\n");
    ASSERT_EQ(::symlink(dir.file("elsewhere").c_str(), (path + ".lock").c_str()), 0);
    log_capture log;
    EXPECT_EQ(kestrad_textuser_put(path.c_str(), "bob", &new_bob), -1);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"textuser.c (194) Failed to open " + path +
                                                    ".lock.(Too many levels of symbolic links)"});
    EXPECT_FALSE(std::filesystem::exists(dir.file("elsewhere")));
    EXPECT_EQ(read_file(path), "alice:a:/a:ha\n");
}

TEST(TextUserRewrite, AReadErrorKeepsTheOldFile)
{
    temp_dir dir;
    // A directory opens for reading but cannot be read.
    const std::string path = dir.file("users");
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    log_capture log;
    EXPECT_EQ(kestrad_textuser_put(path.c_str(), "bob", &new_bob), -1);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"textuser.c (240) " + path + ": Is a directory"});
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"users", "users.lock"}));
}

// A rewrite waits while another one holds the lock, so neither loses the other's change.
TEST(TextUserRewrite, WaitsForTheLock)
{
    temp_dir dir;
    const std::string path = dir.write("users", "alice:a:/a:ha\n");
    const int holder = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    std::atomic<bool> done{false};
    int result = 1;
    std::thread writer([&] {
        result = kestrad_textuser_put(path.c_str(), "bob", &new_bob);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(done);
    EXPECT_EQ(read_file(path), "alice:a:/a:ha\n");
    // The holder changes the file meanwhile; the waiting rewrite must build on it.
    dir.write("users", "alice:a:/a:ha\ncarol:c:/c:hc\n");
    ::close(holder);
    writer.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read_file(path), "alice:a:/a:ha\ncarol:c:/c:hc\n" + bob_line);
}

} // namespace
