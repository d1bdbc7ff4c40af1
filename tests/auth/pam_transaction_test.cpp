// Real PAM transactions of the "pam" method through pam_wrapper. Each suite needs its own
// stack of modules for the service "ftpd", so each runs in a process of its own that its
// test registration starts with that stack (see CMakeLists.txt).

#include "auth/pam_backend.h"
#include "auth/wrapped_files.h"
#include "support/log_capture.h"
#include "tool/login_state.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

using log_lines = std::vector<std::string>;

struct Case {
    const char* what;
    const char* user;
    const char* password;
    int expected;
    log_lines log;
    const char* remote_host = "";
};

class PamStack : public testing::Test {
protected:
    void start(const char* stack)
    {
        if (!running_stack(stack))
            GTEST_SKIP() << "runs only with the PAM stack \"" << stack << "\" of its test registration";
        rewrite(wrapped_path("NSS_WRAPPER_PASSWD"),
                "alice:x:1000:100:Alice:/home/alice:/bin/sh\n"
                "bob:x:1001:100:Bob:/home/bob:/bin/sh\n");
        rewrite(wrapped_path("NSS_WRAPPER_GROUP"), "staff:x:100:\nguests:x:200:\n");
        rewrite(wrapped_path("NSS_WRAPPER_SHADOW"), "");
        // pam_matrix's own password file: ghost has no system account, bob may use
        // another service only.
        rewrite(wrapped_path("PAM_MATRIX_PASSWD"),
                "alice:secret:ftpd\n"
                "bob:secret:sshd\n"
                "ghost:secret:ftpd\n");
        login_state.remote_host.clear();
        ASSERT_EQ(pam_backend_init(nullptr), 0);
    }
    void TearDown() override
    {
        pam_backend_end();
        login_state.remote_host.clear();
    }

    // The check's result, with what it logged.
    std::pair<int, log_lines> check(const char* user, const char* password)
    {
        log_capture log;
        const int result = pam_backend_check(user, password);
        return {result, log.lines()};
    }

    // Runs each case from its remote host and compares result and log lines.
    void expect_cases(const std::vector<Case>& cases)
    {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            login_state.remote_host = c.remote_host;
            const auto [result, log] = check(c.user, c.password);
            EXPECT_EQ(result, c.expected);
            EXPECT_EQ(log, c.log);
        }
    }

    // Moves alice in the account files, so an answer that still gives her old home and
    // group can only have come from the cache.
    static void move_alice()
    {
        rewrite(wrapped_path("NSS_WRAPPER_PASSWD"),
                "alice:x:1000:200:Alice:/elsewhere/alice:/bin/sh\n"
                "bob:x:1001:100:Bob:/home/bob:/bin/sh\n");
    }
};

class PamMatrix : public PamStack {
protected:
    void SetUp() override { start("matrix"); }
};

TEST_F(PamMatrix, AcceptsAndRefuses)
{
    const char* const acct_refused = "pam_acct_mgmt: Permission denied";
    const std::vector<Case> cases = {
        {"right password", "alice", "secret", 0, {}},
        {"wrong password", "alice", "wrong", -1, {}},
        {"password of another case", "alice", "Secret", -1, {}},
        {"user PAM does not know", "nobody", "secret", -1, {}},
        {"user PAM accepts without a system account", "ghost", "secret", -1, {}},
        {"user of another service", "bob", "secret", -1, {acct_refused}},
        {"refused remote host", "alice", "secret", -1, {acct_refused}, "192.0.2.7"},
        {"other remote host", "alice", "secret", 0, {}, "192.0.2.8"},
        // pam_matrix treats an empty answer as a failure of its own, which is logged.
        {"missing password", "alice", nullptr, -1, {"pam_authenticate: Failure setting user credentials"}},
        {"missing user name", nullptr, "secret", -1, {"pam_authenticate: Bad item passed to pam_*_item()"}},
    };
    expect_cases(cases);
}

TEST_F(PamMatrix, AnAuthenticationServiceFailureIsLogged)
{
    ASSERT_EQ(std::remove(wrapped_path("PAM_MATRIX_PASSWD").c_str()), 0);
    const auto [result, log] = check("alice", "secret");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(log, log_lines{"pam_authenticate: Authentication service cannot retrieve authentication info"});
}

TEST_F(PamMatrix, TheAcceptedAccountIsAnsweredFromTheCache)
{
    ASSERT_EQ(check("alice", "secret").first, 0);
    move_alice();
    EXPECT_EQ(pam_backend_get_home("alice"), "/home/alice");
    EXPECT_EQ(pam_backend_is_group_member("alice", "staff"), 1);
    EXPECT_EQ(pam_backend_is_group_member("alice", "guests"), 0);
    EXPECT_EQ(pam_backend_get_home("bob"), "/home/bob");
    EXPECT_EQ(pam_backend_get_home("nobody"), std::nullopt);
}

TEST_F(PamMatrix, ARefusedCheckEmptiesTheCache)
{
    for (const char* refused_user : {"alice", "bob", "ghost"}) {
        SCOPED_TRACE(refused_user);
        start("matrix");
        ASSERT_EQ(check("alice", "secret").first, 0);
        ASSERT_EQ(check(refused_user, "wrong").first, -1);
        move_alice();
        EXPECT_EQ(pam_backend_get_home("alice"), "/elsewhere/alice");
        EXPECT_EQ(pam_backend_is_group_member("alice", "guests"), 1);
    }
}

class PamPrompts : public PamStack {
protected:
    void SetUp() override { start("prompts"); }
};

// The stack asks for the user name on an echo-on prompt (checked against a password file
// that holds alice's name as her password), then twice for the password without echo.
TEST_F(PamPrompts, EchoOnGetsTheNameAndEveryEchoOffThePassword)
{
    const std::vector<Case> cases = {
        {"name, then password twice", "alice", "secret", 0, {}},
        {"the password is not the answer to the echo-on prompt", "alice", "alice", -1, {}},
        {"wrong password", "alice", "wrong", -1, {}},
    };
    expect_cases(cases);
}

class PamChatty : public PamStack {
protected:
    void SetUp() override { start("chatty"); }
};

// A module that sends error and information messages before the password is asked.
TEST_F(PamChatty, MessagesGetNoAnswerAndTheCheckGoesOn)
{
    const std::vector<Case> cases = {
        {"right password", "alice", "secret", 0, {}},
        {"wrong password", "alice", "wrong", -1, {}},
    };
    expect_cases(cases);
}

class PamSetcred : public PamStack {
protected:
    void SetUp() override { start("setcred"); }
};

// The stack authenticates with a module that cannot set credentials.
TEST_F(PamSetcred, ACredentialFailureIsLoggedAndRefuses)
{
    const auto [result, log] = check("alice", "secret");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(log, log_lines{"pam.c (172)pam_setcred: Module is unknown"});
    move_alice();
    EXPECT_EQ(pam_backend_get_home("alice"), "/elsewhere/alice");
}

class PamStart : public PamStack {
protected:
    void SetUp() override { start("none"); }
};

// No service file at all: the transaction cannot even start.
TEST_F(PamStart, AFailedStartIsLoggedAndRefuses)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto [result, log] = check("alice", "secret");
        EXPECT_EQ(result, -1);
        EXPECT_EQ(log, log_lines{"pam_start: Critical error - immediate abort"});
    }
}

} // namespace
