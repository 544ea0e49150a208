// Mapping of reads batch by batch against a reference, and the text records
// (PAF or SAM) of the result.
#pragma once

#include "format.h"
#include "input.h"

#include "engine.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace bioeng {

struct MapSettings {
    int32_t k = 15;
    int32_t w = 10;
    int32_t max_occ = 500;
    int32_t max_hits = 5;
    double min_score = 40;
    int32_t threads = 0; // mapping threads; 0 lets the library use every processor
    bool sam = false;
    bool raw_hits = false;        // print the library's hits unchanged
    bool cs = false;              // PAF cs tag
    bool md = false;              // SAM MD tag
    bool secondaries = true;
    double secondary_ratio = 0.8; // least chain score of a secondary, relative to the primary's
    std::string read_group_id; // SAM records get RG:Z:<id> when set
    bool paf_beside_sam = false; // with sam, format every batch as PAF too
};

// What a run has mapped so far; a PAF line is a primary, secondary or
// supplementary record.
struct MapCounts {
    uint64_t reads = 0;
    uint64_t bases = 0;
    uint64_t mapped_reads = 0;
    uint64_t mapped_bases = 0;
    uint64_t primary = 0;
    uint64_t secondary = 0;
    uint64_t supplementary = 0;

    // A read of `len` bases with its records of each kind (a read without
    // a primary record is unmapped).
    void add_read(int32_t len, uint64_t n_primary, uint64_t n_secondary, uint64_t n_supplementary);
    void add(const MapCounts &other);
};

struct IndexDeleter {
    void operator()(bio_index_t *idx) const { bio_index_free(idx); }
};
using IndexPtr = std::unique_ptr<bio_index_t, IndexDeleter>;

// Builds the minimizer index of a loaded reference, from refs.codes (so
// before pack_reference). Throws InputError (naming `label`) when the
// library cannot reserve its memory.
IndexPtr build_index(const RefTable &refs, const MapSettings &s, const std::string &label);

// The records of one read: every hit the library reported for it, in its
// order (the first is the primary), formatted as PAF lines, or as SAM
// records with an unmapped record for a read without hits. This is the one
// place where a read's library hits become output records.
void emit_read_records(std::string &out, const ReadView &read, const bio_map_hit_t *hits,
                       int32_t n_hits, const char *cigar, const RefTable &refs, bool sam);

// Working memory of emit_alignment_records, reused from read to read.
struct RecordScratch {
    std::vector<uint8_t> oread[2]; // the read in its two orientations
    std::vector<uint8_t> ref_span; // the reference an alignment covers
};

// The records of one read from its re-aligned hits (realign.h): PAF lines,
// or SAM records with an unmapped record when there is none.
void emit_alignment_records(std::string &out, const ReadView &read, const std::vector<Alignment> &alns,
                            const RefTable &refs, const MapSettings &s, bool sam, RecordScratch &scratch);

// A read whose CIGAR did not fit its region in the batch, mapped again on
// its own with room for any CIGAR. Mapping is deterministic, so the hits are
// the same; only the CIGAR text is now complete.
struct Remapped {
    std::vector<bio_map_hit_t> hits;
    std::vector<char> cigar;
};

// Maps the reads of one parsed batch and formats the result; reads the
// reference from refs.packed (see pack_reference).
class BatchMapper {
public:
    BatchMapper(const bio_index_t *idx, const RefTable &refs, const MapSettings &s)
        : idx_(idx), refs_(refs), s_(s) {}

    // Appends the records of every read of `batch` to `out` and adds them
    // to the counts. Throws InputError (naming `label`) or std::bad_alloc.
    void map(const RecordBatch &batch, const std::string &label, std::string &out);
    // With paf_beside_sam: the PAF records of the batch map() last mapped.
    const std::string &paf_text() const { return paf_; }
    const MapCounts &counts() const { return counts_; }

private:
    void unpack(const RecordBatch &batch);
    void layout_cigar_regions(int32_t n, const std::string &label);
    void remap_cut_cigars(int32_t n);
    void remap(int32_t i);
    void format(const RecordBatch &batch, bool sam, std::string &out);
    void realign_and_format(const RecordBatch &batch, std::string &out);
    ReadView read_view(const RecordBatch &batch, int32_t i) const;
    void count_raw_hits(const RecordBatch &batch);
    bool paf_beside() const { return s_.sam && s_.paf_beside_sam; }

    const bio_index_t *idx_;
    const RefTable &refs_;
    const MapSettings &s_;
    RawBuffer<uint8_t> seqs_;
    RawBuffer<int64_t> seq_offs_;
    RawBuffer<int64_t> cigar_offs_;
    RawBuffer<char> cigar_;
    RawBuffer<bio_map_hit_t> hits_;
    RawBuffer<int32_t> n_hits_;
    std::vector<std::pair<int32_t, Remapped>> remapped_;
    RefMinimizers ref_mins_; // for the re-alignment, computed at its first batch
    bool ref_mins_ready_ = false;
    MapCounts counts_;
    std::string paf_;
};

} // namespace bioeng
