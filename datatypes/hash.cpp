// hash!: a block whose cells are also entered in a hash index (payload word
// 3), so that find and select of a single value look it up instead of walking
// the cells. Every block behaviour is block!'s own: the actions that change
// the cells run block!'s handler and then enter the cells into the index
// again, so the index always matches the block, whatever the change.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "datatypes/hash.h"

#include "datatypes/block.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "evaluator/helpers.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/hash_index.h"
#include "runtime/raise.h"

namespace vyx::hash {

namespace {

inline SeriesBuffer* buf(const Cell* s) { return node_buffer(s->data2); }

template <typename F>
F parent(int action) {
    return reinterpret_cast<F>(get_handler(TYPE_BLOCK, action));
}

// Makes `slot` (holding a block) a hash! with a new index over its cells.
Cell* index_block(Cell* slot) {
    slot->header = TYPE_HASH;
    uint32_t n = buf(slot)->length();
    Node index = make_hash_index(n ? n : 1, slot->data2, HASH_KIND_HASH);
    slot->data3 = index;
    return slot;
}

const Cell* make(Cell* proto, Cell* spec, int type) {
    int t = type_of(spec);
    Cell* slot = stack::push_slot();
    slot->header = TYPE_UNSET;
    if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        double d = t == TYPE_INTEGER ? double(int32_t(spec->data2)) : cell_float(spec);
        if (t == TYPE_FLOAT && !(d >= -2147483648.0 && d <= 2147483647.0)) raise_error(err::script_out_of_range, spec);
        blk::make_at(slot, d < 1 ? 1 : int32_t(d));
        return index_block(slot);
    }
    if (t == TYPE_BLOCK) {
        block::copy_at(spec, slot);
        return index_block(slot);
    }
    if (t == TYPE_HASH) {
        Cell source = *spec;
        block::copy_at(&source, slot);
        return index_block(slot);
    }
    *slot = *block::to(proto, spec, TYPE_BLOCK);
    return index_block(slot);
}

const Cell* to(Cell* proto, Cell* spec, int type) {
    Cell* slot = stack::push_slot();
    slot->header = TYPE_UNSET;
    if (type_of(spec) == TYPE_HASH) {
        Cell source = *spec;
        block::copy_at(&source, slot);
    } else {
        *slot = *block::to(proto, spec, TYPE_BLOCK);
    }
    return index_block(slot);
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    if (!only) part = string::concatenate_literal(buffer, "make hash! ", part);
    Cell v = *value;
    return block::mold_items(&v, buffer, only, all, flat, part, indent, "[", "]");
}

const Cell* copy(Cell* s, Cell* result, Cell* part, bool deep, Cell* types) {
    Cell source = *s;
    block::copy(&source, result, part, deep, types);
    if (source.data1 != 0 || part || deep || types || !source.data3) return index_block(result);
    // A whole copy takes a duplicate of the index: the same positions.
    result->header = TYPE_HASH;
    result->data3 = 0;
    Node index = copy_hash_index(source.data3, result->data2);
    result->data3 = index;
    return result;
}

// ---------------------------------------------------------------- searching

// Values whose find equality needs the same datatype on both sides: these are
// looked up in the index; anything else (words of any kind, blocks, datatypes,
// floats) walks the cells as block! does.
bool is_indexed_kind(int t) {
    switch (t) {
    case TYPE_INTEGER: case TYPE_CHAR: case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_EMAIL:
    case TYPE_TAG: case TYPE_REF: case TYPE_BINARY: case TYPE_PAIR: case TYPE_TUPLE:
    case TYPE_LOGIC: case TYPE_NONE:
        return true;
    default:
        return false;
    }
}

// The position of the first match at or after the head, -1 when none, or -2
// when the search is not one the index answers.
int64_t lookup(Cell* s, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with, Cell* skip,
               bool last, bool reverse, bool match) {
    if (part || any || with || match || !s->data3) return -2;
    if (skip && (type_of(skip) != TYPE_INTEGER || int32_t(skip->data2) < 1)) return -2;  // block! reports it
    int vt = type_of(value);
    if (!is_indexed_kind(vt)) return -2;
    uint32_t n = buf(s)->length();
    uint32_t head = std::min(s->data1, n);
    if (n == 0 || (head >= n && !reverse)) return -1;
    uint32_t step = skip ? skip->data2 : 1;
    int op = same ? COMP_SAME : case_ ? COMP_STRICT_EQUAL : COMP_FIND;
    // /last counts back from the tail, /reverse from before the head.
    if (last) return find_in_hash_index_with(s->data3, value, n, step, op, false, true);
    return find_in_hash_index_with(s->data3, value, head, step, op, false, reverse);
}

Cell found_cell;

const Cell* find(Cell* s, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with, Cell* skip,
                 bool last, bool reverse, bool tail, bool match) {
    int64_t at = lookup(s, value, part, only, case_, same, any, with, skip, last, reverse, match);
    if (at == -2) return block::find(s, value, part, only, case_, same, any, with, skip, last, reverse, tail, match);
    if (at < 0) return &NONE_CELL;
    found_cell = *s;
    found_cell.data1 = uint32_t(at + (tail ? 1 : 0));
    return &found_cell;
}

const Cell* select(Cell* s, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                   Cell* skip, bool last, bool reverse, bool tail, bool match) {
    int64_t at = lookup(s, value, part, only, case_, same, any, with, skip, last, reverse, false);
    if (at == -2) return block::select(s, value, part, only, case_, same, any, with, skip, last, reverse, tail, match);
    if (at < 0 || uint64_t(at) + 1 >= buf(s)->length()) return &NONE_CELL;
    found_cell = buf(s)->cell_head()[at + 1];
    return &found_cell;
}

// ---------------------------------------------------------------- changes
//
// Each change runs block!'s handler, then brings the index in step with
// what it did: the entries of the cells that went are taken out, those
// behind them renumbered, and the cells that came are entered.

uint32_t length_of(const Cell* s) { return buf(s)->length(); }
uint32_t clamped_head(const Cell* s) { return std::min(s->data1, length_of(s)); }

}  // namespace

// The cells at [at, old_end) of the block were replaced by those now at
// [at, new_end); the cells behind moved with them. `old_n` is the cell count
// before the change.
void update(const Cell* s, uint32_t old_n, uint32_t at, uint32_t old_end, uint32_t new_end) {
    if (type_of(s) != TYPE_HASH || !s->data3) return;
    Node index = s->data3;
    uint32_t n = length_of(s);
    if (at > old_end || old_end > old_n || new_end > n || int64_t(n) - new_end != int64_t(old_n) - old_end) {
        rehash_block_into_index(index);  // not a change these updates describe
        return;
    }
    if (at == 0 && old_end == old_n) {
        hash_index_remove_range(index, 0, UINT32_MAX);
    } else {
        hash_index_remove_range(index, at, old_end - at);
        if (shift_index_positions(index, int32_t(int64_t(new_end) - old_end), old_end, old_n - old_end)) {
            rehash_block_into_index(index);
            return;
        }
    }
    for (uint32_t p = at; p < new_end; p++) {
        int code;
        hash_index_put(index, p, &code);
        if (code == 2) return;  // rebuilt from the block, the rest included
    }
}

namespace {

// One cell replaced in place.
void update_one(const Cell* s, uint32_t p) {
    uint32_t n = length_of(s);
    if (p < n) update(s, n, p, p + 1, p + 1);
}

void rebuild(const Cell* s) {
    if (type_of(s) == TYPE_HASH && s->data3) rehash_block_into_index(s->data3);
}

// A result cell kept on the stack while the index is updated (updates
// allocate, and a taken value may be held nowhere else).
const Cell* kept(const Cell* r) { return stack::push(r); }

void append(Cell* s, Cell* v, int part, bool only, int dup) {
    Cell h = *s;
    uint32_t n = length_of(&h);
    parent<act::Insert>(A_APPEND)(s, v, part, only, dup);
    update(&h, n, n, n, length_of(&h));
}

void insert(Cell* s, Cell* v, int part, bool only, int dup) {
    Cell h = *s;
    uint32_t n = length_of(&h), at = clamped_head(&h);
    parent<act::Insert>(A_INSERT)(s, v, part, only, dup);
    update(&h, n, at, at, at + (length_of(&h) - n));
}

void change(Cell* s, Cell* v, int part, bool only, int dup) {
    Cell h = *s;
    uint32_t n = length_of(&h), at = clamped_head(&h);
    parent<act::Insert>(A_CHANGE)(s, v, part, only, dup);
    // The answer stands just past the new cells.
    uint32_t new_end = std::max(stack::arguments->data1, at);
    update(&h, n, at, uint32_t(int64_t(new_end) - (int64_t(length_of(&h)) - n)), new_end);
}

void clear(Cell* s) {
    Cell h = *s;
    uint32_t n = length_of(&h), at = clamped_head(&h);
    parent<act::Clear>(A_CLEAR)(s);
    update(&h, n, at, n, at);
}

const Cell* poke(Cell* s, int index, Cell* data, Cell* boxed) {
    Cell h = *s;
    const Cell* r = kept(parent<act::Poke>(A_POKE)(s, index, data, boxed));
    update_one(&h, uint32_t(int64_t(h.data1) + (index > 0 ? index - 1 : index)));
    return r;
}

void remove(Cell* s, Cell* part, Cell* key) {
    Cell h = *s;
    uint32_t n = length_of(&h);
    parent<act::Remove>(A_REMOVE)(s, part, key);
    uint32_t gone = n - length_of(&h);
    if (gone == 0) return;
    uint32_t at = stack::arguments->data1;  // where the cells were cut
    update(&h, n, at, at + gone, at);
}

const Cell* take(Cell* s, Cell* part, bool deep, bool last) {
    Cell h = *s;
    uint32_t n = length_of(&h), head = clamped_head(&h);
    bool backwards = part && type_of(part) == TYPE_INTEGER && int32_t(part->data2) < 0;
    const Cell* r = kept(parent<act::Take>(A_TAKE)(s, part, deep, last));
    uint32_t gone = n - length_of(&h);
    if (gone == 0) return r;
    uint32_t at = last ? n - gone : backwards ? head - gone : head;
    update(&h, n, at, at + gone, at);
    return r;
}

const Cell* move(Cell* origin, Cell* target, Cell* part) {
    Cell a = *origin, b = *target;
    uint32_t na = length_of(&a), from = clamped_head(&a);
    uint32_t nb = is_series_type(type_of(&b)) ? length_of(&b) : 0, to = std::min(b.data1, nb);
    uint32_t count = 0;
    if (a.data2 == b.data2 && from < na) {
        int64_t c = part ? series::part_count(&a, part) : 1;
        count = c < 1 ? 0 : uint32_t(std::min<int64_t>(c, na - from));
    }
    const Cell* r = kept(parent<act::Move>(A_MOVE)(origin, target, part));
    if (a.data2 == b.data2) {
        if (type_of(&a) == TYPE_HASH && a.data3 && hash_index_move_range(a.data3, to, from, count)) rebuild(&a);
        return r;
    }
    uint32_t gone = na - length_of(&a);
    if (gone) update(&a, na, from, from + gone, from);
    uint32_t came = is_series_type(type_of(&b)) ? length_of(&b) - nb : 0;
    if (came) update(&b, nb, to, to, to + came);
    return r;
}

void swap(Cell* x, Cell* y) {
    Cell a = *x, b = *y;
    parent<act::Swap>(A_SWAP)(x, y);  // which keeps another hash! y in step
    update_one(&a, a.data1);
    if (b.data2 == a.data2) update_one(&b, b.data1);
}

void reverse(Cell* s, Cell* part, Cell* skip) {
    Cell h = *s;
    uint32_t n = length_of(&h), at = clamped_head(&h);
    parent<act::Reverse>(A_REVERSE)(s, part, skip);
    update(&h, n, at, n, n);
}

// The position of the cell a put or a path set changes: the one after the
// key's match (the index answers for single values), or -1.
int64_t value_position(Cell* s, Cell* key, bool case_) {
    Cell k = *key;
    const Cell* f = find(s, &k, nullptr, false, case_, false, false, nullptr, nullptr, false, false, true, false);
    return type_of(f) == TYPE_NONE ? -1 : int64_t(f->data1);
}

const Cell* put(Cell* s, Cell* key, Cell* value, bool case_) {
    Cell h = *s;
    uint32_t n = length_of(&h);
    int64_t at = value_position(&h, key, case_);
    const Cell* r = kept(parent<act::Put>(A_PUT)(s, key, value, case_));
    if (length_of(&h) != n) update(&h, n, n, n, length_of(&h));
    else if (at >= 0) update_one(&h, uint32_t(at));
    return r;
}

const Cell* sort(Cell* s, bool case_, Cell* skip, Cell* compare, Cell* part, bool all, bool reverse_, bool stable) {
    Cell h = *s;
    const Cell* r = kept(parent<act::Sort>(A_SORT)(s, case_, skip, compare, part, all, reverse_, stable));
    rebuild(&h);
    return r;
}

void trim(Cell* s, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    Cell h = *s;
    parent<act::Trim>(A_TRIM)(s, head, tail, auto_, lines, all, with);
    rebuild(&h);
}

const Cell* eval_path(Cell* parent_cell, Cell* element, Cell* value, Cell* path, bool case_) {
    if (!value) return parent<act::EvalPath>(A_EVAL_PATH)(parent_cell, element, value, path, case_);
    Cell h = *parent_cell;
    int64_t at = type_of(element) == TYPE_INTEGER
                     ? int64_t(h.data1) + (int32_t(element->data2) > 0 ? int32_t(element->data2) - 1
                                                                       : int32_t(element->data2))
                     : value_position(&h, element, case_);
    const Cell* r = kept(parent<act::EvalPath>(A_EVAL_PATH)(parent_cell, element, value, path, case_));
    if (at >= 0) update_one(&h, uint32_t(at));
    return r;
}

const Cell* modify(Cell* target, Cell* field, Cell* value, bool case_) {
    auto block_modify = parent<act::Modify>(A_MODIFY);
    // A block has no modify of its own, so a hash! answers as a block does.
    if (!block_modify) helpers::raise_expect_arg(0, TYPE_HASH);
    Cell h = *target;
    const Cell* r = kept(block_modify(target, field, value, case_));
    rebuild(&h);
    return r;
}

}  // namespace

void register_type() {
    Registration(TYPE_HASH, TYPE_BLOCK, "hash!")
        .marker(map::mark_cell, true)
        .on<A_MAKE>(make)
        .on<A_TO>(to)
        .on<A_MOLD>(mold)
        .on<A_COPY>(copy)
        .on<A_FIND>(find)
        .on<A_SELECT>(select)
        .on<A_APPEND>(append)
        .on<A_INSERT>(insert)
        .on<A_CHANGE>(change)
        .on<A_CLEAR>(clear)
        .on<A_POKE>(poke)
        .on<A_REMOVE>(remove)
        .on<A_TAKE>(take)
        .on<A_MOVE>(move)
        .on<A_SWAP>(swap)
        .on<A_REVERSE>(reverse)
        .on<A_PUT>(put)
        .on<A_SORT>(sort)
        .on<A_TRIM>(trim)
        .on<A_EVAL_PATH>(eval_path)
        .on<A_MODIFY>(modify)
        .inherit({A_REFLECT, A_FORM, A_COMPARE, A_AT, A_BACK, A_HEAD, A_HEAD_Q, A_INDEX_Q, A_LENGTH_Q, A_NEXT,
                  A_PICK, A_SKIP, A_TAIL, A_TAIL_Q})
        .commit();
}

}  // namespace vyx::hash
