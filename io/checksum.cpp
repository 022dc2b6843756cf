#include "io/checksum.h"

#include <cerrno>
#include <cstring>
#include <openssl/evp.h>
#include <sys/random.h>

#include "datatypes/symbol.h"
#include "runtime/bytes.h"
#include "runtime/fatal.h"
#include "runtime/platform/libraries.h"

namespace vyx::checksum {

// CRC-32 ------------------------------------------------------------------------------

namespace {

// Eight tables for slicing by eight bytes: table 0 is the plain byte table,
// table k advances a byte k more positions through zeros.
struct CrcTables {
    uint32_t t[8][256];
    CrcTables() {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; i++)
            for (int k = 1; k < 8; k++) t[k][i] = t[0][t[k - 1][i] & 0xFF] ^ (t[k - 1][i] >> 8);
    }
};

const CrcTables& crc_tables() {
    static const CrcTables tables;  // built on first use
    return tables;
}

}  // namespace

uint32_t crc32(const uint8_t* p, size_t n, uint32_t crc) {
    const auto& t = crc_tables().t;
    uint32_t c = ~crc;
    while (n >= 8) {
        uint32_t a = load_le32(p) ^ c, b = load_le32(p + 4);
        c = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^ t[3][b & 0xFF] ^
            t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
        p += 8;
        n -= 8;
    }
    while (n--) c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return ~c;
}

// Adler-32 -----------------------------------------------------------------------------

uint32_t adler32(const uint8_t* p, size_t n, uint32_t adler) {
    constexpr uint32_t MOD = 65521;
    // The most bytes whose sums cannot overflow 32 bits before reducing.
    constexpr size_t RUN = 5552;
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (n > 0) {
        size_t k = n < RUN ? n : RUN;
        n -= k;
        while (k >= 16) {
            for (int i = 0; i < 16; i++) {
                a += p[i];
                b += a;
            }
            p += 16;
            k -= 16;
        }
        while (k--) {
            a += *p++;
            b += a;
        }
        a %= MOD;
        b %= MOD;
    }
    return b << 16 | a;
}

// Internet checksum --------------------------------------------------------------------

uint16_t tcp_checksum(const uint8_t* p, size_t n) {
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < n; i += 2) sum += uint32_t(p[i]) << 8 | p[i + 1];
    if (i < n) sum += uint32_t(p[i]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

// Method words -------------------------------------------------------------------------

namespace {
int32_t method_symbols[METHOD_COUNT];
const char* const METHOD_NAMES[METHOD_COUNT] = {"tcp",     "md5",    "sha1",   "crc32", "adler32",
                                                "sha256", "sha384", "sha512", "hash"};
}  // namespace

void init_checksum_words() {
    for (int m = 0; m < METHOD_COUNT; m++) method_symbols[m] = symbol::make(METHOD_NAMES[m]);
}

int method_of(int32_t sym) {
    int32_t canon = symbol::resolve(sym);
    for (int m = 0; m < METHOD_COUNT; m++)
        if (method_symbols[m] && symbol::resolve(method_symbols[m]) == canon) return m;
    return -1;
}

int method_id(int method) {
    switch (method) {
    case M_TCP: return ID_TCP;
    case M_CRC32: return ID_CRC32;
    case M_MD5: return ID_MD5;
    case M_SHA1: return ID_SHA1;
    case M_SHA256: return ID_SHA256;
    case M_SHA384: return ID_SHA384;
    case M_SHA512: return ID_SHA512;
    default: return -1;
    }
}

uint32_t hash_size(int id) {
    switch (id) {
    case ID_MD5: return 16;
    case ID_SHA1: return 20;
    case ID_SHA256: return 32;
    case ID_SHA384: return 48;
    case ID_SHA512: return 64;
    default: return 0;
    }
}

uint32_t hmac_block_size(int id) {
    if (id == ID_SHA384 || id == ID_SHA512) return 128;
    return hash_size(id) ? 64 : 0;
}

// Digests and HMAC ---------------------------------------------------------------------

namespace {

// libcrypto, loaded at the first digest: loading and relocating it at every
// start-up cost a start more than the rest of its work.
#define VYX_CRYPTO_FUNCTIONS(X) X(EVP_md5) X(EVP_sha1) X(EVP_sha256) X(EVP_sha384) X(EVP_sha512) \
    X(EVP_MD_CTX_new) X(EVP_MD_CTX_free) X(EVP_DigestInit_ex) X(EVP_DigestUpdate) X(EVP_DigestFinal_ex)
VYX_LIBRARY(CryptoApi, "libcrypto.so.3", VYX_CRYPTO_FUNCTIONS)
const CryptoApi* crypto = nullptr;

// Whether libcrypto loaded and answered with every digest, checked at the
// first use.
bool crypto_checked = false;
bool crypto_ok = false;

const EVP_MD* md_of(int id) {
    switch (id) {
    case ID_MD5: return crypto->EVP_md5();
    case ID_SHA1: return crypto->EVP_sha1();
    case ID_SHA256: return crypto->EVP_sha256();
    case ID_SHA384: return crypto->EVP_sha384();
    case ID_SHA512: return crypto->EVP_sha512();
    default: return nullptr;
    }
}

struct Piece {
    const uint8_t* bytes;
    size_t length;
};

// The digest of the pieces one after the other; false on any failure.
bool digest_pieces(int id, std::initializer_list<Piece> pieces, uint8_t* out) {
    if (!crypto_checked) crypto_acquire();
    if (!crypto_ok) return false;
    const EVP_MD* md = md_of(id);
    if (!md) return false;
    EVP_MD_CTX* ctx = crypto->EVP_MD_CTX_new();
    if (!ctx) return false;
    bool ok = crypto->EVP_DigestInit_ex(ctx, md, nullptr) == 1;
    for (const Piece& p : pieces)
        if (ok && p.length) ok = crypto->EVP_DigestUpdate(ctx, p.bytes, p.length) == 1;
    unsigned int written = 0;
    uint8_t result[EVP_MAX_MD_SIZE];
    if (ok) ok = crypto->EVP_DigestFinal_ex(ctx, result, &written) == 1 && written == hash_size(id);
    crypto->EVP_MD_CTX_free(ctx);
    if (ok) std::memcpy(out, result, written);
    return ok;
}

}  // namespace

bool digest(int id, const uint8_t* bytes, size_t length, uint8_t* out) {
    return digest_pieces(id, {{bytes, length}}, out);
}

bool hmac(int id, const uint8_t* bytes, size_t length, const uint8_t* key, size_t key_length, uint8_t* out) {
    uint32_t block = hmac_block_size(id);
    if (!block) return false;
    uint8_t hashed_key[MAX_DIGEST];
    if (key_length > block) {
        if (!digest(id, key, key_length, hashed_key)) return false;
        key = hashed_key;
        key_length = hash_size(id);
    }
    uint8_t inner_pad[128] = {}, outer_pad[128] = {};
    if (key_length) {
        std::memcpy(inner_pad, key, key_length);
        std::memcpy(outer_pad, key, key_length);
    }
    for (uint32_t i = 0; i < block; i++) {
        inner_pad[i] ^= 0x36;
        outer_pad[i] ^= 0x5C;
    }
    uint8_t inner[MAX_DIGEST];
    if (!digest_pieces(id, {{inner_pad, block}, {bytes, length}}, inner)) return false;
    return digest_pieces(id, {{outer_pad, block}, {inner, hash_size(id)}}, out);
}

bool crypto_acquire() {
    crypto_checked = true;
    crypto = load_CryptoApi();
    crypto_ok = crypto != nullptr;
    if (!crypto_ok) return false;
    uint8_t out[MAX_DIGEST];
    for (int id = ID_MD5; id <= ID_SHA512; id++)
        if (!digest(id, reinterpret_cast<const uint8_t*>("abc"), 3, out)) crypto_ok = false;
    return crypto_ok;
}

// Random bytes -------------------------------------------------------------------------

void crypto_random_bytes(uint8_t* buffer, size_t length) {
    int failures = 0;
    while (length > 0) {
        ssize_t got = ::getrandom(buffer, length, 0);
        if (got > 0) {
            buffer += got;
            length -= size_t(got);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (++failures > 8) fatal_error(FATAL_UNKNOWN);
    }
}

}  // namespace vyx::checksum
