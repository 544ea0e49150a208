#include "cli.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace bioeng {

namespace {
// Short options that take their value glued on ("-k15").
bool is_short_with_value(const std::string &a) { return a.size() > 2 && a[0] == '-' && a[1] != '-'; }
} // namespace

bool ArgWalker::next(std::string &name, bool &option) {
    has_attached_ = false;
    if (pos_ >= args_.size()) return false;
    std::string a = args_[pos_++];
    if (!options_done_ && a == "--") {
        options_done_ = true;
        return next(name, option);
    }
    option = !options_done_ && a.size() > 1 && a[0] == '-';
    if (!option) {
        name = a;
        return true;
    }
    if (a.rfind("--", 0) == 0) {
        size_t eq = a.find('=');
        if (eq != std::string::npos) {
            attached_ = a.substr(eq + 1);
            has_attached_ = true;
            a = a.substr(0, eq);
        }
    } else if (is_short_with_value(a)) {
        attached_ = a.substr(2);
        has_attached_ = true;
        a = a.substr(0, 2);
    }
    name = current_ = a;
    return true;
}

std::string ArgWalker::value() {
    if (has_attached_) {
        has_attached_ = false;
        return attached_;
    }
    if (pos_ >= args_.size()) throw UsageError("option " + current_ + " needs a value");
    return args_[pos_++];
}

int64_t ArgWalker::int_value(int64_t lo, int64_t hi) {
    std::string v = value();
    char *end = nullptr;
    errno = 0;
    long long x = std::strtoll(v.c_str(), &end, 10);
    if (v.empty() || *end || errno)
        throw UsageError("option " + current_ + " needs an integer, not '" + v + "'");
    if (x < lo || x > hi)
        throw UsageError("option " + current_ + " must be between " + std::to_string(lo) +
                         " and " + std::to_string(hi));
    return x;
}

double ArgWalker::double_value() {
    std::string v = value();
    char *end = nullptr;
    errno = 0;
    double x = std::strtod(v.c_str(), &end);
    if (v.empty() || *end || errno || !std::isfinite(x))
        throw UsageError("option " + current_ + " needs a finite number, not '" + v + "'");
    return x;
}

std::string join_command_line(int argc, char **argv) {
    std::string s;
    for (int i = 0; i < argc; ++i) {
        if (i) s.push_back(' ');
        s.append(argv[i]);
    }
    return s;
}

} // namespace bioeng
