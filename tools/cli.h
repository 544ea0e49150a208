// Command-line parsing shared by the subcommands.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace bioeng {

// A usage mistake; main prints it with a hint to --help and exits with 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Walks argv: options ("-k 15", "-k15", "--max-occ 500", "--max-occ=500")
// and positional arguments in any order; "--" ends the options.
class ArgWalker {
public:
    ArgWalker(int argc, char **argv) : args_(argv + 1, argv + argc) {}

    // Next argument; false when none are left. `option` is true for a
    // recognised option form, with `name` its name ("-k" or "--max-occ").
    bool next(std::string &name, bool &option);
    // Value of the current option (attached or the next argument).
    std::string value();
    int64_t int_value(int64_t lo, int64_t hi);
    double double_value();

private:
    std::vector<std::string> args_;
    size_t pos_ = 0;
    std::string current_;
    std::string attached_;
    bool has_attached_ = false;
    bool options_done_ = false;
};

// Joins argv with spaces, for @PG.
std::string join_command_line(int argc, char **argv);

} // namespace bioeng
