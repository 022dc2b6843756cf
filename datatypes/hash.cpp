// hash!: a block whose cells are also entered in a hash index (payload word
// 3), so that find and select of a single value look it up instead of walking
// the cells. Every block behaviour is block!'s own: the actions that change
// the cells run block!'s handler and then enter the cells into the index
// again, so the index always matches the block, whatever the change.
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/cells.h"
#include "runtime/hash_index.h"
#include "runtime/raise.h"

namespace vyx::hash {

namespace {

inline SeriesBuffer* buf(const Cell* s) { return node_buffer(s->data2); }

// Enters the cells of a hash! value's block into its index anew.
void refresh(const Cell* s) {
    if (type_of(s) == TYPE_HASH && s->data3) rehash_block_into_index(s->data3);
}

// A result cell kept on the stack while the index is rebuilt (the rebuild
// allocates, and a taken value may be held nowhere else).
const Cell* kept(const Cell* r) { return stack::push(r); }

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
        block::make_at(slot, d < 1 ? 1 : int32_t(d));
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
    return index_block(result);
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
    if (part || any || with || skip || last || reverse || match || !s->data3) return -2;
    int vt = type_of(value);
    if (!is_indexed_kind(vt)) return -2;
    uint32_t n = buf(s)->length();
    if (s->data1 >= n) return -1;
    int op = same ? COMP_SAME : case_ ? COMP_STRICT_EQUAL : COMP_FIND;
    return find_in_hash_index_with(s->data3, value, s->data1, 1, op, false, false);
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

void insert_like(int action, Cell* s, Cell* value, int part, bool only, int dup) {
    Cell h = *s;
    parent<act::Insert>(action)(s, value, part, only, dup);
    refresh(&h);
}
void append(Cell* s, Cell* v, int part, bool only, int dup) { insert_like(A_APPEND, s, v, part, only, dup); }
void insert(Cell* s, Cell* v, int part, bool only, int dup) { insert_like(A_INSERT, s, v, part, only, dup); }
void change(Cell* s, Cell* v, int part, bool only, int dup) { insert_like(A_CHANGE, s, v, part, only, dup); }

void clear(Cell* s) {
    Cell h = *s;
    parent<act::Clear>(A_CLEAR)(s);
    refresh(&h);
}

const Cell* poke(Cell* s, int index, Cell* data, Cell* boxed) {
    Cell h = *s;
    const Cell* r = kept(parent<act::Poke>(A_POKE)(s, index, data, boxed));
    refresh(&h);
    return r;
}

void remove(Cell* s, Cell* part, Cell* key) {
    Cell h = *s;
    parent<act::Remove>(A_REMOVE)(s, part, key);
    refresh(&h);
}

const Cell* take(Cell* s, Cell* part, bool deep, bool last) {
    Cell h = *s;
    const Cell* r = kept(parent<act::Take>(A_TAKE)(s, part, deep, last));
    refresh(&h);
    return r;
}

const Cell* move(Cell* origin, Cell* target, Cell* part) {
    Cell a = *origin, b = *target;
    const Cell* r = kept(parent<act::Move>(A_MOVE)(origin, target, part));
    refresh(&a);
    refresh(&b);
    return r;
}

void swap(Cell* x, Cell* y) {
    Cell a = *x, b = *y;
    parent<act::Swap>(A_SWAP)(x, y);
    refresh(&a);
    refresh(&b);
}

void reverse(Cell* s, Cell* part, Cell* skip) {
    Cell h = *s;
    parent<act::Reverse>(A_REVERSE)(s, part, skip);
    refresh(&h);
}

const Cell* put(Cell* s, Cell* key, Cell* value, bool case_) {
    Cell h = *s;
    const Cell* r = kept(parent<act::Put>(A_PUT)(s, key, value, case_));
    refresh(&h);
    return r;
}

const Cell* sort(Cell* s, bool case_, Cell* skip, Cell* compare, Cell* part, bool all, bool reverse_, bool stable) {
    Cell h = *s;
    const Cell* r = kept(parent<act::Sort>(A_SORT)(s, case_, skip, compare, part, all, reverse_, stable));
    refresh(&h);
    return r;
}

void trim(Cell* s, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    Cell h = *s;
    parent<act::Trim>(A_TRIM)(s, head, tail, auto_, lines, all, with);
    refresh(&h);
}

const Cell* eval_path(Cell* parent_cell, Cell* element, Cell* value, Cell* path, bool case_) {
    Cell h = *parent_cell;
    const Cell* r = parent<act::EvalPath>(A_EVAL_PATH)(parent_cell, element, value, path, case_);
    if (!value) return r;
    r = kept(r);
    refresh(&h);
    return r;
}

const Cell* modify(Cell* target, Cell* field, Cell* value, bool case_) {
    Cell h = *target;
    const Cell* r = kept(parent<act::Modify>(A_MODIFY)(target, field, value, case_));
    refresh(&h);
    return r;
}

}  // namespace

void register_type() {
    Registration(TYPE_HASH, TYPE_BLOCK, "hash!")
        .marker(map::mark_cell, true)
        .on(A_MAKE, act::Make(make))
        .on(A_TO, act::Make(to))
        .on(A_MOLD, act::Mold(mold))
        .on(A_COPY, act::Copy(copy))
        .on(A_FIND, act::Find(find))
        .on(A_SELECT, act::Find(select))
        .on(A_APPEND, act::Insert(append))
        .on(A_INSERT, act::Insert(insert))
        .on(A_CHANGE, act::Insert(change))
        .on(A_CLEAR, act::Clear(clear))
        .on(A_POKE, act::Poke(poke))
        .on(A_REMOVE, act::Remove(remove))
        .on(A_TAKE, act::Take(take))
        .on(A_MOVE, act::Move(move))
        .on(A_SWAP, act::Swap(swap))
        .on(A_REVERSE, act::Reverse(reverse))
        .on(A_PUT, act::Put(put))
        .on(A_SORT, act::Sort(sort))
        .on(A_TRIM, act::Trim(trim))
        .on(A_EVAL_PATH, act::EvalPath(eval_path))
        .on(A_MODIFY, act::Modify(modify))
        .inherit({A_REFLECT, A_FORM, A_COMPARE, A_AT, A_BACK, A_HEAD, A_HEAD_Q, A_INDEX_Q, A_LENGTH_Q, A_NEXT,
                  A_PICK, A_SKIP, A_TAIL, A_TAIL_Q})
        .commit();
}

}  // namespace vyx::hash
