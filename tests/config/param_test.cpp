#include "config/param.h"
#include "config/param_table.h"

#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

class ParamTest : public ::testing::Test {
protected:
    void SetUp() override { kestrad_param_init(); }
    void TearDown() override { kestrad_param_free(); }
};

TEST_F(ParamTest, TableHasEveryOptionOnceAndEnds)
{
    std::set<std::string> names;
    for (size_t i = 0; i < param_option_count; ++i) {
        ASSERT_NE(param_table[i].name, nullptr);
        std::string lower = param_table[i].name;
        for (char& c : lower)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(names.insert(lower).second) << param_table[i].name;
    }
    EXPECT_EQ(names.size(), 44u);
    EXPECT_EQ(param_table[param_option_count].name, nullptr);
}

TEST_F(ParamTest, InitGivesTheDefaults)
{
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(server_params.ServerName, std::string(host));
    EXPECT_EQ(server_params.Port, "ftp");
    EXPECT_EQ(server_params.NoLoginList, "500");
    EXPECT_EQ(server_params.SSLCertFile, "/usr/local/etc/kestrad/ssl.crt/server.crt");
    EXPECT_EQ(server_params.SSLKeyFile, "/usr/local/etc/kestrad/ssl.key/server.key");
    EXPECT_EQ(server_params.Umask, 18);
    EXPECT_EQ(server_params.TimeOut, 900);
    EXPECT_EQ(server_params.MaxTimeOut, 7200);
    EXPECT_EQ(server_params.ShowProgramVersion, 1);
    EXPECT_EQ(server_params.ShowDotFiles, 1);
    EXPECT_EQ(server_params.RequireValidShell, 1);
    EXPECT_EQ(server_params.RestrictedPorts, 1);
    EXPECT_EQ(server_params.AnonymousReadOnly, 1);
    EXPECT_EQ(server_params.SecurityPolicy, 2);
    EXPECT_EQ(server_params.EncryptionType, 3);
    EXPECT_EQ(server_params.DefaultMode, 0);
    EXPECT_EQ(server_params.MaxConnection, 0);
    EXPECT_EQ(server_params.AnonymousOnly, 0);
    EXPECT_FALSE(server_params.VirtualUserAuthConfig);
    EXPECT_FALSE(server_params.ShareConfPath);
    EXPECT_TRUE(server_params.ChrootSet.empty());
    EXPECT_EQ(server_params.PassiveModePortRange.low, 0u);
    EXPECT_EQ(server_params.PassiveModePortRange.high, 0u);
}

struct SetCase {
    const char* key;
    std::string value;
    int result;
    std::vector<std::string> log;
    std::function<bool()> holds;
};

TEST_F(ParamTest, StoresEachValueType)
{
    temp_dir dir;
    const std::string file = dir.write("cert", "x");
    const std::string link = dir.path() + "/link";
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
    const auto& p = server_params;
    const std::vector<SetCase> cases = {
        {"maxtimeout", "100", 0, {}, [&] { return p.MaxTimeOut == 100; }},
        {"TimeOut", "12abc", 0, {}, [&] { return p.TimeOut == 12; }},
        {"TimeOut", " +7", 0, {}, [&] { return p.TimeOut == 7; }},
        {"TimeOut", "0", -1, {"param.c (170) bad number of config option TimeOut"}, [] { return true; }},
        {"timeout", "-5", -1, {"param.c (170) bad number of config option TimeOut"}, [] { return true; }},
        {"TimeOut", "many", -1, {"param.c (170) bad number of config option TimeOut"}, [] { return true; }},
        {"TimeOut", "4294967297", 0, {}, [&] { return p.TimeOut == 1; }},
        {"Umask", "022", 0, {}, [&] { return p.Umask == 18; }},
        {"Umask", "22", 0, {}, [&] { return p.Umask == 18; }},
        {"Umask", "0", -1, {"param.c (162) bad number of config option Umask"}, [] { return true; }},
        {"Umask", "8", -1, {"param.c (162) bad number of config option Umask"}, [] { return true; }},
        {"Port", "2121", 0, {}, [&] { return p.Port == "2121"; }},
        {"AnonymousOnly", "Yes", 0, {}, [&] { return p.AnonymousOnly == 1; }},
        {"AnonymousOnly", "on", 0, {}, [&] { return p.AnonymousOnly == 0; }},
        {"ShowDotFiles", "1", 0, {}, [&] { return p.ShowDotFiles == 0; }},
        {"DefaultMode", "smb", 0, {}, [&] { return p.DefaultMode == 1; }},
        {"DefaultMode", "normal", 0, {}, [&] { return p.DefaultMode == 0; }},
        {"SecurityPolicy", "SECURE", 0, {}, [&] { return p.SecurityPolicy == 1; }},
        {"SecurityPolicy", "nosecure", 0, {}, [&] { return p.SecurityPolicy == 2; }},
        {"SecurityPolicy", "other", 0, {}, [&] { return p.SecurityPolicy == 3; }},
        {"EncryptionType", "TLS", 0, {}, [&] { return p.EncryptionType == 2; }},
        {"EncryptionType", "ssl", 0, {}, [&] { return p.EncryptionType == 1; }},
        {"EncryptionType", "none", 0, {}, [&] { return p.EncryptionType == 3; }},
        {"PassiveModePortRange", "1024-65535", 0, {},
         [&] { return p.PassiveModePortRange.low == 1024 && p.PassiveModePortRange.high == 65535; }},
        {"PassiveModePortRange", "3000-3000", 0, {},
         [&] { return p.PassiveModePortRange.low == 3000 && p.PassiveModePortRange.high == 3000; }},
        {"PassiveModePortRange", "2000- 2100x", 0, {},
         [&] { return p.PassiveModePortRange.low == 2000 && p.PassiveModePortRange.high == 2100; }},
        {"PassiveModePortRange", "1023-2000", -1, {"param.c (181) Bad port range 1023-2000"}, [] { return true; }},
        {"PassiveModePortRange", "3000-2000", -1, {"param.c (181) Bad port range 3000-2000"}, [] { return true; }},
        {"PassiveModePortRange", "2000-65536", -1, {"param.c (181) Bad port range 2000-65536"}, [] { return true; }},
        {"PassiveModePortRange", "2000", -1, {"param.c (181) Bad port range 2000"}, [] { return true; }},
        {"PassiveModePortRange", "2000 -3000", -1, {"param.c (181) Bad port range 2000 -3000"}, [] { return true; }},
        {"ShareConfPath", file, 0, {}, [&] { return p.ShareConfPath == file; }},
        {"SSLCertFile", link, 0, {}, [&] { return p.SSLCertFile == link; }},
        {"ShareConfPath", dir.path(), -1,
         {"param.c (191) The option ShareConfPath (" + dir.path() + ") does not exist"}, [] { return true; }},
        {"sslkeyfile", dir.file("none"), -1,
         {"param.c (191) The option SSLKeyFile (" + dir.file("none") + ") does not exist"}, [] { return true; }},
        {"NoSuchOption", "x", 0, {"param.c (153) Skip unknown option NoSuchOption"}, [] { return true; }},
        {"ChrootSet", "bob", -1, {"param.c (235) bad syntax of config option ChrootSet"}, [] { return true; }},
    };
    for (const SetCase& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + c.value);
        std::string value = c.value;
        log_capture log;
        EXPECT_EQ(kestrad_param_set_option(c.key, value.data()), c.result);
        EXPECT_EQ(log.lines(), c.log);
        EXPECT_TRUE(c.holds());
    }
}

TEST_F(ParamTest, ListLinesGoToTheHeadAndKeepTwoWords)
{
    for (const char* line : {"bob /srv/bob", "@staff\t/srv/staff extra words", "@   /srv/all"}) {
        std::string value = line;
        ASSERT_EQ(kestrad_param_set_option("chrootset", value.data()), 0);
    }
    std::vector<std::pair<std::string, std::string>> nodes;
    for (const user_option& node : server_params.ChrootSet)
        nodes.emplace_back(node.name, node.value);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"@", "/srv/all"}, {"@staff", "/srv/staff"}, {"bob", "/srv/bob"}};
    EXPECT_EQ(nodes, expected);
}

TEST_F(ParamTest, LaterTextReplacesEarlierOne)
{
    std::string first = "one";
    std::string second = "two";
    ASSERT_EQ(kestrad_param_set_option("PidFile", first.data()), 0);
    ASSERT_EQ(kestrad_param_set_option("PIDFILE", second.data()), 0);
    EXPECT_EQ(server_params.PidFile, "two");
}

} // namespace
