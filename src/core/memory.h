// Working memory of the library: every reservation goes through these four
// calls, which use the C allocator. Builds for the tests (ENGINE_TESTING)
// can make the Nth reservation fail and count what is still reserved.
#pragma once

#include <cstddef>

namespace engine {

void *mem_alloc(std::size_t bytes);
void *mem_calloc(std::size_t count, std::size_t size);
void *mem_realloc(void *ptr, std::size_t bytes);
void mem_free(void *ptr);

#ifdef ENGINE_TESTING
namespace testing {
// Makes reservation number `nth` (1-based, counted from this call, on any
// thread) fail; 0 disarms. Every later reservation succeeds again.
void fail_nth_allocation(long nth);
// Reservations attempted since the last fail_nth_allocation call.
long allocations_attempted();
// True once the armed reservation has failed.
bool allocation_failed();
// Reservations made and not yet released, over the whole process.
long live_allocations();
}  // namespace testing
#endif

}  // namespace engine
