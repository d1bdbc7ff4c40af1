#include "limits/ipconn.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <netinet/in.h>

namespace {

struct slot_release {
    void operator()(per_ip_slot* slots) const noexcept { std::free(slots); }
};

// calloc hands out the zero-filled slots that mean "free" without touching every page
// of a large table, and refuses a size that would overflow.
std::unique_ptr<per_ip_slot[], slot_release> table;
int32_t slot_count = 0;

std::span<per_ip_slot> slots()
{
    return {table.get(), static_cast<size_t>(slot_count)};
}

sa_family_t family_of(const unsigned char* address)
{
    sa_family_t family;
    std::memcpy(&family, address + offsetof(sockaddr, sa_family), sizeof family);
    return family;
}

// Same family and same host address; ports, flow information and scope do not matter.
bool same_client_address(const unsigned char* a, const unsigned char* b)
{
    const sa_family_t family = family_of(a);
    if (family != family_of(b))
        return false;
    if (family == AF_INET)
        return std::memcmp(a + offsetof(sockaddr_in, sin_addr), b + offsetof(sockaddr_in, sin_addr),
                           sizeof(in_addr)) == 0;
    if (family == AF_INET6)
        return std::memcmp(a + offsetof(sockaddr_in6, sin6_addr), b + offsetof(sockaddr_in6, sin6_addr),
                           sizeof(in6_addr)) == 0;
    return false;
}

static_assert(sizeof(sockaddr_in6) <= per_ip_address_size && sizeof(sockaddr_in) <= per_ip_address_size);

} // namespace

int kestrad_ipconn_alloc(int count)
{
    kestrad_ipconn_free();
    if (count == 0)
        return 0;
    if (count < 0)
        return -1;
    table.reset(static_cast<per_ip_slot*>(std::calloc(static_cast<size_t>(count), sizeof(per_ip_slot))));
    if (!table)
        return -1;
    slot_count = count;
    return 0;
}

void kestrad_ipconn_free()
{
    table.reset();
    slot_count = 0;
}

void kestrad_ipconn_add(const sockaddr_storage* address, int key)
{
    if (!table || address == nullptr)
        return;
    const std::span<per_ip_slot> all = slots();
    auto slot = std::ranges::find(all, 0, &per_ip_slot::key);
    if (slot == all.end()) {
        std::shift_left(all.begin(), all.end(), 1);
        slot = all.end() - 1;
    }
    std::memcpy(slot->address, address, per_ip_address_size);
    slot->key = key;
}

int kestrad_ipconn_check(int limit, const sockaddr_storage* address)
{
    if (address == nullptr || limit == 0 || !table)
        return 0;
    const auto* wanted = reinterpret_cast<const unsigned char*>(address);
    const auto held = std::ranges::count_if(slots(), [wanted](const per_ip_slot& slot) {
        return slot.key != 0 && same_client_address(slot.address, wanted);
    });
    return held >= limit ? -1 : 0;
}

void kestrad_ipconn_remove(int key)
{
    if (!table)
        return;
    const std::span<per_ip_slot> all = slots();
    if (auto slot = std::ranges::find(all, key, &per_ip_slot::key); slot != all.end())
        slot->key = 0; // the address bytes stay but no longer count
}

std::span<const per_ip_slot> kestrad_ipconn_slots()
{
    return slots();
}
