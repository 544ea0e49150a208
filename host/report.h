// A report of a PAF file a user would rather look at than read: identity
// and mapping-quality histograms, read length against identity, and
// coverage along each reference sequence, as one self-contained HTML file
// with inline SVG (no script, no external file).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace bioeng {

// Every PAF line a report is made of, taken in one pass; memory grows with
// the reads (two numbers each) and the reference sequences (fixed bins).
class PafReport {
public:
    // One PAF line without its line end. Throws InputError naming `label`
    // and the line number when it is not PAF.
    void add_line(std::string_view line, const std::string &label, uint64_t line_no);
    // The whole report; `title` names the input.
    std::string html(const std::string &title) const;

    uint64_t lines() const { return lines_; }

private:
    struct Coverage {
        int64_t length = 0;
        std::vector<double> depth; // bases covered per bin, summed over alignments
    };
    struct ReadPoint {
        int32_t length;
        float identity;
    };

    void add_coverage(const std::string &ref, int64_t ref_len, int64_t start, int64_t end);

    uint64_t lines_ = 0;
    uint64_t primary_ = 0;   // tp:A:P lines (primary and supplementary parts)
    uint64_t secondary_ = 0; // tp:A:S lines
    std::string last_read_;
    std::vector<ReadPoint> reads_; // the first primary line of each read
    std::vector<float> identities_; // of every primary line
    std::vector<uint64_t> mapq_counts_ = std::vector<uint64_t>(256, 0);
    std::map<std::string, Coverage> coverage_;
};

} // namespace bioeng
