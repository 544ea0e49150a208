#include "reference.h"

#include "engine.h"

namespace bioeng {

RefTable load_reference(const std::string &path, const ReaderOptions &opt) {
    RefTable refs;
    RecordReader reader = open_records(path, opt);
    RecordBatch batch;
    while (reader.next(batch)) {
        for (int32_t i = 0; i < batch.count; ++i) {
            if (!refs.codes.empty()) refs.codes.push_back(REF_SEPARATOR);
            int64_t start = int64_t(refs.codes.size());
            int32_t len = batch.length(i);
            refs.codes.resize(refs.codes.size() + size_t(len));
            bio_unpack5(batch.packed_seq(i), len, refs.codes.data() + start);
            refs.names.emplace_back(record_name(batch.name(i)));
            refs.offsets.push_back(start);
            refs.lengths.push_back(len);
        }
    }
    if (refs.names.size() > size_t(INT32_MAX)) throw InputError(path + ": too many sequences");
    return refs;
}

void pack_reference(RefTable &refs) {
    refs.packed = PackedReference(refs.codes.data(), int64_t(refs.codes.size()));
    // clear() would keep the capacity: only a swap hands the block back.
    std::vector<uint8_t>().swap(refs.codes);
}

} // namespace bioeng
