// map!: the dictionary. Pairs live in a cell series in the order their keys
// were first added; a hash index of the map kind finds keys. A removed pair
// keeps its key (in the series and the index) and gets a value cell whose
// header is 0; every reader skips it, and setting the key again revives it.
#include "datatypes/map.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/cycle_stack.h"
#include "runtime/hash_index.h"
#include "runtime/raise.h"

namespace vyx::map {

namespace {

constexpr int OP_EQUAL = COMP_EQUAL, OP_STRICT = COMP_STRICT_EQUAL, OP_SAME = COMP_SAME;

inline SeriesBuffer* pairs(const Cell* m) { return node_buffer(m->data2); }
inline Cell* cells(const Cell* m) { return pairs(m)->cell_head(); }
inline uint32_t cell_count(const Cell* m) { return pairs(m)->length(); }
inline bool is_removed(const Cell* value) { return value->header == 0; }

inline bool is_word_key(int t) { return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD; }
inline bool is_series_key(int t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_BINARY || t == TYPE_TAG ||
           t == TYPE_EMAIL || t == TYPE_REF;
}

Cell datatype_cell(int t) { return Cell{TYPE_DATATYPE, uint32_t(t), 0, 0}; }

// The key as lookups see it: every word kind is a set-word.
Cell lookup_key(const Cell* key) {
    Cell k = *key;
    if (is_word_key(type_of(&k))) k.header = TYPE_SET_WORD;
    return k;
}

// Turns a key into its stored form in place: words become set-words, texts
// and binaries fresh copies from their index. `path` is the error's path
// argument (null: none).
void prepare_key(Cell* key, const Cell* path) {
    int t = type_of(key);
    if (!is_valid_key_type(t)) {
        Cell dt = datatype_cell(t);
        raise_error(err::script_invalid_path, path ? path : &NONE_CELL, &dt);
    }
    if (is_word_key(t)) {
        key->header = TYPE_SET_WORD;
    } else if (is_series_key(t)) {
        Cell source = *key;
        uint32_t from = std::min(source.data1, series::length_from_head(&source));
        series::copy_range(&source, from, series::length_from_head(&source) - from, key);
        key->header = uint32_t(t);
    }
}

// The position of the live or removed pair holding the key, or -1. Strings
// and integers, the commonest keys, are compared here rather than through the
// index's equality; a string is read once for its hash and every compare.
int64_t find_key(const Cell* m, const Cell* key, int op) {
    if (!m->data3) return -1;
    const int t = type_of(key);
    if (t == TYPE_STRING) {
        const string::Key k = string::key_of(key);
        return map_index_find_by(m->data3, string::hash_key(k, false), [&](const Cell* stored) {
            return type_of(stored) == TYPE_STRING && string::equal_key(k, stored, op);
        });
    }
    if (t == TYPE_INTEGER) {
        const uint32_t n = key->data2;
        return map_index_find_by(m->data3, hash_value(key, false), [n](const Cell* stored) {
            return type_of(stored) == TYPE_INTEGER && stored->data2 == n;
        });
    }
    Cell k = lookup_key(key);
    if (!is_valid_key_type(type_of(&k))) return -1;
    return map_index_find(m->data3, &k, op);
}

uint32_t live_count(const Cell* m) { return m->data3 ? hash_index_header(m->data3)->size : 0; }

void adjust_count(const Cell* m, int delta) { hash_index_header(m->data3)->size += uint32_t(delta); }

// Enters every key of the pair series (its cells from 0) into a new index;
// a key met again gives its value to the first pair and its own pair goes.
// One pass: the pairs kept move down over those that went.
void build_index(Cell* m, uint32_t room = 0) {
    uint32_t n = cell_count(m);
    uint32_t keys = std::max(n / 2, room);
    Node index = make_hash_index(keys ? keys : 1, m->data2, HASH_KIND_MAP);
    m->data3 = index;
    hash_index_header(index)->size = 0;
    uint32_t kept = 0;
    for (uint32_t k = 0; k + 1 < n; k += 2) {
        Cell key = cells(m)[k];
        int64_t at = find_key(m, &key, OP_STRICT);
        if (at >= 0) {
            cells(m)[at + 1] = cells(m)[k + 1];
            continue;
        }
        prepare_key(&key, &cells(m)[k]);  // may allocate: cells are read afresh
        cells(m)[kept] = key;
        cells(m)[kept + 1] = cells(m)[k + 1];
        map_index_add(index, kept);
        kept += 2;
    }
    SeriesBuffer* b = pairs(m);
    b->tail = b->offset + kept * uint32_t(sizeof(Cell));
}

// Adds or sets one pair; answers the value cell's position.
uint32_t set_pair(Cell* m, const Cell* key_in, const Cell* value, int op, const Cell* path) {
    int64_t at = find_key(m, key_in, op);
    if (at < 0) {
        Cell* key = stack::push(key_in);
        prepare_key(key, path);
        SeriesBuffer* b = pairs(m);
        if (b->tail + 2 * sizeof(Cell) > b->size) b = grow_series(b, int64_t(b->size) * 2 + 2 * sizeof(Cell));
        at = b->length();
        Cell* c = b->cell_head() + at;
        c[0] = *key;
        c[1] = Cell{TYPE_UNSET, 0, 0, 0};
        b->tail += 2 * sizeof(Cell);
        stack::top = key;
        map_index_add(m->data3, uint32_t(at));
    } else if (is_removed(pairs(m)->read_cells() + at + 1)) {
        adjust_count(m, 1);
    }
    Cell* slot = cells(m) + at + 1;
    *slot = *value;
    clear_new_line_flag(slot);
    return uint32_t(at + 1);
}

Cell* new_map(Cell* target, uint32_t cell_capacity) {
    blk::make_at(target, cell_capacity ? cell_capacity : 2);
    target->header = TYPE_MAP;
    // The index is made for the pairs asked for, so filling them never rehashes.
    build_index(target, cell_capacity / 2);
    return target;
}

int32_t size_argument(Cell* spec) {
    if (type_of(spec) == TYPE_FLOAT) {
        double d = cell_float(spec);
        if (!(d >= -2147483648.0 && d <= 2147483647.0)) raise_error(err::script_out_of_range, spec);
        return int32_t(d);
    }
    return int32_t(spec->data2);
}

const Cell* copy_map(Cell* m, Cell* result, bool deep);

const Cell* make_or_to(Cell* spec, bool to) {
    int t = type_of(spec);
    Cell dt = datatype_cell(TYPE_MAP);
    Cell* slot = stack::push_slot();
    slot->header = TYPE_UNSET;
    if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        if (to) raise_error(err::script_bad_to_arg, &dt, spec);
        int32_t n = size_argument(spec);
        if (n < 0) raise_error(err::script_out_of_range, spec);
        return new_map(slot, uint32_t(n) * 2);
    }
    if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH) {
        uint32_t n = series::rs_length(spec);
        if (n % 2) raise_error(err::script_invalid_arg, spec);
        Cell source = *spec;
        series::copy_range(&source, source.data1, n, slot);
        for (Cell* c = cells(slot), *end = c + n; c < end; c++) clear_new_line_flag(c);
        slot->header = TYPE_MAP;
        build_index(slot);
        return slot;
    }
    if (t == TYPE_MAP) return copy_map(spec, slot, false);
    raise_error(err::script_bad_to_arg, &dt, spec);
}

const Cell* make(Cell*, Cell* spec, int) { return make_or_to(spec, false); }
const Cell* to(Cell*, Cell* spec, int) { return make_or_to(spec, true); }

// ---------------------------------------------------------------- text

// Writes the live pairs; see mold and form for the layouts.
int serialize_body(Cell* m, Cell* buffer, bool only, bool all, bool flat, int part, bool indent, int level,
                   bool leading_newline) {
    if (live_count(m) == 0) return part;
    const char* separator = flat ? " " : "\n";
    if (flat) {
        indent = false;
        leading_newline = false;
    }
    if (leading_newline) {
        if (!only) part = string::concatenate_literal(buffer, "\n", part);
        else indent = false;
    }
    CycleGuard guard(m->data2);
    uint32_t n = cell_count(m);
    for (uint32_t k = 0; k + 1 < n; k += 2) {
        Cell key = cells(m)[k], value = cells(m)[k + 1];
        if (is_removed(&value)) continue;
        if (indent) part = mold_indent(buffer, level, part);
        part = block::mold_cell(&key, buffer, only, all, flat, part, level);
        part = string::concatenate_literal(buffer, " ", part);
        part = block::mold_cell(&value, buffer, only, all, flat, part, level);
        if (indent || k + 2 < n) part = string::concatenate_literal(buffer, separator, part);
        if (part <= 0) break;
    }
    return part;
}

int form(Cell* value, Cell* buffer, int part) {
    Cell m = *value;
    if (mold_cycle_marker(&m, buffer, &part, false)) return part;
    return serialize_body(&m, buffer, false, false, false, part, false, 0, false);
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    Cell m = *value;
    if (mold_cycle_marker(&m, buffer, &part, true)) return part;
    if (!only) part = string::concatenate_literal(buffer, "#[", part);
    uint32_t before = series::length_from_head(buffer);
    part = serialize_body(&m, buffer, only, all, flat, part, true, indent + 1, true);
    if (only) return part;
    if (series::length_from_head(buffer) != before && indent > 0 && !flat) part = mold_indent(buffer, indent, part);
    return string::concatenate_literal(buffer, "]", part);
}

// ---------------------------------------------------------------- access

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, bool case_) {
    Cell m = *parent;
    int op = case_ ? OP_STRICT : OP_EQUAL;
    if (!value) {
        int64_t at = find_key(&m, element, op);
        if (at < 0 || is_removed(&cells(&m)[at + 1])) return &NONE_CELL;
        return &cells(&m)[at + 1];
    }
    uint32_t v = set_pair(&m, element, value, op, path);
    return &cells(&m)[v];
}

const Cell* put(Cell* s, Cell* key, Cell* value, bool case_) {
    Cell m = *s;
    uint32_t v = set_pair(&m, key, value, case_ ? OP_STRICT : OP_EQUAL, nullptr);
    return &cells(&m)[v];
}

Cell found_cell;

int lookup_op(bool case_, bool same) { return same ? OP_SAME : case_ ? OP_STRICT : OP_EQUAL; }

const Cell* select(Cell* s, Cell* value, Cell*, bool, bool case_, bool same, bool, Cell*, Cell*, bool, bool, bool,
                   bool) {
    return select_value(s, value, case_, same);
}

const Cell* find(Cell* s, Cell* value, Cell*, bool, bool case_, bool same, bool, Cell*, Cell*, bool, bool, bool,
                 bool) {
    int64_t at = find_key(s, value, lookup_op(case_, same));
    if (at < 0 || is_removed(&cells(s)[at + 1])) return &NONE_CELL;
    found_cell = cells(s)[at];
    if (type_of(&found_cell) == TYPE_SET_WORD) found_cell.header = TYPE_WORD;
    return &found_cell;
}

void remove(Cell* s, Cell*, Cell* key) {
    if (!key) raise_error(err::script_missing_arg);
    Cell m = *s;
    int64_t at = find_key(&m, key, OP_STRICT);
    if (at >= 0) hash_index_remove(m.data3, uint32_t(at));
    *stack::arguments = m;
}

void clear(Cell* s) {
    Cell m = *s;
    pairs(&m)->tail = pairs(&m)->offset;
    if (m.data3) clear_hash_index(m.data3);
    *stack::arguments = m;
}

int length(Cell* s) { return int(live_count(s)); }

}  // namespace

bool copy_pairs(const Cell* words, Cell* pos, uint32_t n, Cell* held) {
    bool any = false;
    for (uint32_t i = 0; i < n; i++) {
        SeriesBuffer* wb = node_buffer(words->data2);
        if (words->data1 + i >= wb->length()) break;  // the body may have shortened the words
        Cell own = wb->read_cells()[words->data1 + i];
        Cell& w = held ? held[i] : own;
        int wt = type_of(&w);
        if (wt != TYPE_WORD && wt != TYPE_SET_WORD && wt != TYPE_GET_WORD && wt != TYPE_LIT_WORD)
            raise_error(err::script_invalid_arg, &w);
        uint32_t total = cell_count(pos);
        if (i % 2 == 0)
            while (pos->data1 + i + 1 < total && is_removed(&cells(pos)[pos->data1 + i + 1])) pos->data1 += 2;
        Cell v = pos->data1 + i < total ? cells(pos)[pos->data1 + i] : NONE_CELL;
        if (type_of(&v) == TYPE_SET_WORD) v.header = TYPE_WORD;
        any |= pos->data1 + i < total;
        context::set_again(&w, &v);
    }
    return any;
}

namespace {

const Cell* copy_map(Cell* m_in, Cell* result, bool deep) {
    Cell m = *m_in;
    series::copy_range(&m, 0, cell_count(&m), result);
    result->header = TYPE_MAP;
    if (deep) {
        Cell* held = stack::push(result);
        block::copy(held, held, nullptr, true, nullptr);
        held->header = TYPE_MAP;
        *result = *held;
        stack::top = held;
    }
    result->data3 = m.data3 ? copy_hash_index(m.data3, result->data2) : 0;
    if (!result->data3) build_index(result);
    return result;
}

const Cell* copy(Cell* s, Cell* result, Cell*, bool deep, Cell* types) {
    return copy_map(s, result, deep && !types);
}

// A block of the live keys (words), values, or both (body: keys as stored,
// each on a new line), written into `out`.
void reflect_into(const Cell* value, int32_t field, Cell* out) {
    Cell m = *value;
    bool words = field == symbol::resolve(sym::words), values = field == symbol::resolve(sym::values),
         body = field == symbol::resolve(sym::body);
    if (!words && !values && !body) raise_error(err::internal_not_done);
    uint32_t live = live_count(&m);
    collector::Rooted<2> r;
    r[0] = m;
    blk::make_at(&r[1], (live ? live : 1) * (body ? 2 : 1));
    uint32_t n = cell_count(&r[0]);
    for (uint32_t k = 0, done = 0; k + 1 < n && done < live; k += 2) {
        Cell key = cells(&r[0])[k], v = cells(&r[0])[k + 1];
        if (is_removed(&v)) continue;
        done++;
        if (words) {
            if (type_of(&key) == TYPE_SET_WORD) key.header = TYPE_WORD;
            blk::append(&r[1], &key);
        } else if (values) {
            blk::append(&r[1], &v);
        } else {
            key.header |= FLAG_NEW_LINE;
            blk::append(&r[1], &key);
            blk::append(&r[1], &v);
        }
    }
    *out = r[1];
}

void reflect(Cell* value, int field) {
    Cell out;
    reflect_into(value, symbol::resolve(field), &out);
    *stack::arguments = out;
}

// ---------------------------------------------------------------- comparison

int compare_each(Cell* a, Cell* b, int op) {
    if (a->data2 == b->data2 && a->data1 == b->data1) return 0;
    if (op == OP_SAME) return -1;
    if (is_cycle_found(a->data2)) return is_cycle_found(b->data2) ? 0 : -1;
    uint32_t na = live_count(a), nb = live_count(b);
    if (na != nb) return 1;
    if (na == 0) return 0;
    CycleGuard ga(a->data2), gb(b->data2);
    int result = 0;
    uint32_t n = cell_count(a);
    for (uint32_t k = 0; k + 1 < n && result == 0; k += 2) {
        Cell key = cells(a)[k], value = cells(a)[k + 1];
        if (is_removed(&value)) continue;
        if (op == OP_STRICT) {
            int64_t at = find_key(b, &key, OP_STRICT);
            if (at < 0 || is_removed(&cells(b)[at + 1])) return 1;
            Cell other = cells(b)[at + 1];
            result = block::compare_cells(&value, &other, OP_STRICT) == 0 ? 0 : 1;
            continue;
        }
        result = 1;
        map_index_visit(b->data3, &key, OP_EQUAL, [&](uint32_t at) {
            Cell other = cells(b)[at + 1];
            if (is_removed(&other)) return false;
            if (block::compare_cells(&value, &other, OP_EQUAL) == 0) {
                result = 0;
                return true;
            }
            return false;
        });
    }
    return result;
}

int compare(Cell* a, Cell* b, int op) {
    if (type_of(b) != TYPE_MAP) return NOT_COMPARABLE;
    switch (op) {
    case COMP_SORT: case COMP_CASE_SORT:
        return a->data2 < b->data2 ? -1 : a->data2 > b->data2 ? 1 : 0;
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND:
        return compare_each(a, b, op == COMP_NOT_EQUAL || op == COMP_FIND ? OP_EQUAL : op);
    default:
        return NOT_COMPARABLE;
    }
}

}  // namespace

const Cell* select_value(const Cell* m, const Cell* key, bool case_, bool same) {
    int64_t at = find_key(m, key, lookup_op(case_, same));
    if (at < 0) return &NONE_CELL;
    const Cell* value = pairs(m)->read_cells() + at + 1;
    if (is_removed(value)) return &NONE_CELL;
    found_cell = *value;
    return &found_cell;
}

bool is_valid_key_type(int t) {
    switch (t) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
    case TYPE_BINARY: case TYPE_CHAR: case TYPE_INTEGER: case TYPE_FLOAT: case TYPE_WORD:
    case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT: case TYPE_ISSUE:
    case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TUPLE: case TYPE_TIME: case TYPE_DATE:
    case TYPE_MONEY: case TYPE_POINT2D: case TYPE_POINT3D:
        return true;
    default:
        return false;
    }
}

Cell make_from_block(const Cell* block) {
    // Built in a root: the block's cell may sit in a buffer that moves.
    collector::Rooted<1> r;
    r[0] = *block;
    r[0].header = (block->header & ~TYPE_MASK) | TYPE_MAP;
    r[0].data1 = 0;
    r[0].data3 = 0;
    build_index(&r[0]);
    return r[0];
}

void body(const Cell* m, Cell* out) { reflect_into(m, symbol::resolve(sym::body), out); }

const Cell* extend(Cell* m_in, Cell* spec, bool case_) {
    Cell m = *m_in;
    uint32_t n = series::rs_length(spec);
    if (n % 2) raise_error(err::script_invalid_arg, spec);
    SeriesBuffer* b = pairs(&m);
    uint64_t need = uint64_t(b->tail) + uint64_t(n) * sizeof(Cell);
    if (need > b->size) grow_series(b, int64_t(need - b->offset));
    int op = case_ ? OP_STRICT : OP_EQUAL;
    for (uint32_t k = 0; k < n; k += 2) {
        Cell key = reinterpret_cast<Cell*>(series::element_at(series::buffer_of(spec), spec->data1))[k];
        Cell value = reinterpret_cast<Cell*>(series::element_at(series::buffer_of(spec), spec->data1))[k + 1];
        set_pair(&m, &key, &value, op, nullptr);
    }
    *m_in = m;
    return m_in;
}

// The block of keys and values, and its hash index.
void mark_cell(const Cell* c) {
    if (c->data2) collector::mark_series_node(c->data2);
    if (c->data3) collector::mark_hash_index(c->data3);
}

void register_type() {
    Registration(TYPE_MAP, 0, "map!")
        .marker(mark_cell, true)
        .hasher(hash_payload_word<2>)
        .on<A_MAKE>(make)
        .on<A_REFLECT>(reflect)
        .on<A_TO>(to)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_EVAL_PATH>(eval_path)
        .on<A_COMPARE>(compare)
        .on<A_CLEAR>(clear)
        .on<A_COPY>(copy)
        .on<A_FIND>(find)
        .on<A_LENGTH_Q>(length)
        .on<A_PUT>(put)
        .on<A_REMOVE>(remove)
        .on<A_SELECT>(select)
        .commit();
}

}  // namespace vyx::map
