// A progress line on standard error, shown only when that is a terminal, so
// that logs and pipelines never see carriage returns.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace bioeng {

class Progress {
public:
    explicit Progress(const char *what) : what_(what), enabled_(::isatty(2) == 1) {}
    ~Progress() { finish(); }

    void update(uint64_t records, uint64_t bytes) {
        if (!enabled_) return;
        double secs = seconds();
        if (secs - last_ < 0.25) return;
        last_ = secs;
        std::fprintf(stderr, "\r%s: %llu records, %.1f MB read, %.0f records/s   ", what_,
                     (unsigned long long)records, double(bytes) / 1e6,
                     secs > 0 ? double(records) / secs : 0.0);
        shown_ = true;
    }
    void finish() {
        if (shown_) std::fputs("\r\033[K", stderr);
        shown_ = false;
    }

private:
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

    const char *what_;
    bool enabled_;
    bool shown_ = false;
    double last_ = -1;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

} // namespace bioeng
