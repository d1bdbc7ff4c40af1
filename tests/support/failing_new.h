#pragma once
// Makes chosen allocations through operator new fail, so that out-of-memory paths can be
// reached. A test binary that links kestrad_failing_new gets the replacement operators.

#include <cstddef>

namespace failing_new {

// The nth allocation from now (1 is the next one) throws std::bad_alloc; 0 disarms.
void fail_nth(std::size_t n);
// Every allocation of exactly this many bytes throws until disarmed; 0 disarms.
void fail_size(std::size_t size);
// Whether an armed allocation has failed since it was armed.
bool fired();
void disarm();

} // namespace failing_new
