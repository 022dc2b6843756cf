#include "datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/math_dispatch.h"
#include "datatypes/point2d.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "evaluator/helpers.h"
#include "evaluator/random.h"
#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx::tuple {

namespace {

// A new length: the length bits and bits 29-31 are cleared, the rest kept.
void set_length(Cell* t, int n) {
    t->header = (t->header & ~(LENGTH_MASK | 0xE0000000u)) | (uint32_t(n) << LENGTH_SHIFT);
}

// The tuple's bytes without its trailing zeros: tuples that differ only in
// those compare equal (1.2.3 = 1.2.3.0), so they must hash alike.
uint32_t hash_cell(const Cell* cell, bool) {
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&cell->data1);
    uint32_t n = uint32_t(length(cell));
    while (n > 0 && b[n - 1] == 0) n--;
    return hash_bytes(b, n);
}

uint8_t clamp_byte(int32_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// A byte from a float result: infinities and overflow saturate like any
// other result out of range; NaN gives 0.
uint8_t saturate(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return uint8_t(v);
}

[[noreturn]] void bad_to(const Cell* spec) {
    Cell dt{TYPE_DATATYPE, TYPE_TUPLE, 0, 0}, s = *spec;
    raise_error(err::script_bad_to_arg, &dt, &s);
}

}  // namespace

Cell* from_binary(const Cell* binary, Cell* target) {
    uint32_t n = std::min<uint32_t>(series::rs_length(binary), MAX_LENGTH);
    uint8_t bytes[MAX_LENGTH] = {};
    std::memcpy(bytes, series::element_at(series::buffer_of(binary), binary->data1), n);
    *target = Cell{TYPE_TUPLE, 0, 0, 0};
    return make_at(target, bytes, std::max<int>(int(n), 3));
}

Cell* from_issue(const Cell* issue, Cell* target) {
    // Only ASCII hexadecimal digits count: any other character (a letter
    // outside ASCII too) makes the issue invalid data.
    std::string name = symbol::name(int32_t(issue->data2));
    size_t n = name.size();
    uint8_t nibbles[8];
    bool ok = n == 3 || n == 6 || n == 8;
    for (size_t i = 0; ok && i < n; i++) {
        char c = name[i];
        int h = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (h < 0) ok = false;
        else nibbles[i] = uint8_t(h);
    }
    if (!ok) {
        Cell v = *issue;
        raise_error(err::script_invalid_data, &v);
    }
    uint8_t bytes[4];
    int count;
    if (n == 3) {
        for (int i = 0; i < 3; i++) bytes[i] = uint8_t(nibbles[i] * 17);
        count = 3;
    } else {
        count = int(n / 2);
        for (int i = 0; i < count; i++) bytes[i] = uint8_t(nibbles[2 * i] << 4 | nibbles[2 * i + 1]);
    }
    *target = Cell{TYPE_TUPLE, 0, 0, 0};
    return make_at(target, bytes, count);
}

void do_math(int op) {
    Cell* left = stack::arguments;
    if (type_of(left) != TYPE_TUPLE) {
        // A number first: only the operations that do not care for the order.
        if (op == OP_SUB || op == OP_DIV) math::not_related(math::action_name(op), type_of(left));
        math::swap_arguments();
    }
    Cell* right = left + 1;
    int len = length(left);
    uint8_t* b = bytes_of(left);
    switch (type_of(right)) {
    case TYPE_FLOAT: case TYPE_PERCENT: {
        double f = cell_float(right);
        for (int i = 0; i < len; i++) b[i] = saturate(float_::do_math_op(double(b[i]), f, op));
        return;
    }
    case TYPE_INTEGER: case TYPE_TUPLE:
        break;
    default:
        coords::invalid_type_of(right);
    }
    bool is_tuple = type_of(right) == TYPE_TUPLE;
    int rlen = is_tuple ? length(right) : 0;
    int n = std::max(len, rlen);
    for (int i = 0; i < n; i++) {
        int32_t a = i < len ? b[i] : 0;
        int32_t r = is_tuple ? (i < rlen ? byte_at(right, i) : 0) : integer::get(right);
        Cell kind{TYPE_INTEGER, 0, 0, 0};
        int32_t v = integer::do_math_op(a, r, op, op == OP_DIV ? nullptr : &kind);
        if (type_of(&kind) == TYPE_FLOAT) v = cell_float(&kind) > 0.0 ? 255 : 0;
        b[i] = clamp_byte(v);
    }
    if (n != len) set_length(left, n);
}

int compare(const Cell* a, const Cell* b) {
    if (type_of(b) != TYPE_TUPLE) return NOT_COMPARABLE;
    int n = std::max(length(a), length(b));
    for (int i = 0; i < n; i++) {
        int x = i < length(a) ? byte_at(a, i) : 0, y = i < length(b) ? byte_at(b, i) : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

namespace {

// One byte of a block spec: an integer, a character or a float (truncated)
// in 0..255.
uint8_t spec_byte(const Cell* c, const Cell* spec) {
    double v;
    switch (type_of(c)) {
    case TYPE_INTEGER: case TYPE_CHAR: v = double(int32_t(c->data2)); break;
    case TYPE_FLOAT: v = std::trunc(cell_float(c)); break;
    default: bad_to(spec);
    }
    if (!(v >= 0.0 && v <= 255.0)) bad_to(spec);
    return uint8_t(v);
}

const Cell* to(Cell*, Cell* spec, int) {
    static Cell result;
    int t = type_of(spec);
    switch (t) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
        uint32_t n = series::rs_length(spec);
        if (n > uint32_t(MAX_LENGTH)) bad_to(spec);
        const Cell* items = reinterpret_cast<const Cell*>(series::element_at(series::buffer_of(spec), spec->data1));
        uint8_t bytes[MAX_LENGTH] = {};
        for (uint32_t i = 0; i < n; i++) bytes[i] = spec_byte(items + i, spec);
        result = Cell{TYPE_TUPLE, 0, 0, 0};
        return make_at(&result, bytes, std::max<int>(int(n), 3));
    }
    case TYPE_BINARY:
        return from_binary(spec, &result);
    case TYPE_ISSUE:
        return from_issue(spec, &result);
    case TYPE_TUPLE:
        return spec;
    default:
        if (!is_any_string(t)) bad_to(spec);
        Cell* slot = stack::push_slot();
        *slot = NONE_CELL;
        const Cell* loaded = helpers::load_value_from_string_into(spec, slot);
        if (type_of(loaded) != TYPE_TUPLE) bad_to(spec);
        result = *loaded;
        stack::top = slot;
        return &result;
    }
}

void randomize(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random_gen::random_seed(int32_t(value->data1 ^ value->data2 ^ value->data3));
        *value = UNSET_CELL;
        return;
    }
    uint8_t* b = bytes_of(value);
    for (int i = 0; i < length(value); i++) b[i] = uint8_t(random_gen::random_int(secure, b[i] + 1) - 1);
}

int form(Cell* value, Cell* buffer, int part) {
    std::string text;
    for (int i = 0; i < length(value); i++) {
        if (i) text += '.';
        text += std::to_string(byte_at(value, i));
    }
    return string::concatenate_literal(buffer, text, part);
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) { return form(value, buffer, part); }

int checked_index(const Cell* t, int index, const Cell* boxed_index) {
    if (index < 1 || index > length(t)) {
        int bt = type_of(boxed_index);
        Cell i = bt == TYPE_INTEGER || bt == TYPE_CHAR || bt == TYPE_LOGIC
                     ? Cell{TYPE_INTEGER, 0, uint32_t(index), 0}
                     : *boxed_index;
        raise_error(err::script_out_of_range, &i);
    }
    return index;
}

const Cell* pick(Cell* t, int index, Cell* boxed_index) {
    static Cell result;
    int i = checked_index(t, index, boxed_index);
    result = Cell{TYPE_INTEGER, 0, byte_at(t, i - 1), 0};
    return &result;
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell*, bool) {
    if (type_of(element) != TYPE_INTEGER) coords::invalid_type_of(element);
    int index = int(int32_t(element->data2));
    if (!value) return pick(parent, index, element);
    int vt = type_of(value);
    if (vt != TYPE_INTEGER && vt != TYPE_NONE) coords::invalid_type_of(value);
    checked_index(parent, index, element);
    uint8_t* b = bytes_of(parent);
    if (vt == TYPE_INTEGER) {
        b[index - 1] = clamp_byte(integer::get(value));
    } else {
        // none cuts the tuple there, keeping at least 3 bytes.
        int len = length(parent);
        for (int i = index - 1; i < len; i++) b[i] = 0;
        set_length(parent, std::max(index - 1, 3));
    }
    return value;
}

int compare_handler(Cell* a, Cell* b, int) { return compare(a, b); }

const Cell* complement(Cell* value) {
    static Cell result;
    result = *value;
    uint8_t* b = bytes_of(&result);
    for (int i = 0; i < length(value); i++) b[i] = uint8_t(~b[i]);
    return &result;
}

int length_of(Cell* t) { return length(t); }

[[noreturn]] void bad_refinement(const Cell& refinement, const Cell* arg) {
    Cell w = refinement, a = *arg;
    w.header = TYPE_WORD;
    raise_error(err::script_invalid_refine_arg, &w, &a);
}

// Reverses the first /part bytes, or with /skip the order of records of
// that many bytes.
void reverse(Cell* t, Cell* part_arg, Cell* skip_arg) {
    int len = length(t);
    int part = len, skip = 1;
    if (part_arg) {
        if (type_of(part_arg) != TYPE_INTEGER) bad_refinement(refinements::part, part_arg);
        part = integer::get(part_arg);
        if (part < 0) {
            Cell a = *part_arg;
            raise_error(err::script_out_of_range, &a);
        }
    }
    if (skip_arg) {
        if (type_of(skip_arg) != TYPE_INTEGER) bad_refinement(refinements::skip, skip_arg);
        skip = integer::get(skip_arg);
        if (skip == part) return;
        if (skip <= 0) {
            Cell a = *skip_arg;
            raise_error(err::script_out_of_range, &a);
        }
        if (skip > part || part % skip != 0) bad_refinement(refinements::skip, skip_arg);
    }
    int n = std::min(len, part);
    uint8_t* b = bytes_of(t);
    int records = n / skip;
    for (int lo = 0, hi = records - 1; lo < hi; lo++, hi--)
        for (int k = 0; k < skip; k++) std::swap(b[lo * skip + k], b[hi * skip + k]);
}

}  // namespace

void register_type() {
    Registration(TYPE_TUPLE, 0, "tuple!")
        .hasher(hash_cell)
        .on<A_MAKE>(to)
        .on<A_RANDOM>(randomize)
        .on<A_TO>(to)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_EVAL_PATH>(eval_path)
        .on<A_COMPARE>(compare_handler)
        .on<A_ADD>(math::handler<do_math, OP_ADD>)
        .on<A_DIVIDE>(math::handler<do_math, OP_DIV>)
        .on<A_MULTIPLY>(math::handler<do_math, OP_MUL>)
        .on<A_REMAINDER>(math::handler<do_math, OP_REM>)
        .on<A_SUBTRACT>(math::handler<do_math, OP_SUB>)
        .on<A_AND_T>(math::handler<do_math, OP_AND>)
        .on<A_COMPLEMENT>(complement)
        .on<A_OR_T>(math::handler<do_math, OP_OR>)
        .on<A_XOR_T>(math::handler<do_math, OP_XOR>)
        .on<A_LENGTH_Q>(length_of)
        .on<A_PICK>(pick)
        .on<A_REVERSE>(reverse)
        .commit();
}

}  // namespace vyx::tuple
