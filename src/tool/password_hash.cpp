#include "tool/password_hash.h"

#include <crypt.h>
#include <memory>
#include <string.h>

namespace {

// crypt's work area holds what it derived from the password: wiped before release.
struct crypt_area_wiper {
    void operator()(crypt_data* area) const noexcept
    {
        explicit_bzero(area, sizeof *area);
        delete area;
    }
};

} // namespace

std::optional<std::string> hash_password(const secret& password, const std::string& setting)
{
    const std::unique_ptr<crypt_data, crypt_area_wiper> area(new crypt_data{});
    const char* hash = ::crypt_r(password.c_str(), setting.c_str(), area.get());
    // Besides a null result, a failure can come back as a text starting with '*', which
    // no valid hash does; stored, it would lock the user out while reporting success.
    if (hash == nullptr || hash[0] == '*')
        return std::nullopt;
    return std::string(hash);
}
