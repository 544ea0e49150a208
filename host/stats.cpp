#include "stats.h"

#include "engine.h"

#include <algorithm>
#include <cstdio>
#include <functional>

namespace bioeng {

void SeqStats::add_length(int32_t len) {
    if (records == 0 || len < min_len) min_len = len;
    if (len > max_len) max_len = len;
    ++records;
    bases += uint64_t(len);
    lengths.push_back(len);
}

void SeqStats::add_codes(const uint8_t *codes, size_t len) {
    // Four interleaved tables keep the counting loop free of store-to-load
    // stalls on runs of one base.
    uint64_t part[4][32] = {};
    size_t i = 0;
    for (; i + 4 <= len; i += 4) {
        ++part[0][codes[i] & 31];
        ++part[1][codes[i + 1] & 31];
        ++part[2][codes[i + 2] & 31];
        ++part[3][codes[i + 3] & 31];
    }
    for (; i < len; ++i) ++part[0][codes[i] & 31];
    for (int c = 0; c < 32; ++c) code_count[c] += part[0][c] + part[1][c] + part[2][c] + part[3][c];
}

int64_t SeqStats::n50() const {
    std::vector<int32_t> sorted = lengths;
    std::sort(sorted.begin(), sorted.end(), std::greater<int32_t>());
    uint64_t acc = 0;
    for (int32_t len : sorted) {
        acc += uint64_t(len);
        if (2 * acc >= bases) return len;
    }
    return 0;
}

double SeqStats::gc_percent() const {
    uint64_t acgt = code_count[0] + code_count[1] + code_count[2] + code_count[3];
    if (acgt == 0) return 0.0;
    return 100.0 * double(code_count[1] + code_count[2]) / double(acgt);
}

void add_batch(SeqStats &st, const RecordBatch &batch, std::vector<uint8_t> &scratch) {
    size_t total = 0;
    for (int32_t i = 0; i < batch.count; ++i) total += size_t(batch.length(i));
    if (scratch.size() < total) scratch.resize(total);
    size_t at = 0;
    for (int32_t i = 0; i < batch.count; ++i) {
        int32_t len = batch.length(i);
        bio_unpack5(batch.packed_seq(i), len, scratch.data() + at);
        st.add_length(len);
        at += size_t(len);
    }
    st.add_codes(scratch.data(), total);
}

std::string format_stats(const SeqStats &st) {
    char buf[256];
    double mean = st.records ? double(st.bases) / double(st.records) : 0.0;
    std::snprintf(buf, sizeof buf, "%llu\t%llu\t%lld\t%lld\t%.1f\t%lld\t%.2f",
                  (unsigned long long)st.records, (unsigned long long)st.bases,
                  (long long)st.min_len, (long long)st.max_len, mean, (long long)st.n50(),
                  st.gc_percent());
    return buf;
}

} // namespace bioeng
