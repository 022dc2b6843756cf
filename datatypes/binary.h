// binary!: a byte series (unit 1); head index in payload word 1, node in
// word 2, word 3 unused. A child of string! that keeps its own writers,
// comparison, text form and conversions, and works in bytes everywhere.
//
// The byte-level operations below are what the rest of the system calls to
// produce or consume raw bytes (compression, checksums, files, the lexer ...).
// They take a binary! cell and make no type checks. Addresses they answer are
// good only until the next allocation.
#pragma once
#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace vyx::binary {

// Writes an empty binary! with room for `capacity` bytes into `target`.
Cell* make_at(Cell* target, uint32_t capacity);
// Pushes an empty binary! on the evaluation stack.
Cell* push(uint32_t capacity);
// A new binary! holding a copy of the n bytes: written into `target`, pushed
// on the evaluation stack (load), or appended to a block (load_in). The bytes
// must not live in a series a collection could move.
Cell* make_from(Cell* target, const uint8_t* bytes, uint32_t n);
Cell* load(const uint8_t* bytes, uint32_t n);
Cell* load_in(const uint8_t* bytes, uint32_t n, Cell* block);

// Bytes from the head to the tail (0 when the head lies beyond it).
uint32_t rs_length(const Cell* bin);
// Address of the byte at the head (clamped to the tail).
uint8_t* rs_head(Cell* bin);
// The byte at an absolute index from the buffer's start.
uint8_t get_byte(const Cell* bin, uint32_t index);
// Appends n bytes at the tail (zeros when `bytes` is null), growing the buffer
// to twice the need when short; answers where they were written.
uint8_t* rs_append(Cell* bin, const uint8_t* bytes, uint32_t n);
// Inserts n bytes at head + offset; answers where they were written.
uint8_t* rs_insert(Cell* bin, uint32_t offset, const uint8_t* bytes, uint32_t n);
// Appends a 32-bit integer, most significant byte first.
void from_integer(int32_t value, Cell* bin);
// Decodes an issue!'s name as hexadecimal into a new binary in `target`;
// raises script/invalid-data [issue] when it is not an even count of digits.
Cell* from_hex(const Cell* issue, Cell* target);

// The UTF-8 form of a string-like value's characters from its index (at most
// `limit` characters when limit >= 0).
void text_utf8(const Cell* str, int32_t limit, std::vector<uint8_t>& out);

// Byte comparison of a binary with a binary or string-like value (strings by
// their UTF-8 bytes): -1, 0 or 1, or -2 for another type. In match mode the
// second value is a pattern the first must start with.
int equal(const Cell* bin, const Cell* other, int op, bool match);
// The byte a poke writes: an integer! 0..255 or a char! up to 0xFF; anything
// else raises script/invalid-arg.
uint8_t get_byte_arg(const Cell* value);

// Handlers other parts call directly.
int form(Cell* value, Cell* buffer, int part);
int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent);
int compare(Cell* a, Cell* b, int op);

}  // namespace vyx::binary
