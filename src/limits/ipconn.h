#pragma once
// The per-IP connection table that the configuration load sizes.

// 0 table ready (or none wanted, count 0); -1 no memory.
[[nodiscard]] int kestrad_ipconn_alloc(int count);
void kestrad_ipconn_free();
