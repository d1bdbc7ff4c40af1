#pragma once
// Makes one chosen allocation through operator new fail, so that the out-of-memory
// paths of the share module can be reached. The replacement operator new lives in
// share_conf_test.cpp, once for the whole share_tests binary.

#include <cstddef>

namespace alloc_failure {

// The nth allocation from now (1 is the next one) throws std::bad_alloc; 0 disarms.
void fail_nth(std::size_t n);
// Whether the armed allocation has been reached and failed.
bool fired();

} // namespace alloc_failure
