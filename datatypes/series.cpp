#include "datatypes/series.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/hash.h"
#include "datatypes/registry.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/vector.h"
#include "evaluator/random.h"
#include "runtime/stack.h"
#include "runtime/hash_index.h"
#include "runtime/murmur3.h"
#include "runtime/raise.h"

namespace vyx::series {

OwnershipCheck ownership_check = nullptr;

namespace {

Cell integer_cell(int32_t v) { return Cell{TYPE_INTEGER, 0, uint32_t(v), 0}; }
Cell datatype_cell(int t) { return Cell{TYPE_DATATYPE, uint32_t(t), 0, 0}; }

// The answer of take without /part: read by the caller before anything else runs.
Cell taken_scratch;
Cell picked_scratch;

// Clamps a head that lies beyond the tail.
uint32_t clamp_head(Cell* s) {
    uint32_t n = length_from_head(s);
    if (s->data1 > n) s->data1 = n;
    return s->data1;
}

void set_position(Cell* s, int64_t pos) {
    int64_t n = length_from_head(s);
    if (pos < 0) pos = 0;
    if (pos > n) pos = n;
    s->data1 = uint32_t(pos);
}

int32_t offset_arg(const Cell* arg) {
    if (type_of(arg) != TYPE_INTEGER) raise_error(err::script_invalid_arg, arg);
    return int32_t(arg->data2);
}

// Removes count elements at k (from the buffer's start), closing the gap.
void cut(const Cell* s, uint32_t k, uint32_t count) {
    SeriesBuffer* b = buffer_of(s);
    uint32_t shift = unit_shift(b->unit());
    uint32_t n = (b->tail - b->offset) >> shift;
    if (k >= n || count == 0) return;
    if (count > n - k) count = n - k;
    uint8_t* at = element_at(b, k);
    uint32_t rest = (n - k - count) << shift;
    if (rest) std::memmove(at, at + (count << shift), rest);
    b->tail -= count << shift;
}

void swap_elements(uint8_t* a, uint8_t* b, uint32_t bytes) {
    uint8_t tmp[16];
    std::memcpy(tmp, a, bytes);
    std::memcpy(a, b, bytes);
    std::memcpy(b, tmp, bytes);
}

}  // namespace

Cell named_word(const char* name) {
    if (symbol::table() == 0) return NONE_CELL;
    return Cell{TYPE_WORD, 0, uint32_t(symbol::make(name)), uint32_t(-1)};
}

int32_t part_count(const Cell* s, const Cell* part, bool to_tail) {
    if (type_of(part) == TYPE_INTEGER) return int32_t(part->data2);
    if (type_of(part) == type_of(s) && part->data2 == s->data2) {
        if (to_tail) return int32_t(length_from_head(part)) - int32_t(part->data1);
        return int32_t(part->data1) - int32_t(s->data1);
    }
    Cell word = named_word("part");
    raise_error(err::script_invalid_refine_arg, &word, part);
}

bool find_bounds(uint32_t index, uint32_t n, int64_t count, bool last, bool reverse, bool match, FindBounds& out) {
    int64_t end = count >= 0 ? std::min<int64_t>(int64_t(index) + count, n) : n;
    out.backward = last || reverse;
    if (last || !reverse) {
        out.low = index;
        out.high = end;
        return true;
    }
    out.low = count >= 0 ? std::max<int64_t>(int64_t(index) - count, 0) : 0;
    out.high = index;
    return !match;
}

void element_value(const Cell* s, uint32_t k, Cell* out) {
    SeriesBuffer* b = buffer_of(s);
    int t = type_of(s);
    if (b->unit() == 16) {
        *out = reinterpret_cast<Cell*>(element_at(b, k))[0];
    } else if (is_string_like(t)) {
        *out = Cell{TYPE_CHAR, 0, string::get_char(element_at(b, k), b->unit()), 0};
    } else if (t == TYPE_BINARY) {
        *out = integer_cell(*element_at(b, k));
    } else if (t == TYPE_VECTOR) {
        vector::element_value(s, k, out);
    } else {
        // image! reads its elements through its own type.
        raise_error(err::internal_not_done);
    }
}

Cell* copy_range(const Cell* s, uint32_t start, uint32_t count, Cell* target) {
    Cell source = *s;  // s may live in a buffer that the allocation moves
    uint32_t unit = buffer_of(&source)->unit();
    Node node = new_series(count ? count : 1, unit, 0);
    SeriesBuffer* from = buffer_of(&source);
    SeriesBuffer* to = node_buffer(node);
    constexpr uint32_t KEEP_OWN = series_flag::BIG | series_flag::IN_USE | series_flag::FRESH;
    constexpr uint32_t NOT_COPIED = KEEP_OWN | series_flag::OWNED | series_flag::MARK | series_flag::MIDDLE;
    to->flags = (to->flags & KEEP_OWN) | (from->flags & ~NOT_COPIED);
    uint32_t bytes = count << unit_shift(unit);
    if (bytes) std::memcpy(to->data(), element_at(from, start), bytes);
    to->tail = to->offset + bytes;
    // word 3 is the vector's element type; a string's converter scratch is its own
    uint32_t word3 = type_of(&source) == TYPE_VECTOR ? source.data3 : 0;
    *target = Cell{source.header, 0, node, word3};
    return target;
}

// ---------------------------------------------------------------- positions

void at() {
    Cell* s = stack::arguments;
    int32_t index = offset_arg(s + 1);
    int64_t pos = s->data1;
    pos += index >= 1 ? int64_t(index) - 1 : int64_t(index);
    set_position(s, pos);
}

void skip() {
    Cell* s = stack::arguments;
    set_position(s, int64_t(s->data1) + offset_arg(s + 1));
}

void back() {
    Cell* s = stack::arguments;
    if (s->data1 > 0) set_position(s, int64_t(s->data1) - 1);
}

void next() {
    Cell* s = stack::arguments;
    if (s->data1 < length_from_head(s)) s->data1++;
}

void head() { stack::arguments->data1 = 0; }

void tail() {
    Cell* s = stack::arguments;
    s->data1 = length_from_head(s);
}

void is_head() {
    bool at_head = stack::arguments->data1 == 0;
    logic::box(at_head);
}

void is_tail() {
    bool at_tail = series::is_rs_tail(stack::arguments);
    logic::box(at_tail);
}

void index_of() {
    int32_t i = int32_t(stack::arguments->data1) + 1;
    *stack::arguments = integer_cell(i);
}

int length(Cell* s) {
    uint32_t n = length_from_head(s);
    if (s->data1 > n) s->data1 = n;
    return int(n - s->data1);
}

// ---------------------------------------------------------------- elements

const Cell* pick(Cell* s, int index, Cell*) {
    int64_t p = int64_t(s->data1) + (index > 0 ? int64_t(index) - 1 : int64_t(index));
    if (index == 0 || p < 0 || p >= int64_t(length_from_head(s))) return &NONE_CELL;
    element_value(s, uint32_t(p), &picked_scratch);
    return &picked_scratch;
}

const Cell* path_index(Cell* s, Cell* index, Cell* value) {
    int i = int32_t(index->data2);
    return value ? poke(s, i, value, index) : pick(s, i, index);
}

const Cell* poke(Cell* s, int index, Cell* data, Cell* boxed_index) {
    int64_t p = int64_t(s->data1) + (index > 0 ? int64_t(index) - 1 : int64_t(index));
    if (index == 0 || p < 0 || p >= int64_t(length_from_head(s))) {
        Cell i = boxed_index ? *boxed_index : integer_cell(index);
        raise_error(err::script_out_of_range, &i);
    }
    int t = type_of(s);
    SeriesBuffer* b = buffer_of(s);
    if (b->unit() == 16) {
        bool owned = notify(s, Change::POKE, false, data, int32_t(p), 1);
        b = buffer_of(s);  // the owner's handler may have allocated
        copy_cell(data, reinterpret_cast<Cell*>(element_at(b, uint32_t(p))));
        if (owned) notify(s, Change::POKE, true, data, int32_t(p), 1);
    } else if (is_string_like(t)) {
        if (type_of(data) != TYPE_CHAR) raise_error(err::script_invalid_arg, data);
        bool owned = notify(s, Change::POKE, false, data, int32_t(p), 1);
        b = buffer_of(s);  // the owner's handler may have allocated
        string::poke_char(b, uint32_t(p), data->data2);
        if (owned) notify(s, Change::POKE, true, data, int32_t(p), 1);
    } else if (t == TYPE_BINARY) {
        int dt = type_of(data);
        if (dt != TYPE_INTEGER && dt != TYPE_CHAR) raise_error(err::script_invalid_arg, data);
        if (data->data2 > 0xFF) raise_error(err::script_out_of_range, data);
        bool owned = notify(s, Change::POKE, false, data, int32_t(p), 1);
        b = buffer_of(s);  // the owner's handler may have allocated
        *element_at(b, uint32_t(p)) = uint8_t(data->data2);
        if (owned) notify(s, Change::POKE, true, data, int32_t(p), 1);
    } else if (t == TYPE_VECTOR) {
        if (type_of(data) != vector::element_type(s)) raise_error(err::script_invalid_arg, data);
        bool owned = notify(s, Change::POKE, false, data, int32_t(p), 1);
        b = buffer_of(s);  // the owner's handler may have allocated
        vector::set_value(element_at(b, uint32_t(p)), data, b->unit(), vector::element_type(s));
        if (owned) notify(s, Change::POKE, true, data, int32_t(p), 1);
    } else {
        raise_error(err::internal_not_done);
    }
    return data;
}

void clear(Cell* s) {
    uint32_t h = s->data1;
    if (h < length_from_head(s)) {
        bool owned = notify(s, Change::CLEAR, false, nullptr, int32_t(h), int32_t(rs_length(s)));
        SeriesBuffer* b = buffer_of(s);
        b->tail = b->offset + (h << unit_shift(b->unit()));
        // An emptied string starts over at one byte per character.
        if (h == 0 && is_string_like(type_of(s))) string::clear(s);
        if (owned) notify(s, Change::CLEAR, true, nullptr, int32_t(h), 0);
    }
    stack::set_last(s);
}

void remove(Cell* s, Cell* part, Cell* key) {
    int32_t count = part ? part_count(s, part) : 1;
    if (count < 1) {
        stack::set_last(s);
        return;
    }
    Cell result = *s;
    if (key) {
        auto find = reinterpret_cast<act::Find>(get_handler(type_of(s), A_FIND));
        if (!find) raise_error(err::internal_not_done);
        const Cell* found = find(s, key, nullptr, false, false, false, false, nullptr, nullptr, false, false,
                                 false, false);
        if (type_of(found) == TYPE_NONE) {
            *stack::arguments = NONE_CELL;
            return;
        }
        result = *found;
        count++;
    }
    uint32_t start = result.data1;
    uint32_t n = length_from_head(&result);
    if (start < n) {
        if (uint32_t(count) > n - start) count = int32_t(n - start);
        bool owned = notify(&result, Change::REMOVE, false, nullptr, int32_t(start), count);
        cut(&result, start, uint32_t(count));
        if (owned) notify(&result, Change::REMOVE, true, nullptr, int32_t(start), count);
    }
    *stack::arguments = result;
}

const Cell* take(Cell* s, Cell* part, bool deep, bool last) {
    uint32_t len = rs_length(s);
    if (len < 1) return &NONE_CELL;
    uint32_t h = clamp_head(s);
    uint32_t n = length_from_head(s);
    int64_t count = 1;
    uint32_t start = h;
    if (part) {
        if (type_of(part) != TYPE_INTEGER && type_of(part) == type_of(s) && part->data2 == s->data2 &&
            part->data1 < h && !last) {
            count = 0;  // a /part position before the head takes nothing
        } else {
            count = part_count(s, part, last);
        }
        if (count < 0) {
            if (last) {
                count = 0;
            } else {
                count = -count > int64_t(h) ? int64_t(h) : -count;
                start = h - uint32_t(count);
            }
        } else if (count > int64_t(len)) {
            count = len;
        }
    }
    if (last) start = n - uint32_t(count);
    Cell source = *s;
    bool owned = notify(&source, Change::TAKE, false, nullptr, int32_t(start), int32_t(count));
    const Cell* answer;
    if (part) {
        Cell* slot = stack::push_slot();
        slot->header = TYPE_UNSET;
        copy_range(&source, start, uint32_t(count), slot);
        answer = slot;
    } else {
        element_value(&source, start, &taken_scratch);
        answer = &taken_scratch;
    }
    cut(&source, start, uint32_t(count));
    if (owned) notify(&source, Change::TAKE, true, nullptr, int32_t(start), int32_t(count));
    return answer;
}

const Cell* copy(Cell* s, Cell* result, Cell* part, bool, Cell*) {
    int64_t start = s->data1;
    int64_t n = length_from_head(s);
    int64_t count = start > n ? 0 : n - start;
    if (part) {
        if (type_of(part) == TYPE_PAIR) {
            int32_t x = int32_t(part->data2), y = int32_t(part->data3);
            start = x < 0 ? start + x : start + x - 1;
            if (start < 0) start = 0;
            count = y < x ? 0 : int64_t(y) - x;
        } else {
            count = part_count(s, part);
        }
        if (count < 0) {
            count = -count;
            start -= count;
            if (start < 0) {
                count = s->data1;
                start = 0;
            }
        }
    }
    if (start > n) {
        start = n;
        count = 0;
    }
    if (count > n - start) count = n - start;
    copy_range(s, uint32_t(start), uint32_t(count), result);
    return result;
}

void reverse(Cell* s, Cell* part, Cell* skip_arg) {
    stack::set_last(s);
    if (is_rs_tail(s)) return;
    uint32_t h = s->data1;
    int64_t count = rs_length(s);
    if (part) {
        int64_t c = part_count(s, part);
        if (c < 1) return;
        if (c < count) count = c;
    }
    int64_t size = 1;
    if (skip_arg) {
        if (type_of(skip_arg) != TYPE_INTEGER) {
            Cell word = named_word("skip");
            raise_error(err::script_invalid_refine_arg, &word, skip_arg);
        }
        size = int32_t(skip_arg->data2);
        if (size == count) return;
        if (size < 1) raise_error(err::script_out_of_range, skip_arg);
        if (count < size || count % size != 0) {
            Cell word = named_word("skip");
            raise_error(err::script_invalid_refine_arg, &word, skip_arg);
        }
    }
    bool owned = notify(s, Change::REVERSE, false, nullptr, int32_t(h), int32_t(count));
    SeriesBuffer* b = buffer_of(s);
    uint32_t unit = b->unit();
    uint32_t records = uint32_t(count / size);
    uint32_t rec_bytes = uint32_t(size) * unit;
    uint8_t* base = element_at(b, h);
    if (size == 1) {
        for (uint32_t i = 0, j = records - 1; i < j; i++, j--)
            swap_elements(base + i * unit, base + j * unit, unit);
    } else {
        std::vector<uint8_t> tmp(rec_bytes);
        for (uint32_t i = 0, j = records - 1; i < j; i++, j--) {
            std::memcpy(tmp.data(), base + size_t(i) * rec_bytes, rec_bytes);
            std::memcpy(base + size_t(i) * rec_bytes, base + size_t(j) * rec_bytes, rec_bytes);
            std::memcpy(base + size_t(j) * rec_bytes, tmp.data(), rec_bytes);
        }
    }
    if (owned) notify(s, Change::REVERSE, true, nullptr, int32_t(h), int32_t(count));
}

const Cell* move(Cell* origin, Cell* target, Cell* part) {
    int tt = type_of(target);
    if (!is_series_type(tt)) {
        Cell action = named_word("move"), type = datatype_cell(tt), arg = named_word("target");
        raise_error(err::script_expect_arg, &action, &type, &arg);
    }
    if (is_rs_tail(origin)) return target;
    int64_t count = 1;
    if (part) {
        count = part_count(origin, part);
        if (count < 1) return target;
    }
    uint32_t i = clamp_head(origin);
    int64_t len = rs_length(origin);
    if (count > len) count = len;
    uint32_t c = uint32_t(count);
    int ot = type_of(origin);

    if (origin->data2 != target->data2) {
        bool block_side = is_block_like(ot), other_block = is_block_like(tt);
        // Vector elements move only between vectors of one element type and size.
        bool vectors_differ = (ot == TYPE_VECTOR || tt == TYPE_VECTOR) &&
                              (ot != tt || origin->data3 != target->data3 ||
                               buffer_of(origin)->unit() != buffer_of(target)->unit());
        if (block_side != other_block || vectors_differ) {
            Cell a = datatype_cell(ot), b2 = datatype_cell(tt);
            raise_error(err::script_move_bad, &a, &b2);
        }
        SeriesBuffer* sb = buffer_of(origin);
        SeriesBuffer* tb = buffer_of(target);
        Cell src = *origin, dst = *target;
        bool owned = notify(&src, Change::MOVE, false, nullptr, int32_t(i), int32_t(c));
        sb = buffer_of(&src);  // the owner's handler may have allocated
        tb = buffer_of(&dst);
        if (sb->unit() == tb->unit()) {
            uint32_t shift = unit_shift(sb->unit());
            uint32_t t = clamp_head(&dst);
            uint32_t tn = length_from_head(&dst);
            uint64_t need = uint64_t(tb->offset) + (uint64_t(tn + c) << shift);
            if (need > tb->size) tb = grow_series(tb, int64_t(need - tb->offset) * 2);
            sb = buffer_of(&src);  // growth may have moved the source too
            uint8_t* at = element_at(tb, t);
            std::memmove(at + (c << shift), at, size_t(tn - t) << shift);
            std::memcpy(at, element_at(sb, i), size_t(c) << shift);
            tb->tail += c << shift;
            cut(&src, i, c);
        } else if (is_string_like(ot) && is_string_like(tt)) {
            string::move_chars(&src, &dst, c);
        } else {
            Cell a = datatype_cell(ot), b2 = datatype_cell(tt);
            raise_error(err::script_move_bad, &a, &b2);
        }
        if (owned) notify(&dst, Change::MOVE, true, nullptr, int32_t(dst.data1), int32_t(c));
        if (type_of(&src) != TYPE_HASH) {
            // A hash! target keeps its index in step (a hash! origin does it all itself).
            uint32_t t = clamp_head(&dst), tn = length_from_head(&dst);
            hash::update(&dst, tn - c, t, t, t + c);
        }
        target->data1 = dst.data1;
        return target;
    }

    // Same buffer: rotate the moved run to the target position.
    uint32_t n = length_from_head(origin);
    uint32_t t = target->data1 > n ? n : target->data1;
    if (t == i || (t > i && t < i + c)) return origin;
    bool owned = notify(origin, Change::MOVE, false, nullptr, int32_t(i), int32_t(c));
    SeriesBuffer* b = buffer_of(origin);
    uint32_t shift = unit_shift(b->unit());
    std::vector<uint8_t> run(size_t(c) << shift);
    std::memcpy(run.data(), element_at(b, i), run.size());
    if (t > i) {
        std::memmove(element_at(b, i), element_at(b, i + c), size_t(t - i - c) << shift);
        std::memcpy(element_at(b, t - c), run.data(), run.size());
    } else {
        std::memmove(element_at(b, t + c), element_at(b, t), size_t(i - t) << shift);
        std::memcpy(element_at(b, t), run.data(), run.size());
    }
    if (owned) notify(origin, Change::MOVE, true, nullptr, int32_t(t), int32_t(c));
    return target;
}

// ---------------------------------------------------------------- random

void randomize(Cell* s, bool seed, bool secure, bool only) {
    uint32_t h = clamp_head(s);
    uint32_t count = rs_length(s);
    if (seed) {
        SeriesBuffer* b = buffer_of(s);
        size_t bytes = size_t(count) << unit_shift(b->unit());
        random_gen::random_seed(int32_t(murmur3_x86_32(element_at(b, h), bytes, hash_seed)));
        *s = UNSET_CELL;
        return;
    }
    if (only) {
        if (count == 0) {
            *s = NONE_CELL;
            return;
        }
        int32_t k = random_gen::random_int(secure, int32_t(count));
        Cell picked;
        element_value(s, h + uint32_t(k) - 1, &picked);
        *s = picked;
        return;
    }
    if (count == 0) return;
    bool owned = notify(s, Change::RANDOM, false, nullptr, int32_t(h), int32_t(count));
    // Front to back: each place takes one of the elements not yet placed.
    for (uint32_t i = 0; i < count; i++) {
        uint32_t k = uint32_t(random_gen::random_int(secure, int32_t(count - i))) - 1;
        if (k == 0) continue;
        SeriesBuffer* b = buffer_of(s);
        swap_elements(element_at(b, h + i), element_at(b, h + i + k), b->unit());
    }
    if (owned) notify(s, Change::RANDOM, true, nullptr, int32_t(h), int32_t(count));
}

// ---------------------------------------------------------------- registration

void register_type() {
    // reflect and modify wait for the ownership table they report on.
    Registration(TYPE_SERIES, 0, "series!")
        .on<A_RANDOM>(randomize)
        .on<A_AT>(at)
        .on<A_BACK>(back)
        .on<A_CLEAR>(clear)
        .on<A_COPY>(copy)
        .on<A_HEAD>(head)
        .on<A_HEAD_Q>(is_head)
        .on<A_INDEX_Q>(index_of)
        .on<A_LENGTH_Q>(length)
        .on<A_MOVE>(move)
        .on<A_NEXT>(next)
        .on<A_PICK>(pick)
        .on<A_POKE>(poke)
        .on<A_REMOVE>(remove)
        .on<A_REVERSE>(reverse)
        .on<A_SKIP>(skip)
        .on<A_TAIL>(tail)
        .on<A_TAIL_Q>(is_tail)
        .on<A_TAKE>(take)
        .commit();
}

}  // namespace vyx::series
