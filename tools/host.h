// The host layer's handles as owners that throw: a failed call becomes a
// CommandError carrying the layer's message (which names the file).
#pragma once

#include "output.h"

#include "bioeng_host.h"

#include <new>
#include <string>
#include <string_view>

namespace bioeng {

template <class H, void (*Free)(H *)> class HostHandle {
public:
    explicit HostHandle(H *h) : h_(h) {
        if (!h_) throw std::bad_alloc();
    }
    ~HostHandle() { Free(h_); }
    HostHandle(const HostHandle &) = delete;
    HostHandle &operator=(const HostHandle &) = delete;
    H *get() const { return h_; }

protected:
    // rc of a call on this handle; throws for a failure (rc < 0) with the
    // handle's message, read only after the call.
    template <const char *(*Error)(const H *)> int checked(int rc) const {
        if (rc < 0) throw CommandError(Error(h_));
        return rc;
    }

private:
    H *h_;
};

class HostReader : public HostHandle<bh_reader, bh_reader_free> {
public:
    HostReader() : HostHandle(bh_reader_new()) {}
    void open(const std::string &path, const bh_read_options &opt) {
        checked<bh_reader_error>(bh_reader_open(get(), path.c_str(), &opt));
    }
    bool next() { return checked<bh_reader_error>(bh_reader_next(get())) == 1; }
    int32_t count() const { return bh_reader_count(get()); }
};

class HostMapper : public HostHandle<bh_mapper, bh_mapper_free> {
public:
    HostMapper() : HostHandle(bh_mapper_new()) {}
    void load(const std::string &ref_path, const bh_map_options &opt) {
        checked<bh_mapper_error>(bh_mapper_load(get(), ref_path.c_str(), &opt));
    }
    std::string_view sam_header(const std::string &command_line) {
        const char *text = nullptr;
        size_t len = 0;
        checked<bh_mapper_error>(bh_mapper_sam_header(get(), command_line.c_str(), &text, &len));
        return {text, len};
    }
    std::string_view map(const HostReader &reads) {
        const char *text = nullptr;
        size_t len = 0;
        checked<bh_mapper_error>(bh_mapper_map(get(), reads.get(), &text, &len));
        return {text, len};
    }
    // With paf_beside_sam: the PAF of the batch map() last mapped.
    std::string_view paf() {
        const char *text = nullptr;
        size_t len = 0;
        checked<bh_mapper_error>(bh_mapper_paf(get(), &text, &len));
        return {text, len};
    }
    bh_map_counts counts() const {
        bh_map_counts c{};
        c.size = sizeof c;
        checked<bh_mapper_error>(bh_mapper_counts(get(), &c));
        return c;
    }
};

class HostStats : public HostHandle<bh_stats, bh_stats_free> {
public:
    HostStats() : HostHandle(bh_stats_new()) {}
    void add(const HostReader &r) { checked<bh_stats_error>(bh_stats_add(get(), r.get())); }
    std::string row() {
        const char *row = bh_stats_row(get());
        if (!row) throw std::bad_alloc();
        return row;
    }
};

} // namespace bioeng
