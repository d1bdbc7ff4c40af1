#include "support/failing_new.h"

#include <cstdlib>
#include <new>

namespace {

std::size_t allocations_until_failure = 0;
std::size_t failing_size = 0;
bool failed = false;

} // namespace

void failing_new::fail_nth(std::size_t n)
{
    allocations_until_failure = n;
    failed = false;
}

void failing_new::fail_size(std::size_t size)
{
    failing_size = size;
    failed = false;
}

bool failing_new::fired()
{
    return failed;
}

void failing_new::disarm()
{
    allocations_until_failure = 0;
    failing_size = 0;
}

void* operator new(std::size_t size)
{
    const bool nth = allocations_until_failure != 0 && --allocations_until_failure == 0;
    if (nth || (failing_size != 0 && size == failing_size)) {
        failed = true;
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

// The matching releases, so that every block goes back the way it came, also where a
// sanitizer brings its own operators. The compiler cannot see that operator new above
// allocates with malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}
#pragma GCC diagnostic pop
