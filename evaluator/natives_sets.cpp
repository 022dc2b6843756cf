// The byte-encoding natives enbase and debase, and the data-set natives
// (union, intersect, unique, difference, exclude, complement?), which check
// their arguments and hand the work to the datatype of the first set.
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/time.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "evaluator/helpers.h"
#include "evaluator/native_table.h"
#include "runtime/stack.h"
#include "runtime/base_codecs.h"
#include "runtime/raise.h"

namespace vyx::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

// The /base argument: 64 when absent; any base but 2, 16, 58, 64 is refused.
template <const native_table::Declaration& N>
int base_of(const int* refs) {
    int at = refs[N.refinement("base")];
    if (at < 0) return 64;
    Cell* b = arg(at);
    int64_t base = int32_t(b->data2);
    if (!base_codecs::is_base(base)) raise_error(err::script_invalid_arg, b);
    return int(base);
}

}  // namespace

VYX_NATIVE(enbase_, 91, "enbase",
           R"~("encodes binary or UTF-8 text in base 64, 58, 16 or 2" value [binary! string!] /base base-value [integer!])~");
void enbase_(int check, const int* refs) {
    if (check) native_enbase_.check(refs);
    int base = base_of<native_enbase_>(refs);
    Cell value = *arg(0);
    std::vector<uint8_t> text;
    uint64_t n;
    if (type_of(&value) == TYPE_BINARY) {
        n = binary::rs_length(&value);
    } else {
        binary::text_utf8(&value, -1, text);
        n = text.size();
    }
    uint64_t room = base_codecs::max_encoded(base, n);
    if (room > 0x7FFFFFFF) raise_error(err::script_too_long);
    Cell* result = string::push(uint32_t(room ? room : 1));
    // The allocation may have moved the binary: its bytes are read after it.
    const uint8_t* src = type_of(&value) == TYPE_BINARY ? binary::rs_head(&value) : text.data();
    SeriesBuffer* b = node_buffer(result->data2);
    size_t written = base_codecs::encode(base, b->head(), src, size_t(n));
    b->tail = b->offset + uint32_t(written);
    stack::store_result_only(result);
}

VYX_NATIVE(debase_, 84, "debase",
           R"~("decodes a base-64, 58, 16 or 2 string to binary" value [string!] /base base-value [integer!])~");
void debase_(int check, const int* refs) {
    if (check) native_debase_.check(refs);
    int base = base_of<native_debase_>(refs);
    Cell value = *arg(0);
    SeriesBuffer* b = node_buffer(value.data2);
    uint32_t count = series::rs_length(&value);
    std::vector<uint8_t> bytes;
    bool ok = base_codecs::decode(base, series::element_at(b, value.data1), count, b->unit(), bytes);
    if (!ok) {
        stack::store_result_only(&NONE_CELL);
        return;
    }
    Cell result;
    binary::make_from(&result, bytes.data(), uint32_t(bytes.size()));
    stack::store_result_only(&result);
}

// ---------------------------------------------------------------- data sets

namespace {

constexpr int UNIQUE = series::SET_UNIQUE, UNION = series::SET_UNION, INTERSECT = series::SET_INTERSECT,
              EXCLUDE = series::SET_EXCLUDE, DIFFERENCE = series::SET_DIFFERENCE;

bool block_kind(int t) { return t == TYPE_BLOCK || t == TYPE_HASH; }

void typeset_op(int op) {
    Cell a = *arg(0), b = *arg(1);
    for (uint32_t* w : {&a.data1, &a.data2, &a.data3}) {
        uint32_t x = *w, y = *(&b.data1 + (w - &a.data1));
        switch (op) {
        case UNION: *w = x | y; break;
        case INTERSECT: *w = x & y; break;
        case EXCLUDE: *w = x & ~y; break;
        default: *w = x ^ y; break;
        }
    }
    stack::store_result_only(&a);
}

template <const native_table::Declaration& N>
void set_operation(int op, int check, const int* refs) {
    if (check) N.check(refs);
    // /case and /skip follow the set arguments.
    const int case_ref = refs[N.refinement("case")], skip_ref = refs[N.refinement("skip")];
    Cell* set1 = arg(0);
    int t1 = type_of(set1);
    if (op != UNIQUE) {
        int t2 = type_of(arg(1));
        if (t1 != t2 && !(block_kind(t1) && block_kind(t2))) {
            Cell a{TYPE_DATATYPE, uint32_t(t1), 0, 0}, b{TYPE_DATATYPE, uint32_t(t2), 0, 0};
            raise_error(err::script_expect_val, &a, &b);
        }
    }
    switch (t1) {
    case TYPE_BITSET:
        bitset::do_set_op(op);
        stack::keep_result_only();
        return;
    case TYPE_TYPESET:
        // A typeset holds each datatype once already.
        if (op == UNIQUE)
            stack::keep_result_only();
        else
            typeset_op(op);
        return;
    case TYPE_BLOCK: case TYPE_HASH: case TYPE_STRING: {
        auto worker = t1 == TYPE_STRING ? string::set_operation : block::set_operation;
        const Cell* r = worker(op, set1, op == UNIQUE ? nullptr : arg(1), case_ref >= 0,
                               skip_ref >= 0 ? arg(skip_ref) : nullptr);
        stack::store_result_only(r);
        return;
    }
    case TYPE_DATE: {
        if (op != DIFFERENCE) helpers::raise_expect_arg(0, t1);
        // The time between the two instants.
        Cell a = *set1, b = *arg(1);
        double seconds = double(date::to_days(a.data1) - date::to_days(b.data1)) * 86400.0 +
                         (date::seconds(&a) - date::seconds(&b));
        Cell result;
        time::make_at(seconds, &result);
        stack::store_result_only(&result);
        return;
    }
    default:
        break;
    }
    helpers::raise_expect_arg(0, t1);
}

}  // namespace

VYX_NATIVE(union_, 41, "union",
           R"~("set union of two data sets" set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!])~");
void union_(int check, const int* refs) { set_operation<native_union_>(UNION, check, refs); }
VYX_NATIVE(intersect_, 42, "intersect",
           R"~("set intersection" set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!])~");
void intersect_(int check, const int* refs) { set_operation<native_intersect_>(INTERSECT, check, refs); }
VYX_NATIVE(unique_, 43, "unique",
           R"~("removes duplicates" set [block! hash! string!] /case /skip size [integer!] return: [block! hash! string!])~");
void unique_(int check, const int* refs) { set_operation<native_unique_>(UNIQUE, check, refs); }
VYX_NATIVE(difference_, 44, "difference",
           R"~("symmetric difference (dates: the time between them)" set1 [block! hash! string! bitset! typeset! date!] set2 [block! hash! string! bitset! typeset! date!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset! time!])~");
void difference_(int check, const int* refs) { set_operation<native_difference_>(DIFFERENCE, check, refs); }
VYX_NATIVE(exclude_, 45, "exclude",
           R"~("first set less the second" set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!])~");
void exclude_(int check, const int* refs) { set_operation<native_exclude_>(EXCLUDE, check, refs); }

VYX_NATIVE(complement_q, 46, "complement?",
           R"~("whether a bitset is complemented" bits [bitset!])~");
void complement_q(int check, const int* refs) {
    if (check) native_complement_q.check(refs);
    bool r = bitset::is_complemented(arg(0));
    logic::box(r);
}

}  // namespace vyx::natives
