// The end-of-run summary of `bioeng map`: counts from the host layer, wall
// and CPU time and peak memory of the process, as text lines for standard
// error and as JSON for --summary.
#pragma once

#include "output.h"

#include "bioeng_host.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace bioeng {

class RunSummary {
public:
    RunSummary() : start_(std::chrono::steady_clock::now()) {}

    // Takes the times and peak memory now.
    void finish(const bh_map_counts &counts) {
        c_ = counts;
        wall_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        cpu_ = seconds(ru.ru_utime) + seconds(ru.ru_stime);
        peak_bytes_ = uint64_t(ru.ru_maxrss) * 1024; // Linux reports kilobytes
    }

    std::string text(const char *prefix) const {
        char buf[512];
        std::snprintf(buf, sizeof buf,
                      "%s: %llu reads, %llu bases; %llu mapped (%.2f%%)\n"
                      "%s: records: %llu primary, %llu secondary, %llu supplementary\n"
                      "%s: %.2f s wall, %.2f s CPU, %.1f MB peak memory\n",
                      prefix, ull(c_.reads), ull(c_.bases), ull(c_.mapped_reads),
                      100 * mapped_fraction(), prefix, ull(c_.primary), ull(c_.secondary),
                      ull(c_.supplementary), prefix, wall_, cpu_, double(peak_bytes_) / 1e6);
        return buf;
    }

    std::string json(const std::string &reference, const std::vector<std::string> &reads) const {
        std::string j = "{\n  \"program\": \"bioeng map\",\n  \"version\": ";
        j += quoted(bh_version());
        j += ",\n  \"reference\": " + quoted(reference) + ",\n  \"reads_files\": [";
        for (size_t i = 0; i < reads.size(); ++i) j += (i ? ", " : "") + quoted(reads[i]);
        char buf[768];
        std::snprintf(buf, sizeof buf,
                      "],\n  \"reads\": %llu,\n  \"bases\": %llu,\n  \"mapped_reads\": %llu,\n"
                      "  \"mapped_bases\": %llu,\n  \"mapped_fraction\": %.6f,\n"
                      "  \"records\": %llu,\n  \"primary\": %llu,\n  \"secondary\": %llu,\n"
                      "  \"supplementary\": %llu,\n  \"wall_seconds\": %.3f,\n"
                      "  \"cpu_seconds\": %.3f,\n  \"peak_memory_bytes\": %llu\n}\n",
                      ull(c_.reads), ull(c_.bases), ull(c_.mapped_reads), ull(c_.mapped_bases),
                      mapped_fraction(), ull(c_.primary + c_.secondary + c_.supplementary),
                      ull(c_.primary), ull(c_.secondary), ull(c_.supplementary), wall_, cpu_,
                      ull(peak_bytes_));
        return j + buf;
    }

private:
    static double seconds(const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }
    static unsigned long long ull(uint64_t v) { return (unsigned long long)v; }
    double mapped_fraction() const {
        return c_.reads ? double(c_.mapped_reads) / double(c_.reads) : 0.0;
    }
    // A JSON string: quotes, backslashes and control characters escaped.
    static std::string quoted(const std::string &s) {
        std::string q = "\"";
        for (unsigned char ch : s) {
            if (ch == '"' || ch == '\\') {
                q.push_back('\\');
                q.push_back(char(ch));
            } else if (ch < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", ch);
                q += esc;
            } else {
                q.push_back(char(ch));
            }
        }
        return q + "\"";
    }

    std::chrono::steady_clock::time_point start_;
    bh_map_counts c_{};
    double wall_ = 0, cpu_ = 0;
    uint64_t peak_bytes_ = 0;
};

} // namespace bioeng
