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

// Writing an output failed (disk full, closed pipe).
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Standard output, or a file (created or emptied) when a path is given.
class OutputStream {
public:
    OutputStream() { std::setvbuf(stdout, nullptr, _IOFBF, size_t(1) << 20); }
    explicit OutputStream(const std::string &path) : name_(path) {
        if (path.empty() || path == "-") {
            name_ = "standard output";
            std::setvbuf(stdout, nullptr, _IOFBF, size_t(1) << 20);
            return;
        }
        file_ = std::fopen(path.c_str(), "wb");
        if (!file_) throw OutputError(path + ": cannot write: " + std::strerror(errno));
        std::setvbuf(file_, nullptr, _IOFBF, size_t(1) << 20);
    }
    ~OutputStream() {
        if (file_ && file_ != stdout) std::fclose(file_);
    }
    OutputStream(const OutputStream &) = delete;
    OutputStream &operator=(const OutputStream &) = delete;

    void write(std::string_view text) {
        if (text.size() && std::fwrite(text.data(), 1, text.size(), file_) != text.size())
            fail();
    }
    void finish() {
        if (std::fflush(file_) != 0 || std::ferror(file_)) fail();
        if (file_ != stdout) {
            FILE *f = file_;
            file_ = stdout;
            if (std::fclose(f) != 0) fail();
        }
    }

private:
    [[noreturn]] void fail() const {
        throw OutputError(name_ + ": write error: " + std::strerror(errno));
    }

    FILE *file_ = stdout;
    std::string name_ = "standard output";
};

// Writes a whole text (a help page, a version line) and flushes it.
inline void write_all(std::string_view text) {
    OutputStream out;
    out.write(text);
    out.finish();
}

} // namespace bioeng
