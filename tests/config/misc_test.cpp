#include "config/misc.h"

#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct TrimCase {
    std::string input;
    std::string trimmed;
    std::string unquoted;
};

TEST(Trim, TrimsWhiteSpaceAndOnePairOfQuotes)
{
    const std::vector<TrimCase> cases = {
        {"  hello  ", "hello", "hello"},
        {" \t\r\n\v\f", "", ""},
        {"a  b", "a  b", "a  b"},
        {"", "", ""},
        {"\"", "\"", "\""},
        {"\"\"", "\"\"", ""},
        {" ' in side ' ", "' in side '", " in side "},
        {"\"mixed'", "\"mixed'", "\"mixed'"},
        {"\"\"x\"\"", "\"\"x\"\"", "\"x\""},
        {"\"a \" ", "\"a \"", "a "},
        {"\xc2\xa0x\xc2\xa0", "\xc2\xa0x\xc2\xa0", "\xc2\xa0x\xc2\xa0"},
    };
    for (const TrimCase& c : cases) {
        SCOPED_TRACE("input [" + c.input + "]");
        std::string plain = c.input;
        char* buffer = plain.data();
        EXPECT_EQ(kestrad_trim(buffer), buffer);
        EXPECT_STREQ(buffer, c.trimmed.c_str());
        std::string quoted = c.input;
        buffer = quoted.data();
        EXPECT_EQ(kestrad_trim_quotes(buffer), buffer);
        EXPECT_STREQ(buffer, c.unquoted.c_str());
    }
    EXPECT_EQ(kestrad_trim(nullptr), nullptr);
    EXPECT_EQ(kestrad_trim_quotes(nullptr), nullptr);
}

TEST(DoubleQuotes, WritesEveryDoubleQuoteTwice)
{
    EXPECT_EQ(kestrad_double_quotes("say \"hi\""), "say \"\"hi\"\"");
    EXPECT_EQ(kestrad_double_quotes(""), "");
    EXPECT_EQ(kestrad_double_quotes("'x'"), "'x'");
}

// Collects what the reader hands to its callback.
std::vector<std::pair<std::string, std::string>> seen;
int stop_at_key = 0;

int remember(const char* key, char* value)
{
    seen.emplace_back(key, value);
    return stop_at_key != 0 && static_cast<int>(seen.size()) == stop_at_key ? -1 : 0;
}

struct ReadCase {
    const char* name;
    std::string content;
    int result;
    std::vector<std::pair<std::string, std::string>> pairs;
    std::vector<std::string> log;
};

TEST(ReadConf, CutsLinesIntoKeysAndValues)
{
    const std::vector<ReadCase> cases = {
        {"tabs and trailing blanks", "Port\t\t21  \n", 0, {{"Port", "21"}}, {}},
        {"comments and blank lines", "# c\n   # indented\n\n \t \nA b\n", 0, {{"A", "b"}}, {}},
        {"hash after the key is value", "Port 21 # word\n", 0, {{"Port", "21 # word"}}, {}},
        {"double quotes keep inner blanks", "Name \" a b \"\n", 0, {{"Name", " a b "}}, {}},
        {"single quotes", "Name 'x y'\n", 0, {{"Name", "x y"}}, {}},
        {"mixed quotes stay", "Name \"x'\n", 0, {{"Name", "\"x'"}}, {}},
        {"key as written", "  maxTimeOut 5\n", 0, {{"maxTimeOut", "5"}}, {}},
        {"carriage return is trimmed from the value", "A b\r\n", 0, {{"A", "b"}}, {}},
        {"last line without newline", "A b\nC d", 0, {{"A", "b"}, {"C", "d"}}, {}},
        {"empty file", "", 0, {}, {}},
        {"key only", "A b\nLonely\nC d\n", -1, {{"A", "b"}},
         {"misc.c (284) bad syntax of config option Lonely"}},
        {"key and blank", "Lonely \n", -1, {}, {"misc.c (284) bad syntax of config option Lonely"}},
        {"empty quotes", "Q \"\"\n", -1, {}, {"misc.c (284) bad syntax of config option Q"}},
        {"blanks only value", "Q  \t \n", -1, {}, {"misc.c (284) bad syntax of config option Q"}},
        {"equals sign", "Port=21\n", -1, {}, {"misc.c (284) bad syntax of config option Port=21"}},
        {"carriage return alone", "\r\n", -1, {}, {"misc.c (284) bad syntax of config option \r"}},
        {"NUL inside a line", std::string("A b\0junk\nC d\n", 13), 0, {{"A", "b"}, {"C", "d"}}, {}},
    };
    temp_dir dir;
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.write("conf", c.content);
        seen.clear();
        log_capture log;
        EXPECT_EQ(kestrad_read_conf(path.c_str(), remember), c.result);
        EXPECT_EQ(seen, c.pairs);
        EXPECT_EQ(log.lines(), c.log);
    }
}

TEST(ReadConf, LongLinesArriveInPieces)
{
    temp_dir dir;
    // 2047 bytes fill one read; the rest of the line is read as a line of its own.
    const std::string first = "K " + std::string(2045, 'v');
    const std::string path = dir.write("conf", first + "Tail piece\n");
    seen.clear();
    EXPECT_EQ(kestrad_read_conf(path.c_str(), remember), 0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].second, std::string(2045, 'v'));
    EXPECT_EQ(seen[1], std::make_pair(std::string("Tail"), std::string("piece")));
}

TEST(ReadConf, HugeAndBinaryInputEndsCleanly)
{
    temp_dir dir;
    // A 1 MiB line: the first piece is a key and value, the next piece a key alone.
    const std::string huge = dir.write("huge", "Key " + std::string(1 << 20, 'x') + "\n");
    seen.clear();
    {
        log_capture log;
        EXPECT_EQ(kestrad_read_conf(huge.c_str(), remember), -1);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].second.size(), 2043u);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].rfind("misc.c (284) bad syntax of config option xxx", 0), 0u);
    }
    // Every byte value, NUL included, in lines of random length: the read ends with a
    // result and every pair it handed over was a key and a non-empty value.
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 37 + i / 7) & 0xff);
    const std::string path = dir.write("binary", binary);
    seen.clear();
    log_capture log;
    const int result = kestrad_read_conf(path.c_str(), remember);
    EXPECT_TRUE(result == 0 || result == -1);
    for (const auto& [key, value] : seen) {
        EXPECT_FALSE(key.empty());
        EXPECT_FALSE(value.empty());
    }
}

TEST(ReadConf, StopsWhenTheCallbackRefuses)
{
    temp_dir dir;
    const std::string path = dir.write("conf", "A 1\nB 2\nC 3\n");
    seen.clear();
    stop_at_key = 2;
    log_capture log;
    EXPECT_EQ(kestrad_read_conf(path.c_str(), remember), -1);
    stop_at_key = 0;
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_TRUE(log.lines().empty());
}

TEST(ReadConf, MissingArgumentsAndUnopenableFiles)
{
    temp_dir dir;
    log_capture log;
    EXPECT_EQ(kestrad_read_conf(nullptr, remember), -1);
    EXPECT_EQ(kestrad_read_conf(dir.file("x").c_str(), nullptr), -1);
    EXPECT_TRUE(log.lines().empty());

    const std::string missing = dir.file("missing");
    EXPECT_EQ(kestrad_read_conf(missing.c_str(), remember), -1);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "misc.c (250) Failed to open [" + missing + "] (No such file or directory)");

    log.clear();
    EXPECT_EQ(kestrad_read_conf(dir.path().c_str(), remember), -1);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "misc.c (250) Failed to open [" + dir.path() + "] (Is a directory)");
}

} // namespace
