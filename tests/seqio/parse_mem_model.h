// A straightforward model of the in-memory parser: split the text into
// lines, walk the records one after the other (chunk by chunk, when the text
// is cut into chunks), convert and pack each record on its own with the
// reference packer. Shared by the parser tests and its fuzz target.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine.h"
#include "seqio/codes.h"
#include "seqio/pack5.h"

namespace parse_model {

struct TextLine {
    std::string content;  // without the line end
    bool terminated;      // ended with a line feed
    std::size_t next;     // offset of the following line
};

inline std::vector<TextLine> split_lines(const std::string &text) {
    std::vector<TextLine> lines;
    std::size_t p = 0;
    while (p < text.size()) {
        std::size_t lf = text.find('\n', p);
        const bool terminated = lf != std::string::npos;
        std::size_t end = terminated ? lf : text.size();
        std::size_t next = terminated ? lf + 1 : text.size();
        if (end > p && text[end - 1] == '\r') --end;
        lines.push_back({text.substr(p, end - p), terminated, next});
        p = next;
    }
    return lines;
}

struct Record {
    std::string header;
    std::vector<std::uint8_t> codes;
    std::int32_t flag;
    std::vector<std::uint8_t> quals;  // FASTQ proper only
};

inline std::string header_of(const TextLine &line) {
    return line.content.empty() ? std::string() : line.content.substr(1);
}

inline std::vector<std::uint8_t> convert(const std::string &raw, const engine::ByteTable &table) {
    std::vector<std::uint8_t> codes;
    for (unsigned char c : raw) codes.push_back(table[c]);
    return codes;
}

// The records that start at lines [first, ...) with a start offset below
// `stop`, appended to `records`; a record is read whole even past `stop`.
inline void parse_fasta_lines(const std::string &text, const std::vector<TextLine> &lines,
                              const std::vector<std::size_t> &starts, std::size_t first,
                              std::size_t stop, int protein, std::vector<Record> &records) {
    std::size_t i = first;
    while (i < lines.size() && starts[i] < stop) {
        const TextLine &header = lines[i];
        if (!header.terminated || header.next == text.size()) break;
        std::string raw;
        std::size_t j = i + 1;
        for (; j < lines.size() && !(lines[j].content.size() && lines[j].content[0] == '>'); ++j)
            raw += lines[j].content;
        i = j;
        if (raw.empty()) continue;
        bool is_protein = protein > 0;
        if (protein < 0) {
            is_protein = false;
            for (unsigned char c : raw) is_protein = is_protein || engine::_MAP_AA_ONLY[c];
        }
        const std::int32_t flag = protein < 0 ? is_protein : (is_protein ? protein : 0);
        records.push_back({header_of(header), convert(raw, is_protein ? engine::_MAP_AA : engine::_MAP_NT),
                           flag, {}});
    }
}

inline void parse_fastq_lines(const std::string &text, const std::vector<TextLine> &lines,
                              const std::vector<std::size_t> &starts, std::size_t first,
                              std::size_t stop, int protein, bool make_quals,
                              std::vector<Record> &records) {
    for (std::size_t i = first; i < lines.size() && starts[i] < stop; i += 4) {
        const TextLine &header = lines[i];
        if (!header.terminated || header.next == text.size()) break;
        const std::string &seq = lines[i + 1].content;
        const std::string qual = i + 3 < lines.size() ? lines[i + 3].content : std::string();
        if (seq.empty()) continue;
        Record r{header_of(header), convert(seq, protein == 1 ? engine::_MAP_AA : engine::_MAP_NT),
                 protein == 1 ? 1 : 0, {}};
        if (make_quals)
            for (std::size_t k = 0; k < seq.size(); ++k) {
                const int c = k < qual.size() ? static_cast<unsigned char>(qual[k]) : 0;
                r.quals.push_back(static_cast<std::uint8_t>(c >= 33 ? c - 33 : 0));
            }
        records.push_back(std::move(r));
    }
}

inline std::vector<std::size_t> line_starts(const std::vector<TextLine> &lines) {
    std::vector<std::size_t> starts;
    std::size_t p = 0;
    for (const TextLine &line : lines) {
        starts.push_back(p);
        p = line.next;
    }
    return starts;
}

// Chunk boundaries: each nominal cut i * size / chunks (in double precision,
// truncated) moved to the first line start strictly after it that starts a
// record by the format's rule, or to the text size; then raised to its
// predecessor.
inline std::vector<std::size_t> chunk_bounds(const std::string &text, int fmt, int chunks) {
    const auto lines = split_lines(text);
    const auto starts = line_starts(lines);
    auto starts_record = [&](std::size_t i) {
        const std::size_t s = starts[i];
        if (fmt == engine::FMT_FASTA) return text[s] == '>';
        return text[s] == '@' && lines[i].terminated && i + 1 < lines.size() && lines[i + 1].terminated &&
               i + 2 < lines.size() && text[starts[i + 2]] == '+';
    };
    std::vector<std::size_t> bounds{0};
    for (int c = 1; c < chunks; ++c) {
        const auto nominal = static_cast<std::size_t>(static_cast<double>(c) *
                                                      static_cast<double>(text.size()) / chunks);
        std::size_t bound = text.size();
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (starts[i] > nominal && starts_record(i)) {
                bound = starts[i];
                break;
            }
        bounds.push_back(std::max(bound, bounds.back()));
    }
    bounds.push_back(text.size());
    return bounds;
}

// The parse with the text cut into `chunks` chunks, each parsed on its own
// and the results joined in chunk order. Well-framed text gives the same
// records for every chunk count; mis-framed FASTQ may not.
inline std::vector<Record> parse_chunked(const std::string &text, int fmt, int protein, int chunks) {
    const auto lines = split_lines(text);
    const auto starts = line_starts(lines);
    const auto bounds = chunk_bounds(text, fmt, chunks);
    std::vector<Record> records;
    for (int c = 0; c < chunks; ++c) {
        const std::size_t first = static_cast<std::size_t>(
            std::lower_bound(starts.begin(), starts.end(), bounds[c]) - starts.begin());
        if (fmt == engine::FMT_FASTA)
            parse_fasta_lines(text, lines, starts, first, bounds[c + 1], protein, records);
        else
            parse_fastq_lines(text, lines, starts, first, bounds[c + 1], protein, fmt == engine::FMT_FASTQ,
                              records);
    }
    return records;
}

inline std::vector<Record> parse(const std::string &text, int fmt, int protein) {
    return parse_chunked(text, fmt, protein, 1);
}

// The flat batch layout of a record list.
struct Flat {
    std::vector<char> names;
    std::vector<std::int32_t> name_offs{0};
    std::vector<std::uint8_t> packed;  // data plus the zero byte after it
    std::vector<std::int32_t> packed_offs{0};
    std::vector<std::int32_t> seq_lens;
    std::vector<std::int32_t> is_protein;
    std::vector<std::uint8_t> quals;
    std::vector<std::int32_t> qual_offs{0};
};

inline Flat flatten(const std::vector<Record> &records) {
    Flat f;
    for (const Record &r : records) {
        f.names.insert(f.names.end(), r.header.begin(), r.header.end());
        f.names.push_back('\0');
        f.name_offs.push_back(static_cast<std::int32_t>(f.names.size()));
        const auto n = static_cast<std::int32_t>(r.codes.size());
        std::vector<std::uint8_t> one(static_cast<std::size_t>(engine::packed_bytes(n)) + 1);
        bio_pack5(r.codes.data(), n, one.data());
        f.packed.insert(f.packed.end(), one.begin(), one.end() - 1);
        f.packed_offs.push_back(static_cast<std::int32_t>(f.packed.size()));
        f.seq_lens.push_back(n);
        f.is_protein.push_back(r.flag);
        f.quals.insert(f.quals.end(), r.quals.begin(), r.quals.end());
        f.qual_offs.push_back(static_cast<std::int32_t>(f.quals.size()));
    }
    f.packed.push_back(0);
    return f;
}

}  // namespace parse_model
