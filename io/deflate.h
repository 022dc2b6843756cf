// One-shot DEFLATE compression and decompression of whole byte ranges, raw or
// in zlib or gzip framing.
//
// Every entry takes the output area, a size that holds its capacity on entry
// and the produced (or needed) byte count on return, and the input. The
// output may be null with a capacity of 0: the codec then only counts, which
// measures the result. Nothing is ever written at or past the capacity; a
// call whose output does not fit runs to the end and reports the full size.
#pragma once
#include <cstdint>

namespace vyx::deflate {

enum Status : int32_t {
    OK = 0,
    TOO_SMALL = 1,        // the size holds the bytes needed
    BAD_DATA = 2,         // malformed input, framing, checksum or size
    STORED_TOO_LONG = 3,  // a stored block runs past the input
    BAD_BLOCK_TYPE = 4,   // block type 3
    BAD_DISTANCE = 5,     // a match reaches before the output's start
};

int32_t deflate_compress(uint8_t* out, int32_t* size, const uint8_t* in, uint32_t length);
int32_t inflate_decompress(uint8_t* out, int32_t* size, const uint8_t* in, uint32_t length);
int32_t zlib_compress(uint8_t* out, int32_t* size, const uint8_t* in, uint32_t length);
int32_t zlib_decompress(uint8_t* out, int32_t* size, const uint8_t* in, uint32_t length);
// Data that already starts as gzip (1F 8B 08, more than 2 bytes) is copied unchanged.
int32_t gzip_compress(uint8_t* out, int32_t* size, const uint8_t* in, uint32_t length);
// One member; the trailer is the input's last 8 bytes. A stated size that the
// data could not expand to, or of 2^31 or more, is malformed.
int32_t gzip_decompress(uint8_t* out, int32_t* size, const uint8_t* in, uint32_t length);

// The most bytes a DEFLATE stream of `length` bytes can decode to.
inline uint64_t max_expansion(uint64_t length) { return length * 1032; }

// The framing picked by a method word.
enum Method : int { ZLIB, DEFLATE, GZIP, METHOD_COUNT };
// Interns the words zlib, deflate and gzip. Runs once the symbol table exists.
void init_compression_words();
// The method of a word's symbol (any letter case), or -1.
int method_of(int32_t symbol);

int32_t compress(int method, uint8_t* out, int32_t* size, const uint8_t* in, uint32_t length);
int32_t decompress(int method, uint8_t* out, int32_t* size, const uint8_t* in, uint32_t length);

}  // namespace vyx::deflate
