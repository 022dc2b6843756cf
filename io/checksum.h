// Checksums (CRC-32, Adler-32, the internet checksum), digests and HMAC, and
// the cryptographic random source.
//
// The digests come from libcrypto; HMAC is built here on top of them. Every
// libcrypto call is checked: a digest or HMAC that fails answers false and
// writes nothing the caller may use.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vyx::checksum {

// CRC-32 of gzip (reflected polynomial 0xEDB88320). `crc` continues an
// earlier result over more bytes; the empty input gives 0.
uint32_t crc32(const uint8_t* bytes, size_t length, uint32_t crc = 0);
// Adler-32 of zlib; `adler` continues an earlier result; the empty input gives 1.
uint32_t adler32(const uint8_t* bytes, size_t length, uint32_t adler = 1);
// The 16-bit internet checksum: big-endian 16-bit words summed with end-around
// carry, a final odd byte taken as the high byte of a zero-padded word, the
// complement of the sum.
uint16_t tcp_checksum(const uint8_t* bytes, size_t length);

// The method words of `checksum`, in the order they are interned.
enum Method : int { M_TCP, M_MD5, M_SHA1, M_CRC32, M_ADLER32, M_SHA256, M_SHA384, M_SHA512, M_HASH, METHOD_COUNT };
// Interns the nine method words. Runs once the symbol table exists.
void init_checksum_words();
// The method of a word's symbol (any letter case), or -1.
int method_of(int32_t symbol);

// Algorithm ids: tcp 0, crc32 1, md5 2, sha1 3, sha256 4, sha384 5, sha512 6.
enum Id : int { ID_TCP, ID_CRC32, ID_MD5, ID_SHA1, ID_SHA256, ID_SHA384, ID_SHA512 };
// The id of a method word (tcp, crc32, and the digests), or -1.
int method_id(int method);
// Digest size in bytes of ids 2-6, else 0.
uint32_t hash_size(int id);
// HMAC block size of ids 2-6 (128 for sha384 and sha512, else 64), else 0.
uint32_t hmac_block_size(int id);
constexpr uint32_t MAX_DIGEST = 64;

// Writes the digest (hash_size(id) bytes) into `out`. False when the id is
// not a digest or libcrypto fails.
bool digest(int id, const uint8_t* bytes, size_t length, uint8_t* out);
// HMAC of the bytes under the key (any length), hash_size(id) bytes into `out`.
bool hmac(int id, const uint8_t* bytes, size_t length, const uint8_t* key, size_t key_length, uint8_t* out);

// Checks that libcrypto answers with every digest (done by the first digest
// call when not before); the digest calls fail when it did not.
bool crypto_acquire();

// Fills the buffer from the kernel's cryptographic source. A failed draw is
// retried; a source that keeps failing ends the process (never predictable bytes).
void crypto_random_bytes(uint8_t* buffer, size_t length);

}  // namespace vyx::checksum
