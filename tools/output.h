// Standard output with error checking, and the conversion of allocation
// failures into messages that name the file being worked on.
#pragma once

#include "input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

namespace bioeng {

// Writing to standard output failed (disk full, closed pipe).
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class OutputStream {
public:
    OutputStream() { std::setvbuf(stdout, nullptr, _IOFBF, size_t(1) << 20); }
    void write(std::string_view text) {
        if (text.size() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
            fail();
    }
    void finish() {
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) fail();
    }

private:
    [[noreturn]] static void fail() {
        throw OutputError(std::string("standard output: write error: ") + std::strerror(errno));
    }
};

// Runs f; an allocation failure inside becomes "<label>: out of memory".
template <class F> auto with_context(const std::string &label, F &&f) -> decltype(f()) {
    try {
        return f();
    } catch (const std::bad_alloc &) {
        throw InputError(label + ": out of memory");
    }
}

} // namespace bioeng
