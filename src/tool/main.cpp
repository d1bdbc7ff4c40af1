// kestrad-user: add, edit and delete virtual users of the text user file, and show
// how the server would treat a login.

#include "config/param.h"
#include "tool/maintenance.h"
#include "tool/report.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

const char* const default_config_path = "/usr/local/etc/kestrad/kestrad.conf";

// Options end at the first operand; glibc's getopt would otherwise move operands
// to the end and read options after them.
#ifdef __GLIBC__
const char* const option_string = "+a:e:d:hg:s:";
#else
const char* const option_string = "a:e:d:hg:s:";
#endif

void print_usage(const char* program)
{
    std::printf("\nUsage: %s -[aedt] user [-t type]\n\n"
                "options:\n"
                "     -s file     Set the path of kestrad.conf\n"
                "     -a user     Add a kestrad virtual user into text file\n"
                "     -e user     Edit a kestrad virtual user into text file\n"
                "     -d user     Delete a kestrad virtual user into text file\n"
                "     -g user     Get the status of user.\n"
                "                 The user can be real user or mysql/pgsql/text virtual\n"
                "                 user. We will print the available share and permission\n"
                "                 of the user.\n"
                "     -h          Print this help message\n\n",
                program);
}

int run_action(int action, const char* user)
{
    switch (action) {
    case 'a':
        if (std::strpbrk(user, ":#") != nullptr) {
            std::printf("User name can't contains # or :\n");
            return -1;
        }
        return add_edit_user(user, 1);
    case 'e':
        return add_edit_user(user, 0);
    case 'd':
        return delete_user(user);
    default:
        return print_user_status(user);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    const char* config_path = default_config_path;
    const char* user = nullptr;
    int action = 0;
    const char* program = argc > 0 ? argv[0] : "kestrad-user";

    int option;
    while ((option = getopt(argc, argv, option_string)) != -1) {
        switch (option) {
        case 's':
            config_path = optarg;
            break;
        case 'a':
        case 'e':
        case 'd':
        case 'g':
            action = option;
            user = optarg;
            break;
        default:
            print_usage(program);
            return 0;
        }
    }
    if (action == 0) {
        print_usage(program);
        return 1;
    }

    kestrad_param_init();
    if (kestrad_param_load(config_path) != 0) {
        std::printf("Failed to parse config file %s\nPlease check syslog for detail.\n\n", config_path);
        return 1;
    }
    if (action != 'g' && !server_params.VirtualUserAuthConfig) {
        std::printf("Please set the VirtualUserAuthConfig in the kestrad.conf.\n");
        return 1;
    }
    int result = run_action(action, user);
    // A report that never reached its reader has not been given.
    if (std::fflush(stdout) != 0 && action == 'g')
        result = -1;
    return result & 0xff;
}
