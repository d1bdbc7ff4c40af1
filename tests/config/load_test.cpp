#include "config/param.h"

#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct LoadCase {
    const char* name;
    std::string conf;
    int result;
    std::vector<std::string> log; // "@PATH@" stands for the configuration path
    long shares = 0;              // share sections kept after a successful load
};

std::string with_path(std::string text, const std::string& path)
{
    const std::string marker = "@PATH@";
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker))
        text.replace(at, marker.size(), path);
    return text;
}

bool record_is_cleared()
{
    const server_param_record& p = server_params;
    return !p.ServerName && !p.Port && !p.NoLoginList && !p.SSLCertFile && !p.SSLKeyFile && !p.PidFile &&
           !p.VirtualUserMapping && !p.VirtualUserAuthMethod && !p.VirtualUserAuthConfig && !p.CharsetEncoding &&
           p.ChrootSet.empty() && p.MaxUploadRate.empty() && p.TimeOut == 0 && p.MaxTimeOut == 0 && p.Umask == 0 &&
           p.ShowDotFiles == 0 && p.SecurityPolicy == 0 && p.PassiveModePortRange.low == 0 &&
           p.PassiveModePortRange.high == 0 && share_confs.empty();
}

TEST(Load, ChecksAndFailures)
{
    temp_dir dir;
    const std::string share_file = dir.write("shares.conf", "[pub]\npath = " + dir.path() + "\n");
    const std::vector<LoadCase> cases = {
        {"defaults only", "# nothing set\n", 0, {}},
        {"timeout equal to max", "TimeOut 60\nMaxTimeOut 60\n", 0, {}},
        {"timeout above the default max", "TimeOut 7201\n", -1,
         {"param.c (311) The MaxTimeOut should be bigger than TimeOut."}},
        {"timeout above max", "MaxTimeOut 10\nTimeOut 11\n", -1,
         {"param.c (311) The MaxTimeOut should be bigger than TimeOut."}},
        {"bad option", "Port 21\nTimeOut none\n", -1,
         {"param.c (170) bad number of config option TimeOut", "param.c (291) Failed to parse @PATH@"}},
        {"bad syntax", "Port\n", -1,
         {"misc.c (284) bad syntax of config option Port", "param.c (291) Failed to parse @PATH@"}},
        {"smb without share file", "DefaultMode SMB\n", -1,
         {"param.c (300) Enable SMB mode but failed to find samba config file."}},
        {"exception list without share file", "ExceptionList bob\n", -1,
         {"param.c (300) Enable SMB mode but failed to find samba config file."}},
        {"normal mode never reads the share file", "ShareConfPath " + share_file + "\n", 0, {}, 0},
        {"smb mode reads the share file", "DefaultMode smb\nShareConfPath " + share_file + "\n", 0, {}, 1},
        {"exceptions read the share file", "ExceptionList bob\nShareConfPath " + share_file + "\n", 0, {}, 1},
        {"mapping without method", "VirtualUserMapping ftp\nVirtualUserAuthConfig /x\n", -1,
         {"param.c (319) VirtualUserMapping is set. But There is no VirtualUserAuthMethod or VirtualUserAuthConfig"}},
        {"mapping without configuration", "VirtualUserMapping ftp\nVirtualUserAuthMethod text\n", -1,
         {"param.c (319) VirtualUserMapping is set. But There is no VirtualUserAuthMethod or VirtualUserAuthConfig"}},
        {"method without mapping is not used", "VirtualUserAuthMethod nosuch\nVirtualUserAuthConfig /x\n", 0, {}},
        {"charset is only a warning", "CharsetEncoding UTF-8\n", 0,
         {"param.c (357) iconv is not supported. Disable CharsetEncoding."}},
        {"unknown options are skipped", "Frobnicate yes\nPort 2121\n", 0,
         {"param.c (153) Skip unknown option Frobnicate"}},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.write("conf", c.conf);
        kestrad_param_init();
        log_capture log;
        EXPECT_EQ(kestrad_param_load(path.c_str()), c.result);
        std::vector<std::string> expected;
        for (const std::string& line : c.log)
            expected.push_back(with_path(line, path));
        EXPECT_EQ(log.lines(), expected);
        if (c.result != 0) {
            EXPECT_TRUE(record_is_cleared());
        } else {
            EXPECT_EQ(std::distance(share_confs.begin(), share_confs.end()), c.shares);
        }
        kestrad_param_free();
    }
}

TEST(Load, UnreadableShareFileFailsTheLoad)
{
    // Root reads every file, so the load runs in a child that has given up root.
    temp_dir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const std::string shares = dir.write("shares.conf", "[pub]\npath = /\n");
    ASSERT_EQ(chmod(shares.c_str(), 0), 0);
    const std::string conf = dir.write("conf", "DefaultMode smb\nShareConfPath " + shares + "\n");
    ASSERT_EQ(chmod(conf.c_str(), 0644), 0);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        log_capture log;
        kestrad_param_init();
        const bool failed = kestrad_param_load(conf.c_str()) == -1;
        const std::vector<std::string> expected = {
            "share.c (661) Failed to open share config [" + shares + "], errno:13 (Permission denied)",
            "param.c (303) Failed to enumerate shares"};
        _exit(failed && log.lines() == expected && record_is_cleared() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Load, MissingPathOrFile)
{
    temp_dir dir;
    kestrad_param_init();
    {
        log_capture log;
        EXPECT_EQ(kestrad_param_load(nullptr), -1);
        EXPECT_EQ(log.lines(), std::vector<std::string>{"param.c (286) Please specify the config file"});
        EXPECT_TRUE(record_is_cleared());
    }
    kestrad_param_init();
    const std::string missing = dir.file("missing.conf");
    log_capture log;
    EXPECT_EQ(kestrad_param_load(missing.c_str()), -1);
    const std::vector<std::string> expected = {
        "misc.c (250) Failed to open [" + missing + "] (No such file or directory)",
        "param.c (291) Failed to parse " + missing};
    EXPECT_EQ(log.lines(), expected);
    EXPECT_TRUE(record_is_cleared());
}

TEST(Load, ValuesOverDefaultsAndFreeClearsThem)
{
    temp_dir dir;
    const std::string path = dir.write("conf", "Port 2121\nChrootSet bob /srv\nMaxUploadRate @ 10\n");
    kestrad_param_init();
    ASSERT_EQ(kestrad_param_load(path.c_str()), 0);
    EXPECT_EQ(server_params.Port, "2121");
    EXPECT_EQ(server_params.NoLoginList, "500");
    EXPECT_FALSE(server_params.ChrootSet.empty());
    kestrad_param_free();
    EXPECT_TRUE(record_is_cleared());
}

} // namespace
