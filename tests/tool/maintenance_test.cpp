// The salt, hash and password type of the tool's add and edit (tool module): kept here
// with the other tests of the text user database until the tool has unit tests of its own.

#include "tool/password_hash.h"
#include "tool/salt.h"
#include "tool/secret.h"

#include <gtest/gtest.h>

#include <cstring>
#include <malloc.h>
#include <new>
#include <string>
#include <vector>

namespace {

// Arrays released while this is set are searched for it before they go back.
const char* watched_text = nullptr;
int released_with_text = 0;
int released_arrays = 0;

void inspect(void* block)
{
    if (watched_text == nullptr || block == nullptr)
        return;
    ++released_arrays;
    const std::size_t size = malloc_usable_size(block);
    const std::size_t length = std::strlen(watched_text);
    const char* bytes = static_cast<const char*>(block);
    for (std::size_t i = 0; i + length <= size; ++i) {
        if (std::memcmp(bytes + i, watched_text, length) == 0) {
            ++released_with_text;
            return;
        }
    }
}

} // namespace

// The password's buffers are arrays of char; each one is inspected on its release.
// Arrays come from the single-object operators, so every pair matches.
void* operator new[](std::size_t size)
{
    return ::operator new(size);
}

void operator delete[](void* block) noexcept
{
    inspect(block);
    ::operator delete(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    inspect(block);
    ::operator delete(block);
}

namespace {

secret password_of(const std::string& text)
{
    secret password;
    for (const char c : text)
        password.push_back(c);
    return password;
}

TEST(MaintenanceSalt, TakesSixBitsPerCharacter)
{
    struct Case {
        long seconds, microseconds, random_value;
        const char* salt;
    };
    const std::vector<Case> cases = {
        {0, 0, 0, "$1$........"},
        // Microseconds 3,2,1 by six bits; seconds 5,4 (higher bits ignored); random 63,62,61.
        {(7L << 12) | (5 << 6) | 4, (3 << 12) | (2 << 6) | 1, (1L << 20) | (63 << 12) | (62 << 6) | 61,
         "$1$/0123xyz"},
        {63, 999999, 0x7fffffff, "$1$z6oz.zzz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.salt);
        EXPECT_EQ(md5_salt(c.seconds, c.microseconds, c.random_value), c.salt);
    }
    const std::string fresh = new_md5_salt();
    ASSERT_EQ(fresh.size(), 11u);
    EXPECT_EQ(fresh.substr(0, 3), "$1$");
    EXPECT_EQ(fresh.find_first_not_of("./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 3),
              std::string::npos);
}

TEST(MaintenanceHash, GivesTheMd5CryptHashOrNothing)
{
    // Expected values from an independent MD5-crypt implementation.
    EXPECT_EQ(hash_password(password_of("pw"), "$1$XBQ06bJo"), "$1$XBQ06bJo$Q1bFq2XDKwfDAsxWeDxZ3.");
    EXPECT_EQ(hash_password(password_of(""), "$1$........"), "$1$........$9rlgAhSf6RVXdB10k0d1g.");
    // crypt refuses this setting; its failure text must not pass for a hash.
    EXPECT_EQ(hash_password(password_of("pw"), "*"), std::nullopt);
    EXPECT_EQ(hash_password(password_of("pw"), "$1"), std::nullopt);
}

// Every buffer that held the password is wiped before it is released: the ones left
// behind as it grows and the last one.
TEST(MaintenanceSecret, WipesEveryBufferItReleases)
{
    std::string typed;
    for (int i = 0; i < 40; ++i)
        typed += "Pa55-" + std::to_string(i) + ";";
    released_with_text = released_arrays = 0;
    watched_text = "Pa55-1";
    {
        secret moved_from = password_of(typed);
        secret password = std::move(moved_from);
        EXPECT_EQ(std::string(password.c_str()), typed);
    }
    watched_text = nullptr;
    EXPECT_GE(released_arrays, 3); // grown at least twice, then released
    EXPECT_EQ(released_with_text, 0);
}

TEST(MaintenanceSecret, GrowsAndComparesByContent)
{
    const std::string long_text(1000, 'k');
    const secret a = password_of(long_text);
    EXPECT_EQ(std::string(a.c_str()), long_text);
    EXPECT_TRUE(a == password_of(long_text));
    EXPECT_FALSE(a == password_of(long_text + "x"));
    EXPECT_FALSE(password_of("ab") == password_of("ac"));
    EXPECT_TRUE(secret() == password_of(""));
}

} // namespace
