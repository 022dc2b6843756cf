// Control natives beyond the basic conditionals and loops: repeat, switch,
// case, and the identity test same?.
//
// Everything these natives must keep across an evaluation (the block being
// walked, the branch being run, the counter) lives in cells of their own call
// on the value stack: the collector sees them there, and nested calls cannot
// overwrite them.
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/runtime_words.h"
#include "datatypes/simple.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/helpers.h"
#include "evaluator/interpreter.h"
#include "evaluator/native_table.h"
#include "evaluator/natives.h"
#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx::natives {

namespace {

using stack::thrown;

const Cell UNSET{TYPE_UNSET, 0, 0, 0};
const Cell NONE{TYPE_NONE, 0, 0, 0};

inline Cell* arg(int i) { return stack::arguments + i; }

}  // namespace

// repeat 'word value body. The counter sits in the value argument cell; the
// word is set in its own context (it is not local to the loop) and keeps its
// last value afterwards.
VYX_NATIVE(repeat_, 9, "repeat",
           R"~("evaluates a body a number of times, setting a word to the iteration count" 'word [word!] value [integer! float!] body [block!])~");
void repeat_(int, const int*) {
    int32_t count = helpers::check_float_to_integer(arg(1));
    if (count < 1) {
        stack::store_result_only(&NONE);
        return;
    }
    Cell* call = stack::arguments;  // stack cells never move
    call[1] = Cell{TYPE_INTEGER, 0, 1, 0};
    Cell body = call[2];
    stack::top = call + 3;
    stack::push_loop_frame(&words::frame_body);
    stack::store_result_only(&UNSET);
    for (int32_t left = count; left > 0; left--) {
        stack::top = stack::arguments;
        Cell counter = call[1];
        context::set_again(&call[0], &counter);
        interp::eval_whole_block(&body, false);
        if (thrown == stack::EXIT_BREAK) {
            thrown = stack::EXIT_NONE;
            break;
        }
        if (thrown == stack::EXIT_CONTINUE) {
            thrown = stack::EXIT_NONE;
        } else if (thrown) {
            return;
        }
        // The last round leaves the counter at count: it never passes the
        // integer range.
        if (left > 1) call[1].data2 = uint32_t(int32_t(call[1].data2) + 1);
    }
    stack::pop_frame_pass_result();
}

// switch value cases /default case. A match with no block after it answers
// none, and counts as no match: the /default block runs when given.
VYX_NATIVE(switch_, 18, "switch",
           R"~("evaluates the block that follows the first case matching a value" value [any-type!] cases [block!] /default case [block!])~");
void switch_(int, const int* refs) {
    Cell answer = *helpers::select_in_block(true, true);
    if (type_of(&answer) == TYPE_BLOCK) {
        interp::do_block(&answer);
        return;
    }
    if (type_of(&answer) == TYPE_NONE && refs[native_switch_.refinement("default")] >= 0) {
        interp::do_block(arg(refs[native_switch_.refinement("default")]));
        return;
    }
    stack::store_result_only(&NONE);
}

// case cases /all. Conditions and branches run in a call frame named <anon>
// (no call trace shows it) whose cell 0 holds the value of the last branch
// taken; each condition is pushed above it. case/all answers the value of the
// last branch it ran, whatever the conditions after it gave.
VYX_NATIVE(case_, 19, "case",
           R"~("evaluates the block that follows the first (or every) truthy condition" cases [block!] /all)~");
void case_(int, const int* refs) {
    bool all = refs[native_case_.refinement("all")] >= 0;
    Cell cases = *arg(0);
    if (cases.data1 >= blk::size(cases.data2)) {
        stack::store_result_only(&NONE);
        return;
    }
    stack::keep_result_only();  // cell 0 keeps the block reachable
    stack::push_call_frame(&words::frame_anon);
    stack::push(&NONE);
    bool taken = false;
    uint32_t pos = cases.data1;
    while (pos < blk::size(cases.data2)) {
        stack::top = stack::arguments + 1;
        pos = interp::eval_next_at(&cases, pos, blk::size(cases.data2), true);
        if (thrown) return;
        // The condition may have changed the block: read its tail anew.
        uint32_t end = blk::size(cases.data2);
        if (pos >= end) {
            Cell w = word::load("case");
            raise_error(err::script_need_value, &w);
        }
        const Cell* cond = stack::top - 1;
        if (type_of(cond) == TYPE_UNSET) raise_error(err::script_no_return);
        if (!logic::truth(cond)) {
            pos++;
            continue;
        }
        Cell next = *blk::at(cases.data2, pos);
        if (type_of(&next) == TYPE_BLOCK) {
            // The branch stays on the stack while it runs, in case the code
            // removes it from the block.
            stack::top = stack::arguments + 1;
            stack::push(&next);
            interp::eval_whole_block(&next, false);
            if (thrown) return;
            pos++;
        } else {
            stack::top = stack::arguments + 1;
            pos = interp::eval_next_at(&cases, pos, end, false);
            if (thrown) return;
        }
        if (!all) {
            stack::pop_frame_pass_result();
            return;
        }
        taken = true;
    }
    if (taken) {
        stack::pop_frame_pass_result();
        return;
    }
    stack::pop_frame_discard();
    stack::store_result_only(&NONE);
}

// same? value1 value2: identity, not equality. Values of different datatypes
// are never the same; within one datatype, what "the same value" means
// follows what the cell stands for: a series position, a context, an exact
// bit pattern.
bool is_same(const Cell* a, const Cell* b) {
    int t = type_of(a);
    if (t != type_of(b)) return false;
    if (is_series_type(t)) return a->data2 == b->data2 && a->data1 == b->data1;
    switch (t) {
    case TYPE_NONE: case TYPE_UNSET:
        return true;
    case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT:
        return a->data1 == b->data1;
    case TYPE_CHAR: case TYPE_INTEGER: case TYPE_BITSET:
        return a->data2 == b->data2;
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_PAIR: case TYPE_TIME:
        // Bit-identical: 0.0 and -0.0 differ, a NaN is the same as itself.
        return a->data2 == b->data2 && a->data3 == b->data3;
    case TYPE_TUPLE:
        // Trailing zero bytes do not count: 1.2.3 is the same as 1.2.3.0.
        return tuple::compare(a, b) == 0;
    case TYPE_MONEY: {
        Cell x = *a, y = *b;
        return actions::compare_values(&x, &y, COMP_STRICT_EQUAL);
    }
    case TYPE_NATIVE: case TYPE_ACTION: case TYPE_POINT2D:
        return a->data1 == b->data1 && a->data2 == b->data2;
    case TYPE_OP:
        // An op is the same when made from the same callable.
        return ((a->header ^ b->header) & op::SOURCE_MASK) == 0 && a->data1 == b->data1 && a->data2 == b->data2 &&
               a->data3 == b->data3;
    default:
        return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
    }
}

VYX_NATIVE(same_, N_SAME, "same?",
           R"~("identity test" value1 [any-type!] value2 [any-type!])~");
void same_(int, const int*) {
    logic::box(is_same(arg(0), arg(1)));
    stack::keep_result_only();
}

}  // namespace vyx::natives
