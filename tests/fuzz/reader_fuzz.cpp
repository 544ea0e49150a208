// Feeds arbitrary bytes to the streaming and batch readers. The first four
// bytes choose capacities and the alphabet; the rest is the file.
//  1. Single reads with small capacities must come to an end and never
//     write beyond what they were given.
//  2. Single reads with room for every record and batch reads with room for
//     every batch must deliver the same records.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine.h"
#include "seqio/pack5.h"

namespace {

struct Record {
    std::string name;
    std::vector<std::uint8_t> seq, qual;
    std::int32_t is_protein;
};

void check(bool ok) {
    if (!ok) std::abort();
}

// The text as a file that fopen can open, without touching the disk.
class MemFile {
public:
    MemFile(const std::uint8_t *data, std::size_t size) {
        fd_ = memfd_create("reader_fuzz", 0);
        check(fd_ >= 0);
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = write(fd_, data + done, size - done);
            check(n > 0);
            done += std::size_t(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemFile() { close(fd_); }
    const char *path() const { return path_.c_str(); }

private:
    int fd_;
    std::string path_;
};

void read_with_small_capacities(const char *path, int seq_cap, int name_cap, int protein) {
    bio_parser_t *reader = bio_parser_open(path);
    if (!reader) return;
    const std::size_t guard = 32;
    std::vector<std::uint8_t> seq(std::size_t(seq_cap) + guard, 0xEE), qual(seq.size(), 0xEE);
    std::vector<char> name(std::size_t(name_cap > 0 ? name_cap : 0) + guard, char(0xEE));
    for (int ends = 0, calls = 0; ends < 2; ++calls) {
        check(calls < 1000000);
        std::int32_t len = -1, flag = -1, qlen = -1;
        const int r = bio_parser_next(reader, name.data(), name_cap, seq.data(), seq_cap, &len,
                                      protein, &flag, qual.data(), &qlen);
        check(r == 1 || r == 0 || r == -2);
        check(len >= 0 && len <= seq_cap && qlen >= 0 && qlen <= seq_cap);
        ends += r == 0;
    }
    for (std::size_t i = 0; i < guard; ++i) {
        check(seq[std::size_t(seq_cap) + i] == 0xEE && qual[std::size_t(seq_cap) + i] == 0xEE);
        check(name[name.size() - guard + i] == char(0xEE));
    }
    bio_parser_close(reader);
}

std::vector<Record> read_singly(const char *path, std::size_t text_size, int protein) {
    std::vector<Record> out;
    bio_parser_t *reader = bio_parser_open(path);
    if (!reader) return out;
    const auto cap = std::int32_t(text_size + 1);
    std::vector<std::uint8_t> seq(static_cast<std::size_t>(cap)), qual(static_cast<std::size_t>(cap));
    char name[4096];
    for (;;) {
        std::int32_t len = 0, flag = 0, qlen = 0;
        const int r = bio_parser_next(reader, name, sizeof name, seq.data(), cap, &len, protein,
                                      &flag, qual.data(), &qlen);
        check(r == 1 || r == 0);
        if (r == 0) break;
        out.push_back({std::string(name, strnlen(name, sizeof name)),
                       std::vector<std::uint8_t>(seq.begin(), seq.begin() + len),
                       std::vector<std::uint8_t>(qual.begin(), qual.begin() + qlen), flag});
    }
    bio_parser_close(reader);
    return out;
}

std::vector<Record> read_in_batches(const char *path, std::size_t text_size, int protein,
                                    int max_records) {
    std::vector<Record> out;
    bio_parser_t *reader = bio_parser_open(path);
    if (!reader) return out;
    const auto names_cap = std::int32_t(2 * text_size + 8192);
    const auto packed_cap = std::int32_t(text_size + 16), quals_cap = std::int32_t(text_size + 1);
    std::vector<char> names(static_cast<std::size_t>(names_cap));
    std::vector<std::uint8_t> packed(static_cast<std::size_t>(packed_cap)),
        quals(static_cast<std::size_t>(quals_cap));
    const auto n = std::size_t(max_records);
    std::vector<std::int32_t> name_offs(n + 1), packed_offs(n + 1), qual_offs(n + 1), lens(n), flags(n);
    for (;;) {
        const int r = bio_parser_next_batch(reader, max_records, protein, names.data(), names_cap,
                                            name_offs.data(), packed.data(), packed_cap,
                                            packed_offs.data(), lens.data(), flags.data(),
                                            quals.data(), quals_cap, qual_offs.data());
        check(r >= 0 && r <= max_records);
        if (r == 0) break;
        for (std::size_t k = 0; k < std::size_t(r); ++k) {
            Record rec;
            rec.name = names.data() + name_offs[k];
            check(name_offs[k + 1] == name_offs[k] + std::int32_t(rec.name.size()) + 1);
            check(packed_offs[k + 1] - packed_offs[k] == engine::packed_bytes(lens[k]));
            rec.seq.resize(std::size_t(lens[k]));
            bio_unpack5(packed.data() + packed_offs[k], lens[k], rec.seq.data());
            rec.qual.assign(quals.begin() + qual_offs[k], quals.begin() + qual_offs[k + 1]);
            rec.is_protein = flags[k];
            out.push_back(std::move(rec));
        }
        check(packed[std::size_t(packed_offs[std::size_t(r)])] == 0);
    }
    bio_parser_close(reader);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 4) return 0;
    const int seq_cap = data[0] % 48;
    const int name_cap = int(data[1] % 24) - 4;
    const int protein = int(data[2] % 4) - 1;
    const int max_records = 1 + data[3] % 8;
    const MemFile file(data + 4, size - 4);
    read_with_small_capacities(file.path(), seq_cap, name_cap, protein);
    const auto singly = read_singly(file.path(), size, protein);
    const auto batched = read_in_batches(file.path(), size, protein, max_records);
    check(singly.size() == batched.size());
    for (std::size_t i = 0; i < singly.size(); ++i) {
        check(singly[i].name == batched[i].name && singly[i].seq == batched[i].seq);
        check(singly[i].qual == batched[i].qual && singly[i].is_protein == batched[i].is_protein);
    }
    return 0;
}
