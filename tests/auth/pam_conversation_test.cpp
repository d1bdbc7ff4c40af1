// The conversation function of the "pam" method, called the way the PAM library calls it.

#include "auth/pam_backend.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

struct conversation_result {
    int status = PAM_SUCCESS;
    bool handed_over = false;
    std::vector<std::optional<std::string>> answers;
};

// Runs one conversation over messages of the given styles and frees what it handed over,
// as the PAM library does.
conversation_result converse(const std::vector<int>& styles, pam_login_pair pair)
{
    std::vector<pam_message> storage(styles.size());
    std::vector<const pam_message*> messages;
    for (size_t i = 0; i < styles.size(); ++i) {
        storage[i] = {styles[i], "Prompt: "};
        messages.push_back(&storage[i]);
    }
    pam_response sentinel{};
    pam_response* answers = &sentinel;
    conversation_result result;
    result.status = pam_backend_conversation(static_cast<int>(styles.size()), messages.data(), &answers, &pair);
    result.handed_over = answers != &sentinel;
    if (result.handed_over && answers != nullptr) {
        for (size_t i = 0; i < styles.size(); ++i) {
            EXPECT_EQ(answers[i].resp_retcode, 0);
            if (answers[i].resp != nullptr)
                result.answers.emplace_back(answers[i].resp);
            else
                result.answers.emplace_back(std::nullopt);
            std::free(answers[i].resp);
        }
        std::free(answers);
    }
    return result;
}

using answer_list = std::vector<std::optional<std::string>>;

TEST(PamConversation, AnswersEachMessageByItsStyle)
{
    struct Case {
        const char* what;
        std::vector<int> styles;
        pam_login_pair pair;
        answer_list expected;
    };
    const auto none = std::nullopt;
    const Case cases[] = {
        {"no messages at all", {}, {"alice", "secret"}, {}},
        {"a password prompt", {PAM_PROMPT_ECHO_OFF}, {"alice", "secret"}, {"secret"}},
        {"a name prompt, then a password prompt",
         {PAM_PROMPT_ECHO_ON, PAM_PROMPT_ECHO_OFF},
         {"alice", "secret"},
         {"alice", "secret"}},
        {"two password prompts", {PAM_PROMPT_ECHO_OFF, PAM_PROMPT_ECHO_OFF}, {"alice", "secret"}, {"secret", "secret"}},
        {"messages to show get no answer",
         {PAM_ERROR_MSG, PAM_TEXT_INFO, PAM_PROMPT_ECHO_OFF, PAM_TEXT_INFO},
         {"alice", "secret"},
         {none, none, "secret", none}},
        {"a check without password", {PAM_PROMPT_ECHO_ON, PAM_PROMPT_ECHO_OFF}, {"alice", nullptr}, {"alice", none}},
        {"a check without user name", {PAM_PROMPT_ECHO_ON, PAM_PROMPT_ECHO_OFF}, {nullptr, "secret"}, {none, "secret"}},
        {"an empty password", {PAM_PROMPT_ECHO_OFF}, {"alice", ""}, {""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const conversation_result result = converse(c.styles, c.pair);
        EXPECT_EQ(result.status, PAM_SUCCESS);
        EXPECT_TRUE(result.handed_over);
        EXPECT_EQ(result.answers, c.expected);
    }
}

TEST(PamConversation, AnswersAnyNumberOfPrompts)
{
    std::vector<int> styles(500, PAM_PROMPT_ECHO_OFF);
    styles[250] = PAM_PROMPT_ECHO_ON;
    const conversation_result result = converse(styles, {"alice", "secret"});
    ASSERT_EQ(result.status, PAM_SUCCESS);
    ASSERT_EQ(result.answers.size(), styles.size());
    EXPECT_EQ(result.answers[0], "secret");
    EXPECT_EQ(result.answers[250], "alice");
    EXPECT_EQ(result.answers[499], "secret");
}

TEST(PamConversation, AStyleItDoesNotKnowFailsTheWholeConversation)
{
    struct Case {
        const char* what;
        std::vector<int> styles;
    };
    const Case cases[] = {
        {"unknown style alone", {PAM_BINARY_PROMPT}},
        {"unknown style after answered prompts", {PAM_PROMPT_ECHO_ON, PAM_PROMPT_ECHO_OFF, 99}},
        {"unknown style before a prompt", {0, PAM_PROMPT_ECHO_OFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const conversation_result result = converse(c.styles, {"alice", "secret"});
        EXPECT_EQ(result.status, PAM_CONV_ERR);
        EXPECT_FALSE(result.handed_over);
    }
}

TEST(PamConversation, SurvivesWhatNoLibraryShouldHandIt)
{
    pam_login_pair pair{"alice", "secret"};
    pam_response* answers = nullptr;
    const pam_message* no_message = nullptr;
    EXPECT_EQ(pam_backend_conversation(-1, &no_message, &answers, &pair), PAM_CONV_ERR);
    EXPECT_EQ(pam_backend_conversation(1, &no_message, &answers, &pair), PAM_CONV_ERR);
    EXPECT_EQ(answers, nullptr);
    const pam_message prompt{PAM_PROMPT_ECHO_OFF, "Password: "};
    const pam_message* messages[] = {&prompt};
    EXPECT_EQ(pam_backend_conversation(1, nullptr, &answers, &pair), PAM_CONV_ERR);
    EXPECT_EQ(pam_backend_conversation(1, messages, nullptr, &pair), PAM_CONV_ERR);
    // Without the pair there is nothing to answer with, but the conversation still completes.
    ASSERT_EQ(pam_backend_conversation(1, messages, &answers, nullptr), PAM_SUCCESS);
    ASSERT_NE(answers, nullptr);
    EXPECT_EQ(answers[0].resp, nullptr);
    std::free(answers);
}

} // namespace
