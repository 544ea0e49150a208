#include "core/tuning.h"

#ifdef ENGINE_TESTING
#include <atomic>

namespace engine {
namespace {
std::atomic<std::int64_t> min_text_override{0};
}  // namespace

std::int64_t min_text_per_thread() {
    const std::int64_t bytes = min_text_override.load(std::memory_order_relaxed);
    return bytes > 0 ? bytes : MIN_TEXT_PER_THREAD;
}

void testing::set_min_text_per_thread(std::int64_t bytes) {
    min_text_override.store(bytes > 0 ? bytes : 0, std::memory_order_relaxed);
}
}  // namespace engine
#else
namespace engine {
std::int64_t min_text_per_thread() { return MIN_TEXT_PER_THREAD; }
}  // namespace engine
#endif
