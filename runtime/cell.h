// The value cell: every Vyx value is 16 bytes, four 32-bit words.
// Word 0 is the header (type id in bits 0-7, flags above); words 1-3 are the
// payload, laid out per datatype. Payload words never hold machine addresses:
// series and contexts are referenced by 32-bit node ids (see memory.h).
#pragma once
#include <cstdint>
#include <cstring>

namespace vyx {

struct Cell {
    uint32_t header;
    uint32_t data1;
    uint32_t data2;
    uint32_t data3;
};
static_assert(sizeof(Cell) == 16, "a value cell is four 32-bit words");

// Type ids: the boot data and the binary format use the same numbers.
enum Type : uint8_t {
    TYPE_DATATYPE = 1, TYPE_UNSET, TYPE_NONE, TYPE_LOGIC, TYPE_BLOCK, TYPE_PAREN,
    TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT, TYPE_SYMBOL,
    TYPE_CONTEXT, TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT,
    TYPE_ISSUE, TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_PATH, TYPE_LIT_PATH,
    TYPE_SET_PATH, TYPE_GET_PATH, TYPE_ROUTINE, TYPE_BITSET, TYPE_TRIPLE, TYPE_OBJECT,
    TYPE_TYPESET, TYPE_ERROR, TYPE_VECTOR, TYPE_HASH, TYPE_PAIR, TYPE_PERCENT, TYPE_TUPLE,
    TYPE_MAP, TYPE_BINARY, TYPE_SERIES, TYPE_TIME, TYPE_TAG, TYPE_EMAIL, TYPE_HANDLE,
    TYPE_DATE, TYPE_PORT, TYPE_MONEY, TYPE_REF, TYPE_POINT2D, TYPE_POINT3D, TYPE_IMAGE,
    TYPE_EVENT,
    TYPE_MAX = TYPE_EVENT
};
static_assert(TYPE_EVENT == 54 && TYPE_SERIES == 42 && TYPE_BINARY == 41);

// Type ids of the runtime's private records, above every datatype's: cells of
// these types sit only inside internal records, never reach a user, and have
// a layout of their own that no datatype's marker misreads.
enum InternalType : uint8_t {
    // Word 1 a context node, kept alive as a context.
    TYPE_CONTEXT_REF = 0xF0,
    // An argument cache entry for a refinement: word 1 the frame slot of its
    // logic! cell, word 2 its symbol, word 3 its number (from 1).
    TYPE_ARG_REFINEMENT = 0xF1,
    // An object's change-handler entry: word 2 the handler's field index in
    // bits 16-31 and its local count below (all ones: no handler), word 3 the
    // node of the spec block the count was taken from.
    TYPE_CHANGE_HANDLER = 0xF2,
};

// Header flags shared by all datatypes; single datatypes define their own above bit 8.
constexpr uint32_t FLAG_NEW_LINE = 0x40000000;  // mold starts a new line before this value
constexpr uint32_t TYPE_MASK = 0xFF;
// On the first cell of a context's record: the values are the running call's
// argument cells on the evaluation stack, not a series (context! names it
// FLAG_STACK; the collector reads it too).
constexpr uint32_t FLAG_CONTEXT_ON_STACK = 0x00400000;

inline int type_of(const Cell* c) { return int(c->header & TYPE_MASK); }

// Writes a new type and keeps every flag bit above the type byte.
inline void set_cell_type(Cell* c, int type) { c->header = uint32_t(type) | (c->header & ~TYPE_MASK); }
inline void clear_new_line_flag(Cell* c) { c->header &= ~FLAG_NEW_LINE; }

inline Cell* copy_cell(const Cell* source, Cell* target) {
    if (source != target) *target = *source;
    return target;
}

// 64-bit payloads (float!, percent!, time!) live in words 2 and 3.
inline double cell_float(const Cell* c) {
    double d;
    std::memcpy(&d, &c->data2, sizeof d);
    return d;
}
inline void set_cell_float(Cell* c, double d) { std::memcpy(&c->data2, &d, sizeof d); }

inline bool is_series_type(int t) {
    switch (t) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_STRING: case TYPE_FILE: case TYPE_URL:
    case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
    case TYPE_VECTOR: case TYPE_HASH: case TYPE_BINARY: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF: case TYPE_IMAGE:
        return true;
    default:
        return false;
    }
}
inline bool is_any_block(int t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || (t >= TYPE_PATH && t <= TYPE_GET_PATH);
}
inline bool is_any_string(int t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG || t == TYPE_EMAIL ||
           t == TYPE_REF;
}
inline bool is_any_word(int t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; }

}  // namespace vyx
