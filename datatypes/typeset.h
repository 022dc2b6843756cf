// typeset!: a set of datatypes in one cell. The three payload words hold 96
// bits in memory order; type id t is present when bit 0x80 >> (t & 7) of byte
// t >> 3 is set. Function specs use typesets for their argument checks.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::typeset {

inline const uint8_t* bytes(const Cell* ts) { return reinterpret_cast<const uint8_t*>(&ts->data1); }
inline uint8_t* bytes(Cell* ts) { return reinterpret_cast<uint8_t*>(&ts->data1); }

inline bool has(const Cell* ts, int type) { return bytes(ts)[type >> 3] & (0x80 >> (type & 7)); }
inline void add(Cell* ts, int type) { bytes(ts)[type >> 3] |= uint8_t(0x80 >> (type & 7)); }
inline void remove(Cell* ts, int type) { bytes(ts)[type >> 3] &= uint8_t(~(0x80 >> (type & 7))); }

// A typeset cell with no types.
inline Cell empty() { return Cell{TYPE_TYPESET, 0, 0, 0}; }
// Every bit set except unset!'s: the typeset of an argument with no type block.
Cell all_but_unset();
// Every bit set.
Cell any_type();

// The typeset of a spec's type block: words stand for their values,
// datatypes set their bit, typesets merge in, nested blocks are skipped;
// anything else raises script/invalid-type-spec.
Cell from_block(const Cell* spec);
inline void clear(Cell* ts) { ts->data1 = ts->data2 = ts->data3 = 0; }
// Adds a value's types: a word is replaced by its value, a typeset merges in,
// a datatype sets its bit; anything else raises script/invalid-arg.
void set_type(Cell* ts, const Cell* value);
int count(const Cell* ts);

// Typesets known by name (any-type!, series!, number! ...): fills `out` and
// answers true when `name` (with its "!") is one of them.
bool by_name(const char* name, Cell* out);

void register_type();

}  // namespace vyx::typeset
