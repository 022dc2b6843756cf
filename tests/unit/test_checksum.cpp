// Checksums, digests and HMAC against zlib, the coreutils digest commands and
// python3's hmac.
#include <gtest/gtest.h>

#include "io/checksum.h"
#include "tests/unit/codec_oracle.h"

using namespace vyx;
using namespace codec_test;

namespace {

const int DIGESTS[] = {checksum::ID_MD5, checksum::ID_SHA1, checksum::ID_SHA256, checksum::ID_SHA384,
                       checksum::ID_SHA512};
const char* const DIGEST_NAMES[] = {"md5", "sha1", "sha256", "sha384", "sha512"};

struct Digest : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(checksum::crypto_acquire()); }
};

std::string digest_hex(int id, const Bytes& data) {
    uint8_t out[checksum::MAX_DIGEST];
    EXPECT_TRUE(checksum::digest(id, data.data(), data.size(), out));
    return hex(out, checksum::hash_size(id));
}

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

TEST(Checksum, KnownValues) {
    struct Case {
        const char* text;
        uint32_t crc, adler;
        uint16_t tcp;
    } cases[] = {
        {"", 0, 1, 0xFFFF},
        {"a", 0xE8B7BE43, 0x00620062, 0x9EFF},
        {"abc", 0x352441C2, 0x024D0127, 0x3B9D},  // the odd last byte is a high byte
        {"abcd", 0xED82CD11, 0x03D8018B, 0x3B39},
    };
    for (const Case& c : cases) {
        Bytes b = bytes_of(c.text);
        EXPECT_EQ(checksum::crc32(b.data(), b.size()), c.crc) << c.text;
        EXPECT_EQ(checksum::adler32(b.data(), b.size()), c.adler) << c.text;
        EXPECT_EQ(checksum::tcp_checksum(b.data(), b.size()), c.tcp) << c.text;
    }
}

TEST(Checksum, CrcAndAdlerEqualZlibOnEveryLengthAndInPieces) {
    Bytes data = random_bytes(20000, 1);
    // Adler-32's worst case for deferred reduction: every byte 255.
    Bytes ones(20000, 0xFF);
    for (const Bytes* d : {&data, &ones}) {
        for (size_t n : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 5551u, 5552u, 5553u, 20000u}) {
            EXPECT_EQ(checksum::crc32(d->data(), n), uint32_t(::crc32(0, d->data(), uInt(n)))) << n;
            EXPECT_EQ(checksum::adler32(d->data(), n), uint32_t(::adler32(1, d->data(), uInt(n)))) << n;
        }
        uint32_t crc = checksum::crc32(d->data(), 12345);
        EXPECT_EQ(checksum::crc32(d->data() + 12345, d->size() - 12345, crc), checksum::crc32(d->data(), d->size()));
        uint32_t adler = checksum::adler32(d->data(), 777);
        EXPECT_EQ(checksum::adler32(d->data() + 777, d->size() - 777, adler),
                  checksum::adler32(d->data(), d->size()));
    }
}

TEST(Checksum, InternetChecksumEqualsAnRfc1071Model) {
    // The model: 16-bit big-endian words, a last odd byte zero-padded on the
    // right, end-around carry, complement.
    const char* model =
        "import sys\n"
        "for line in sys.stdin:\n"
        "    b = bytes.fromhex(line.strip())\n"
        "    if len(b) % 2: b += b'\\0'\n"
        "    s = sum((b[i] << 8) | b[i + 1] for i in range(0, len(b), 2))\n"
        "    while s >> 16: s = (s & 0xFFFF) + (s >> 16)\n"
        "    print(~s & 0xFFFF)\n";
    TempFile script(bytes_of(model));
    std::string lines;
    std::vector<Bytes> inputs;
    for (uint32_t i = 0; i < 40; i++) inputs.push_back(random_bytes(i * 37 % 301 + i % 2, i));
    inputs.push_back(Bytes(70001, 0xFF));  // many carries
    for (const Bytes& b : inputs) lines += hex(b) + "\n";
    TempFile input(bytes_of(lines));
    std::string out = run("python3 " + script.path + " < " + input.path);
    std::istringstream expected(out);
    for (const Bytes& b : inputs) {
        unsigned v = 0;
        ASSERT_TRUE(expected >> v);
        EXPECT_EQ(checksum::tcp_checksum(b.data(), b.size()), v) << b.size();
    }
}

TEST_F(Digest, DigestsEqualTheDigestCommands) {
    std::vector<Bytes> inputs = {{}, bytes_of("abc"), random_bytes(1 << 20, 2)};
    for (const Bytes& data : inputs) {
        TempFile f(data);
        for (int i = 0; i < 5; i++) {
            std::string line = run(std::string(DIGEST_NAMES[i]) + "sum " + f.path);
            EXPECT_EQ(lower(digest_hex(DIGESTS[i], data)), line.substr(0, line.find(' ')))
                << DIGEST_NAMES[i] << " of " << data.size() << " bytes";
        }
    }
    EXPECT_EQ(digest_hex(checksum::ID_MD5, bytes_of("abc")), "900150983CD24FB0D6963F7D28E17F72");
}

TEST_F(Digest, HmacEqualsPython) {
    Bytes data = bytes_of("The quick brown fox jumps over the lazy dog");
    std::vector<Bytes> keys;
    for (size_t n : {0u, 1u, 63u, 64u, 65u, 127u, 128u, 129u}) keys.push_back(random_bytes(n, uint32_t(n) + 100));
    keys.push_back(bytes_of("cl\xC3\xA9 \xE2\x82\xAC"));  // a non-ASCII text key counts by its UTF-8 bytes
    std::string lines;
    for (const Bytes& k : keys) lines += hex(k) + "\n";
    TempFile input(bytes_of(lines));
    const char* script =
        "import hmac, sys\n"
        "data = b'The quick brown fox jumps over the lazy dog'\n"
        "for line in sys.stdin:\n"
        "    k = bytes.fromhex(line.strip())\n"
        "    print(' '.join(hmac.new(k, data, a).hexdigest() for a in ['md5','sha1','sha256','sha384','sha512']))\n";
    TempFile code(bytes_of(script));
    std::istringstream expected(run("python3 " + code.path + " < " + input.path));
    for (const Bytes& k : keys) {
        for (int i = 0; i < 5; i++) {
            std::string want;
            ASSERT_TRUE(expected >> want);
            uint8_t out[checksum::MAX_DIGEST];
            ASSERT_TRUE(checksum::hmac(DIGESTS[i], data.data(), data.size(), k.data(), k.size(), out));
            EXPECT_EQ(lower(hex(out, checksum::hash_size(DIGESTS[i]))), want)
                << DIGEST_NAMES[i] << " key of " << k.size() << " bytes";
        }
    }
}

TEST(Checksum, DigestsFailCleanlyForNonDigestIds) {
    uint8_t out[checksum::MAX_DIGEST];
    for (int id : {int(checksum::ID_TCP), int(checksum::ID_CRC32), 7, -1}) {
        EXPECT_FALSE(checksum::digest(id, out, 0, out)) << id;
        EXPECT_FALSE(checksum::hmac(id, out, 0, out, 0, out)) << id;
        EXPECT_EQ(checksum::hash_size(id), 0u);
    }
}

TEST(Checksum, RandomBytesFillTheWholeBuffer) {
    // Two 64-byte draws that agree, or a draw left with a zero tail, would be
    // a broken source or a short fill.
    uint8_t a[64] = {}, b[64] = {};
    checksum::crypto_random_bytes(a, sizeof a);
    checksum::crypto_random_bytes(b, sizeof b);
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
    Bytes big(1 << 20, 0);
    checksum::crypto_random_bytes(big.data(), big.size());
    EXPECT_NE(std::count(big.end() - 64, big.end(), 0), 64);
    checksum::crypto_random_bytes(nullptr, 0);
}
