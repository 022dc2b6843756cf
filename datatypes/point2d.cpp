#include "datatypes/point2d.h"

#include <string>

#include "datatypes/float.h"
#include "datatypes/math_dispatch.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "evaluator/random.h"
#include "runtime/stack.h"
#include "runtime/hash_index.h"
#include "runtime/murmur3.h"
#include "runtime/raise.h"

namespace vyx {

namespace coords {

int field_of(const Cell* word, int count, const Cell* owner, const Cell* path) {
    int32_t s = symbol::resolve(word::symbol_of(word));
    if (s == symbol::resolve(sym::x)) return 1;
    if (s == symbol::resolve(sym::y)) return 2;
    if (count == 3 && s == symbol::resolve(sym::z)) return 3;
    Cell w = *word;
    if (!path) {
        Cell v = *owner;
        raise_error(err::script_cannot_use, &w, &v);
    }
    Cell p = *path;
    raise_error(err::script_invalid_path, &p, &w);
}

int path_field(const Cell* element, int count, const Cell* owner, const Cell* path) {
    int t = type_of(element);
    if (t == TYPE_INTEGER) {
        int32_t i = int32_t(element->data2);
        if (i >= 1 && i <= count) return i;
    } else if (is_any_word(t) && t != TYPE_ISSUE) {
        return field_of(element, count, owner, path);
    }
    Cell p = path ? *path : NONE_CELL, e = *element;
    raise_error(err::script_invalid_path, &p, &e);
}

int pick_field(int index, const Cell* boxed_index, int count, const Cell* owner) {
    int t = type_of(boxed_index);
    if (is_any_word(t) && t != TYPE_ISSUE) return field_of(boxed_index, count, owner, nullptr);
    if (index < 1 || index > count) {
        Cell i = *boxed_index;
        raise_error(err::script_out_of_range, &i);
    }
    return index;
}

void malconstruct(int type, const Cell* spec) {
    // Syntax errors form their arguments: the spec goes in molded.
    Cell* name = string::push(16);
    string::concatenate_literal(name, type_names[type].name, NO_LIMIT);
    Cell* text = string::push(16);
    Cell s = *spec;
    reinterpret_cast<act::Mold>(get_handler(type_of(&s), A_MOLD))(&s, text, false, false, false, NO_LIMIT, 0);
    raise_error(err::syntax_malconstruct, name, text);
}

void invalid_type_of(const Cell* value) {
    Cell dt{TYPE_DATATYPE, uint32_t(type_of(value)), 0, 0};
    raise_error(err::script_invalid_type, &dt);
}

namespace {

template <int N>
constexpr int point_type = N == 2 ? TYPE_POINT2D : TYPE_POINT3D;

[[noreturn]] void bad_to(int type, const Cell* spec) {
    Cell dt{TYPE_DATATYPE, uint32_t(type), 0, 0}, s = *spec;
    raise_error(err::script_bad_to_arg, &dt, &s);
}

double number_of(const Cell* c) { return type_of(c) == TYPE_INTEGER ? double(int32_t(c->data2)) : cell_float(c); }

// ------------------------------------------------------------------ make, to

template <int N>
const Cell* make(Cell*, Cell* spec, int) {
    static Cell result;
    constexpr int type = point_type<N>;
    float c[3] = {0, 0, 0};
    switch (type_of(spec)) {
    case TYPE_INTEGER: case TYPE_FLOAT:
        c[0] = c[1] = c[2] = float(number_of(spec));
        break;
    case TYPE_BLOCK: {
        const Cell* items = nullptr;
        if (series::rs_length(spec) >= uint32_t(N))
            items = reinterpret_cast<const Cell*>(series::element_at(series::buffer_of(spec), spec->data1));
        for (int i = 0; i < N; i++) {
            int t = items ? type_of(items + i) : 0;
            if (t != TYPE_INTEGER && t != TYPE_FLOAT) malconstruct(type, spec);
            c[i] = float(number_of(items + i));
        }
        break;
    }
    case TYPE_PAIR:
        c[0] = float(pair::x(spec));
        c[1] = float(pair::y(spec));
        break;
    case TYPE_POINT2D:
        if (N == 2) return spec;
        c[0] = point2d::x(spec);
        c[1] = point2d::y(spec);
        break;
    case TYPE_POINT3D:
        if (N == 2) bad_to(type, spec);
        return spec;
    case TYPE_STRING: {
        Cell* slot = stack::push_slot();
        *slot = NONE_CELL;
        const Cell* loaded = helpers::load_value_from_string_into(spec, slot);
        if (type_of(loaded) != type) bad_to(type, spec);
        result = *loaded;
        stack::top = slot;
        return &result;
    }
    default:
        bad_to(type, spec);
    }
    result = Cell{uint32_t(type), 0, 0, 0};
    for (int i = 0; i < N; i++) set(&result, i, c[i]);
    return &result;
}

// ------------------------------------------------------------------ math

template <int N>
void do_math_n(int op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    double r[3];
    switch (type_of(right)) {
    case point_type<N>:
        for (int i = 0; i < N; i++) r[i] = get(right, i);
        break;
    case TYPE_PAIR:
        if (N == 3) invalid_type_of(right);
        r[0] = float(pair::x(right));
        r[1] = float(pair::y(right));
        break;
    case TYPE_INTEGER:
        r[0] = r[1] = r[2] = float(int32_t(right->data2));
        break;
    case TYPE_FLOAT: case TYPE_PERCENT:
        // A zero divisor gives infinite or NaN coordinates, not an error.
        r[0] = r[1] = r[2] = float(cell_float(right));
        break;
    default:
        invalid_type_of(right);
    }
    float out[3];
    for (int i = 0; i < N; i++) out[i] = float(float_::do_math_op(get(left, i), r[i], op));
    for (int i = 0; i < N; i++) set(left, i, out[i]);
}

template <int N>
void absolute() {
    Cell* v = stack::arguments;
    for (int i = 0; i < N; i++) set_word(v, i, word(v, i) & 0x7FFFFFFFu);
}

template <int N>
void negate(Cell* value) {
    // 0.0 minus each coordinate: a zero stays +0.0.
    Cell r = *value;
    for (int i = 0; i < N; i++) set(&r, i, float(0.0 - double(get(value, i))));
    *stack::arguments = r;
}

// ------------------------------------------------------------------ compare

template <int N>
int compare_n(Cell* a, Cell* b, int op) {
    Cell other = *b;
    if (N == 2 && type_of(b) == TYPE_PAIR) point2d::make_at(&other, float(pair::x(b)), float(pair::y(b)));
    else if (type_of(b) != point_type<N>) return NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL:
        for (int i = 0; i < N; i++)
            if (!float_::float32_equal(get(a, i), get(&other, i))) return 1;
        return 0;
    case COMP_STRICT_EQUAL:
        for (int i = 0; i < N; i++)
            if (!(get(a, i) == get(&other, i))) return 1;
        return 0;
    case COMP_SAME:
        for (int i = 0; i < N; i++)
            if (word(a, i) != word(&other, i)) return 1;
        return 0;
    default: {
        // By x, then y (then z) where the earlier differences count as zero.
        float d = 0;
        for (int i = 0; i < N; i++) {
            d = float(double(get(a, i)) - double(get(&other, i)));
            if (!float_::float32_equal(d, 0.0f)) break;
        }
        return d < 0 ? -1 : d > 0 ? 1 : 0;
    }
    }
}

// ------------------------------------------------------------------ round

template <int N>
void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    Cell point = *value;
    int st = scale ? type_of(scale) : 0;
    if (st == TYPE_MONEY) math::not_related("round", TYPE_MONEY);
    for (int i = 0; i < N; i++) {
        // The scale of this coordinate: a pair or point scale gives one per
        // coordinate (a point2D! gives none to z); an integer rounds as a
        // float so the coordinate stays a float whatever its size.
        Cell s{TYPE_FLOAT, 0, 0, 0};
        Cell* sp = &s;
        switch (st) {
        case 0: sp = nullptr; break;
        case TYPE_INTEGER: set_cell_float(&s, double(int32_t(scale->data2))); break;
        case TYPE_PAIR:
            if (N == 2) set_cell_float(&s, double(i == 0 ? pair::x(scale) : pair::y(scale)));
            else sp = scale;
            break;
        case TYPE_POINT2D: case TYPE_POINT3D:
            set_cell_float(&s, i < (st == TYPE_POINT2D ? 2 : 3) ? double(get(scale, i)) : 0.0);
            break;
        default: sp = scale;
        }
        // A zero scale leaves the coordinate as it is.
        if (sp == &s && cell_float(&s) == 0.0) continue;
        Cell c{TYPE_FLOAT, 0, 0, 0};
        set_cell_float(&c, double(get(&point, i)));
        float_::round(&c, sp, even, down, half_down, floor, ceiling, half_ceiling);
        const Cell* r = stack::arguments;
        set(&point, i, float(type_of(r) == TYPE_INTEGER ? double(int32_t(r->data2)) : cell_float(r)));
    }
    *stack::arguments = point;
}

// ------------------------------------------------------------------ random

template <int N>
void randomize(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random_gen::random_seed(int32_t(murmur3_x86_32(&value->data1, 4 * N, hash_seed)));
        *value = UNSET_CELL;
        return;
    }
    auto draw = reinterpret_cast<act::Random>(get_handler(TYPE_FLOAT, A_RANDOM));
    for (int i = 0; i < N; i++) {
        float c = get(value, i);
        if (c == 0.0f) continue;
        Cell f{TYPE_FLOAT, 0, 0, 0};
        set_cell_float(&f, double(c));
        draw(&f, false, secure, false);
        set(value, i, float(cell_float(&f)));
    }
}

// ------------------------------------------------------------------ text

template <int N>
int form(Cell* value, Cell* buffer, int part) {
    std::string text = "(";
    for (int i = 0; i < N; i++) {
        if (i) text += ", ";
        text += float_::form_double(double(get(value, i)), float_::FORM_SHORT);
    }
    text += ')';
    return string::concatenate_literal(buffer, text, part);
}

template <int N>
int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) {
    return form<N>(value, buffer, part);
}

// ------------------------------------------------------------------ paths

template <int N>
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, bool) {
    static Cell result;
    int field = path_field(element, N, parent, path);
    if (!value) {
        result = Cell{TYPE_FLOAT, 0, 0, 0};
        set_cell_float(&result, double(get(parent, field - 1)));
        return &result;
    }
    int vt = type_of(value);
    if (vt != TYPE_INTEGER && vt != TYPE_FLOAT) invalid_type_of(value);
    set(parent, field - 1, float(number_of(value)));
    return value;
}

template <int N>
const Cell* pick(Cell* point, int index, Cell* boxed_index) {
    static Cell result;
    int field = pick_field(index, boxed_index, N, point);
    result = Cell{TYPE_FLOAT, 0, 0, 0};
    set_cell_float(&result, double(get(point, field - 1)));
    return &result;
}

template <int N>
void reverse(Cell* point, Cell*, Cell*) {
    float first = get(point, 0);
    set(point, 0, get(point, N - 1));
    set(point, N - 1, first);
}

}  // namespace

template <int N>
void register_row(int type, const char* name) {
    Registration(type, 0, name)
        .hasher(hash_payload_bytes<1, 4 * N>)
        .template on<A_MAKE>(make<N>)
        .template on<A_RANDOM>(randomize<N>)
        .template on<A_TO>(make<N>)
        .template on<A_FORM>(form<N>)
        .template on<A_MOLD>(mold<N>)
        .template on<A_EVAL_PATH>(eval_path<N>)
        .template on<A_COMPARE>(compare_n<N>)
        .template on<A_ABSOLUTE>(absolute<N>)
        .template on<A_ADD>(math::handler<do_math_n<N>, OP_ADD>)
        .template on<A_DIVIDE>(math::handler<do_math_n<N>, OP_DIV>)
        .template on<A_MULTIPLY>(math::handler<do_math_n<N>, OP_MUL>)
        .template on<A_NEGATE>(negate<N>)
        .template on<A_REMAINDER>(math::handler<do_math_n<N>, OP_REM>)
        .template on<A_ROUND>(round<N>)
        .template on<A_SUBTRACT>(math::handler<do_math_n<N>, OP_SUB>)
        .template on<A_PICK>(pick<N>)
        .template on<A_REVERSE>(reverse<N>)
        .commit();
}

template void register_row<3>(int, const char*);

}  // namespace coords

namespace point2d {

void do_math(int op) { coords::do_math_n<2>(op); }

int compare(Cell* a, Cell* b, int op) { return coords::compare_n<2>(a, b, op); }

void register_type() { coords::register_row<2>(TYPE_POINT2D, "point2D!"); }

}  // namespace point2d

}  // namespace vyx
