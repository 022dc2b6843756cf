// series!: the abstract parent of every positioned sequence (blocks, strings,
// binary!, vector!, hash!, image!), its position arithmetic and the handlers
// every series shares.
//
// A series value keeps its 0-based `head` in payload word 1 and the node of its
// buffer in word 2. The buffer's unit is the element width: 16 for cells, 1, 2
// or 4 for characters, 1 for bytes. `head` may lie beyond the tail after the
// buffer shrank through another value; readers treat it as the tail.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx::series {

// Units are powers of two: 1, 2, 4 (characters), 8 (vector! doubles), 16 (cells).
inline uint32_t unit_shift(uint32_t unit) { return uint32_t(__builtin_ctz(unit)); }

inline SeriesBuffer* buffer_of(const Cell* s) { return node_buffer(s->data2); }

// Elements from the buffer's start (its offset) to the tail.
inline uint32_t length_from_head(const Cell* s) {
    SeriesBuffer* b = buffer_of(s);
    return (b->tail - b->offset) >> unit_shift(b->unit());
}
// Elements from the value's head to the tail; 0 when the head is beyond it.
inline uint32_t rs_length(const Cell* s) {
    uint32_t n = length_from_head(s);
    return s->data1 >= n ? 0 : n - s->data1;
}
inline bool is_rs_tail(const Cell* s) { return s->data1 >= length_from_head(s); }

// Address of element k counted from the buffer's start; only good until the
// next allocation.
inline uint8_t* element_at(SeriesBuffer* b, uint32_t k) {
    return b->data() + b->offset + (k << unit_shift(b->unit()));
}

// Kinds the shared handlers tell apart.
inline bool is_block_like(int t) { return is_any_block(t); }
inline bool is_string_like(int t) { return is_any_string(t); }

// Series modifications reported to the owner of an owned series. The
// ownership module installs the hook; it is only consulted for buffers that
// carry the owned flag.
enum class Change : uint8_t {
    APPEND, INSERT, CHANGE, CLEAR, POKE, REMOVE, TAKE, RANDOM, MOVE, PUT, REVERSE, SORT, SWAP, TRIM,
    CHANGE_COUNT
};
// `done` is false before the change (the action word) and true after it (the
// past form). Answers whether an owner was told.
using OwnershipCheck = bool (*)(const Cell* series, Change action, bool done, const Cell* value, int32_t index,
                                int32_t count);
extern OwnershipCheck ownership_check;

inline bool notify(const Cell* s, Change action, bool done, const Cell* value, int32_t index, int32_t count) {
    if (!ownership_check || !(buffer_of(s)->flags & series_flag::OWNED)) return false;
    return ownership_check(s, action, done, value, index, count);
}

// The count a /part argument gives for `s`: an integer!, or a series of the
// same type and buffer (its head less s's head; with `to_tail`, from its head
// to the tail). Anything else raises script/invalid-refine-arg.
int32_t part_count(const Cell* s, const Cell* part, bool to_tail = false);

// The positions a find or select visits in a series of n elements from
// `index`, given a /part count (-1 for none): forward from low up to high
// (excluded), or with /last or /reverse backward from high - 1 down to low.
// Answers false when nothing can match (/match with /reverse).
struct FindBounds {
    int64_t low, high;
    bool backward;
};
bool find_bounds(uint32_t index, uint32_t n, int64_t count, bool last, bool reverse, bool match, FindBounds& out);

// The element at index k from the buffer's start, as a value: the cell itself
// for block-like series, a char! for strings, an integer! for binary!.
void element_value(const Cell* s, uint32_t k, Cell* out);

// New series of s's type and unit, holding `count` elements of s from element
// `start` (from the buffer's start); written into `target`. Flags other than
// the owned flag follow the source.
Cell* copy_range(const Cell* s, uint32_t start, uint32_t count, Cell* target);

// A word! of the name for error arguments (the refinement or action an error
// names); none! while the symbol table is not up.
Cell named_word(const char* name);

// The operation codes of the set-operation workers (block!, string!, bitset!, typeset!).
enum SetOp : int { SET_UNIQUE = 8, SET_UNION = 9, SET_INTERSECT = 10, SET_EXCLUDE = 11, SET_DIFFERENCE = 12 };

// The passes every set-operation worker makes: `pass(series, other, keep_if_in)`
// walks a series' records, keeping those found (or not) among the keys of
// `other` (null: every record), and `keys_of(series)` builds those keys.
// Answers false for an unknown operation.
template <typename S, typename Pass, typename KeysOf>
bool run_set_passes(int op, const S& a, const S& b, Pass&& pass, KeysOf&& keys_of) {
    switch (op) {
    case SET_UNIQUE: pass(a, nullptr, true); return true;
    case SET_UNION:
        pass(a, nullptr, true);
        pass(b, nullptr, true);
        return true;
    case SET_INTERSECT: case SET_EXCLUDE: {
        auto other = keys_of(b);
        pass(a, &other, op == SET_INTERSECT);
        return true;
    }
    case SET_DIFFERENCE: {
        auto in_b = keys_of(b);
        auto in_a = keys_of(a);
        pass(a, &in_b, false);
        pass(b, &in_a, false);
        return true;
    }
    default: return false;
    }
}

// Handlers shared by every series (registered on series!).
void at();
void back();
void head();
void is_head();
void index_of();
void next();
void skip();
void tail();
void is_tail();
int length(Cell* s);
const Cell* pick(Cell* s, int index, Cell* boxed_index);
const Cell* poke(Cell* s, int index, Cell* data, Cell* boxed_index);
// A path's integer step into a series: picks the element, or pokes `value`
// there when one is given.
const Cell* path_index(Cell* s, Cell* index, Cell* value);
void clear(Cell* s);
void remove(Cell* s, Cell* part, Cell* key);
const Cell* take(Cell* s, Cell* part, bool deep, bool last);
const Cell* copy(Cell* s, Cell* result, Cell* part, bool deep, Cell* types);
void reverse(Cell* s, Cell* part, Cell* skip);
const Cell* move(Cell* origin, Cell* target, Cell* part);

void register_type();

}  // namespace vyx::series
