#include "tool/maintenance.h"

#include "config/misc.h"
#include "config/param.h"
#include "textuser/textuser.h"
#include "tool/password_hash.h"
#include "tool/password_prompt.h"
#include "tool/salt.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

void print_out_of_memory()
{
    std::printf("Out of memory.\n");
}

const char* user_file()
{
    return server_params.VirtualUserAuthConfig ? server_params.VirtualUserAuthConfig->c_str() : nullptr;
}

// A control character, a newline above all, would break the name out of its line.
bool has_control_character(const char* name)
{
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != '\0'; ++p) {
        if (*p < 0x20 || *p == 0x7f)
            return true;
    }
    return false;
}

// Asks until both entries agree. Each entry is wiped as soon as it is refused; none
// at the end of the input.
std::optional<secret> ask_new_password()
{
    for (;;) {
        // What stdout holds must be on the screen before the terminal prompt.
        std::fflush(stdout);
        std::optional<secret> first = read_password("Enter password: ");
        if (!first)
            return std::nullopt;
        std::fflush(stdout);
        const std::optional<secret> second = read_password("Enter password again: ");
        if (!second)
            return std::nullopt;
        if (*first == *second)
            return first;
        std::printf("Passwords did not match!\n");
    }
}

// The new user's hash; none after a message, or at the end of the input (no message).
std::optional<std::string> ask_hash()
{
    std::optional<std::string> hash;
    {
        const std::optional<secret> password = ask_new_password();
        if (!password)
            return std::nullopt;
        hash = hash_password(*password, new_md5_salt());
        // The password is wiped here, right after the hash is made.
    }
    if (!hash)
        std::printf("Failed to crypt password.\n");
    return hash;
}

int add_or_edit(const char* path, const char* name, bool adding)
{
    text_user user;
    const bool found = kestrad_textuser_get(path, name, &user) == 0;
    if (adding && found) {
        std::printf("User [%s] already exists.\n", name);
        return -1;
    }
    if (!adding && !found) {
        std::printf("Failed to find user [%s].\n", name);
        return -1;
    }
    kestrad_textuser_free(&user);
    user.name = name;

    std::optional<std::string> group = prompt_field("Group name: ");
    if (!group)
        return -1;
    user.group = std::move(group);
    std::optional<std::string> home = prompt_field("Home: ");
    if (!home)
        return -1;
    user.home = std::move(home);
    std::optional<std::string> hash = ask_hash();
    if (!hash)
        return -1;
    user.hash = std::move(hash);

    if (kestrad_textuser_put(path, name, &user) != 0) {
        std::printf(adding ? "Failed to add user.\n" : "Failed to update user.\n");
        return -1;
    }
    std::printf("User [%s] is %s.\n", name, adding ? "add" : "update");
    return 0;
}

} // namespace

std::optional<std::string> prompt_field(const char* prompt)
{
    char line[kestrad_line_size];
    for (;;) {
        std::printf("%s", prompt);
        std::fflush(stdout);
        if (std::fgets(line, sizeof line, stdin) == nullptr) {
            std::printf("Failed to get group.\n");
            return std::nullopt;
        }
        if (std::strchr(line, ':') != nullptr)
            std::printf("Colon is not a valid charactor.\n");
        else if (std::strchr(line, '#') != nullptr)
            std::printf("# is not a valid charactor.\n");
        else
            break;
    }
    try {
        return std::string(kestrad_trim(line));
    } catch (const std::bad_alloc&) {
        print_out_of_memory();
        return std::nullopt;
    }
}

int add_edit_user(const char* name, int adding)
{
    const char* path = user_file();
    if (name == nullptr || path == nullptr)
        return -1;
    // Without a terminal the passwords come through standard input; unbuffered, no copy
    // of them stays behind in the stream's buffer. Nothing has read the stream before.
    std::setvbuf(stdin, nullptr, _IONBF, 0);
    if (adding != 0 && has_control_character(name)) {
        std::printf("User name can't contain control characters.\n");
        return -1;
    }
    // The lookup trims the name field, so a name with blanks around it (or none at all)
    // would be stored as a line that logins find under another name, or never.
    if (adding != 0 && (name[0] == '\0' || name[0] == ' ' || name[std::strlen(name) - 1] == ' ')) {
        std::printf("User name can't be empty or begin or end with a blank.\n");
        return -1;
    }
    try {
        return add_or_edit(path, name, adding != 0);
    } catch (const std::bad_alloc&) {
        print_out_of_memory();
        return -1;
    }
}

int delete_user(const char* name)
{
    const char* path = user_file();
    if (name == nullptr || path == nullptr)
        return -1;
    text_user user;
    if (kestrad_textuser_get(path, name, &user) != 0) {
        std::printf("User [%s] does not exist.\n\n", name);
        return -1;
    }
    if (kestrad_textuser_put(path, name, nullptr) != 0) {
        std::printf("Failed to delete user [%s].\n\n", name);
        return -1;
    }
    return 0;
}
