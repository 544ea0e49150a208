// Memory placed flush against an inaccessible page, so that reading or
// writing one byte past the end (or before the start) faults at once in any
// build, not only under AddressSanitizer.
#pragma once

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace engine_test {

// size usable bytes between two PROT_NONE pages. With Edge::End (the
// default) the last byte touches the page after; with Edge::Start the first
// byte follows the page before.
class GuardedBuffer {
public:
    enum class Edge { End, Start };

    explicit GuardedBuffer(std::size_t size, Edge edge = Edge::End) : size_(size) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t body = (std::max<std::size_t>(size, 1) + page - 1) / page * page;
        mapped_ = body + 2 * page;
        void *p = mmap(nullptr, mapped_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            ADD_FAILURE() << "mmap of " << mapped_ << " bytes failed";
            mapped_ = 0;
            return;
        }
        base_ = static_cast<std::uint8_t *>(p);
        if (mprotect(base_ + page, body, PROT_READ | PROT_WRITE) != 0)
            ADD_FAILURE() << "mprotect failed";
        data_ = edge == Edge::End ? base_ + page + body - size : base_ + page;
    }
    GuardedBuffer(const void *bytes, std::size_t size, Edge edge = Edge::End)
        : GuardedBuffer(size, edge) {
        if (data_ && size) std::memcpy(data_, bytes, size);
    }
    ~GuardedBuffer() {
        if (base_) munmap(base_, mapped_);
    }
    GuardedBuffer(const GuardedBuffer &) = delete;
    GuardedBuffer &operator=(const GuardedBuffer &) = delete;

    std::uint8_t *data() { return data_; }
    char *chars() { return reinterpret_cast<char *>(data_); }
    std::size_t size() const { return size_; }

private:
    std::uint8_t *base_ = nullptr;
    std::uint8_t *data_ = nullptr;
    std::size_t size_ = 0, mapped_ = 0;
};

}  // namespace engine_test
