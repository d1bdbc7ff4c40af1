#include "textuser/textuser.h"

#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <optional>
#include <string>
#include <vector>

namespace {

struct Fields {
    std::string name, group, home, hash;
};

struct Case {
    const char* what;
    std::string content;
    const char* sought;
    std::optional<Fields> found; // none: the lookup fails
    std::vector<std::string> log;
};

std::string invalid(int source_line, int line_number)
{
    return "textuser.c (" + std::to_string(source_line) + ") Skip invalid line " + std::to_string(line_number);
}

void expect_empty(const text_user& user)
{
    EXPECT_FALSE(user.name);
    EXPECT_FALSE(user.group);
    EXPECT_FALSE(user.home);
    EXPECT_FALSE(user.hash);
}

TEST(TextUserLookup, ReadsTheFirstCompleteLineOfTheUser)
{
    const std::string long_run(2047, 'x');
    const std::vector<Case> cases = {
        {"empty file", "", "bob", std::nullopt, {}},
        {"plain lines", "alice:a:/a:ha\nbob:staff:/home/bob:hb\ncarol:c:/c:hc\n", "bob",
         Fields{"bob", "staff", "/home/bob", "hb"}, {}},
        {"not in the file", "alice:a:/a:ha\n", "bob", std::nullopt, {}},
        {"names compare with case", "Bob:s:/b:h\n", "bob", std::nullopt, {}},
        {"a longer name is another user", "bobby:s:/b:h\n", "bob", std::nullopt, {}},
        {"indented comment and blank lines", "   # bob:x:/x:x\n\n \t \nbob:s:/b:h\n", "bob",
         Fields{"bob", "s", "/b", "h"}, {}},
        {"white space around every field", "  bob :  staff\t: /home/bob :  h1  \n", "bob",
         Fields{"bob", "staff", "/home/bob", "h1"}, {}},
        {"the hash keeps its colons", "bob:staff:/home/bob:x:y\n", "bob", Fields{"bob", "staff", "/home/bob", "x:y"},
         {}},
        {"empty fields are a complete line", "bob:::\n", "bob", Fields{"bob", "", "", ""}, {}},
        {"first of two complete lines", "bob:one:/1:h1\nbob:two:/2:h2\n", "bob", Fields{"bob", "one", "/1", "h1"},
         {}},
        {"no third colon, then a complete line", "bob:staff:/home/bob\nbob:staff:/home/bob:h\n", "bob",
         Fields{"bob", "staff", "/home/bob", "h"}, {invalid(117, 1)}},
        {"no second colon", "x:y:z:w\nbob:staff\n", "bob", std::nullopt, {invalid(101, 2)}},
        {"a line without colon, before the match", "alice\nbob:s:/b:h\nzed\n", "bob", Fields{"bob", "s", "/b", "h"},
         {invalid(83, 1)}},
        {"lines without colon, whoever is sought", "alice\nbob:s:/b:h\nzed\n", "carol", std::nullopt,
         {invalid(83, 1), invalid(83, 3)}},
        {"carriage returns are trimmed", "bob:staff:/home/bob:hash\r\n", "bob",
         Fields{"bob", "staff", "/home/bob", "hash"}, {}},
        {"last line without newline", "alice:a:/a:ha\nbob:s:/b:h", "bob", Fields{"bob", "s", "/b", "h"}, {}},
        {"a NUL byte ends the line", std::string("bob:s:/b:h\0junk\nj\n", 18), "bob",
         Fields{"bob", "s", "/b", "h"}, {}},
        {"a NUL byte before the colons", std::string("bob\0:s:/b:h\n \0bob:s:/b:h\nbob:s\0:/b:h\n", 37), "bob",
         std::nullopt, {invalid(83, 1), invalid(101, 3)}},
        // 2047 bytes fill one read: the rest of the line is read, and counted, as a line.
        {"long line in two pieces", long_run + "tail\nbob:s\n", "bob", std::nullopt,
         {invalid(83, 1), invalid(83, 2), invalid(101, 3)}},
        {"a piece can be a user line", long_run + "bob:s:/b:h\n", "bob", Fields{"bob", "s", "/b", "h"},
         {invalid(83, 1)}},
        {"a newline after 2047 bytes is a blank line", "#" + long_run.substr(1) + "\nalice\n", "bob",
         std::nullopt, {invalid(83, 3)}},
    };
    temp_dir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.write("users", c.content);
        text_user user;
        user.name = "stale";
        user.hash = "stale";
        log_capture log;
        const int result = kestrad_textuser_get(path.c_str(), c.sought, &user);
        EXPECT_EQ(log.lines(), c.log);
        if (!c.found) {
            EXPECT_EQ(result, -1);
            expect_empty(user);
            continue;
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(user.name, c.found->name);
        EXPECT_EQ(user.group, c.found->group);
        EXPECT_EQ(user.home, c.found->home);
        EXPECT_EQ(user.hash, c.found->hash);
    }
}

// The reader refills a large buffer; pieces that straddle a refill must come out
// exactly as a 2048-byte line buffer reads them.
TEST(TextUserLookup, LineNumbersMatchALineBufferOnALargeFile)
{
    std::string content;
    unsigned seed = 12345;
    for (int i = 0; i < 3000; ++i) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t length = (seed >> 8) % 5000;
        if (i % 3 == 0)
            content += std::string(length, 'w') + "\n"; // no ':' anywhere: logged
        else
            content += "user" + std::to_string(i) + ":g:/h:" + std::string(length, 'h') + "\n";
    }
    content += "bob:s:/b:h\n";
    temp_dir dir;
    const std::string path = dir.write("users", content);

    // What a 2048-byte line buffer sees, piece by piece.
    std::vector<std::string> expected;
    {
        FILE* file = std::fopen(path.c_str(), "r");
        ASSERT_NE(file, nullptr);
        char line[2048];
        int number = 0;
        while (std::fgets(line, sizeof line, file) != nullptr) {
            ++number;
            const std::string piece(line);
            const std::size_t start = piece.find_first_not_of(" \t\n\v\f\r");
            if (start != std::string::npos && piece[start] != '#' && piece.find(':') == std::string::npos)
                expected.push_back(invalid(83, number));
        }
        std::fclose(file);
    }
    ASSERT_GT(expected.size(), 1000u);

    log_capture log;
    text_user user;
    EXPECT_EQ(kestrad_textuser_get(path.c_str(), "bob", &user), 0);
    EXPECT_EQ(user.hash, "h");
    EXPECT_EQ(log.lines(), expected);
}

TEST(TextUserLookup, ReportsFilesItCannotRead)
{
    temp_dir dir;
    text_user user;
    user.group = "stale";
    {
        log_capture log;
        const std::string missing = dir.file("missing");
        EXPECT_EQ(kestrad_textuser_get(missing.c_str(), "bob", &user), -1);
        EXPECT_EQ(log.lines(), std::vector<std::string>{"textuser.c (69) Failed to open " + missing +
                                                        ". (No such file or directory)"});
        expect_empty(user);
    }
    {
        // A directory opens but cannot be read.
        log_capture log;
        EXPECT_EQ(kestrad_textuser_get(dir.path().c_str(), "bob", &user), -1);
        EXPECT_EQ(log.lines(),
                  std::vector<std::string>{"textuser.c (141) Failed to read " + dir.path() + ". (Is a directory)"});
        expect_empty(user);
    }
}

TEST(TextUserLookup, MissingArgumentsFailQuietlyAndLeaveTheRecord)
{
    temp_dir dir;
    const std::string path = dir.write("users", "bob:s:/b:h\n");
    log_capture log;
    text_user user;
    user.name = "kept";
    EXPECT_EQ(kestrad_textuser_get(nullptr, "bob", &user), -1);
    EXPECT_EQ(kestrad_textuser_get(path.c_str(), nullptr, &user), -1);
    EXPECT_EQ(kestrad_textuser_get(path.c_str(), "bob", nullptr), -1);
    EXPECT_EQ(user.name, "kept");
    EXPECT_TRUE(log.lines().empty());
}

TEST(TextUserLookup, FreeEmptiesTheRecordAnyNumberOfTimes)
{
    text_user user{"bob", "staff", "/home/bob", "hash"};
    kestrad_textuser_free(&user);
    expect_empty(user);
    kestrad_textuser_free(&user);
    expect_empty(user);
    kestrad_textuser_free(nullptr);
}

} // namespace
