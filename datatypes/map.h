// map!: key/value pairs in a cell series (payload word 2) with a hash index
// over the keys (payload word 3).
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::map {

// Whether values of the type may be map keys.
bool is_valid_key_type(int type);
// A map! over the block's series (keys at even positions from the start; a
// key met again gives its value to the first and its pair goes). The result
// holds the only reference to the new index: store it before allocating.
Cell make_from_block(const Cell* block);
// The live pairs as a block: key, value, key, value ... (keys as stored).
void body(const Cell* m, Cell* out);
// Adds or replaces the key/value pairs of a block (keys compared strictly
// with `case_`); answers the map.
const Cell* extend(Cell* m, Cell* spec, bool case_);
// One step of a loop over a map: from the position (`pos`, a map! cell whose
// index the step moves past removed pairs), sets loop word i to the cell at
// position + i (a key stored as a set-word! given as a word!), words past the
// end to none. Answers whether any word was set. `held` (or null): the
// loop's copies of the words, which keep their indexes, set in their place.
bool copy_pairs(const Cell* words, Cell* pos, uint32_t n, Cell* held = nullptr);
// select on a map!, for the action's entry to call without the general
// handler's arguments (the other refinements mean nothing to a map): the
// value of the key, or none. The answer is only good until the next lookup.
const Cell* select_value(const Cell* m, const Cell* key, bool case_, bool same);
// What a cell of a block with a hash index (map!, hash!) keeps alive: the
// block (word 2) and the index (word 3).
void mark_cell(const Cell* cell);

}  // namespace vyx::map
