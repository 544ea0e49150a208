// Batch reading: as many records per call as fit into the caller's flat
// buffers (headers, five-bit packed sequences, qualities, offset arrays).
// Each record is parsed into scratch inside the handle; one that does not fit
// stays there, held back for the next call.

#include <cstring>

#include "core/export.h"
#include "core/memory.h"
#include "seqio/pack5.h"
#include "seqio/pack5_fast.h"
#include "seqio/reader.h"

namespace engine {
namespace {

// Reserves whatever scratch is still missing (an earlier call may have
// failed half-way); false when a reservation fails.
bool reserve_batch_scratch(bio_parser_t *r) {
    if (!r->batch_seq) r->batch_seq = static_cast<std::uint8_t *>(mem_alloc(BATCH_SEQ_MAX));
    if (!r->batch_seq) return false;
    if (!r->batch_qual) r->batch_qual = static_cast<std::uint8_t *>(mem_alloc(BATCH_SEQ_MAX));
    return r->batch_qual != nullptr;
}

// The record in the handle's scratch that the call is about to deliver.
struct ScratchRecord {
    std::int32_t name_len;
    std::int32_t seq_len;
    std::int32_t qual_len;
    std::int32_t is_protein;
};

// Puts the next record into the scratch: the held-back one if any, else a
// freshly parsed one. Returns 1, 0 at the end of input, or -2 for a sequence
// longer than the scratch (also when an earlier call stopped before one).
std::int32_t take_record(bio_parser_t *r, std::int32_t protein, bool with_quals,
                         ScratchRecord *rec) {
    if (r->pend_too_long) {
        r->pend_too_long = 0;
        return -2;
    }
    if (r->has_pending) {
        rec->seq_len = r->pend_seq_len;
        rec->qual_len = with_quals ? r->pend_qual_len : 0;
        rec->is_protein = r->pend_is_protein;
    } else {
        rec->seq_len = rec->qual_len = rec->is_protein = 0;
        const std::int32_t got = _parse_one(r, r->batch_name, BATCH_NAME_MAX, r->batch_seq,
                                            BATCH_SEQ_MAX, &rec->seq_len, protein,
                                            &rec->is_protein, with_quals ? r->batch_qual : nullptr,
                                            &rec->qual_len);
        if (got <= 0) return got;
    }
    rec->name_len = static_cast<std::int32_t>(std::strlen(r->batch_name));
    return 1;
}

void hold_back(bio_parser_t *r, const ScratchRecord &rec) {
    r->has_pending = 1;
    r->pend_seq_len = rec.seq_len;
    r->pend_qual_len = rec.qual_len;
    r->pend_is_protein = rec.is_protein;
}

// Running ends of the caller's three byte buffers.
struct BatchTotals {
    std::int64_t names = 0;
    std::int64_t packed = 0;
    std::int64_t quals = 0;
};

struct BatchOutput {
    char *names;
    std::int32_t names_cap;
    std::int32_t *name_offs;
    std::uint8_t *packed;
    std::int32_t packed_cap;
    std::int32_t *packed_offs;
    std::int32_t *seq_lens;
    std::int32_t *is_protein;
    std::uint8_t *quals;
    std::int32_t quals_cap;
    std::int32_t *qual_offs;
};

// Room for the header and its zero, the packed codes plus the packer's
// extra zero byte, and the qualities when they are delivered.
bool fits(const BatchOutput &out, const BatchTotals &used, const ScratchRecord &rec) {
    if (used.names + rec.name_len >= out.names_cap) return false;
    if (used.packed + packed_bytes(rec.seq_len) >= out.packed_cap) return false;
    return !out.quals || used.quals + rec.qual_len <= out.quals_cap;
}

void deliver(const bio_parser_t *r, const ScratchRecord &rec, std::int32_t k,
             const BatchOutput &out, BatchTotals *used) {
    std::memcpy(out.names + used->names, r->batch_name, static_cast<std::size_t>(rec.name_len) + 1);
    used->names += rec.name_len + 1;
    out.name_offs[k + 1] = static_cast<std::int32_t>(used->names);
    pack5_fast(r->batch_seq, static_cast<std::size_t>(rec.seq_len), out.packed + used->packed);
    used->packed += packed_bytes(rec.seq_len);
    out.packed_offs[k + 1] = static_cast<std::int32_t>(used->packed);
    out.seq_lens[k] = rec.seq_len;
    out.is_protein[k] = rec.is_protein;
    if (out.quals) {
        std::memcpy(out.quals + used->quals, r->batch_qual, static_cast<std::size_t>(rec.qual_len));
        used->quals += rec.qual_len;
        out.qual_offs[k + 1] = static_cast<std::int32_t>(used->quals);
    }
}

std::int32_t fill_batch(bio_parser_t *r, std::int32_t max_records, std::int32_t protein,
                        const BatchOutput &out) {
    BatchTotals used;
    for (std::int32_t k = 0;; ++k) {
        ScratchRecord rec;
        const std::int32_t got = take_record(r, protein, out.quals != nullptr, &rec);
        if (got == 0) return k;
        if (got < 0) {
            if (k == 0) return -2;
            r->pend_too_long = 1;  // report it on the next call, after these k records
            return k;
        }
        if (!fits(out, used, rec)) {
            hold_back(r, rec);
            return k == 0 ? -2 : k;
        }
        r->has_pending = 0;
        deliver(r, rec, k, out, &used);
        if (k + 1 == max_records) return k + 1;
    }
}

}  // namespace
}  // namespace engine

ENGINE_EXPORT std::int32_t bio_parser_next_batch(
    bio_parser_t *reader, std::int32_t max_records, std::int32_t protein, char *names,
    std::int32_t names_cap, std::int32_t *name_offs, std::uint8_t *packed, std::int32_t packed_cap,
    std::int32_t *packed_offs, std::int32_t *seq_lens, std::int32_t *is_protein,
    std::uint8_t *quals, std::int32_t quals_cap, std::int32_t *qual_offs) {
    if (!reader) return -1;
    if (!engine::reserve_batch_scratch(reader)) return -1;
    name_offs[0] = 0;
    packed_offs[0] = 0;
    if (qual_offs) qual_offs[0] = 0;
    if (max_records <= 0) return 0;
    const engine::BatchOutput out{names,    names_cap,  name_offs,  packed, packed_cap, packed_offs,
                                  seq_lens, is_protein, quals,      quals_cap, qual_offs};
    return engine::fill_batch(reader, max_records, protein, out);
}
