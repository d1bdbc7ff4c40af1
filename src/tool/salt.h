#pragma once
// The salt of a new MD5-crypt password: "$1$" and eight characters.

#include <string>

// Built from the given time and random value, six bits per character.
std::string md5_salt(long seconds, long microseconds, long random_value);
// Built from the current time and one value of random().
std::string new_md5_salt();
