// Standard output with error checking, and the failures a command reports.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

namespace bioeng {

// A failure the user must hear about (exit status 1); what() already names
// the file.
class CommandError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

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

// Writes a whole text (a help page, a version line) and flushes it.
inline void write_all(std::string_view text) {
    OutputStream out;
    out.write(text);
    out.finish();
}

} // namespace bioeng
