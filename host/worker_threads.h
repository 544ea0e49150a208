// The host's one way of sharing work among threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace bioeng {

// Threads for a `threads` setting (0 or less: one per processor).
inline int32_t worker_count(int32_t threads) {
    unsigned hw = std::thread::hardware_concurrency();
    return threads > 0 ? threads : int32_t(hw ? hw : 1);
}

// Runs items 0 .. n - 1 on up to `threads` threads, the calling one
// included: every thread makes its worker once, with make_worker(), and
// hands it each item it takes, in turn (so a worker keeps its working
// memory from item to item). When no more threads can be started the items
// are shared among fewer. The first exception a worker throws stops the
// others taking items and is thrown again here.
template <class MakeWorker>
void for_each_on_threads(size_t n, int32_t threads, MakeWorker make_worker) {
    std::atomic<size_t> next{0};
    std::exception_ptr failure;
    std::mutex failure_lock;
    auto run = [&] {
        try {
            auto worker = make_worker();
            for (size_t item; (item = next.fetch_add(1)) < n;) worker(item);
        } catch (...) {
            std::lock_guard<std::mutex> hold(failure_lock);
            if (!failure) failure = std::current_exception();
            next.store(n);
        }
    };
    const size_t helpers = size_t(std::max(threads, 1) - 1);
    std::vector<std::thread> pool;
    pool.reserve(std::min(helpers, n));
    for (size_t t = 0; t < helpers && t + 1 < n; ++t) {
        try {
            pool.emplace_back(run);
        } catch (const std::system_error &) {
            break;
        }
    }
    run();
    for (std::thread &t : pool) t.join();
    if (failure) std::rethrow_exception(failure);
}

} // namespace bioeng
