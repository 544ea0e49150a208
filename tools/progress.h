// A progress line on standard error, shown only when that is a terminal, so
// that logs and pipelines never see carriage returns.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace bioeng {

class Progress {
public:
    explicit Progress(const char *what) : what_(what), enabled_(::isatty(2) == 1) {}
    ~Progress() { finish(); }

    // A step without counts, such as building an index; shown at once.
    void status(const std::string &text) {
        if (!enabled_) return;
        std::fprintf(stderr, "\r\033[K%s: %s...", what_, text.c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    // Input bytes the whole run will read (0: unknown, e.g. standard input);
    // restarts the clock, so that rates and the ETA leave out what came
    // before (loading a reference).
    void start(uint64_t total_input_bytes) {
        total_ = total_input_bytes;
        start_ = std::chrono::steady_clock::now();
        last_ = -1;
    }
    // `bytes` is decompressed text for the rate, `input_done` file bytes
    // consumed so far for the percentage.
    void update(uint64_t records, uint64_t bytes, uint64_t input_done = 0) {
        if (!enabled_) return;
        double secs = seconds();
        if (secs - last_ < 0.25) return;
        last_ = secs;
        std::string eta;
        if (total_ > 0 && input_done > 0) {
            double done = double(input_done) / double(total_);
            if (done > 1) done = 1;
            char buf[64];
            std::snprintf(buf, sizeof buf, "%5.1f%%, ETA %s, ", 100 * done,
                          clock_text(secs / done - secs).c_str());
            eta = buf;
        }
        std::fprintf(stderr, "\r\033[K%s: %s%llu records, %.1f MB read, %.0f records/s", what_,
                     eta.c_str(), (unsigned long long)records, double(bytes) / 1e6,
                     secs > 0 ? double(records) / secs : 0.0);
        std::fflush(stderr);
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
    static std::string clock_text(double secs) {
        long s = long(secs + 0.5);
        char buf[32];
        if (s >= 3600)
            std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
        else
            std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
        return buf;
    }

    const char *what_;
    bool enabled_;
    bool shown_ = false;
    double last_ = -1;
    uint64_t total_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

} // namespace bioeng
