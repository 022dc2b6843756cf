// string! and its kin: series of fixed-width characters, 1, 2 or 4 bytes each
// (the buffer's unit). A unit-1 string holds code points up to 0xFF, a unit-2
// one up to 0xFFFF. A buffer is widened in place when a wider character
// arrives and never narrowed while it holds text; emptying it resets unit 1.
//
// Cell: head (characters) in word 1, node in word 2, word 3 the node of the
// text converters' scratch bytes (0 for a plain string).
//
// The writers take and return the buffer because widening and growth may
// replace it: use the returned one (or re-read through the node) afterwards.
// Indexes are in characters from the buffer's start, so they stay valid when
// the unit changes.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx {
struct Registration;
}

namespace vyx::string {

// Writes an empty string! with room for `capacity` characters into `target`.
Cell* make_at(Cell* target, uint32_t capacity, uint32_t unit = 1);
// The same, capacity 0 taken as 1 (the constructor every handler uses).
Cell* rs_make_at(Cell* target, uint32_t capacity);
// Pushes an empty string! on the evaluation stack.
Cell* push(uint32_t capacity);

// The code point at element index i of a buffer, counted from its data start.
inline uint32_t char_at(SeriesBuffer* b, uint32_t i) {
    switch (b->unit()) {
    case 1: return b->data()[i];
    case 2: return reinterpret_cast<uint16_t*>(b->data())[i];
    default: return reinterpret_cast<uint32_t*>(b->data())[i];
    }
}
// The code point at a character address of the given unit.
inline uint32_t get_char(const uint8_t* p, uint32_t unit) {
    switch (unit) {
    case 1: return *p;
    case 2: return *reinterpret_cast<const uint16_t*>(p);
    default: return *reinterpret_cast<const uint32_t*>(p);
    }
}
inline void put_char(uint8_t* p, uint32_t unit, uint32_t cp) {
    switch (unit) {
    case 1: *p = uint8_t(cp); break;
    case 2: *reinterpret_cast<uint16_t*>(p) = uint16_t(cp); break;
    default: *reinterpret_cast<uint32_t*>(p) = cp; break;
    }
}
// The code point at index k from the string buffer's start (its offset).
uint32_t char_at(const Cell* str, uint32_t k);

// Index from head of the first occurrence of cp, or -1.
int32_t position_at(const Cell* str, uint32_t cp);

// Empties the string: unit 1, tail at the offset, head 0.
void clear(Cell* str);

// Writers (see the widening thresholds on each).
// Appends at the tail; widens unit 1 above 0x7F, any unit above 0xFFFF.
SeriesBuffer* append_char(SeriesBuffer* b, uint32_t cp);
// Writes at an index (the tail appends); widens above 0xFF / 0xFFFF.
SeriesBuffer* overwrite_char(SeriesBuffer* b, uint32_t index, uint32_t cp);
// Opens a one-character gap at the index and writes cp there.
SeriesBuffer* insert_char(SeriesBuffer* b, uint32_t index, uint32_t cp);
// Writes at an index inside the text; widens above 0xFF / 0xFFFF.
SeriesBuffer* poke_char(SeriesBuffer* b, uint32_t index, uint32_t cp);
// n must not exceed the characters from index to the tail.
void remove_part(Cell* str, uint32_t index, uint32_t n);
// Moves the tail back to n characters when that lies before it.
void cut_tail(SeriesBuffer* b, uint32_t n);
// Converts the characters in place to a wider unit (2 or 4).
SeriesBuffer* widen_to(SeriesBuffer* b, uint32_t unit);
// The unit a code point needs when written inside text (not appended).
inline uint32_t unit_for(uint32_t cp) { return cp > 0xFFFF ? 4 : cp > 0xFF ? 2 : 1; }

// Appends (or inserts at `offset`, from dst's buffer start) the characters of
// `src` from its head: `part` of them when part >= 0, else all. With `keep`
// false the source may be widened in place to the destination's unit.
// `src` may be a symbol! (its name, from index 0).
void concatenate(Cell* dst, const Cell* src, int32_t part, uint32_t offset, bool keep, bool insert);
// Appends ASCII text, writing no more than the budget allows; returns the
// budget less the text's length.
int concatenate_literal(Cell* str, std::string_view ascii, int part);

// Strings from encoded text: encoding 0 is UTF-8, -1 UTF-16LE (`length` in
// bytes). Any other encoding is a fault of the caller: the process reports it
// and ends. load writes into `target`, load_in appends to a block, load_push
// pushes on the evaluation stack.
Cell* load(const uint8_t* bytes, uint32_t length, int encoding, Cell* target);
Cell* load_in(const uint8_t* bytes, uint32_t length, int encoding, Cell* block);
Cell* load_push(const uint8_t* bytes, uint32_t length, int encoding);
// Initialises `cell` as a string made from `bytes` (the converters pick the unit).
Cell* make_from_bytes(Cell* cell, const uint8_t* bytes, uint32_t length, int encoding);

// Matching.
bool is_match_ascii(const Cell* str, const char* bytes);
bool is_match_tag(const Cell* str, const Cell* tag);
bool is_match_value(const Cell* str, const Cell* value, int case_flag);
// Inserts n characters from src's head into dst at its head, then removes
// them from src.
void move_chars(Cell* src, Cell* dst, uint32_t n);

// The one switch point for case folding in comparisons.
uint32_t fold_upper(uint32_t cp);
// The same, with ASCII folded in line.
inline uint32_t fold_upper_fast(uint32_t cp) {
    if (cp < 0x80) return cp - 'a' < 26 ? cp - 32 : cp;
    return fold_upper(cp);
}
// Orders two any-string values (or symbols): -1, 0 or 1.
int compare_values(const Cell* a, const Cell* b, int op, bool match);
// Whether two string! values are equal under COMP_EQUAL, COMP_STRICT_EQUAL or
// COMP_SAME, as compare_values answers it: what hashed lookups ask most.
bool equal_values(const Cell* a, const Cell* b, int op);

// A string! as a hashed lookup's key, read once for its hash and for every
// stored key it is compared with: the bytes from its position on when it is
// unit-1 (null for a wider string, which goes the general way). The address is
// only good until the next allocation.
struct Key {
    const Cell* cell;
    const uint8_t* bytes;
    uint32_t length;
};
inline Key key_of(const Cell* s) {
    const SeriesBuffer* b = node_buffer(s->data2);
    if (b->unit() != 1) return Key{s, nullptr, 0};
    uint32_t n = b->tail - b->offset;
    return Key{s, b->read_head() + s->data1, s->data1 < n ? n - s->data1 : 0};
}
// The string's hash as hash indexes take it (its registered hasher).
uint32_t hash_key(const Key& key, bool case_sensitive);
// equal_values(key.cell, b, op), b being a string!.
bool equal_key(const Key& key, const Cell* b, int op);

// The escape rule of molded text, shared with char! molding: writes cp with
// its caret escape when it needs one. Answers the budget less what was written.
int append_escaped_char(Cell* buffer, uint32_t cp, bool all, int part);

// Handlers other parts call directly.
int form(Cell* value, Cell* buffer, int part);
int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent);
int compare(Cell* a, Cell* b, int op);

// The set-operation worker for strings: a new string of series1's type. Records
// are `skip` characters long and compared by their first character.
const Cell* set_operation(int op, Cell* series1, Cell* series2, bool case_, Cell* skip);
// Adds the series actions string! implements itself to its registration.
void register_series_actions(Registration& r);

// The characters from the string's head to its tail, as UTF-8.
std::string to_utf8(const Cell* str);

}  // namespace vyx::string

namespace vyx {

// When the value (block-like, path, map! or object!) is on the cycle stack,
// writes its marker into `buffer`, lowers *limit by the marker's length and
// answers true; else writes nothing and answers false.
bool mold_cycle_marker(const Cell* value, Cell* buffer, int* limit, bool mold);

// Writes four spaces per level; answers limit - 4 * levels.
int mold_indent(Cell* buffer, int levels, int limit);

// Changes a string (from its index to its tail, or `part` characters: an
// integer! count, or a position in the same series) or a char! in place and
// returns it (direction CASE_LOWER or CASE_UPPER). A string widens when a
// mapped character needs a wider unit. `value` must not live in a movable series.
Cell* change_case(Cell* value, int direction, const Cell* part = nullptr);

}  // namespace vyx
