#include "auth/crypt_check.h"

#include <crypt.h>
#include <memory>
#include <new>
#include <string.h>

namespace {

// crypt's work area holds material derived from the password; it is wiped before it goes.
struct crypt_area_wiper {
    void operator()(crypt_data* area) const noexcept
    {
        explicit_bzero(area, sizeof *area);
        delete area;
    }
};

} // namespace

std::optional<std::string> crypt_with_setting(const char* password, const char* setting)
{
    // Zero-filled, as crypt_r requires of a fresh work area.
    const std::unique_ptr<crypt_data, crypt_area_wiper> area(new crypt_data());
    const char* result = crypt_r(password, setting, area.get());
    if (result == nullptr || result[0] == '*')
        return std::nullopt;
    return std::string(result);
}

bool crypt_matches(const char* password, const char* stored_hash) noexcept
{
    // An empty hash would otherwise let any password through on some crypt versions.
    if (password == nullptr || stored_hash == nullptr || *stored_hash == '\0')
        return false;
    try {
        const std::optional<std::string> result = crypt_with_setting(password, stored_hash);
        return result && *result == stored_hash;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
