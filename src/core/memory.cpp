#include "core/memory.h"

#include <cstdlib>

#ifdef ENGINE_TESTING
#include <atomic>

namespace engine::testing {
namespace {
std::atomic<long> fail_at{0};
std::atomic<long> attempted{0};
std::atomic<bool> failed{false};
std::atomic<long> live{0};

// Counts one reservation; true when this one is the armed failure.
bool should_fail() {
    const long n = attempted.fetch_add(1) + 1;
    const long target = fail_at.load();
    if (target > 0 && n == target) {
        failed = true;
        return true;
    }
    return false;
}
}  // namespace

void fail_nth_allocation(long nth) {
    attempted = 0;
    failed = false;
    fail_at = nth;
}
long allocations_attempted() { return attempted.load(); }
bool allocation_failed() { return failed.load(); }
long live_allocations() { return live.load(); }
}  // namespace engine::testing

#define ENGINE_FAIL_IF_ARMED() \
    if (engine::testing::should_fail()) return nullptr
#define ENGINE_COUNT(ptr) \
    if (ptr) engine::testing::live.fetch_add(1)
#define ENGINE_UNCOUNT(ptr) \
    if (ptr) engine::testing::live.fetch_sub(1)
#else
#define ENGINE_FAIL_IF_ARMED() (void)0
#define ENGINE_COUNT(ptr) (void)0
#define ENGINE_UNCOUNT(ptr) (void)0
#endif

namespace engine {

void *mem_alloc(std::size_t bytes) {
    ENGINE_FAIL_IF_ARMED();
    void *p = std::malloc(bytes ? bytes : 1);
    ENGINE_COUNT(p);
    return p;
}

void *mem_calloc(std::size_t count, std::size_t size) {
    ENGINE_FAIL_IF_ARMED();
    void *p = (count && size) ? std::calloc(count, size) : std::calloc(1, 1);
    ENGINE_COUNT(p);
    return p;
}

void *mem_realloc(void *ptr, std::size_t bytes) {
    if (!ptr) return mem_alloc(bytes);
    ENGINE_FAIL_IF_ARMED();
    // A failed realloc leaves ptr reserved and counted; a successful one
    // replaces it, so the live count is unchanged either way.
    return std::realloc(ptr, bytes ? bytes : 1);
}

void mem_free(void *ptr) {
    ENGINE_UNCOUNT(ptr);
    std::free(ptr);
}

}  // namespace engine
