#include "input.h"

#include "engine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#ifdef BIOENG_HAVE_ZLIB
#include <zlib.h>
#endif
#ifdef BIOENG_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace bioeng {

namespace {

constexpr uint8_t GZIP_ID1 = 0x1f;
constexpr uint8_t GZIP_ID2 = 0x8b;
constexpr uint8_t GZIP_CM_DEFLATE = 8;
constexpr uint8_t GZIP_FLG_FEXTRA = 4;
constexpr size_t GZIP_FIXED_HEADER = 12;  // up to and including XLEN
constexpr size_t GZIP_TRAILER = 8;        // CRC32 + ISIZE
constexpr size_t BGZF_MAX_BLOCK = 65536;  // BSIZE + 1 never exceeds this
constexpr size_t SNIFF_BYTES = 512;
constexpr size_t COMPRESSED_READ = size_t(1) << 20;
constexpr size_t MAX_CHUNK = size_t(1) << 30; // offsets of a batch are 32-bit

std::string errno_text(int err) { return std::strerror(err); }

// Little-endian 16-bit field of a gzip header.
unsigned le16(const uint8_t *p) { return unsigned(p[0]) | unsigned(p[1]) << 8; }

// ---------------------------------------------------------------- sources

class FileSource : public ByteSource {
public:
    FileSource(int fd, std::string label, bool owned)
        : fd_(fd), label_(std::move(label)), owned_(owned) {}
    ~FileSource() override {
        if (owned_) ::close(fd_);
    }
    size_t read(uint8_t *dst, size_t n) override {
        size_t got = 0;
        while (got < n) {
            ssize_t r = ::read(fd_, dst + got, n - got);
            if (r == 0) break;
            if (r < 0) {
                if (errno == EINTR) continue;
                throw InputError(label_ + ": read error: " + errno_text(errno));
            }
            got += size_t(r);
        }
        return got;
    }

private:
    int fd_;
    std::string label_;
    bool owned_;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const uint8_t *data, size_t len) : data_(data), len_(len) {}
    size_t read(uint8_t *dst, size_t n) override {
        size_t take = std::min(n, len_ - pos_);
        if (take) std::memcpy(dst, data_ + pos_, take);
        pos_ += take;
        return take;
    }

private:
    const uint8_t *data_;
    size_t len_;
    size_t pos_ = 0;
};

// Hands back bytes already read for sniffing before reading on.
class PrefixedSource : public ByteSource {
public:
    PrefixedSource(std::vector<uint8_t> prefix, std::unique_ptr<ByteSource> rest)
        : prefix_(std::move(prefix)), rest_(std::move(rest)) {}
    size_t read(uint8_t *dst, size_t n) override {
        size_t got = 0;
        if (pos_ < prefix_.size()) {
            got = std::min(n, prefix_.size() - pos_);
            std::memcpy(dst, prefix_.data() + pos_, got);
            pos_ += got;
        }
        if (got < n) got += rest_->read(dst + got, n - got);
        return got;
    }

private:
    std::vector<uint8_t> prefix_;
    size_t pos_ = 0;
    std::unique_ptr<ByteSource> rest_;
};

class PlainText : public TextSource {
public:
    explicit PlainText(std::unique_ptr<ByteSource> bytes) : bytes_(std::move(bytes)) {}
    size_t read(uint8_t *dst, size_t n) override { return bytes_->read(dst, n); }
    Compression compression() const override { return Compression::none; }

private:
    std::unique_ptr<ByteSource> bytes_;
};

#ifdef BIOENG_HAVE_ZLIB
// Streaming inflate of one or more concatenated gzip members (BGZF is such
// a concatenation too). Memory stays at one input block and zlib's window.
class ZlibText : public TextSource {
public:
    ZlibText(std::unique_ptr<ByteSource> bytes, std::string label, Compression kind)
        : bytes_(std::move(bytes)), label_(std::move(label)), kind_(kind),
          in_(COMPRESSED_READ) {
        std::memset(&zs_, 0, sizeof zs_);
        int rc = inflateInit2(&zs_, 15 + 16); // gzip wrapper only
        if (rc == Z_MEM_ERROR) throw std::bad_alloc();
        if (rc != Z_OK) throw InputError(label_ + ": cannot start gzip decompression");
    }
    ~ZlibText() override { inflateEnd(&zs_); }

    size_t read(uint8_t *dst, size_t n) override {
        zs_.next_out = dst;
        zs_.avail_out = unsigned(std::min<size_t>(n, 1u << 30));
        const size_t want = zs_.avail_out;
        while (zs_.avail_out > 0) {
            if (zs_.avail_in == 0 && !in_eof_) refill();
            if (between_members_) {
                if (zs_.avail_in == 0 || skip_zero_padding()) break; // clean end
                if (zs_.next_in[0] != GZIP_ID1)
                    throw InputError(label_ + ": unexpected data after the end of the gzip stream");
                between_members_ = false;
            }
            if (zs_.avail_in == 0) // input ended inside a member
                throw InputError(label_ + ": truncated gzip file (compressed data ends early)");
            int rc = inflate(&zs_, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                between_members_ = true;
                inflateReset(&zs_);
            } else if (rc == Z_MEM_ERROR) {
                throw std::bad_alloc();
            } else if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_STREAM_ERROR) {
                throw InputError(label_ + ": corrupt gzip data" +
                                 (zs_.msg ? std::string(" (") + zs_.msg + ")" : std::string()));
            }
            // Z_OK and Z_BUF_ERROR: progress or more input needed; loop.
        }
        return want - zs_.avail_out;
    }
    Compression compression() const override { return kind_; }

private:
    // Zero bytes after the last member (padding some writers add, which
    // gzip -dc accepts): true when only zeros are left, which are consumed.
    bool skip_zero_padding() {
        while (zs_.avail_in > 0 && zs_.next_in[0] == 0) {
            ++zs_.next_in;
            --zs_.avail_in;
            if (zs_.avail_in == 0 && !in_eof_) refill();
        }
        return zs_.avail_in == 0;
    }

    void refill() {
        size_t got = bytes_->read(in_.data(), in_.size());
        if (got == 0) in_eof_ = true;
        zs_.next_in = in_.data();
        zs_.avail_in = unsigned(got);
    }

    std::unique_ptr<ByteSource> bytes_;
    std::string label_;
    Compression kind_;
    std::vector<uint8_t> in_;
    z_stream zs_;
    bool in_eof_ = false;
    bool between_members_ = false;
};
#endif

#ifdef BIOENG_HAVE_LIBDEFLATE
// BGZF, block by block: every block is a complete gzip member of at most
// 64 KiB either way, so libdeflate's whole-buffer decompressor applies with
// bounded memory, and it checks each block's CRC and size.
class BgzfText : public TextSource {
public:
    BgzfText(std::unique_ptr<ByteSource> bytes, std::string label)
        : bytes_(std::move(bytes)), label_(std::move(label)), block_(BGZF_MAX_BLOCK),
          out_(BGZF_MAX_BLOCK) {
        dec_ = libdeflate_alloc_decompressor();
        if (!dec_) throw std::bad_alloc();
    }
    ~BgzfText() override { libdeflate_free_decompressor(dec_); }

    size_t read(uint8_t *dst, size_t n) override {
        size_t got = 0;
        while (got < n) {
            if (tail_) return got + tail_->read(dst + got, n - got);
            if (out_pos_ == out_len_ && !next_block()) break;
            size_t take = std::min(n - got, out_len_ - out_pos_);
            std::memcpy(dst + got, out_.data() + out_pos_, take);
            out_pos_ += take;
            got += take;
        }
        return got;
    }
    Compression compression() const override { return Compression::bgzf; }

private:
    [[noreturn]] void truncated() const {
        throw InputError(label_ + ": truncated BGZF file (block at byte " +
                         std::to_string(offset_) + " is incomplete)");
    }
    [[noreturn]] void corrupt(const std::string &what) const {
        throw InputError(label_ + ": corrupt BGZF data (" + what + " at byte " +
                         std::to_string(offset_) + ")");
    }

    // The end of the input: only after the end-of-file block (an empty
    // block), optionally followed by zero padding. Without that block the
    // file was cut at a block boundary.
    bool end_of_input(size_t have) {
        if (have > 0 && !only_zeros_follow(have)) corrupt("unexpected data after the blocks");
        if (!saw_eof_block_)
            throw InputError(label_ + ": truncated BGZF file (no end-of-file block after byte " +
                             std::to_string(offset_) + ")");
        return false;
    }

    // True when the `have` bytes in block_ and everything after them are zero.
    bool only_zeros_follow(size_t have) {
        for (;;) {
            for (size_t i = 0; i < have; ++i)
                if (block_[i] != 0) return false;
            have = bytes_->read(block_.data(), block_.size());
            if (have == 0) return true;
        }
    }

    // A gzip member that is not a BGZF block (no BC extra field): it and
    // everything after it are read as ordinary multi-member gzip, as
    // gzip -dc does.
    void hand_over_to_gzip(size_t header_bytes) {
#ifdef BIOENG_HAVE_ZLIB
        std::vector<uint8_t> head(block_.begin(), block_.begin() + long(header_bytes));
        auto rest = std::make_unique<PrefixedSource>(std::move(head), std::move(bytes_));
        tail_ = std::make_unique<ZlibText>(std::move(rest), label_, Compression::bgzf);
#else
        (void)header_bytes;
        corrupt("a gzip member without a BC field, which needs zlib");
#endif
    }

    // Decompresses the next block into out_; false at a clean end or after
    // handing the rest over to gzip decompression.
    bool next_block() {
        for (;;) {
            size_t head = bytes_->read(block_.data(), GZIP_FIXED_HEADER);
            if (head == 0 || block_[0] == 0) return end_of_input(head);
            if (head < GZIP_FIXED_HEADER) truncated();
            if (block_[0] != GZIP_ID1 || block_[1] != GZIP_ID2 || block_[2] != GZIP_CM_DEFLATE)
                corrupt("no block header");
            if (!(block_[3] & GZIP_FLG_FEXTRA)) {
                hand_over_to_gzip(head);
                return false;
            }
            size_t xlen = le16(&block_[10]);
            if (xlen > BGZF_MAX_BLOCK - GZIP_FIXED_HEADER - GZIP_TRAILER)
                corrupt("extra field of " + std::to_string(xlen) + " bytes");
            if (bytes_->read(block_.data() + GZIP_FIXED_HEADER, xlen) < xlen) truncated();
            size_t bsize = block_size(xlen);
            if (bsize == 0) {
                hand_over_to_gzip(GZIP_FIXED_HEADER + xlen);
                return false;
            }
            if (bsize < GZIP_FIXED_HEADER + xlen + GZIP_TRAILER) corrupt("block size");
            size_t rest = bsize - GZIP_FIXED_HEADER - xlen;
            if (bytes_->read(block_.data() + GZIP_FIXED_HEADER + xlen, rest) < rest) truncated();
            size_t produced = 0;
            auto rc = libdeflate_gzip_decompress(dec_, block_.data(), bsize, out_.data(),
                                                 out_.size(), &produced);
            if (rc != LIBDEFLATE_SUCCESS) corrupt("a block that does not decompress");
            offset_ += bsize;
            out_pos_ = 0;
            out_len_ = produced;
            saw_eof_block_ = produced == 0;
            if (produced) return true; // an empty block (the end marker) gives nothing
        }
    }

    // BSIZE + 1 from the "BC" extra subfield; 0 when there is none. Reads
    // only within the xlen bytes of the extra field.
    size_t block_size(size_t xlen) const {
        const uint8_t *x = block_.data() + GZIP_FIXED_HEADER;
        for (size_t i = 0; i + 4 <= xlen;) {
            size_t slen = le16(x + i + 2);
            if (x[i] == 'B' && x[i + 1] == 'C' && slen == 2 && i + 6 <= xlen)
                return size_t(le16(x + i + 4)) + 1;
            i += 4 + slen;
        }
        return 0;
    }

    std::unique_ptr<ByteSource> bytes_;
    std::string label_;
    std::vector<uint8_t> block_;
    std::vector<uint8_t> out_;
    size_t out_pos_ = 0;
    size_t out_len_ = 0;
    uint64_t offset_ = 0;
    bool saw_eof_block_ = false;
    std::unique_ptr<TextSource> tail_; // the rest, once an ordinary gzip member follows
    libdeflate_decompressor *dec_ = nullptr;
};
#endif

// Recognisable formats we do not read, for a better message than "not FASTA".
const char *unsupported_compression(const uint8_t *p, size_t n) {
    if (n >= 3 && p[0] == 'B' && p[1] == 'Z' && p[2] == 'h') return "bzip2";
    if (n >= 6 && p[0] == 0xfd && p[1] == '7' && p[2] == 'z' && p[3] == 'X' && p[4] == 'Z')
        return "xz";
    if (n >= 4 && p[0] == 0x28 && p[1] == 0xb5 && p[2] == 0x2f && p[3] == 0xfd) return "zstd";
    return nullptr;
}

std::string describe_byte(unsigned char c) {
    char buf[32];
    if (c >= 0x21 && c < 0x7f)
        std::snprintf(buf, sizeof buf, "'%c'", c);
    else
        std::snprintf(buf, sizeof buf, "byte 0x%02x", c);
    return buf;
}

bool is_blank(char c) { return c == '\n' || c == '\r' || c == ' '; }

bool only_blank(const char *p, const char *end) {
    for (; p < end; ++p)
        if (!is_blank(*p)) return false;
    return true;
}

// Length of a line [p, end) without a carriage return before its end.
size_t line_length(const char *p, const char *end) {
    size_t n = size_t(end - p);
    if (n && p[n - 1] == '\r') --n;
    return n;
}

} // namespace

Compression sniff_compression(const uint8_t *p, size_t n) {
    if (n < 4 || p[0] != GZIP_ID1 || p[1] != GZIP_ID2 || p[2] != GZIP_CM_DEFLATE)
        return Compression::none;
    if (!(p[3] & GZIP_FLG_FEXTRA) || n < GZIP_FIXED_HEADER) return Compression::gzip;
    size_t xlen = le16(p + 10);
    const uint8_t *x = p + GZIP_FIXED_HEADER;
    size_t avail = std::min(xlen, n - GZIP_FIXED_HEADER);
    for (size_t i = 0; i + 4 <= avail;) {
        size_t slen = le16(x + i + 2);
        if (x[i] == 'B' && x[i + 1] == 'C' && slen == 2) return Compression::bgzf;
        i += 4 + slen;
    }
    return Compression::gzip;
}

const char *compression_name(Compression c) {
    switch (c) {
    case Compression::gzip: return "gzip";
    case Compression::bgzf: return "bgzf";
    default: return "plain";
    }
}

std::unique_ptr<ByteSource> open_file_source(const std::string &path) {
    if (path == "-") return std::make_unique<FileSource>(0, "standard input", false);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw InputError(path + ": cannot open: " + errno_text(errno));
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw InputError(path + ": is a directory, not a FASTA/FASTQ file");
    }
    return std::make_unique<FileSource>(fd, path, true);
}

std::unique_ptr<ByteSource> memory_source(const uint8_t *data, size_t len) {
    return std::make_unique<MemorySource>(data, len);
}

std::unique_ptr<TextSource> open_text_source(std::unique_ptr<ByteSource> bytes,
                                             const std::string &label) {
    std::vector<uint8_t> head(SNIFF_BYTES);
    head.resize(bytes->read(head.data(), head.size()));
    Compression kind = sniff_compression(head.data(), head.size());
    if (const char *other = unsupported_compression(head.data(), head.size()))
        throw InputError(label + ": " + other + "-compressed input is not supported (use gzip)");
    auto all = std::make_unique<PrefixedSource>(std::move(head), std::move(bytes));
    if (kind == Compression::none) return std::make_unique<PlainText>(std::move(all));
#ifdef BIOENG_HAVE_LIBDEFLATE
    if (kind == Compression::bgzf) return std::make_unique<BgzfText>(std::move(all), label);
#endif
#ifdef BIOENG_HAVE_ZLIB
    return std::make_unique<ZlibText>(std::move(all), label, kind);
#else
    throw InputError(label + ": gzip input needs zlib, which this build lacks");
#endif
}

// ------------------------------------------------------------ RecordReader

RecordReader::RecordReader(std::unique_ptr<TextSource> text, std::string label, ReaderOptions opt)
    : text_(std::move(text)), label_(std::move(label)), opt_(opt) {
    buf_.reserve_discard(std::max<size_t>(opt_.chunk_bytes, 1024));
}

void RecordReader::fail(const std::string &what) const { throw InputError(label_ + ": " + what); }

// Reads until the buffer is full or the input ends; false when nothing new.
bool RecordReader::fill_more() {
    size_t before = len_;
    while (!eof_ && len_ < buf_.capacity()) {
        size_t got = text_->read(reinterpret_cast<uint8_t *>(buf_.data()) + len_,
                                 buf_.capacity() - len_);
        if (got == 0) eof_ = true;
        len_ += got;
    }
    return len_ > before;
}

void RecordReader::detect_format() {
    size_t skip = 0;
    while (skip < len_ && is_blank(buf_.data()[skip])) ++skip;
    if (skip == len_) {
        if (eof_) fail("empty file (no FASTA/FASTQ records)");
        len_ = 0; // only white space so far: keep reading
        return;
    }
    char c = buf_.data()[skip];
    if (c == '>')
        format_ = BIO_FMT_FASTA;
    else if (c == '@')
        format_ = BIO_FMT_FASTQ;
    else
        fail("not FASTA or FASTQ (the first character is " + describe_byte(uint8_t(c)) +
             ", expected '>' or '@')");
    for (size_t i = 0; i < skip; ++i)
        if (buf_.data()[i] == '\n') ++line_;
    std::memmove(buf_.data(), buf_.data() + skip, len_ - skip);
    len_ -= skip;
    started_ = true;
}

// FASTA: everything up to the last line that starts with '>' (that record
// may continue in bytes not read yet), or all of it at the end.
size_t RecordReader::fasta_prefix(bool at_end) const {
    if (at_end) return len_;
    const char *b = buf_.data();
    for (size_t end = len_; end > 1;) {
        const void *hit = memrchr(b + 1, '>', end - 1);
        if (!hit) break;
        size_t pos = size_t(static_cast<const char *>(hit) - b);
        if (b[pos - 1] == '\n') return pos;
        end = pos;
    }
    return 0;
}

// FASTQ: whole four-line records, checked as they go; the check is what
// turns a truncated or mis-framed file into a message with a line number.
size_t RecordReader::fastq_prefix(bool at_end) {
    const char *b = buf_.data();
    const size_t end = len_;
    size_t pos = 0;
    int32_t n = 0;
    uint64_t line = line_;
    empty_.clear();
    while (pos < end) {
        if (at_end && only_blank(b + pos, b + end)) break; // blank lines after the last record
        const char *start[4];
        const char *stop[4];
        size_t p = pos;
        for (int i = 0; i < 4; ++i) {
            start[i] = b + p;
            const void *nl = p < end ? std::memchr(b + p, '\n', end - p) : nullptr;
            if (nl) {
                stop[i] = static_cast<const char *>(nl);
                p = size_t(stop[i] - b) + 1;
            } else if (!at_end) {
                fastq_records_ = n;
                return pos; // record continues in bytes not read yet
            } else if (i == 3 && (p < end || line_length(start[1], stop[1]) == 0)) {
                // The last quality line, without a line feed (or empty, for
                // an empty sequence, when the text ends after the separator).
                stop[i] = b + end;
                while (stop[i] > start[i] && is_blank(stop[i][-1])) --stop[i];
                p = end;
            } else {
                fail("truncated FASTQ record starting at line " + std::to_string(line) +
                     " (it has " + std::to_string(i) + " of 4 lines)");
            }
        }
        if (*start[0] != '@')
            fail("malformed FASTQ: line " + std::to_string(line) +
                 " should start a record with '@' but starts with " +
                 describe_byte(uint8_t(*start[0])));
        if (start[2] == stop[2] || *start[2] != '+')
            fail("malformed FASTQ: line " + std::to_string(line + 2) +
                 " should be the '+' separator");
        size_t seq_len = line_length(start[1], stop[1]);
        size_t qual_len = line_length(start[3], stop[3]);
        if (seq_len != qual_len)
            fail("malformed FASTQ: record at line " + std::to_string(line) + " has " +
                 std::to_string(seq_len) + " bases but " + std::to_string(qual_len) +
                 " quality values" + (qual_len < seq_len && p == end ? " (truncated?)" : ""));
        if (seq_len == 0 && opt_.keep_empty)
            empty_.push_back({n, std::string_view(start[0] + 1,
                                                  line_length(start[0] + 1, stop[0]))});
        pos = p;
        line += 4;
        ++n;
    }
    fastq_records_ = n;
    return pos;
}

size_t RecordReader::complete_prefix(bool at_end) {
    return format_ == BIO_FMT_FASTA ? fasta_prefix(at_end) : fastq_prefix(at_end);
}

void RecordReader::parse(size_t len, RecordBatch &batch) {
    const char *text = buf_.data();
    if (const void *nul = std::memchr(text, 0, len))
        fail("binary data (a NUL byte at text offset " +
             std::to_string(consumed_ + size_t(static_cast<const char *>(nul) - text)) +
             "), not FASTA/FASTQ text");
    size_t records;
    if (format_ == BIO_FMT_FASTQ) {
        records = size_t(fastq_records_);
    } else {
        records = 1;
        for (const char *p = text + 1, *end = text + len;
             (p = static_cast<const char *>(std::memchr(p, '>', size_t(end - p)))); ++p)
            if (p[-1] == '\n') ++records;
    }
    // Every header, sequence and quality string is shorter than its line.
    batch.names.reserve_discard(len + records + 1);
    batch.name_offs.reserve_discard(records + 1);
    batch.packed.reserve_discard(len * 5 / 8 + records + 16);
    batch.packed_offs.reserve_discard(records + 1);
    batch.seq_lens.reserve_discard(records);
    batch.is_protein.reserve_discard(records);
    bool fastq = format_ == BIO_FMT_FASTQ;
    if (fastq) {
        batch.quals.reserve_discard(len + 1);
        batch.qual_offs.reserve_discard(records + 1);
    }
    int32_t n = bio_parse_mem_parallel(
        text, int64_t(len), format_, opt_.threads, opt_.protein, batch.names.data(),
        int32_t(batch.names.capacity()), batch.name_offs.data(), batch.packed.data(),
        int64_t(batch.packed.capacity()), batch.packed_offs.data(), batch.seq_lens.data(),
        batch.is_protein.data(), fastq ? batch.quals.data() : nullptr,
        fastq ? int64_t(batch.quals.capacity()) : 0, fastq ? batch.qual_offs.data() : nullptr,
        int32_t(records));
    if (n == -1) throw std::bad_alloc();
    if (n < 0) fail("internal error: parser output buffers too small");
    batch.count = n;
    batch.format = format_;
    if (opt_.keep_empty) {
        if (!fastq) find_empty_fasta(len);
        if (!empty_.empty()) restore_empty(batch, n, records);
    }
}

// FASTA records of the first `len` bytes whose sequence lines are all empty
// once their line ends are dropped (the parser's rule for a dropped record).
void RecordReader::find_empty_fasta(size_t len) {
    empty_.clear();
    const char *text = buf_.data();
    const char *end = text + len;
    int32_t index = 0;
    for (const char *rec = text; rec < end; ++index) {
        const char *nl = static_cast<const char *>(std::memchr(rec, '\n', size_t(end - rec)));
        const char *header_end = nl ? nl : end;
        const char *p = nl ? nl + 1 : end;
        bool empty = true;
        while (p < end && *p != '>') {
            const char *stop = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
            if (!stop) stop = end;
            if (line_length(p, stop) > 0) empty = false;
            p = stop < end ? stop + 1 : end;
        }
        if (empty) empty_.push_back({index, std::string_view(rec + 1, line_length(rec + 1, header_end))});
        rec = p;
    }
}

// Puts the records the parser dropped for their empty sequence back at
// their places, with a length of 0 and no bases or qualities. When the
// count does not add up to the records of the chunk, the batch is left as
// the parser made it.
void RecordReader::restore_empty(RecordBatch &batch, int32_t parsed, size_t expected) {
    size_t total = size_t(parsed) + empty_.size();
    if (total != expected) {
        empty_.clear();
        return;
    }
    std::vector<int32_t> name_offs(batch.name_offs.data(), batch.name_offs.data() + parsed + 1);
    std::vector<int32_t> packed_offs(batch.packed_offs.data(),
                                     batch.packed_offs.data() + parsed + 1);
    std::vector<int32_t> lens(batch.seq_lens.data(), batch.seq_lens.data() + parsed);
    std::vector<int32_t> protein(batch.is_protein.data(), batch.is_protein.data() + parsed);
    std::vector<char> names(batch.names.data(), batch.names.data() + name_offs[size_t(parsed)]);
    std::vector<int32_t> qual_offs;
    bool quals = batch.has_quals();
    if (quals) qual_offs.assign(batch.qual_offs.data(), batch.qual_offs.data() + parsed + 1);

    size_t names_len = names.size();
    for (const EmptyRecord &e : empty_) names_len += e.header.size() + 1;
    batch.names.reserve_discard(names_len + 1);
    char *out_names = batch.names.data();
    int32_t name_at = 0, from = 0;
    size_t next_empty = 0;
    for (size_t i = 0; i < total; ++i) {
        batch.name_offs.data()[i] = name_at;
        bool empty = next_empty < empty_.size() && size_t(empty_[next_empty].index) == i;
        if (empty) {
            std::string_view h = empty_[next_empty++].header;
            std::memcpy(out_names + name_at, h.data(), h.size());
            out_names[name_at + int32_t(h.size())] = 0;
            name_at += int32_t(h.size()) + 1;
            batch.packed_offs.data()[i] = packed_offs[size_t(from)];
            batch.seq_lens.data()[i] = 0;
            batch.is_protein.data()[i] = opt_.protein > 0 ? 1 : 0;
            if (quals) batch.qual_offs.data()[i] = qual_offs[size_t(from)];
            continue;
        }
        size_t f = size_t(from++);
        int32_t name_len = name_offs[f + 1] - name_offs[f];
        std::memcpy(out_names + name_at, names.data() + name_offs[f], size_t(name_len));
        name_at += name_len;
        batch.packed_offs.data()[i] = packed_offs[f];
        batch.seq_lens.data()[i] = lens[f];
        batch.is_protein.data()[i] = protein[f];
        if (quals) batch.qual_offs.data()[i] = qual_offs[f];
    }
    batch.name_offs.data()[total] = name_at;
    batch.packed_offs.data()[total] = packed_offs[size_t(parsed)];
    if (quals) batch.qual_offs.data()[total] = qual_offs[size_t(parsed)];
    batch.count = int32_t(total);
}

bool RecordReader::next(RecordBatch &batch) {
    for (;;) {
        fill_more();
        if (!started_) {
            detect_format();
            if (!started_) continue;
        }
        if (len_ == 0 && eof_) return at_end();
        size_t cut = complete_prefix(eof_);
        if (cut == 0) {
            if (eof_) return at_end(); // only trailing white space was left
            if (buf_.capacity() >= MAX_CHUNK) fail("a record is larger than 1 GiB");
            buf_.reserve_keep(buf_.capacity() * 2, len_); // one record outgrew the chunk
            continue;
        }
        parse(cut, batch);
        if (format_ == BIO_FMT_FASTQ) line_ += 4 * uint64_t(fastq_records_);
        std::memmove(buf_.data(), buf_.data() + cut, len_ - cut);
        len_ -= cut;
        consumed_ += cut;
        if (batch.count > 0) {
            delivered_ += uint64_t(batch.count) - empty_in(batch);
            return true;
        }
    }
}

// Records of the batch restored with an empty sequence.
uint64_t RecordReader::empty_in(const RecordBatch &batch) const {
    return batch.count > 0 && opt_.keep_empty ? uint64_t(empty_.size()) : 0;
}

bool RecordReader::at_end() const {
    if (delivered_ == 0) fail("no sequence records (every record is empty)");
    return false;
}

RecordReader open_records(const std::string &path, const ReaderOptions &opt) {
    std::string label = path == "-" ? std::string("standard input") : path;
    auto text = open_text_source(open_file_source(path), label);
    return RecordReader(std::move(text), label, opt);
}

} // namespace bioeng
