// Buffer<T>: owner of one reservation of trivially copyable elements from
// the library's allocator, released when the owner goes out of scope. A
// failed reservation leaves the owner empty and returns false, so callers
// turn it into their failure code instead of an exception or an abort.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "core/memory.h"

namespace engine {

template <class T>
class Buffer {
    static_assert(std::is_trivially_copyable_v<T>, "Buffer holds plain data only");

public:
    Buffer() = default;
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    Buffer(Buffer &&other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    Buffer &operator=(Buffer &&other) noexcept {
        if (this != &other) {
            reset();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    ~Buffer() { reset(); }

    // Reserves `count` uninitialised elements (any previous content is
    // released first). A count of zero still reserves one byte, so a
    // successful reservation always yields a non-null pointer.
    [[nodiscard]] bool allocate(std::size_t count) {
        reset();
        if (count > max_count()) return false;
        data_ = static_cast<T *>(mem_alloc(count * sizeof(T)));
        size_ = data_ ? count : 0;
        return data_ != nullptr;
    }

    // Makes room for at least `count` elements: the reservation is kept
    // (with whatever it holds) when it is large enough, made anew otherwise.
    // For working memory reused from call to call.
    [[nodiscard]] bool reserve(std::size_t count) {
        if (data_ && size_ >= count) return true;
        return allocate(count);
    }

    // Reserves `count` elements with every byte zero.
    [[nodiscard]] bool allocate_zeroed(std::size_t count) {
        reset();
        if (count > max_count()) return false;
        data_ = static_cast<T *>(mem_calloc(count ? count : 1, sizeof(T)));
        size_ = data_ ? count : 0;
        return data_ != nullptr;
    }

    // Reserves `count` elements, each set to `value`.
    [[nodiscard]] bool allocate_filled(std::size_t count, T value) {
        if (!allocate(count)) return false;
        for (std::size_t i = 0; i < count; ++i) data_[i] = value;
        return true;
    }

    // Changes the size to `count`, keeping the first min(old, new) elements.
    // On failure the buffer keeps its old content and size.
    [[nodiscard]] bool resize(std::size_t count) {
        if (count > max_count()) return false;
        void *grown = mem_realloc(data_, count * sizeof(T));
        if (!grown) return false;
        data_ = static_cast<T *>(grown);
        size_ = count;
        return true;
    }

    // Gives up ownership; the caller releases the pointer with mem_free.
    [[nodiscard]] T *release() {
        size_ = 0;
        return std::exchange(data_, nullptr);
    }

    void reset() {
        mem_free(data_);
        data_ = nullptr;
        size_ = 0;
    }

    T *data() { return data_; }
    const T *data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return data_ == nullptr; }
    T &operator[](std::size_t i) { return data_[i]; }
    const T &operator[](std::size_t i) const { return data_[i]; }

private:
    static constexpr std::size_t max_count() {
        return std::numeric_limits<std::size_t>::max() / sizeof(T);
    }

    T *data_ = nullptr;
    std::size_t size_ = 0;
};

// Releases a pointer obtained from Buffer::release or mem_alloc when the
// owner goes out of scope; used for handles returned across the C boundary.
template <class T>
struct MemDeleter {
    void operator()(T *p) const { mem_free(p); }
};

}  // namespace engine
