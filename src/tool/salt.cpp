#include "tool/salt.h"

#include <cstdlib>
#include <sys/time.h>

namespace {

const char salt_alphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

char salt_character(long value, int shift)
{
    return salt_alphabet[(static_cast<unsigned long>(value) >> shift) & 63];
}

} // namespace

std::string md5_salt(long seconds, long microseconds, long random_value)
{
    std::string salt = "$1$";
    for (const int shift : {0, 6, 12})
        salt += salt_character(microseconds, shift);
    for (const int shift : {0, 6})
        salt += salt_character(seconds, shift);
    for (const int shift : {0, 6, 12})
        salt += salt_character(random_value, shift);
    return salt;
}

std::string new_md5_salt()
{
    timeval now{};
    ::gettimeofday(&now, nullptr);
    return md5_salt(static_cast<long>(now.tv_sec), static_cast<long>(now.tv_usec), ::random());
}
