// block!: the series of value cells that code and data are made of. paren!,
// the path types and hash! are its children and share these helpers.
//
// The helpers that answer a cell inside a block answer an address that is only
// good until the next allocation; the shared none! they answer when nothing
// matches is read-only. Cell-level access (length, position, make, append)
// is blk:: in runtime/cells.h.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/cells.h"
#include "runtime/memory.h"

namespace vyx::block {

// Linear search for a cell equal to `value` (find equality): the cell after
// the match, or the shared none! when nothing matches or the match is last.
const Cell* find_value(const Cell* blk, const Cell* value);
// Removes the first match (searching from the buffer's start on request).
void remove_value(Cell* blk, const Cell* value, bool from_start = false);
// The cell after a word of the same symbol (canonical symbols unless
// `case_`), or the shared none!.
const Cell* select_word(const Cell* blk, const Cell* word, bool case_ = false);

// A new block (head 0) with copies of the cells from blk's head.
Cell* copy_at(const Cell* blk, Cell* target);
// Replaces in place every value from `from` to `to` (cell indexes from the
// buffer's start, every `step` cells) whose type is `types` (a datatype! or
// typeset!) and that is a series by its copy, deep when asked.
void copy_typed_series(Cell* blk, uint32_t from, uint32_t to, uint32_t step, const Cell* types, bool deep);

// A new block holding one copy of the value.
Cell* make_from_value(Cell* target, const Cell* value);

// Text writers shared with paren! and the path types.
int mold_cell(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent);
int form_cell(Cell* value, Cell* buffer, int part);
// The item writer of block! and paren!: open and close are the brackets.
int mold_items(Cell* blk, Cell* buffer, bool only, bool all, bool flat, int part, int indent, const char* open,
               const char* close);

// Orders two cells as block comparison does for its items.
int compare_cells(Cell* a, Cell* b, int op);
// The comparison handler of the block types.
int compare(Cell* a, Cell* b, int op);

// Handlers the path and paren types reuse.
const Cell* make(Cell* proto, Cell* spec, int type);
const Cell* to(Cell* proto, Cell* spec, int type);
int form(Cell* value, Cell* buffer, int part);
int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent);
const Cell* copy(Cell* s, Cell* result, Cell* part, bool deep, Cell* types);
void append(Cell* s, Cell* value, int part, bool only, int dup);
void insert(Cell* s, Cell* value, int part, bool only, int dup);
void change(Cell* s, Cell* value, int part, bool only, int dup);
const Cell* find(Cell* s, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                 Cell* skip, bool last, bool reverse, bool tail, bool match);
const Cell* select(Cell* s, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                   Cell* skip, bool last, bool reverse, bool tail, bool match);
const Cell* put(Cell* s, Cell* key, Cell* value, bool case_);
void swap(Cell* a, Cell* b);
const Cell* take(Cell* s, Cell* part, bool deep, bool last);
void trim(Cell* s, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, bool case_);

const Cell* sort(Cell* s, bool case_, Cell* skip, Cell* compare, Cell* part, bool all, bool reverse, bool stable);

// The worker of unique, union, intersect, exclude and difference: a new
// block (of series1's type) pushed on the evaluation stack. series2 is not
// read for unique; skip (an integer!, or null) is the record size.
const Cell* set_operation(int op, Cell* series1, Cell* series2, bool case_, Cell* skip);

void register_type();

}  // namespace vyx::block
