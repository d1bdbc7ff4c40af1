#pragma once
// The per-IP connection table: a fixed number of slots recording open connections with
// their client addresses, so that the connections of one address can be counted against
// a per-address maximum. The configuration load sizes it; its reset releases it.

#include <cstdint>
#include <span>
#include <sys/socket.h>

// Bytes of the client address a slot keeps: enough for a whole sockaddr_in or sockaddr_in6.
inline constexpr int per_ip_address_size = 32;

struct per_ip_slot {
    unsigned char address[per_ip_address_size];
    int32_t key; // chosen by the caller; 0 marks a free slot
};

// Replaces any table by one of `count` free slots: 0 ready (no table for a count of 0),
// -1 when memory runs out or the count is negative; no table is left then.
[[nodiscard]] int kestrad_ipconn_alloc(int count);
// Releases the table, if there is one.
void kestrad_ipconn_free();

// Records a connection in the first free slot; a full table forgets its first slot's entry.
void kestrad_ipconn_add(const sockaddr_storage* address, int key);
// -1 when the address already holds `limit` connections or more, 0 otherwise
// (also for a limit of 0, a missing address or no table).
[[nodiscard]] int kestrad_ipconn_check(int limit, const sockaddr_storage* address);
// Frees the first slot that holds the key.
void kestrad_ipconn_remove(int key);

// The slots of the table in order; empty when there is no table.
std::span<const per_ip_slot> kestrad_ipconn_slots();
