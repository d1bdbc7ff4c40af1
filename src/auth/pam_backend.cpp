#include "auth/pam_backend.h"

#include "auth/account_cache.h"
#include "auth/account_source.h"
#include "config/log.h"
#include "tool/login_state.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string.h>

namespace {

account_cache cache;

// The answers under construction; released, with any password copies wiped, unless they
// were handed over to the PAM library.
class answer_block {
public:
    answer_block(pam_response* answers, int count) noexcept : answers_(answers), count_(count) {}
    answer_block(const answer_block&) = delete;
    answer_block& operator=(const answer_block&) = delete;
    ~answer_block()
    {
        if (answers_ == nullptr)
            return;
        for (int i = 0; i < count_; ++i) {
            if (answers_[i].resp != nullptr) {
                explicit_bzero(answers_[i].resp, std::strlen(answers_[i].resp));
                std::free(answers_[i].resp);
            }
        }
        std::free(answers_);
    }

    explicit operator bool() const noexcept { return answers_ != nullptr; }
    pam_response& operator[](int index) noexcept { return answers_[index]; }
    pam_response* hand_over() noexcept
    {
        pam_response* answers = answers_;
        answers_ = nullptr;
        return answers;
    }

private:
    pam_response* answers_;
    int count_;
};

// A new copy the PAM library can free, or none for a missing text. False when out of memory.
bool answer_with(pam_response& answer, const char* text) noexcept
{
    if (text == nullptr)
        return true;
    answer.resp = strdup(text);
    return answer.resp != nullptr;
}

// Ends the transaction on every way out of the check, with the result of the step that ended it.
class pam_transaction {
public:
    explicit pam_transaction(pam_handle_t* handle) noexcept : handle_(handle) {}
    pam_transaction(const pam_transaction&) = delete;
    pam_transaction& operator=(const pam_transaction&) = delete;
    ~pam_transaction()
    {
        const int result = pam_end(handle_, status_);
        if (result != PAM_SUCCESS)
            log_plain("pam_end: %s", pam_strerror(nullptr, result));
    }

    pam_handle_t* get() const noexcept { return handle_; }
    // Refuses the check; the transaction ends with the given result.
    int refuse(int status) noexcept
    {
        status_ = status;
        return -1;
    }

private:
    pam_handle_t* handle_;
    int status_ = PAM_SUCCESS;
};

int authenticate(pam_transaction& transaction)
{
    const int result = pam_authenticate(transaction.get(), 0);
    switch (result) {
    case PAM_SUCCESS:
        return 0;
    case PAM_MAXTRIES:
    case PAM_AUTH_ERR:
    case PAM_USER_UNKNOWN:
        return transaction.refuse(result);
    default:
        log_plain("pam_authenticate: %s", pam_strerror(transaction.get(), result));
        return transaction.refuse(result);
    }
}

int run_transaction(pam_transaction& transaction, const char* user)
{
    pam_handle_t* handle = transaction.get();
    int result = pam_set_item(handle, PAM_RHOST, login_state.remote_host.c_str());
    if (result != PAM_SUCCESS) {
        log_plain("pam_set_item(PAM_RHOST): %s", pam_strerror(handle, result));
        return transaction.refuse(result);
    }
    if (authenticate(transaction) != 0)
        return -1;
    // An account that PAM knows but the system does not has no home and no IDs to serve.
    std::optional<account_entry> entry;
    try {
        if (user != nullptr)
            entry = current_accounts().find_user(user);
    } catch (const std::bad_alloc&) {
        return transaction.refuse(PAM_BUF_ERR);
    }
    if (!entry)
        return transaction.refuse(PAM_SUCCESS);
    result = pam_acct_mgmt(handle, 0);
    if (result != PAM_SUCCESS) {
        log_plain("pam_acct_mgmt: %s", pam_strerror(handle, result));
        return transaction.refuse(result);
    }
    // Linux-PAM hands modules the flags as given and expects one credential operation in
    // them; establishing credentials is the one a login performs.
    result = pam_setcred(handle, PAM_ESTABLISH_CRED);
    if (result != PAM_SUCCESS) {
        log_plain("%s (%d)pam_setcred: %s", "pam.c", 172, pam_strerror(handle, result));
        return transaction.refuse(result);
    }
    // The session is only opened to let the modules see a complete login; nothing here
    // depends on it.
    (void)pam_open_session(handle, 0);
    (void)pam_close_session(handle, 0);
    cache.fill(user, *entry);
    return 0;
}

} // namespace

int pam_backend_conversation(int count, const pam_message** messages, pam_response** answers,
                             void* login_pair)
{
    if (count < 0 || (count > 0 && messages == nullptr) || answers == nullptr)
        return PAM_CONV_ERR;
    // At least one slot, so that an empty conversation is not mistaken for lack of memory.
    answer_block block(static_cast<pam_response*>(std::calloc(count > 0 ? count : 1, sizeof(pam_response))),
                       count);
    if (!block)
        return PAM_BUF_ERR;
    const auto* pair = static_cast<const pam_login_pair*>(login_pair);
    const char* user = pair != nullptr ? pair->user : nullptr;
    const char* password = pair != nullptr ? pair->password : nullptr;
    for (int i = 0; i < count; ++i) {
        const pam_message* message = messages[i];
        if (message == nullptr)
            return PAM_CONV_ERR;
        bool answered = true;
        switch (message->msg_style) {
        case PAM_PROMPT_ECHO_OFF:
            answered = answer_with(block[i], password);
            break;
        case PAM_PROMPT_ECHO_ON:
            answered = answer_with(block[i], user);
            break;
        case PAM_ERROR_MSG:
        case PAM_TEXT_INFO:
            break;
        default:
            return PAM_CONV_ERR;
        }
        if (!answered)
            return PAM_BUF_ERR;
    }
    *answers = block.hand_over();
    return PAM_SUCCESS;
}

int pam_backend_init(const char*)
{
    cache.clear();
    return 0;
}

int pam_backend_check(const char* user, const char* password)
{
    cache.clear();
    pam_login_pair pair{user, password};
    const pam_conv conversation{pam_backend_conversation, &pair};
    pam_handle_t* handle = nullptr;
    const int result = pam_start("ftpd", user, &conversation, &handle);
    if (result != PAM_SUCCESS) {
        log_plain("pam_start: %s", pam_strerror(handle, result));
        return -1;
    }
    pam_transaction transaction(handle);
    return run_transaction(transaction, user);
}

void pam_backend_end()
{
    cache.clear();
}

int pam_backend_is_group_member(const char* user, const char* group)
{
    return cache.is_group_member(user, group);
}

std::optional<std::string> pam_backend_get_home(const char* user)
{
    return cache.get_home(user);
}
