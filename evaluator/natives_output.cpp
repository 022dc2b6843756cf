// print and prin, and transcode: the natives between values and text.
#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "evaluator/helpers.h"
#include "evaluator/lexer.h"
#include "evaluator/native_table.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/output.h"
#include "runtime/raise.h"

namespace vyx::natives {

bool last_lf = true;

namespace {

using stack::thrown;

inline Cell* arg(int i) { return stack::arguments + i; }

// The print buffer's node (kept alive by the root block) and its index: the
// position where the values of the innermost print running begin.
Node print_node = 0;
uint32_t print_index = 0;

// A nested print (from a paren of the block being printed) works after the
// outer one's values and leaves them as it found them, whatever way it ends.
struct PrintBufferUse {
    uint32_t saved_index;
    uint32_t start;
    PrintBufferUse() : saved_index(print_index), start(blk::size(print_node)) { print_index = start; }
    ~PrintBufferUse() {
        Cell b{TYPE_BLOCK, 0, print_node, 0};
        if (blk::size(print_node) > start) blk::set_length(&b, start);
        print_index = saved_index;
    }
};

// Forms the value into a new string! held in `out` (a cell the collector sees).
void form_into(const Cell* value, Cell* out) {
    string::make_at(out, 16);
    Cell* held = stack::push(value);
    auto form = reinterpret_cast<act::Form>(get_handler(type_of(held), A_FORM));
    if (!form) raise_error(err::internal_not_done);
    form(held, out, NO_LIMIT);
    stack::top = held;
}

void print_value(bool newline) {
    Cell value = *arg(0);
    Cell* text = stack::push_slot();
    *text = Cell{TYPE_NONE, 0, 0, 0};
    if (type_of(&value) == TYPE_BLOCK) {
        print_buffer();
        PrintBufferUse use;
        Cell out{TYPE_BLOCK, use.start, print_node, 0};
        Cell* base = stack::top;
        reduce_value(&value, &out);
        if (thrown) return;
        Cell reduced{TYPE_BLOCK, use.start, print_node, 0};
        stack::top = base;
        form_into(&reduced, text);
        run_print_hooks(text, newline);
    } else if (type_of(&value) == TYPE_STRING) {
        // Printed as it is, from its index (clamped to its tail).
        *text = value;
        if (text->data1 > series::length_from_head(text)) text->data1 = series::length_from_head(text);
        run_print_hooks(text, newline);
    } else {
        form_into(&value, text);
        run_print_hooks(text, newline);
    }
    last_lf = newline;
    stack::store_result_only(&UNSET_CELL);
}

}  // namespace

void make_print_buffer() {
    Cell b;
    blk::make_at(&b, 32);
    context::keep_in_root(&b);
    print_node = b.data2;
    print_index = 0;
}

Cell* print_buffer() {
    if (!print_node) make_print_buffer();
    static Cell cell;
    cell = Cell{TYPE_BLOCK, print_index, print_node, 0};
    return &cell;
}

VYX_NATIVE(print_, 23, "print",
           R"~("forms (a block reduced first) and outputs a value with a line end" value [any-type!])~");
void print_(int check, const int* refs) {
    if (check) native_print_.check(refs);
    print_value(true);
}

VYX_NATIVE(prin_, 24, "prin",
           R"~("forms (a block reduced first) and outputs a value without a line end" value [any-type!])~");
void prin_(int check, const int* refs) {
    if (check) native_prin_.check(refs);
    print_value(false);
}

// transcode ---------------------------------------------------------------------------

VYX_NATIVE(transcode_, 106, "transcode",
           R"~("turns UTF-8 source into values" src [binary! string!] /next /one /prescan /scan /part length [integer! binary!] /into dst [block!] /trace callback [function! [event [word!] input [binary! string!] type [word! datatype!] line [integer!] token return: [logic!]] routine! [event [word!] input [binary! string!] type [word! datatype!] line [integer!] token return: [logic!]]] return: [block!])~");
void transcode_(int check, const int* refs) {
    if (check) native_transcode_.check(refs);
    // Refinement positions, read from the spec.
    enum {
        R_NEXT = native_transcode_.refinement("next"),
        R_ONE = native_transcode_.refinement("one"),
        R_PRESCAN = native_transcode_.refinement("prescan"),
        R_SCAN = native_transcode_.refinement("scan"),
        R_PART = native_transcode_.refinement("part"),
        R_INTO = native_transcode_.refinement("into"),
        R_TRACE = native_transcode_.refinement("trace")
    };
    bool next = refs[R_NEXT] >= 0, one = refs[R_ONE] >= 0;
    bool prescan = refs[R_PRESCAN] >= 0, scan = refs[R_SCAN] >= 0;
    // The source is held above the arguments: the result slot is also where
    // the first argument lives.
    Cell* src = stack::push(arg(0));
    int st = type_of(src);
    uint32_t length = series::rs_length(src);
    if (st == TYPE_BINARY && length > 2) {
        const uint8_t* p = series::element_at(series::buffer_of(src), src->data1);
        if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
            src->data1 += 3;
            length -= 3;
        }
    }
    int32_t count = -1;
    if (refs[R_PART] >= 0) {
        Cell part = *arg(refs[R_PART]);
        if (type_of(&part) == TYPE_INTEGER) {
            int32_t n = int32_t(part.data2);
            count = n < 0 ? 0 : n;
        } else {
            if (type_of(&part) != st) raise_error(err::script_not_same_type);
            count = part.data1 > src->data1 ? int32_t(part.data1 - src->data1) : 0;
        }
        if (uint32_t(count) < length) length = uint32_t(count);
    }
    lexer::FunctionTracer tracer{};
    const lexer::Tracer* trace = nullptr;
    if (refs[R_TRACE] >= 0) {
        Cell* fn = stack::push(arg(refs[R_TRACE]));
        lexer::make_function_tracer(fn, tracer);
        trace = &tracer.tracer;
    }
    Cell* result = stack::push_slot();
    *result = Cell{TYPE_NONE, 0, 0, 0};
    Cell* target = nullptr;
    if (refs[R_INTO] >= 0) target = stack::push(arg(refs[R_INTO]));

    if (prescan || scan) {
        int type = 0;
        if (length > 0)
            type = lexer::scan_string_value(result, src, count, true, scan, false, false, nullptr, trace,
                                            nullptr);
        Cell answer = type > 0 ? Cell{TYPE_DATATYPE, uint32_t(type), 0, 0} : Cell{TYPE_NONE, 0, 0, 0};
        stack::store_result_only(&answer);
        return;
    }
    uint32_t consumed = 0;
    if (one) {
        lexer::scan_string_value(result, src, count, true, true, true, false, &consumed, trace, nullptr);
        if (target) blk::append(target, result);
        Cell answer = *result;
        stack::store_result_only(&answer);
        return;
    }
    lexer::scan_string_value(result, src, count, next, true, true, next, &consumed, trace, target);
    Cell* out = target ? target : result;
    if (next && type_of(out) == TYPE_BLOCK) {
        Cell rest = *src;
        rest.data1 += consumed;
        blk::append(out, &rest);
    }
    Cell answer = *out;
    stack::store_result_only(&answer);
}

}  // namespace vyx::natives
