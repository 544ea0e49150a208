// Test support for the streaming and batch readers: temporary files, a
// straightforward reader that works line by line on the whole text in
// memory, and random FASTA/FASTQ texts.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine.h"
#include "seqio/codes.h"

namespace reader_test {

// Output buffers get GUARD_BYTES of GUARD after their capacity, to see that
// nothing is written beyond it.
inline constexpr std::uint8_t GUARD = 0xA5;
inline constexpr int GUARD_BYTES = 16;

// A file in the temporary directory holding `content`, removed on scope exit.
class TempFile {
public:
    explicit TempFile(const std::string &content) {
        const char *dir = std::getenv("TMPDIR");
        path_ = std::string(dir && *dir ? dir : "/tmp") + "/engine_reader_XXXXXX";
        const int fd = mkstemp(path_.data());
        if (fd < 0) std::abort();
        std::size_t done = 0;
        while (done < content.size()) {
            const ssize_t n = write(fd, content.data() + done, content.size() - done);
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
        close(fd);
    }
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    const char *path() const { return path_.c_str(); }

private:
    std::string path_;
};

// A reader opened on a temporary file holding `text`.
struct Opened {
    TempFile file;
    bio_parser_t *reader;
    explicit Opened(const std::string &text) : file(text), reader(bio_parser_open(file.path())) {}
    ~Opened() { bio_parser_close(reader); }
};

// What one read returns.
struct ModelRecord {
    int result = 0;
    std::string name;            // header as delivered (already cut to the name capacity)
    std::vector<std::uint8_t> seq;  // codes (result 1) or the raw letters that fitted (-2)
    int is_protein = 0;
    std::vector<std::uint8_t> qual;
    bool name_written = false;
};

inline constexpr std::size_t FIRST_FILL = 65536;

// Reads records with the rules of the streaming reader, one whole line at a
// time, with the text in memory.
class ModelReader {
public:
    explicit ModelReader(std::string text) : t_(std::move(text)) {
        const std::size_t scan = std::min(t_.size(), FIRST_FILL);
        while (pos_ < scan && (t_[pos_] == '\n' || t_[pos_] == '\r' || t_[pos_] == ' ')) ++pos_;
        fastq_ = pos_ < scan && t_[pos_] == '@';
    }

    bool is_fastq() const { return fastq_; }

    ModelRecord next(int name_cap, int seq_cap, int protein, bool want_qual) {
        ModelRecord rec;
        const std::size_t cap = seq_cap < 0 ? 0 : static_cast<std::size_t>(seq_cap);
        rec.result = fastq_ ? next_fastq(rec, name_cap, cap, protein, want_qual)
                            : next_fasta(rec, name_cap, cap, protein);
        return rec;
    }

private:
    // Content of the line starting at p, and the start of the next line.
    std::string line_at(std::size_t p, std::size_t *next) const {
        const std::size_t lf = t_.find('\n', p);
        const std::size_t end = lf == std::string::npos ? t_.size() : lf;
        std::string line = t_.substr(p, end - p);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        *next = lf == std::string::npos ? t_.size() : lf + 1;
        return line;
    }

    void take_header(ModelRecord &rec, int name_cap) {
        const std::string header = line_at(pos_, &pos_);
        if (name_cap >= 1) {
            rec.name = header.substr(0, static_cast<std::size_t>(name_cap - 1));
            rec.name_written = true;
        }
    }

    int next_fasta(ModelRecord &rec, int name_cap, std::size_t cap, int protein) {
        for (;;) {
            const std::size_t gt = t_.find('>', pos_);
            if (gt == std::string::npos) {
                pos_ = t_.size();
                return 0;
            }
            pos_ = gt + 1;
            take_header(rec, name_cap);
            std::string s;
            while (pos_ < t_.size() && t_[pos_] != '>') {
                if (t_[pos_] == '\n' || t_[pos_] == '\r') {  // a line led by either is blank
                    ++pos_;
                    continue;
                }
                std::size_t next;
                const std::string line = line_at(pos_, &next);
                if (t_[pos_] != ';') {
                    if (s.size() + line.size() > cap) {
                        pos_ += cap - s.size();
                        rec.seq.assign(s.begin(), s.end());
                        return -2;
                    }
                    s += line;
                }
                pos_ = next;
            }
            if (s.empty()) continue;
            bool aa = protein > 0;
            if (protein < 0)
                for (unsigned char c : s) aa = aa || engine::_MAP_AA_ONLY[c];
            rec.is_protein = protein > 0 ? protein : aa;
            for (unsigned char c : s) rec.seq.push_back((aa ? engine::_MAP_AA : engine::_MAP_NT)[c]);
            return 1;
        }
    }

    int next_fastq(ModelRecord &rec, int name_cap, std::size_t cap, int protein, bool want_qual) {
        for (;;) {
            if (need_sync_) {
                const std::size_t at = t_.find('@', pos_);
                if (at == std::string::npos) {
                    pos_ = t_.size();
                    return 0;
                }
                pos_ = at + 1;
                need_sync_ = false;
            } else {
                if (pos_ >= t_.size()) return 0;
                if (t_[pos_] == '@') ++pos_;
            }
            take_header(rec, name_cap);
            const std::string s = line_at(pos_, &pos_);
            line_at(pos_, &pos_);  // separator
            const std::string q = line_at(pos_, &pos_);
            if (s.size() > cap) return -2;
            rec.qual.clear();
            if (want_qual && q.size() <= cap)
                for (unsigned char c : q) rec.qual.push_back(c >= 33 ? c - 33 : 0);
            if (s.empty()) continue;
            const bool aa = protein == 1;
            rec.is_protein = aa;
            for (unsigned char c : s) rec.seq.push_back((aa ? engine::_MAP_AA : engine::_MAP_NT)[c]);
            return 1;
        }
    }

    std::string t_;
    std::size_t pos_ = 0;
    bool fastq_ = false;
    bool need_sync_ = true;
};

// Knobs of the random texts.
struct TextShape {
    int records = 8;
    int max_line = 70;
    int max_lines = 4;
    int max_header = 30;
    double crlf = 0.3;         // share of lines ending in CR LF
    double junk = 0.3;         // chance of junk before the first record
    int max_junk = 40;
    double oddities = 0.15;    // blank, comment, CR-led and empty-record lines
    double protein = 0.2;      // chance that a record carries protein-only letters
    double no_final_lf = 0.3;  // chance that the text ends without a line feed
};

class TextMaker {
public:
    explicit TextMaker(std::uint32_t seed) : rng_(seed) {}

    std::string fasta(const TextShape &shape) {
        std::string out = maybe_junk(shape, '>');
        for (int r = 0; r < shape.records; ++r) {
            out += '>' + header(shape);
            end_line(out, shape);
            const bool aa = chance(shape.protein);
            const int lines = uniform(0, shape.max_lines);
            for (int l = 0; l < lines; ++l) {
                if (chance(shape.oddities)) out += oddity();
                out += letters(uniform(0, shape.max_line), aa);
                end_line(out, shape);
            }
        }
        return finish(out, shape);
    }

    std::string fastq(const TextShape &shape) {
        std::string out = maybe_junk(shape, '@');
        for (int r = 0; r < shape.records; ++r) {
            const int len = chance(0.05) ? 0 : uniform(1, shape.max_line);
            out += '@' + header(shape);
            end_line(out, shape);
            out += letters(len, chance(shape.protein));
            end_line(out, shape);
            out += chance(0.5) ? "+" : "+" + header(shape);
            end_line(out, shape);
            const int qlen = chance(0.2) ? uniform(0, len + 5) : len;
            for (int i = 0; i < qlen; ++i) out += static_cast<char>(uniform(chance(0.05) ? 1 : 33, 126));
            end_line(out, shape);
            if (chance(shape.oddities * 0.1)) out += "\n";  // knocks the frame out of step
        }
        return finish(out, shape);
    }

    std::string letters(int n, bool aa) {
        static const std::string dna = "ACGTACGTACGTacgtNnRYUu-.";
        static const std::string amino = "ACDEFGHIKLMNPQRSTVWYXBZ*efilpq";
        const std::string &pool = aa ? amino : dna;
        std::string s;
        for (int i = 0; i < n; ++i) s += pool[static_cast<std::size_t>(uniform(0, int(pool.size()) - 1))];
        if (n > 0 && chance(0.02)) s[static_cast<std::size_t>(uniform(0, n - 1))] = ';';
        return s;
    }

    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
    std::mt19937 &rng() { return rng_; }

private:
    std::string header(const TextShape &shape) {
        static const std::string pool = "abcXYZ019_ |:=.\t";
        std::string h;
        const int n = chance(0.05) ? uniform(0, 6000) : uniform(0, shape.max_header);
        for (int i = 0; i < n; ++i) h += pool[static_cast<std::size_t>(uniform(0, int(pool.size()) - 1))];
        if (n > 0 && chance(0.05)) h[static_cast<std::size_t>(uniform(0, n - 1))] = '\r';
        return h;
    }

    std::string oddity() {
        switch (uniform(0, 4)) {
        case 0: return "\n";
        case 1: return "\r\n";
        case 2: return ";comment > inside\n";
        case 3: return "\r";  // a carriage return leading a sequence line
        default: return ">\n";  // a record with no sequence
        }
    }

    void end_line(std::string &out, const TextShape &shape) { out += chance(shape.crlf) ? "\r\n" : "\n"; }

    std::string maybe_junk(const TextShape &shape, char marker) {
        if (!chance(shape.junk)) return "";
        static const std::string pool = "junk text;\n\r \tACGT";
        std::string j;
        const int n = uniform(0, shape.max_junk);
        for (int i = 0; i < n; ++i) j += pool[static_cast<std::size_t>(uniform(0, int(pool.size()) - 1))];
        (void)marker;  // the pool holds neither marker
        return j;
    }

    std::string finish(std::string out, const TextShape &shape) {
        if (chance(shape.no_final_lf)) {
            while (!out.empty() && (out.back() == '\n')) out.pop_back();
            if (chance(0.3)) out += '\r';
        }
        return out;
    }

    std::mt19937 rng_;
};

}  // namespace reader_test
