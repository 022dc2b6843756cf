#include "datatypes/block.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

#include "datatypes/object.h"
#include "datatypes/hash.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/sorting.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/vector.h"
#include "evaluator/lexer.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/cycle_stack.h"
#include "runtime/hash_index.h"
#include "runtime/raise.h"

namespace vyx::block {

namespace {

using blk::MAX_CELLS;


Cell datatype_cell(int t) { return Cell{TYPE_DATATYPE, uint32_t(t), 0, 0}; }

Cell refinement_word(const char* name) { return series::named_word(name); }

Cell* new_slot() {
    Cell* slot = stack::push_slot();
    slot->header = TYPE_UNSET;
    return slot;
}

// Makes room for `extra` cells at the tail; `doubling` asks for twice the need.
SeriesBuffer* ensure_room(Node node, uint64_t extra, bool doubling) {
    SeriesBuffer* b = node_buffer(node);
    uint64_t cells_now = blk::size(node);
    if (cells_now + extra > MAX_CELLS) raise_error(err::internal_no_memory);
    uint64_t need = uint64_t(b->tail) + (extra << 4);
    if (need <= b->size) return b;
    uint64_t want = (cells_now + extra) << 4;
    if (doubling) want *= 2;
    if (want > uint64_t(MAX_CELLS) * 16) want = uint64_t(MAX_CELLS) * 16;
    return grow_series(b, int64_t(want));
}

bool types_match(const Cell* types, int t) {
    if (type_of(types) == TYPE_DATATYPE) return int(types->data1) == t;
    // typeset!: bit 0x80 >> (t & 7) of byte t >> 3 of the payload words
    const uint8_t* bits = reinterpret_cast<const uint8_t*>(&types->data1);
    return t < 96 && (bits[t >> 3] & (0x80 >> (t & 7))) != 0;
}

void deep_copy_cells(Cell* blk);

// Replaces a series cell by its copy (deep for block-likes).
void copy_series_cell(Cell* cell_in_block, Node owner, uint32_t index, bool deep) {
    Cell value = *cell_in_block;
    Cell copy;
    int t = type_of(&value);
    if (is_any_block(t)) {
        Cell from = value;
        copy_at(&from, &copy);
        copy.header = value.header;
        if (deep) {
            Cell* slot = new_slot();
            *slot = copy;  // keeps the copy reachable while its items are copied
            auto guard = CycleGuard::refusing(value.data2);
            deep_copy_cells(slot);
            copy = *slot;
            stack::top = slot;
        }
    } else {
        Cell from = value;
        series::copy(&from, &copy, nullptr, false, nullptr);
    }
    *blk::at(owner, index) = copy;
}

void deep_copy_cells(Cell* blk) {
    uint32_t n = blk::size(blk->data2);
    for (uint32_t k = 0; k < n; k++) {
        Cell c = *blk::at(blk->data2, k);
        if (is_series_type(type_of(&c)) && type_of(&c) != TYPE_IMAGE)
            copy_series_cell(blk::at(blk->data2, k), blk->data2, k, true);
    }
}

// Equality test of find: operator 12, 2 with /case, 9 with /same.
inline int find_op(bool case_, bool same) { return same ? COMP_SAME : case_ ? COMP_STRICT_EQUAL : COMP_FIND; }

bool cells_equal(Cell* a, Cell* b, int op) {
    auto h = reinterpret_cast<act::Compare>(get_handler(type_of(a), A_COMPARE));
    if (!h) return type_of(a) == type_of(b) && a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
    return h(a, b, op) == 0;
}

Cell found_scratch;

}  // namespace

// ---------------------------------------------------------------- lookups

const Cell* find_value(const Cell* blk, const Cell* value) {
    Cell v = *value;
    uint32_t n = blk::size(blk->data2);
    for (uint32_t k = blk->data1; k < n; k++) {
        Cell c = *blk::at(blk->data2, k);
        if (cells_equal(&v, &c, COMP_FIND)) return k + 1 < n ? blk::at(blk->data2, k + 1) : &NONE_CELL;
    }
    return &NONE_CELL;
}

void remove_value(Cell* blk, const Cell* value, bool from_start) {
    Cell v = *value;
    uint32_t n = blk::size(blk->data2);
    for (uint32_t k = from_start ? 0 : blk->data1; k < n; k++) {
        Cell c = *blk::at(blk->data2, k);
        if (cells_equal(&v, &c, COMP_FIND)) {
            SeriesBuffer* b = node_buffer(blk->data2);
            std::memmove(b->cell_head() + k, b->cell_head() + k + 1, size_t(n - k - 1) << 4);
            b->tail -= 16;
            return;
        }
    }
}

const Cell* select_word(const Cell* blk, const Cell* word, bool case_) {
    int32_t sym = int32_t(word->data2);
    if (!case_) sym = symbol::resolve(sym);
    uint32_t n = blk::size(blk->data2);
    for (uint32_t k = blk->data1; k < n; k++) {
        const Cell* c = blk::at(blk->data2, k);
        int t = type_of(c);
        if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD) continue;
        int32_t s = int32_t(c->data2);
        if (!case_) s = symbol::resolve(s);
        if (s == sym) return k + 1 < n ? c + 1 : &NONE_CELL;
    }
    return &NONE_CELL;
}

// ---------------------------------------------------------------- constructors

Cell* copy_at(const Cell* blk, Cell* target) {
    Cell src = *blk;
    uint32_t n = series::rs_length(&src);
    uint32_t start = src.data1 > series::length_from_head(&src) ? series::length_from_head(&src) : src.data1;
    series::copy_range(&src, start, n, target);
    set_cell_type(target, TYPE_BLOCK);
    return target;
}

void copy_typed_series(Cell* blk, uint32_t from, uint32_t to, uint32_t step, const Cell* types, bool deep) {
    if (step == 0) step = 1;
    Cell t = *types;
    for (uint32_t k = from; k < to && k < blk::size(blk->data2); k += step) {
        Cell c = *blk::at(blk->data2, k);
        int ct = type_of(&c);
        if (!types_match(&t, ct) || !is_series_type(ct) || ct == TYPE_IMAGE) continue;
        copy_series_cell(blk::at(blk->data2, k), blk->data2, k, deep);
    }
}

Cell* make_from_value(Cell* target, const Cell* value) {
    Cell v = *value;
    blk::make_at(target, 1);
    blk::append(target, &v);
    return target;
}

// ---------------------------------------------------------------- text

int mold_cell(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    auto m = reinterpret_cast<act::Mold>(get_handler(type_of(value), A_MOLD));
    if (!m) raise_error(err::internal_not_done);
    return m(value, buffer, only, all, flat, part, indent);
}

int form_cell(Cell* value, Cell* buffer, int part) {
    auto f = reinterpret_cast<act::Form>(get_handler(type_of(value), A_FORM));
    if (!f) raise_error(err::internal_not_done);
    return f(value, buffer, part);
}

int mold_items(Cell* blk_in, Cell* buffer, bool only, bool all, bool flat, int part, int indent, const char* open,
               const char* close) {
    Cell blk = *blk_in;
    if (mold_cycle_marker(&blk, buffer, &part, true)) return part;
    if (!only) part = string::concatenate_literal(buffer, open, part);
    bool closing_line = false;
    {
        CycleGuard guard(blk.data2);
        uint32_t first = blk.data1;
        for (uint32_t k = first; k < blk::size(blk.data2); k++) {
            if (part <= 0) break;
            Cell item = *blk::at(blk.data2, k);
            if (!flat && (item.header & FLAG_NEW_LINE)) {
                if (k == first && !only) {
                    indent++;
                    closing_line = true;
                }
                if (!(k == first && only)) part = string::concatenate_literal(buffer, "\n", part);
                part = mold_indent(buffer, indent, part);
            } else if (k != first) {
                part = string::concatenate_literal(buffer, " ", part);
            }
            part = mold_cell(&item, buffer, false, all, flat, part, indent);
        }
    }
    if (closing_line) {
        part = string::concatenate_literal(buffer, "\n", part);
        part = mold_indent(buffer, indent - 1, part);
    }
    if (!only) part = string::concatenate_literal(buffer, close, part);
    return part;
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    return mold_items(value, buffer, only, all, flat, part, indent, "[", "]");
}

int form(Cell* value, Cell* buffer, int part) {
    Cell blk = *value;
    if (mold_cycle_marker(&blk, buffer, &part, false)) return part;
    CycleGuard guard(blk.data2);
    uint32_t n = blk::size(blk.data2);
    for (uint32_t k = blk.data1; k < n; k++) {
        if (part <= 0) break;
        Cell item = *blk::at(blk.data2, k);
        part = form_cell(&item, buffer, part);
        if (k + 1 < n) {
            SeriesBuffer* sb = node_buffer(buffer->data2);
            uint32_t len = (sb->tail - sb->offset) >> series::unit_shift(sb->unit());
            uint32_t last = len ? string::char_at(buffer, len - 1) : 0;
            if (last != '\t' && last != '\n' && last != '\r') part = string::concatenate_literal(buffer, " ", part);
        }
        n = blk::size(blk.data2);
    }
    return part;
}

// ---------------------------------------------------------------- comparison

int compare_cells(Cell* a, Cell* b, int op) {
    int ta = type_of(a), tb = type_of(b);
    if (ta != tb) {
        bool words = is_any_word(ta) && is_any_word(tb);
        auto numeric = [](int t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; };
        if (!words && !(numeric(ta) && numeric(tb))) return ta < tb ? -1 : 1;
    }
    auto h = reinterpret_cast<act::Compare>(get_handler(ta, A_COMPARE));
    if (!h) return NOT_COMPARABLE;
    return h(a, b, op);
}

int compare(Cell* a_in, Cell* b_in, int op) {
    Cell a = *a_in, b = *b_in;
    int ta = type_of(&a), tb = type_of(&b);
    if (ta != tb) {
        bool paths = (op == COMP_LIT_STRICT_EQUAL || op == COMP_LIT_EQUAL) &&
                     ((ta == TYPE_PATH && tb == TYPE_LIT_PATH) || (ta == TYPE_LIT_PATH && tb == TYPE_PATH));
        if (!paths) return NOT_COMPARABLE;
    }
    bool same = a.data2 == b.data2 && a.data1 == b.data1;
    if (op == COMP_SAME) return same ? 0 : -1;
    if (same) return 0;
    if (is_cycle_found(a.data2)) return is_cycle_found(b.data2) ? 0 : -1;
    uint32_t l1 = series::rs_length(&a), l2 = series::rs_length(&b);
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_LIT_STRICT_EQUAL ||
                    op == COMP_LIT_EQUAL || op == COMP_FIND;
    if (l1 != l2 && equality) return 1;
    // An empty block orders before any non-empty one (the lengths decide
    // below), so that sorting stays a total order.
    int answer = 0;
    {
        CycleGuard ga(a.data2);
        CycleGuard gb(b.data2);
        uint32_t n = l1 < l2 ? l1 : l2;
        for (uint32_t i = 0; i < n && answer == 0; i++) {
            Cell x = *blk::at(a.data2, a.data1 + i);
            Cell y = *blk::at(b.data2, b.data1 + i);
            answer = compare_cells(&x, &y, op);
        }
    }
    if (answer != 0) return answer;
    return l1 < l2 ? -1 : l1 > l2 ? 1 : 0;
}

// ---------------------------------------------------------------- make, to, copy

const Cell* make(Cell* proto, Cell* spec, int type) {
    int t = type_of(spec);
    if (is_any_block(t)) {
        Cell* slot = new_slot();
        copy_at(spec, slot);
        set_cell_type(slot, type);
        clear_new_line_flag(slot);
        return slot;
    }
    if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        double d = t == TYPE_INTEGER ? double(int32_t(spec->data2)) : cell_float(spec);
        int32_t n = !(d >= 1.0) ? 1 : d > double(MAX_CELLS) ? int32_t(MAX_CELLS) : int32_t(d);
        Cell* slot = blk::make_at(new_slot(), n);
        set_cell_type(slot, type);
        return slot;
    }
    if (t == TYPE_OBJECT || t == TYPE_MAP) {
        Cell* slot = new_slot();
        if (t == TYPE_OBJECT) object::body(spec, slot, false);
        else map::body(spec, slot);
        set_cell_type(slot, type);
        return slot;
    }
    if (t == TYPE_VECTOR) {
        Cell* slot = vector::to_block(spec, new_slot());
        set_cell_type(slot, type);
        return slot;
    }
    Cell dt = datatype_cell(type);
    raise_error(err::script_bad_make_arg, &dt, spec);
}

const Cell* to(Cell* proto, Cell* spec, int type) {
    int t = type_of(spec);
    Cell* slot;
    if (is_any_block(t)) {
        slot = new_slot();
        copy_at(spec, slot);
    } else if (t == TYPE_TYPESET) {
        Cell ts = *spec;
        slot = blk::make_at(new_slot(), 8);
        for (int id = 1; id <= TYPE_MAX; id++) {
            if (!types_match(&ts, id)) continue;
            Cell d = datatype_cell(id);
            blk::append(slot, &d);
        }
    } else if (t == TYPE_STRING) {
        slot = new_slot();
        lexer::scan_string_value(slot, spec, -1, false, true, true, false, nullptr, nullptr, nullptr);
    } else if (t == TYPE_OBJECT) {
        slot = object::body(spec, new_slot(), false);
    } else if (t == TYPE_MAP) {
        slot = new_slot();
        map::body(spec, slot);
    } else if (t == TYPE_VECTOR) {
        slot = vector::to_block(spec, new_slot());
    } else {
        slot = make_from_value(new_slot(), spec);
    }
    set_cell_type(slot, type);
    clear_new_line_flag(slot);
    return slot;
}

const Cell* copy(Cell* s, Cell* result, Cell* part, bool deep, Cell* types) {
    Cell source = *s;
    series::copy(&source, result, part, false, nullptr);
    result->header = source.header;
    if (!deep && !types) return result;
    refuse_cycle(source.data2);
    Cell* slot = new_slot();
    *slot = *result;
    {
        CycleGuard guard(source.data2);
        if (types) copy_typed_series(slot, 0, blk::size(slot->data2), 1, types, deep);
        else deep_copy_cells(slot);
    }
    *result = *slot;
    stack::top = slot;
    return result;
}

// ---------------------------------------------------------------- modifying

namespace {

// The append/insert worker.
void insert_worker(Cell* s, Cell* value, int part, bool only, int dup, bool at_tail) {
    Cell series_cell = *s;
    Cell v = *value;
    if (dup < 1) {
        stack::set_last(&series_cell);
        return;
    }
    bool splice = is_any_block(type_of(&v)) && !only;
    uint32_t count = 1;
    if (splice) {
        count = series::rs_length(&v);
        if (part >= 0 && uint32_t(part) < count) count = uint32_t(part);
    }
    if (count == 0) {
        stack::set_last(&series_cell);
        return;
    }
    uint64_t total = uint64_t(count) * uint32_t(dup);
    if (total > MAX_CELLS) raise_error(err::internal_no_memory);
    uint32_t n = series::length_from_head(&series_cell);
    if (series_cell.data1 > n) series_cell.data1 = n;
    uint32_t at = at_tail ? n : series_cell.data1;
    series::Change action = at_tail ? series::Change::APPEND : series::Change::INSERT;
    bool owned = series::notify(&series_cell, action, false, &v, int32_t(at), int32_t(total));
    // Cells from the same buffer are taken before anything moves.
    std::vector<Cell> held;
    const Cell* from = &v;
    if (splice) {
        if (v.data2 == series_cell.data2 || dup > 1 || at != n) {
            held.assign(blk::at(v.data2, v.data1), blk::at(v.data2, v.data1 + count));
            from = held.data();
        }
    }
    SeriesBuffer* b = ensure_room(series_cell.data2, total, dup < 5);
    Cell* dst = b->cell_head() + at;
    if (at < n) std::memmove(dst + total, dst, size_t(n - at) << 4);
    if (splice && held.empty()) from = blk::at(v.data2, v.data1);  // re-read: growth may have moved it
    if (count == 1)
        *dst = *from;
    else
        std::memcpy(dst, from, size_t(count) << 4);
    if (dup > 1) fill_by_doubling(reinterpret_cast<uint8_t*>(dst), count << 4, uint32_t(dup));
    b->tail += uint32_t(total) << 4;
    if (owned) series::notify(&series_cell, action, true, &v, int32_t(at), int32_t(total));
    if (at_tail) {
        series_cell.data1 = 0;
    } else {
        series_cell.data1 = at + uint32_t(total);
    }
    *stack::arguments = series_cell;
}

}  // namespace

void append(Cell* s, Cell* value, int part, bool only, int dup) { insert_worker(s, value, part, only, dup, true); }

void insert(Cell* s, Cell* value, int part, bool only, int dup) { insert_worker(s, value, part, only, dup, false); }

void change(Cell* s, Cell* value, int part, bool only, int dup) {
    Cell sc = *s;
    Cell v = *value;
    if (dup < 1) {
        stack::set_last(&sc);
        return;
    }
    uint32_t n = series::length_from_head(&sc);
    if (sc.data1 > n) sc.data1 = n;
    uint32_t at = sc.data1;
    bool splice = is_any_block(type_of(&v)) && !only;
    uint32_t count = splice ? series::rs_length(&v) : 1;
    uint64_t added = uint64_t(count) * uint32_t(dup);
    if (added > MAX_CELLS) raise_error(err::internal_no_memory);
    uint32_t after = n - at;
    uint32_t replaced;
    if (part >= 0) replaced = uint32_t(part) < after ? uint32_t(part) : after;
    else replaced = added < after ? uint32_t(added) : after;
    bool owned = series::notify(&sc, series::Change::CHANGE, false, &v, int32_t(at), int32_t(replaced));
    std::vector<Cell> held;
    if (splice) held.assign(blk::at(v.data2, v.data1), blk::at(v.data2, v.data1 + count));
    else held.push_back(v);
    uint64_t new_len = uint64_t(n) + added - replaced;
    if (new_len > MAX_CELLS) raise_error(err::internal_no_memory);
    SeriesBuffer* b = new_len > n ? ensure_room(sc.data2, new_len - n, true) : node_buffer(sc.data2);
    Cell* dst = b->cell_head() + at;
    std::memmove(dst + added, dst + replaced, size_t(n - at - replaced) << 4);
    if (count) {
        std::memcpy(dst, held.data(), size_t(count) << 4);
        if (dup > 1) fill_by_doubling(reinterpret_cast<uint8_t*>(dst), count << 4, uint32_t(dup));
    }
    b->tail = b->offset + uint32_t(new_len << 4);
    if (owned) series::notify(&sc, series::Change::CHANGE, true, &v, int32_t(at), int32_t(added));
    sc.data1 = at + uint32_t(added);
    if (sc.data1 > new_len) sc.data1 = uint32_t(new_len);
    *stack::arguments = sc;
}

namespace {

struct FindResult {
    int64_t pos;  // -1 when not found
    uint32_t run;
};

FindResult find_in(Cell* s, Cell* value_in, Cell* part, bool only, bool case_, bool same, Cell* skip, bool last,
                   bool reverse, bool match) {
    Cell sc = *s;
    Cell value = *value_in;
    uint32_t n = series::length_from_head(&sc);
    uint32_t head = sc.data1;
    if (n == 0 || (head >= n && !reverse)) return {-1, 0};
    if (head > n) head = n;
    int64_t step = 1;
    if (skip) {
        if (type_of(skip) != TYPE_INTEGER) {
            Cell w = refinement_word("skip");
            raise_error(err::script_invalid_refine_arg, &w, skip);
        }
        step = int32_t(skip->data2);
        if (step < 1) raise_error(err::script_out_of_range, skip);
    }
    int64_t limit = int64_t(n) - 1;  // last cell searched
    if (part) {
        if (type_of(part) == TYPE_INTEGER) {
            int32_t c = int32_t(part->data2);
            if (c < 1) return {-1, 0};
            limit = int64_t(head) + c - 1;
        } else if (type_of(part) == type_of(&sc) && part->data2 == sc.data2) {
            limit = int64_t(part->data1);
        } else {
            Cell w = refinement_word("part");
            raise_error(err::script_invalid_refine_arg, &w, part);
        }
        if (limit > int64_t(n) - 1) limit = int64_t(n) - 1;
    }
    int vt = type_of(&value);
    bool by_type = !only && (vt == TYPE_DATATYPE || vt == TYPE_TYPESET);
    bool run = !only && is_any_block(vt);
    std::vector<Cell> pattern;
    if (run) {
        uint32_t len = series::rs_length(&value);
        pattern.assign(blk::at(value.data2, value.data1), blk::at(value.data2, value.data1 + len));
        if (pattern.empty()) return {-1, 0};
    }
    uint32_t runlen = run ? uint32_t(pattern.size()) : 1;
    int op = find_op(case_, same);

    auto matches_at = [&](int64_t k) -> bool {
        if (k < 0 || k + runlen - 1 > limit) return false;
        if (by_type) return types_match(&value, type_of(blk::at(sc.data2, k)));
        if (run) {
            for (uint32_t i = 0; i < runlen; i++) {
                Cell c = *blk::at(sc.data2, k + i);
                Cell p = pattern[i];
                if (!cells_equal(&p, &c, op)) return false;
            }
            return true;
        }
        Cell c = *blk::at(sc.data2, k);
        return cells_equal(&value, &c, op);
    };

    int64_t start, stop, dir;
    if (last) {
        start = limit - runlen + 1;
        stop = 0;
        dir = -step;
    } else if (reverse) {
        start = int64_t(head) - runlen;
        if (start < 0) return {-1, 0};
        stop = 0;
        dir = -step;
    } else {
        start = head;
        stop = limit;
        dir = step;
    }
    if (match) return matches_at(start) ? FindResult{start, runlen} : FindResult{-1, 0};
    for (int64_t k = start; dir > 0 ? k <= stop : k >= stop; k += dir)
        if (matches_at(k)) return {k, runlen};
    return {-1, 0};
}

}  // namespace

const Cell* find(Cell* s, Cell* value, Cell* part, bool only, bool case_, bool same, bool, Cell*, Cell* skip,
                 bool last, bool reverse, bool tail, bool match) {
    FindResult r = find_in(s, value, part, only, case_, same, skip, last, reverse, match);
    if (r.pos < 0) return &NONE_CELL;
    found_scratch = *s;
    found_scratch.data1 = uint32_t(r.pos + (tail ? r.run : 0));
    return &found_scratch;
}

const Cell* select(Cell* s, Cell* value, Cell* part, bool only, bool case_, bool same, bool, Cell*, Cell* skip,
                   bool last, bool reverse, bool, bool) {
    FindResult r = find_in(s, value, part, only, case_, same, skip, last, reverse, false);
    if (r.pos < 0) return &NONE_CELL;
    uint64_t after = uint64_t(r.pos) + r.run;
    if (after >= series::length_from_head(s)) return &NONE_CELL;
    return blk::at(s->data2, after);
}

const Cell* put(Cell* s, Cell* key, Cell* value, bool case_) {
    Cell sc = *s, k = *key, v = *value;
    FindResult r = find_in(&sc, &k, nullptr, false, case_, false, nullptr, false, false, false);
    bool owned = series::notify(&sc, series::Change::PUT, false, &v, int32_t(r.pos < 0 ? 0 : r.pos), 1);
    if (r.pos < 0) {
        blk::append(&sc, &k);
        blk::append(&sc, &v);
    } else {
        uint64_t after = uint64_t(r.pos) + r.run;
        if (after >= series::length_from_head(&sc)) {
            blk::append(&sc, &v);
        } else {
            Cell current = *blk::at(sc.data2, after);
            if (!cells_equal(&current, &v, COMP_FIND)) *blk::at(sc.data2, after) = v;
        }
    }
    if (owned) series::notify(&sc, series::Change::PUT, true, &v, int32_t(r.pos < 0 ? 0 : r.pos), 1);
    found_scratch = v;
    return &found_scratch;
}

void swap(Cell* a, Cell* b) {
    Cell x = *a, y = *b;
    if (!is_any_block(type_of(&y))) raise_error(err::script_invalid_arg, &y);
    if (!series::is_rs_tail(&x) && !series::is_rs_tail(&y)) {
        bool owned = series::notify(&x, series::Change::SWAP, false, &y, int32_t(x.data1), 1);
        Cell* p = blk::at(x.data2, x.data1);
        Cell* q = blk::at(y.data2, y.data1);
        Cell t = *p;
        *p = *q;
        *q = t;
        if (owned) series::notify(&x, series::Change::SWAP, true, &y, int32_t(x.data1), 1);
        // A hash! swapped with keeps its index in step (as its own swap does).
        uint32_t yn = series::length_from_head(&y);
        if (x.data2 != y.data2) hash::update(&y, yn, y.data1, y.data1 + 1, y.data1 + 1);
    }
    *stack::arguments = x;
}

const Cell* take(Cell* s, Cell* part, bool deep, bool last) {
    const Cell* r = series::take(s, part, false, last);
    if (!deep || type_of(r) == TYPE_NONE) return r;
    if (part) {
        // r is a stack slot holding the new block: copy its series deeply in place.
        Cell* slot = const_cast<Cell*>(r);
        deep_copy_cells(slot);
        return slot;
    }
    if (is_series_type(type_of(r)) && type_of(r) != TYPE_IMAGE) {
        // The taken series is out of its block now: keep it reachable while
        // the wrapper block is made.
        Cell* kept = stack::push(r);
        Cell* slot = make_from_value(new_slot(), kept);
        deep_copy_cells(slot);
        *kept = *blk::at(slot->data2, 0);
        stack::top = kept + 1;
        return kept;
    }
    return r;
}

void trim(Cell* s, bool, bool, bool, bool, bool, Cell*) {
    Cell sc = *s;
    uint32_t n = series::length_from_head(&sc);
    if (sc.data1 < n) {
        bool owned = series::notify(&sc, series::Change::TRIM, false, nullptr, int32_t(sc.data1), 0);
        SeriesBuffer* b = node_buffer(sc.data2);
        Cell* c = b->cell_head();
        uint32_t w = sc.data1;
        for (uint32_t k = sc.data1; k < n; k++)
            if (type_of(c + k) != TYPE_NONE) c[w++] = c[k];
        b->tail = b->offset + (w << 4);
        if (owned) series::notify(&sc, series::Change::TRIM, true, nullptr, int32_t(sc.data1), 0);
    }
    *stack::arguments = sc;
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, bool case_) {
    int et = type_of(element);
    if (et == TYPE_INTEGER) return series::path_index(parent, element, value);
    if (value) {
        FindResult r = find_in(parent, element, nullptr, false, case_, false, nullptr, false, false, false);
        if (r.pos < 0) {
            Cell p = path ? *path : Cell{TYPE_NONE, 0, 0, 0};
            raise_error(err::script_bad_path_set, &p, element);
        }
        Cell at = *parent;
        at.data1 = uint32_t(r.pos);
        return series::poke(&at, 2, value, nullptr);
    }
    if (et == TYPE_WORD && type_of(parent) != TYPE_HASH) return select_word(parent, element, case_);
    return select(parent, element, nullptr, true, case_, false, false, nullptr, nullptr, false, false, false, false);
}

// ---------------------------------------------------------------- sort

namespace {

// Orders two cells for sorting: values that cannot be ordered go by type id.
int sort_order(Cell* a, Cell* b, int op) {
    int ta = type_of(a), tb = type_of(b);
    // The common case without the handler's dispatch.
    if (ta == TYPE_INTEGER && tb == TYPE_INTEGER) {
        int32_t x = int32_t(a->data2), y = int32_t(b->data2);
        return x < y ? -1 : x > y;
    }
    int r = compare_cells(a, b, op);
    if (r == NOT_COMPARABLE) r = ta < tb ? -1 : ta > tb ? 1 : 0;
    return r;
}

// A block's records: a rooted array of cells for the merge buffer.
class BlockRecords final : public sorting::SeriesRecords {
public:
    explicit BlockRecords(const sorting::Request& r)
        : SeriesRecords(r, uint32_t(sizeof(Cell))), op_(r.case_ ? COMP_CASE_SORT : COMP_SORT) {}

    void reserve_spare(size_t count) override {
        spare_.assign(count * r_.size, NONE_CELL);
        root_.emplace(spare_.data(), uint32_t(spare_.size()));
    }

    bool less(size_t x, size_t y) override {
        if (r_.reverse) std::swap(x, y);
        if (r_.function) return call(x, y);
        if (!r_.whole && !((x | y) & records::SPARE)) {
            // Both records in the block (nothing here runs code): one look
            // at its buffer serves the two.
            SeriesBuffer* b = series::buffer_of(&r_.series);
            const Cell* cells = reinterpret_cast<const Cell*>(b->read_data() + b->offset) + r_.start;
            Cell a = cells[x * r_.size + r_.field], c = cells[y * r_.size + r_.field];
            return sort_order(&a, &c, op_) < 0;
        }
        if (r_.whole) {
            for (uint32_t f = 0; f < r_.size; f++)
                if (int c = order(x, y, f)) return c < 0;
            return false;
        }
        return order(x, y, r_.field) < 0;
    }

private:
    Cell* record(size_t ref) { return reinterpret_cast<Cell*>(address(ref)); }

    int order(size_t x, size_t y, uint32_t field) {
        Cell a = record(x)[field], b = record(y)[field];
        return sort_order(&a, &b, op_);
    }

    Cell element(size_t ref) override { return record(ref)[r_.field]; }
    void make_scratch(Cell* target) override { blk::make_at(target, r_.size); }
    uint8_t* spare_at(size_t slot) override { return reinterpret_cast<uint8_t*>(spare_.data() + slot * r_.size); }

    int op_;
    std::vector<Cell> spare_;
    std::optional<collector::Root> root_;
};

}  // namespace

const Cell* sort(Cell* s, bool case_, Cell* skip, Cell* compare, Cell* part, bool all, bool reverse, bool stable) {
    Cell result = *s;
    sorting::Request r;
    if (sorting::read_request(r, s, case_, skip, compare, part, all, reverse, stable, false)) {
        BlockRecords store(r);
        sorting::run(r, store);
    }
    // A comparator's break, throw or return is on its way: the stack is its.
    if (!stack::thrown) *stack::arguments = result;
    return stack::arguments;
}

// ---------------------------------------------------------------- set operations

namespace {

// Record keys looked up in a block: through a hash! index over the block's
// cells, or (any-block keys, hashed by identity) by a linear search with find
// equality, as find/only does. Only the first cell of each record counts:
// positions `start`, start + size ...
class RecordKeys {
public:
    RecordKeys(Cell* holder, uint32_t size, bool case_, bool only_starts)
        : holder_(holder), size_(size), case_(case_), only_starts_(only_starts) {}
    bool contains(const Cell* key) const {
        Cell k = *key;
        const Cell* series = holder_;
        uint32_t start = series->data1;
        if (is_any_block(type_of(&k))) {
            auto equal_at = [&](uint32_t p) {
                Cell c = *blk::at(series->data2, p);
                return cells_equal(&k, &c, COMP_FIND);
            };
            if (only_starts_) return std::any_of(starts_.begin(), starts_.end(), equal_at);
            for (uint32_t p = start, n = blk::size(series->data2); p < n; p += size_)
                if (equal_at(p)) return true;
            return false;
        }
        int op = case_ ? COMP_STRICT_EQUAL : COMP_FIND;
        // The result's index holds record starts only, wherever a short
        // record left them; a series indexed whole counts every size-th cell.
        uint32_t step = only_starts_ ? 1 : size_;
        return find_in_hash_index_with(series->data3, &k, start, step, op, false, false) >= 0;
    }
    // Indexes the cell just appended at position p (the holder's own block).
    void add(uint32_t p) {
        starts_.push_back(p);
        hash_index_put(holder_->data3, p);
    }

private:
    Cell* holder_;  // a hash! cell on the stack: block and index, both kept alive
    uint32_t size_;
    bool case_;
    bool only_starts_;
    std::vector<uint32_t> starts_;
};

// A stack cell holding a series' block with a hash! index over its cells,
// sized for `room` keys (so that the result's index, which takes record starts
// one by one, never rebuilds from all its cells).
Cell* indexed(const Cell* series, uint32_t room) {
    Cell* holder = new_slot();
    *holder = Cell{TYPE_HASH, series->data1, series->data2, 0};
    Node index = make_hash_index(std::max(room, blk::size(series->data2)), series->data2, HASH_KIND_HASH);
    holder->data3 = index;
    return holder;
}

bool equal_for_index(const Cell* a, const Cell* b, int op) {
    // Two integers, the commonest keys, compare without the action's dispatch.
    if (type_of(a) == TYPE_INTEGER && type_of(b) == TYPE_INTEGER) return a->data2 == b->data2;
    // Two strings, the next commonest, compare without it too.
    if (type_of(a) == TYPE_STRING && type_of(b) == TYPE_STRING &&
        (op == COMP_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_SAME))
        return string::equal_values(a, b, op);
    Cell x = *a, y = *b;
    return cells_equal(&x, &y, op);
}

}  // namespace

const Cell* set_operation(int op, Cell* series1, Cell* series2, bool case_, Cell* skip) {
    Cell a = *series1, b = op == series::SET_UNIQUE ? Cell{} : *series2;
    uint32_t size = 1;
    if (skip) {
        int32_t k = type_of(skip) == TYPE_INTEGER ? int32_t(skip->data2) : 0;
        if (k < 1) {
            Cell w = refinement_word("skip");
            raise_error(err::script_invalid_refine_arg, &w, skip);
        }
        size = uint32_t(k);
    }
    uint32_t len1 = series::rs_length(&a), len2 = op == series::SET_UNIQUE ? 0 : series::rs_length(&b);
    Cell* result = blk::make_at(new_slot(), len1 + (op == series::SET_UNION ? len2 : 0));
    set_cell_type(result, type_of(&a));
    Cell* result_index = indexed(result, len1 + len2);
    RecordKeys seen(result_index, size, case_, true);
    auto pass = [&](const Cell& from, const RecordKeys* other, bool keep_if_found) {
        uint32_t n = series::length_from_head(&from);
        for (uint32_t k = from.data1 > n ? n : from.data1; k < n; k += size) {
            Cell key = *blk::at(from.data2, k);
            if (other && other->contains(&key) != keep_if_found) continue;
            if (seen.contains(&key)) continue;
            uint32_t at = blk::size(result->data2);
            uint32_t cells_in_record = size < n - k ? size : n - k;
            for (uint32_t i = 0; i < cells_in_record; i++) {
                Cell c = *blk::at(from.data2, k + i);
                blk::append(result, &c);
            }
            seen.add(at);
        }
    };
    // The other set's record keys, each distinct one once, in a block of
    // their own: a lookup then meets one position per value, however often
    // the set repeats it (indexing the set whole made a lookup walk every
    // copy of an equal key).
    auto keys_of = [&](const Cell& s) {
        uint32_t n = series::length_from_head(&s);
        uint32_t from = s.data1 > n ? n : s.data1;
        uint32_t room = (n - from + size - 1) / size;
        Cell* keys = blk::make_at(new_slot(), room);
        RecordKeys distinct(indexed(keys, room), size, case_, true);
        for (uint32_t k = from; k < n; k += size) {
            Cell key = *blk::at(s.data2, k);
            if (distinct.contains(&key)) continue;
            uint32_t at = blk::size(keys->data2);
            blk::append(keys, &key);
            distinct.add(at);
        }
        return distinct;
    };
    if (!series::run_set_passes(op, a, b, pass, keys_of)) raise_error(err::internal_not_done);
    return result;
}

void register_type() {
    hash_cell_equality = equal_for_index;
    Registration(TYPE_BLOCK, TYPE_SERIES, "block!")
        .marker(collector::mark_block, true)
        .hasher(hash_payload_bytes<1, 8>)
        .on<A_MAKE>(make)
        .on<A_TO>(to)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_EVAL_PATH>(eval_path)
        .on<A_COMPARE>(compare)
        .on<A_APPEND>(append)
        .on<A_CHANGE>(change)
        .on<A_COPY>(copy)
        .on<A_FIND>(find)
        .on<A_INSERT>(insert)
        .on<A_PUT>(put)
        .on<A_SELECT>(select)
        .on<A_SORT>(sort)
        .on<A_SWAP>(swap)
        .on<A_TAKE>(take)
        .on<A_TRIM>(trim)
        .inherit({A_RANDOM, A_REFLECT, A_AT, A_BACK, A_CLEAR, A_HEAD, A_HEAD_Q, A_INDEX_Q, A_LENGTH_Q, A_MOVE,
                  A_NEXT, A_PICK, A_POKE, A_REMOVE, A_REVERSE, A_SKIP, A_TAIL, A_TAIL_Q, A_MODIFY})
        .commit();
}

}  // namespace vyx::block
