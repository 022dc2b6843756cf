// string! and its kin: series of fixed-width characters, 1, 2 or 4 bytes each
// (the buffer's unit). A unit-1 string holds code points up to 0xFF.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx::string {

// Writes an empty string! with room for `capacity` characters into `target`.
Cell* make_at(Cell* target, uint32_t capacity, uint32_t unit = 1);
// Pushes an empty string! on the evaluation stack.
Cell* push(uint32_t capacity);

// The code point at element index i of a buffer.
inline uint32_t char_at(SeriesBuffer* b, uint32_t i) {
    switch (b->unit()) {
    case 1: return b->data()[i];
    case 2: return reinterpret_cast<uint16_t*>(b->data())[i];
    default: return reinterpret_cast<uint32_t*>(b->data())[i];
    }
}

// Appends ASCII text, writing no more than the budget allows; returns the
// budget less the text's length.
int concatenate_literal(Cell* str, std::string_view ascii, int part);

// The characters from the string's head to its tail, as UTF-8.
std::string to_utf8(const Cell* str);

}  // namespace vyx::string
