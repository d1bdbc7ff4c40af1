#pragma once
// The "pam" method: one PAM transaction of the service "ftpd" per password check, whose
// prompts are answered from the check's own user name and password. Group and home
// questions are answered as by the "unix" method, from a cache of this method's own.

#include <optional>
#include <security/pam_appl.h>
#include <string>

int pam_backend_init(const char* config);
int pam_backend_check(const char* user, const char* password);
void pam_backend_end();
int pam_backend_is_group_member(const char* user, const char* group);
std::optional<std::string> pam_backend_get_home(const char* user);

// What the conversation answers with, borrowed from the check in progress.
struct pam_login_pair {
    const char* user;
    const char* password;
};

// Answers every echo-off prompt with the password and every echo-on prompt with the user
// name; error and information messages get an empty answer. Any other style fails the
// whole conversation with PAM_CONV_ERR and hands nothing over.
int pam_backend_conversation(int count, const pam_message** messages, pam_response** answers,
                             void* login_pair);
