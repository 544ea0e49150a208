// This build carries no compression support: the entry points exist so that
// hosts can ask, and answer with fixed values without touching memory.
#include "core/export.h"
#include "engine.h"

ENGINE_EXPORT int64_t bio_has_libdeflate(void) { return 0; }
ENGINE_EXPORT int64_t bio_gzip_decompress(const uint8_t *, int64_t, uint8_t *, int64_t) {
    return -1;
}
ENGINE_EXPORT int64_t bio_is_bgzf(const uint8_t *, int64_t) { return 0; }
ENGINE_EXPORT int64_t bio_bgzf_usize(const uint8_t *, int64_t) { return -1; }
ENGINE_EXPORT int64_t bio_bgzf_decompress_parallel(const uint8_t *, int64_t, uint8_t *, int64_t,
                                                   int32_t) {
    return -1;
}
ENGINE_EXPORT int64_t bio_bgzf_compress(const uint8_t *, int64_t, uint8_t *, int64_t, int32_t) {
    return -1;
}
