// Thresholds that decide how work is spread over threads, never what it
// produces. The library proper has them fixed; the test build
// (ENGINE_TESTING) can lower them, so that small test inputs take the paths
// that large inputs take.
#pragma once

#include <cstdint>

namespace engine {

// Least text per thread of the in-memory parser's parallel region: a region
// costs the wake-up of its threads and, on a busy machine, waits of a
// scheduler time slice at each of its barriers, which outweighs parsing a
// few megabytes on one thread.
inline constexpr std::int64_t MIN_TEXT_PER_THREAD = std::int64_t{8} << 20;

// MIN_TEXT_PER_THREAD, or what a test set in its place.
std::int64_t min_text_per_thread();

#ifdef ENGINE_TESTING
namespace testing {
// Replaces MIN_TEXT_PER_THREAD (0 restores it), so that small texts can be
// parsed by many threads.
void set_min_text_per_thread(std::int64_t bytes);
}  // namespace testing
#endif

}  // namespace engine
