// Sequence input for the command-line tool: plain, gzip or BGZF bytes from a
// file (or memory), cut into chunks that end on record boundaries, each chunk
// parsed by the library's in-memory parallel parser.
//
// Plain and compressed input take the very same road after decompression:
// the decompressor only fills the chunk buffer, and chunk boundaries depend
// on nothing but the decompressed bytes and the chunk size, so a gzip file
// yields exactly the records (and therefore the output) of its plain text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bioeng {

// A failure the user must hear about; what() already names the file.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Compression { none, gzip, bgzf };

// Decides from the first bytes only (never from the file name): gzip magic
// 1f 8b 08, and BGZF when the FEXTRA field carries the "BC" subfield.
Compression sniff_compression(const uint8_t *data, size_t len);
const char *compression_name(Compression c);

// Raw bytes, read sequentially.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to n bytes into dst; 0 only at the end. Throws InputError.
    virtual size_t read(uint8_t *dst, size_t n) = 0;
};

std::unique_ptr<ByteSource> open_file_source(const std::string &path);
std::unique_ptr<ByteSource> memory_source(const uint8_t *data, size_t len);

// Decompressed text, whatever the container. Throws InputError on corrupt
// or truncated compressed data.
class TextSource {
public:
    virtual ~TextSource() = default;
    virtual size_t read(uint8_t *dst, size_t n) = 0;
    virtual Compression compression() const = 0;
};

std::unique_ptr<TextSource> open_text_source(std::unique_ptr<ByteSource> bytes,
                                             const std::string &label);

// A buffer of trivially constructible elements that is not zero-filled on
// growth (the parser overwrites whatever it delivers).
template <class T> class RawBuffer {
public:
    T *data() { return ptr_.get(); }
    const T *data() const { return ptr_.get(); }
    size_t capacity() const { return cap_; }
    // Grows (discarding the content) to hold at least n elements.
    void reserve_discard(size_t n) {
        if (n <= cap_ && ptr_) return;
        size_t cap = cap_ ? cap_ : 16;
        while (cap < n) cap *= 2;
        ptr_ = std::make_unique_for_overwrite<T[]>(cap);
        cap_ = cap;
    }
    // Grows keeping the first `keep` elements.
    void reserve_keep(size_t n, size_t keep) {
        if (n <= cap_ && ptr_) return;
        size_t cap = cap_ ? cap_ : 16;
        while (cap < n) cap *= 2;
        auto fresh = std::make_unique_for_overwrite<T[]>(cap);
        for (size_t i = 0; i < keep; ++i) fresh[i] = ptr_[i];
        ptr_ = std::move(fresh);
        cap_ = cap;
    }

private:
    std::unique_ptr<T[]> ptr_;
    size_t cap_ = 0;
};

// Records of one chunk in the library's flat batch layout.
struct RecordBatch {
    int32_t count = 0;
    int32_t format = 0; // BIO_FMT_FASTA or BIO_FMT_FASTQ
    RawBuffer<char> names;
    RawBuffer<int32_t> name_offs;
    RawBuffer<uint8_t> packed;
    RawBuffer<int32_t> packed_offs;
    RawBuffer<int32_t> seq_lens;
    RawBuffer<int32_t> is_protein;
    RawBuffer<uint8_t> quals;   // FASTQ only: exactly seq_len values per record
    RawBuffer<int32_t> qual_offs;

    const char *name(int32_t i) const { return names.data() + name_offs.data()[i]; }
    const uint8_t *packed_seq(int32_t i) const { return packed.data() + packed_offs.data()[i]; }
    int32_t length(int32_t i) const { return seq_lens.data()[i]; }
    bool has_quals() const { return format == 2; }
    const uint8_t *qual(int32_t i) const { return quals.data() + qual_offs.data()[i]; }
};

struct ReaderOptions {
    int32_t threads = 1;   // parser workers
    int32_t protein = 0;   // as the library's readers take it
    bool keep_empty = false; // deliver records with an empty sequence too
    size_t chunk_bytes = size_t(16) << 20; // text per batch (grown for huge records)
};

// Reads a FASTA or FASTQ file batch by batch. The format is decided by the
// first byte that is not white space: '>' FASTA, '@' FASTQ, anything else is
// rejected. FASTQ records must be four lines with a '+' separator and as many
// quality characters as bases; anything else is reported with its line.
class RecordReader {
public:
    RecordReader(std::unique_ptr<TextSource> text, std::string label, ReaderOptions opt);
    // Fills `batch` with the next records; false at the end of the input.
    // Throws InputError (naming the file) for bad input, including an input
    // without a single non-empty record, and std::bad_alloc.
    bool next(RecordBatch &batch);
    const std::string &label() const { return label_; }
    Compression compression() const { return text_->compression(); }
    int32_t format() const { return format_; }
    uint64_t bytes_read() const { return consumed_; }

private:
    bool fill_more();
    void detect_format();
    size_t complete_prefix(bool at_end);
    size_t fasta_prefix(bool at_end) const;
    size_t fastq_prefix(bool at_end);
    void parse(size_t len, RecordBatch &batch);
    void find_empty_fasta(size_t len);
    void restore_empty(RecordBatch &batch, int32_t parsed, size_t expected);
    bool at_end() const;
    uint64_t empty_in(const RecordBatch &batch) const;
    [[noreturn]] void fail(const std::string &what) const;

    std::unique_ptr<TextSource> text_;
    std::string label_;
    ReaderOptions opt_;
    RawBuffer<char> buf_;
    size_t len_ = 0;       // valid bytes in buf_
    bool eof_ = false;
    bool started_ = false;
    int32_t format_ = 0;
    uint64_t consumed_ = 0; // text bytes handed to the parser so far
    uint64_t line_ = 1;     // line number of buf_[0], for messages
    int32_t fastq_records_ = 0; // records counted by the last fastq_prefix
    // Records of the chunk being parsed whose sequence is empty (the parser
    // drops them): their index among all the chunk's records and header.
    struct EmptyRecord {
        int32_t index;
        std::string_view header;
    };
    std::vector<EmptyRecord> empty_;
    uint64_t delivered_ = 0;    // records with a sequence handed out so far
};

// Opens `path` (a file name; "-" is standard input) for record reading.
RecordReader open_records(const std::string &path, const ReaderOptions &opt);

} // namespace bioeng
