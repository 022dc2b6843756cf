// Helpers for the codec tests: zlib as the oracle, sample data, running
// commands, and hex text.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <random>
#include <sstream>
#include <cstring>
#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace codec_test {

using Bytes = std::vector<uint8_t>;

inline Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline std::string hex(const uint8_t* p, size_t n) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
inline std::string hex(const Bytes& b) { return hex(b.data(), b.size()); }

inline Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

// Text made of words drawn with a skewed distribution, in lines.
inline Bytes sample_text(size_t n, uint32_t seed) {
    static const char* words[] = {"the",  "value", "of",   "series", "block", "word",    "a",     "function",
                                  "is",   "to",    "and",  "binary", "data",  "compress", "in",    "string",
                                  "when", "each",  "with", "index",  "tail",  "head",    "return", "error"};
    std::mt19937 rng(seed);
    std::string s;
    s.reserve(n + 16);
    int column = 0;
    while (s.size() < n) {
        uint32_t r = rng() % 1000;
        size_t k = (r * r) / 41667 % 24;
        s += words[k];
        column += 6;
        if (rng() % 97 == 0) s += std::to_string(rng() % 100000);
        if (column > 60) {
            s += "\n";
            column = 0;
        } else {
            s += ' ';
        }
    }
    s.resize(n);
    return bytes_of(s);
}

// zlib's compressor; wbits -15 raw, 15 zlib, 31 gzip.
inline Bytes z_compress(const Bytes& in, int wbits, int level = 6, int strategy = Z_DEFAULT_STRATEGY) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, wbits, 8, strategy) != Z_OK) throw std::runtime_error("deflateInit2");
    Bytes out(deflateBound(&z, uLong(in.size())) + 64);
    z.next_in = const_cast<Bytes::value_type*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// zlib's decompressor; false when it refuses the data or stops short of its end.
inline bool z_decompress(const Bytes& in, int wbits, Bytes& out) {
    z_stream z{};
    if (inflateInit2(&z, wbits) != Z_OK) return false;
    out.clear();
    z.next_in = const_cast<Bytes::value_type*>(in.data());
    z.avail_in = uInt(in.size());
    int rc;
    uint8_t chunk[65536];
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    } while (rc == Z_OK);
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

// Runs a shell command, feeding `input` to a file and answering its stdout.
inline std::string run(const std::string& command) {
    FILE* p = popen(command.c_str(), "r");
    if (!p) throw std::runtime_error("popen");
    std::string out;
    char buf[4096];
    size_t k;
    while ((k = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, k);
    pclose(p);
    return out;
}

// A file holding the bytes, removed with the object.
struct TempFile {
    std::string path;
    explicit TempFile(const Bytes& data) {
        char name[] = "/tmp/vyx-codec-XXXXXX";
        int fd = mkstemp(name);
        if (fd < 0) throw std::runtime_error("mkstemp");
        path = name;
        FILE* f = fdopen(fd, "wb");
        if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
        fclose(f);
    }
    ~TempFile() { std::remove(path.c_str()); }
    Bytes read() const {
        FILE* f = fopen(path.c_str(), "rb");
        Bytes b;
        int c;
        while ((c = fgetc(f)) != EOF) b.push_back(uint8_t(c));
        fclose(f);
        return b;
    }
};

}  // namespace codec_test
