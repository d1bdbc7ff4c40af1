// The method registry. Its selection lives for the whole process and never goes back, so
// every sequence runs in a child process of its own that starts with nothing selected.

#include "auth/auth.h"
#include "auth/fake_accounts.h"
#include "auth/hashes.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Steps: "init NAME [CONFIG]", "check USER PASSWORD", "group USER GROUP", "home USER" and
// "end". Each step but "end" prints its result, and every logged line follows as "log: ".
void run_steps(const std::vector<std::string>& steps, std::ostream& out)
{
    fake_accounts accounts;
    accounts.users["alice"] = {make_hash("secret", "$1$"), 1000, 100, "/home/alice", 0};
    accounts.groups["staff"] = {100, {}};
    log_capture log;
    for (const std::string& step : steps) {
        std::istringstream words(step);
        std::string verb, first, second;
        words >> verb >> first >> second;
        const char* optional_second = second.empty() ? nullptr : second.c_str();
        if (verb == "init") {
            out << step << " -> " << kestrad_auth_init_config(first.c_str(), optional_second) << "\n";
        } else if (verb == "check") {
            out << step << " -> " << kestrad_auth_check(first.c_str(), second.c_str()) << "\n";
        } else if (verb == "group") {
            out << step << " -> " << kestrad_auth_is_group_member(first.c_str(), second.c_str()) << "\n";
        } else if (verb == "home") {
            out << step << " -> " << kestrad_auth_get_home(first.c_str()).value_or("none") << "\n";
        } else if (verb == "end") {
            kestrad_auth_end();
        } else {
            out << "unknown step " << step << "\n";
        }
        for (const std::string& line : log.lines())
            out << "log: " << line << "\n";
        log.clear();
    }
}

// What the steps gave, run in a child process; a crash of the child shows at the end.
std::string run_in_child(const std::vector<std::string>& steps)
{
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0)
        return "pipe failed";
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        std::ostringstream out;
        run_steps(steps, out);
        const std::string text = out.str();
        const ssize_t written = write(pipe_ends[1], text.data(), text.size());
        _exit(written == static_cast<ssize_t>(text.size()) ? 0 : 1);
    }
    close(pipe_ends[1]);
    std::string transcript;
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipe_ends[0], buffer, sizeof buffer)) > 0)
        transcript.append(buffer, static_cast<size_t>(got));
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        transcript += "child ended with status " + std::to_string(status) + "\n";
    return transcript;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

const char* const please_do = "log: auth.c (90) Please do kestrad_auth_init_config() first.\n";

TEST(AuthRegistry, SelectionSequences)
{
    temp_dir dir;
    const std::string hash = make_hash("pass", "$1$");
    const std::string file_a = dir.write("a", "carol:guests:/srv/a/carol:" + hash + "\n");
    const std::string file_b = dir.write("b", "carol:guests:/srv/b/carol:" + hash + "\n");

    struct Case {
        const char* what;
        std::vector<std::string> steps;
        std::string expected;
    };
    const Case cases[] = {
        {"nothing selected yet",
         {"check alice secret", "end", "group alice staff", "home alice"},
         std::string("check alice secret -> -1\n") + please_do +
             "group alice staff -> 0\n"
             "home alice -> none\n"},
        {"names compare without case",
         {"init PAM", "init Pam", "init pam", "init unix"},
         "init PAM -> 0\n"
         "init Pam -> 0\n"
         "init pam -> 0\n"
         "init unix -> -1\n"
         "log: Authentication method (unix) not found.\n"},
        {"an unknown name leaves no usable method",
         {"init ldap", "check alice secret", "group alice staff", "home alice", "end", "init unix", "init pam"},
         std::string("init ldap -> -1\n"
                     "log: Authentication method (ldap) not found.\n"
                     "check alice secret -> -1\n") +
             please_do +
             "group alice staff -> 0\n"
             "home alice -> none\n"
             "init unix -> -1\n"
             "log: Authentication method (unix) not found.\n"
             "init pam -> -1\n"
             "log: Authentication method (pam) not found.\n"},
        {"the search starts at the selection",
         {"init pam", "init unix", "init text {a}", "check alice secret"},
         std::string("init pam -> 0\n"
                     "init unix -> -1\n"
                     "log: Authentication method (unix) not found.\n"
                     "init text {a} -> -1\n"
                     "log: Authentication method (text) not found.\n"
                     "check alice secret -> -1\n") +
             please_do},
        {"unix forwards every question, before and after end",
         {"init unix", "check alice wrong", "check alice secret", "group alice staff", "home alice", "end",
          "home alice", "group alice staff", "home nobody", "init UNIX"},
         "init unix -> 0\n"
         "check alice wrong -> -1\n"
         "check alice secret -> 0\n"
         "group alice staff -> 1\n"
         "home alice -> /home/alice\n"
         "home alice -> /home/alice\n"
         "group alice staff -> 1\n"
         "home nobody -> none\n"
         "init UNIX -> 0\n"},
        {"text twice initialises twice",
         {"init text {a}", "home carol", "init TEXT {b}", "home carol", "check carol pass", "init text", "end",
          "home carol"},
         "init text {a} -> 0\n"
         "home carol -> /srv/a/carol\n"
         "init TEXT {b} -> 0\n"
         "home carol -> /srv/b/carol\n"
         "check carol pass -> 0\n"
         "init text -> -1\n"
         "home carol -> none\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> steps;
        for (const std::string& step : c.steps)
            steps.push_back(replace_all(replace_all(step, "{a}", file_a), "{b}", file_b));
        const std::string expected = replace_all(replace_all(c.expected, "{a}", file_a), "{b}", file_b);
        EXPECT_EQ(run_in_child(steps), expected);
    }
}

} // namespace
