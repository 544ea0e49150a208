#include "report.h"

#include "input.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace bioeng {

namespace {

constexpr int32_t COVERAGE_BINS = 400;   // per reference sequence, at most
constexpr size_t MAX_SCATTER_POINTS = 4000; // the scatter plot thins evenly beyond
constexpr size_t MAX_COVERAGE_PLOTS = 24; // the longest sequences with alignments
constexpr double IDENTITY_BIN = 0.01;

// The twelve standard PAF columns that the report reads.
struct PafLine {
    std::string_view qname, tname;
    int64_t qlen = 0, tlen = 0, tstart = 0, tend = 0, matches = 0, block = 0, mapq = 0;
    bool secondary = false;
};

bool parse_int(std::string_view s, int64_t &v) {
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool parse_paf(std::string_view line, PafLine &p) {
    std::string_view col[12];
    size_t at = 0;
    for (int i = 0; i < 12; ++i) {
        size_t end = line.find('\t', at);
        if (end == std::string_view::npos) {
            if (i != 11) return false;
            end = line.size();
        }
        col[i] = line.substr(at, end - at);
        at = end + 1;
    }
    p.qname = col[0];
    p.tname = col[5];
    int64_t qstart, qend;
    if (!parse_int(col[1], p.qlen) || !parse_int(col[2], qstart) || !parse_int(col[3], qend) ||
        !parse_int(col[6], p.tlen) || !parse_int(col[7], p.tstart) || !parse_int(col[8], p.tend) ||
        !parse_int(col[9], p.matches) || !parse_int(col[10], p.block) ||
        !parse_int(col[11], p.mapq))
        return false;
    if (col[4] != "+" && col[4] != "-") return false;
    if (p.tstart < 0 || p.tend < p.tstart || p.tend > p.tlen || p.block < 0 ||
        p.matches > p.block || p.mapq < 0 || p.mapq > 255)
        return false;
    p.secondary = at <= line.size() && line.substr(at).find("tp:A:S") != std::string_view::npos;
    return true;
}

std::string escaped(std::string_view s) {
    std::string e;
    for (char c : s) {
        switch (c) {
        case '&': e += "&amp;"; break;
        case '<': e += "&lt;"; break;
        case '>': e += "&gt;"; break;
        case '"': e += "&quot;"; break;
        default: e.push_back(c);
        }
    }
    return e;
}

std::string num(double v, int decimals = 1) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// Tick step of about `want` ticks over `span`: 1, 2 or 5 times a power of ten.
double tick_step(double span, int want) {
    double raw = span / want;
    double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * p >= raw) return m * p;
    return 10 * p;
}

std::string tick_label(double v, double step) {
    if (step >= 1 && std::abs(v) >= 1e6) return num(v / 1e6, step >= 1e6 ? 0 : 1) + "M";
    if (step >= 1 && std::abs(v) >= 1e4) return num(v / 1e3, step >= 1e3 ? 0 : 1) + "k";
    int decimals = step >= 1 ? 0 : int(std::ceil(-std::log10(step)));
    return num(v, decimals);
}

// One SVG chart: plot area, axes with ticks and labels; marks are added in
// data coordinates.
class Chart {
public:
    Chart(std::string id, std::string cls, double x0, double x1, double y0, double y1)
        : id_(std::move(id)), cls_(std::move(cls)), x0_(x0), x1_(x1 > x0 ? x1 : x0 + 1),
          y0_(y0), y1_(y1 > y0 ? y1 : y0 + 1) {}

    double px(double x) const { return LEFT + (x - x0_) / (x1_ - x0_) * PLOT_W; }
    double py(double y) const { return TOP + PLOT_H - (y - y0_) / (y1_ - y0_) * PLOT_H; }

    void bar(double x, double width, double y, const std::string &title) {
        double left = px(x), right = px(x + width);
        marks_ += "<rect class=\"bar\" x=\"" + num(left, 2) + "\" y=\"" + num(py(y), 2) +
                  "\" width=\"" + num(std::max(right - left - 0.5, 0.5), 2) + "\" height=\"" +
                  num(py(y0_) - py(y), 2) + "\"><title>" + escaped(title) + "</title></rect>\n";
    }
    void point(double x, double y) {
        marks_ += "<circle class=\"point\" cx=\"" + num(px(x), 1) + "\" cy=\"" +
                  num(py(y), 1) + "\" r=\"1.6\"/>\n";
    }
    // A filled area under (x[i], y[i]).
    void area(const std::vector<double> &x, const std::vector<double> &y) {
        auto vertex = [&](char op, double vx, double vy) {
            marks_.push_back(op);
            marks_.append(num(px(vx), 1));
            marks_.push_back(',');
            marks_.append(num(py(vy), 1));
        };
        marks_.append("<path class=\"area\" d=\"");
        vertex('M', x.front(), y0_);
        for (size_t i = 0; i < x.size(); ++i) vertex('L', x[i], y[i]);
        vertex('L', x.back(), y0_);
        marks_.append("Z\"/>\n");
    }

    std::string svg(const std::string &xlabel, const std::string &ylabel) const {
        std::string s = "<svg id=\"" + id_ + "\" class=\"plot " + cls_ +
                        "\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                        num(WIDTH, 0) + "\" height=\"" + num(HEIGHT, 0) + "\" viewBox=\"0 0 " +
                        num(WIDTH, 0) + " " + num(HEIGHT, 0) + "\">\n";
        s += "<g class=\"marks\">\n" + marks_ + "</g>\n<g class=\"axis\">\n";
        s += line(LEFT, TOP + PLOT_H, LEFT + PLOT_W, TOP + PLOT_H);
        s += line(LEFT, TOP, LEFT, TOP + PLOT_H);
        s += ticks(x0_, x1_, true) + ticks(y0_, y1_, false);
        s += "<text class=\"label\" x=\"" + num(LEFT + PLOT_W / 2, 0) + "\" y=\"" +
             num(HEIGHT - 6, 0) + "\" text-anchor=\"middle\">" + escaped(xlabel) + "</text>\n";
        s += "<text class=\"label\" transform=\"translate(14," + num(TOP + PLOT_H / 2, 0) +
             ") rotate(-90)\" text-anchor=\"middle\">" + escaped(ylabel) + "</text>\n";
        return s + "</g>\n</svg>\n";
    }

private:
    static constexpr double WIDTH = 640, HEIGHT = 300, LEFT = 64, TOP = 12;
    static constexpr double PLOT_W = WIDTH - LEFT - 16, PLOT_H = HEIGHT - TOP - 48;

    static std::string line(double ax, double ay, double bx, double by) {
        return "<line x1=\"" + num(ax) + "\" y1=\"" + num(ay) + "\" x2=\"" + num(bx) +
               "\" y2=\"" + num(by) + "\"/>\n";
    }
    std::string ticks(double lo, double hi, bool x_axis) const {
        double step = tick_step(hi - lo, 6);
        std::string s;
        for (double v = std::ceil(lo / step - 1e-9) * step; v <= hi + step * 1e-9; v += step) {
            if (std::abs(v) < step * 1e-6) v = 0; // no "-0" from rounding
            std::string label = tick_label(v, step);
            if (x_axis) {
                s += line(px(v), TOP + PLOT_H, px(v), TOP + PLOT_H + 4);
                s += "<text x=\"" + num(px(v)) + "\" y=\"" + num(TOP + PLOT_H + 16) +
                     "\" text-anchor=\"middle\">" + label + "</text>\n";
            } else {
                s += line(LEFT - 4, py(v), LEFT, py(v));
                s += "<text x=\"" + num(LEFT - 6) + "\" y=\"" + num(py(v) + 4) +
                     "\" text-anchor=\"end\">" + label + "</text>\n";
            }
        }
        return s;
    }

    std::string id_, cls_, marks_;
    double x0_, x1_, y0_, y1_;
};

// The lower end of the identity axis: a multiple of 0.05 at or below the
// first percentile, so that a few outliers do not squeeze the rest.
double identity_floor(std::vector<float> ids) {
    if (ids.empty()) return 0.5;
    size_t k = ids.size() / 100;
    std::nth_element(ids.begin(), ids.begin() + long(k), ids.end());
    double lo = std::floor(double(ids[k]) * 20) / 20;
    return std::clamp(lo, 0.0, 0.95);
}

std::string identity_histogram(const std::vector<float> &ids, double lo) {
    int32_t bins = int32_t(std::lround((1 - lo) / IDENTITY_BIN));
    std::vector<uint64_t> count(size_t(bins), 0);
    for (float id : ids) {
        int32_t b = int32_t((double(id) - lo) / IDENTITY_BIN);
        count[size_t(std::clamp(b, 0, bins - 1))] += 1;
    }
    uint64_t top = *std::max_element(count.begin(), count.end());
    Chart c("identity-histogram", "histogram", lo, 1.0, 0, double(std::max<uint64_t>(top, 1)));
    for (int32_t b = 0; b < bins; ++b) {
        if (!count[size_t(b)]) continue;
        double x = lo + b * IDENTITY_BIN;
        c.bar(x, IDENTITY_BIN, double(count[size_t(b)]),
              num(100 * x, 0) + "-" + num(100 * (x + IDENTITY_BIN), 0) + " %: " +
                  std::to_string(count[size_t(b)]));
    }
    return c.svg("identity (matching bases / alignment columns)", "alignments");
}

std::string mapq_histogram(const std::vector<uint64_t> &count) {
    int32_t last = 0;
    for (int32_t q = 0; q < 256; ++q)
        if (count[size_t(q)]) last = q;
    int32_t hi = std::max(last, 60) + 1;
    uint64_t top = *std::max_element(count.begin(), count.end());
    Chart c("mapq-histogram", "histogram", 0, hi, 0, double(std::max<uint64_t>(top, 1)));
    for (int32_t q = 0; q <= last; ++q)
        if (count[size_t(q)])
            c.bar(q, 1, double(count[size_t(q)]),
                  "mapq " + std::to_string(q) + ": " + std::to_string(count[size_t(q)]));
    return c.svg("mapping quality", "alignments");
}

} // namespace

void PafReport::add_line(std::string_view line, const std::string &label, uint64_t line_no) {
    if (line.empty()) return;
    PafLine p;
    if (!parse_paf(line, p))
        throw InputError(label + ": line " + std::to_string(line_no) +
                         ": not a PAF line (12 tab-separated columns expected)");
    lines_ += 1;
    if (p.secondary) {
        secondary_ += 1;
        return;
    }
    primary_ += 1;
    float identity = p.block ? float(double(p.matches) / double(p.block)) : 0.0f;
    identities_.push_back(identity);
    mapq_counts_[size_t(p.mapq)] += 1;
    if (p.qname != last_read_) {
        last_read_.assign(p.qname);
        reads_.push_back({int32_t(std::min<int64_t>(p.qlen, INT32_MAX)), identity});
    }
    add_coverage(std::string(p.tname), p.tlen, p.tstart, p.tend);
}

void PafReport::add_coverage(const std::string &ref, int64_t ref_len, int64_t start, int64_t end) {
    Coverage &c = coverage_[ref];
    if (c.depth.empty()) {
        c.length = std::max<int64_t>(ref_len, 1);
        c.depth.assign(size_t(std::min<int64_t>(COVERAGE_BINS, c.length)), 0.0);
    }
    end = std::min(end, c.length);
    double width = double(c.length) / double(c.depth.size());
    for (int64_t b = int64_t(double(start) / width); b < int64_t(c.depth.size()); ++b) {
        double lo = std::max(double(start), double(b) * width);
        double hi = std::min(double(end), double(b + 1) * width);
        if (hi <= lo) break;
        c.depth[size_t(b)] += hi - lo;
    }
}

std::string PafReport::html(const std::string &title) const {
    std::string h =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>bioeng report: " + escaped(title) + "</title>\n<style>\n"
        "body{font-family:sans-serif;margin:24px;color:#222;max-width:1340px}\n"
        "h2{font-size:1.1em;margin:28px 0 6px}\n"
        "table{border-collapse:collapse}td,th{padding:2px 12px 2px 0;text-align:left}\n"
        "svg.plot{display:inline-block;margin:4px 12px 4px 0;background:#fff}\n"
        "svg text{font-size:11px;fill:#333}svg line{stroke:#555;stroke-width:1}\n"
        ".bar{fill:#3b75af}.point{fill:#c0504d;fill-opacity:.45}"
        ".area{fill:#4f9a6a;fill-opacity:.8}\n"
        "</style>\n</head>\n<body>\n<h1>bioeng report: " + escaped(title) + "</h1>\n";
    double lo = identity_floor(identities_);
    double mean_id = 0;
    for (float v : identities_) mean_id += v;
    mean_id = identities_.empty() ? 0 : mean_id / double(identities_.size());
    h += "<table id=\"summary\">\n<tr><th>PAF lines</th><td>" + std::to_string(lines_) +
         "</td></tr>\n<tr><th>reads with an alignment</th><td>" + std::to_string(reads_.size()) +
         "</td></tr>\n<tr><th>primary and supplementary alignments</th><td>" +
         std::to_string(primary_) + "</td></tr>\n<tr><th>secondary alignments</th><td>" +
         std::to_string(secondary_) + "</td></tr>\n<tr><th>mean identity</th><td>" +
         num(100 * mean_id, 2) + " %</td></tr>\n</table>\n";
    h += "<p>Primary and supplementary alignments (tp:A:P, tp:A:I); secondary alignments are only "
         "counted.</p>\n";

    h += "<h2>Identity and mapping quality</h2>\n";
    h += identity_histogram(identities_, lo);
    h += mapq_histogram(mapq_counts_);

    h += "<h2>Read length against identity</h2>\n";
    int32_t longest = 1;
    for (const ReadPoint &r : reads_) longest = std::max(longest, r.length);
    Chart scatter("length-vs-identity", "scatter", 0, longest, lo, 1.0);
    size_t stride = std::max<size_t>(1, (reads_.size() + MAX_SCATTER_POINTS - 1) / MAX_SCATTER_POINTS);
    for (size_t i = 0; i < reads_.size(); i += stride)
        scatter.point(reads_[i].length, std::max(double(reads_[i].identity), lo));
    h += scatter.svg("read length (bases)", "identity of the first primary alignment");
    if (stride > 1)
        h += "<p>One read in " + std::to_string(stride) + " is drawn.</p>\n";

    h += "<h2>Coverage along each reference sequence</h2>\n";
    std::vector<const std::pair<const std::string, Coverage> *> refs;
    for (const auto &entry : coverage_) refs.push_back(&entry);
    std::stable_sort(refs.begin(), refs.end(),
                     [](auto *a, auto *b) { return a->second.length > b->second.length; });
    if (refs.size() > MAX_COVERAGE_PLOTS)
        h += "<p>The " + std::to_string(MAX_COVERAGE_PLOTS) + " longest of " +
             std::to_string(refs.size()) + " sequences with alignments.</p>\n";
    refs.resize(std::min(refs.size(), MAX_COVERAGE_PLOTS));
    int n = 0;
    for (auto *entry : refs) {
        const Coverage &c = entry->second;
        double width = double(c.length) / double(c.depth.size());
        std::vector<double> x, y;
        double top = 0;
        for (size_t b = 0; b < c.depth.size(); ++b) {
            x.push_back((double(b) + 0.5) * width);
            y.push_back(c.depth[b] / width);
            top = std::max(top, y.back());
        }
        Chart cov("coverage-" + std::to_string(n++), "coverage", 0, double(c.length), 0,
                  top > 0 ? top * 1.05 : 1);
        cov.area(x, y);
        h += "<figure class=\"coverage-figure\" data-ref=\"" + escaped(entry->first) +
             "\"><figcaption>" + escaped(entry->first) + " (" + std::to_string(c.length) +
             " bases)</figcaption>\n" + cov.svg("position", "depth") + "</figure>\n";
    }
    return h + "</body>\n</html>\n";
}

} // namespace bioeng
