// Decompression throughput, the ways bioeng could read compressed input:
//   zlib         streaming inflate of a gzip file into a 1 MiB buffer (what
//                bioeng does for gzip: memory bounded by its buffers)
//   libdeflate   whole-buffer decompression of a one-member gzip file (needs
//                the whole output in memory at once)
//   bgzf-zlib    a BGZF file block by block with zlib, into a 64 KiB buffer
//   bgzf-libdeflate  the same with libdeflate (what bioeng does for BGZF)
// Usage: decompress_bench <file> <mode> [repeats]
// Prints the median seconds and MB/s of decompressed output.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> read_file(const char *path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(f), {});
}

size_t inflate_zlib(const std::vector<unsigned char> &in) {
    z_stream zs{};
    inflateInit2(&zs, 15 + 16);
    std::vector<unsigned char> out(1 << 20);
    zs.next_in = const_cast<unsigned char *>(in.data());
    zs.avail_in = unsigned(in.size());
    size_t total = 0;
    for (;;) {
        zs.next_out = out.data();
        zs.avail_out = unsigned(out.size());
        int rc = inflate(&zs, Z_NO_FLUSH);
        total += out.size() - zs.avail_out;
        if (rc == Z_STREAM_END) {
            if (zs.avail_in == 0) break;
            inflateReset(&zs);
        } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
            std::fprintf(stderr, "zlib error %d\n", rc);
            std::exit(1);
        }
    }
    inflateEnd(&zs);
    return total;
}

size_t inflate_libdeflate(const std::vector<unsigned char> &in) {
    // One member; its size from the ISIZE trailer (mod 2^32: below 4 GiB).
    uint32_t isize;
    std::memcpy(&isize, in.data() + in.size() - 4, 4);
    std::vector<unsigned char> out(size_t(isize) + 1);
    libdeflate_decompressor *d = libdeflate_alloc_decompressor();
    size_t got = 0;
    if (libdeflate_gzip_decompress(d, in.data(), in.size(), out.data(), out.size(), &got) !=
        LIBDEFLATE_SUCCESS) {
        std::fprintf(stderr, "libdeflate error (single-member gzip only)\n");
        std::exit(1);
    }
    libdeflate_free_decompressor(d);
    return got;
}

// Every BGZF block is a gzip member of at most 64 KiB; its size is BSIZE + 1
// from the BC extra field (the bench assumes that is the only subfield).
template <class Inflate> size_t for_each_bgzf_block(const std::vector<unsigned char> &in,
                                                    Inflate inflate_block) {
    size_t pos = 0, total = 0;
    while (pos + 18 <= in.size()) {
        size_t bsize = size_t(in[pos + 16] | in[pos + 17] << 8) + 1;
        total += inflate_block(in.data() + pos, bsize);
        pos += bsize;
    }
    return total;
}

size_t bgzf_libdeflate(const std::vector<unsigned char> &in) {
    libdeflate_decompressor *d = libdeflate_alloc_decompressor();
    std::vector<unsigned char> out(65536);
    size_t total = for_each_bgzf_block(in, [&](const unsigned char *b, size_t n) {
        size_t got = 0;
        if (libdeflate_gzip_decompress(d, b, n, out.data(), out.size(), &got) !=
            LIBDEFLATE_SUCCESS)
            std::exit(1);
        return got;
    });
    libdeflate_free_decompressor(d);
    return total;
}

size_t bgzf_zlib(const std::vector<unsigned char> &in) {
    z_stream zs{};
    inflateInit2(&zs, 15 + 16);
    std::vector<unsigned char> out(65536);
    size_t total = for_each_bgzf_block(in, [&](const unsigned char *b, size_t n) {
        inflateReset(&zs);
        zs.next_in = const_cast<unsigned char *>(b);
        zs.avail_in = unsigned(n);
        zs.next_out = out.data();
        zs.avail_out = unsigned(out.size());
        if (inflate(&zs, Z_FINISH) != Z_STREAM_END) std::exit(1);
        return out.size() - zs.avail_out;
    });
    inflateEnd(&zs);
    return total;
}

size_t run_mode(const std::string &mode, const std::vector<unsigned char> &in) {
    if (mode == "zlib") return inflate_zlib(in);
    if (mode == "libdeflate") return inflate_libdeflate(in);
    if (mode == "bgzf-zlib") return bgzf_zlib(in);
    if (mode == "bgzf-libdeflate") return bgzf_libdeflate(in);
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    std::exit(2);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s file zlib|libdeflate|bgzf-zlib|bgzf-libdeflate [repeats]\n",
                     argv[0]);
        return 2;
    }
    auto in = read_file(argv[1]);
    int repeats = argc > 3 ? std::atoi(argv[3]) : 3;
    std::vector<double> secs;
    size_t out = 0;
    for (int r = 0; r < repeats; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        out = run_mode(argv[2], in);
        secs.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(secs.begin(), secs.end());
    double med = secs[secs.size() / 2];
    std::printf("%s\t%s\t%zu bytes\t%.3f s\t%.0f MB/s\n", argv[2], argv[1], out, med,
                double(out) / med / 1e6);
    return 0;
}
