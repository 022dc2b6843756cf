// The natives table and the natives built so far: conditionals, loops,
// function making, evaluation, comparison and the non-local exits.
#include "evaluator/natives.h"
#include "evaluator/native_table.h"

#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/simple.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/helpers.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/protect.h"
#include "runtime/stack.h"
#include "evaluator/trace.h"
#include "runtime/collector.h"
#include "runtime/raise.h"

namespace vyx::natives {

Entry table[CAPACITY];

namespace {

using stack::thrown;

const Cell UNSET{TYPE_UNSET, 0, 0, 0};
const Cell NONE{TYPE_NONE, 0, 0, 0};

inline Cell* arg(int i) { return stack::arguments + i; }

VYX_NATIVE(if_, N_IF, "if",
           R"~("evaluates a block when a condition is truthy, else returns none" cond [any-type!] then-blk [block!])~");
void if_(int, const int*) { interp::conditional(N_IF, stack::arguments + 1); }

VYX_NATIVE(unless_, N_UNLESS, "unless",
           R"~("evaluates a block when a condition is falsy, else returns none" cond [any-type!] then-blk [block!])~");
void unless_(int, const int*) { interp::conditional(N_UNLESS, stack::arguments + 1); }

VYX_NATIVE(either_, N_EITHER, "either",
           R"~("evaluates one of two blocks by the truth of a condition" cond [any-type!] true-blk [block!] false-blk [block!])~");
void either_(int, const int*) { interp::conditional(N_EITHER, stack::arguments + 1); }

// any and all walk the block one expression at a time.
template <bool Any>
void any_all(int, const int*) {
    Cell block = *arg(0);
    uint32_t end = blk::size(block.data2);
    uint32_t pos = block.data1;
    stack::keep_result_only();
    if (pos >= end) {
        stack::store_result_only(&NONE);
        return;
    }
    while (pos < end) {
        pos = interp::eval_next_at(&block, pos, end, true);
        if (thrown) return;
        Cell* v = stack::top - 1;
        bool truthy = logic::truth(v);
        if (Any && truthy) {
            stack::store_result_only(v);
            return;
        }
        if (!Any && !truthy) {
            stack::store_result_only(&NONE);
            return;
        }
        if (!Any && pos >= end) {
            stack::store_result_only(v);
            return;
        }
        stack::top--;
    }
    stack::store_result_only(&NONE);
}
VYX_NATIVE_AS(native_all, any_all<false>, N_ALL, "all",
              R"~("returns the last result when every expression of a block is truthy, else none" conds [block!])~");
VYX_NATIVE_AS(native_any, any_all<true>, N_ANY, "any",
              R"~("returns the first truthy result of the expressions of a block, else none" conds [block!])~");

// What a loop does with the exit pending after one round.
enum Round { ROUND_ON, ROUND_BREAK, ROUND_PASS };
inline Round after_round() {
    if (!thrown) return ROUND_ON;
    if (thrown == stack::EXIT_BREAK) {
        thrown = stack::EXIT_NONE;
        return ROUND_BREAK;
    }
    if (thrown == stack::EXIT_CONTINUE) {
        thrown = stack::EXIT_NONE;
        return ROUND_ON;
    }
    return ROUND_PASS;
}

// One round of a loop body in the loop's frame, then what the loop does next.
inline Round run_round(const Cell* body) {
    stack::top = stack::arguments;
    interp::eval_whole_block(body, false);
    return after_round();
}

VYX_NATIVE(loop_, N_LOOP, "loop",
           R"~("evaluates a body a number of times" count [integer! float!] body [block!])~");
void loop_(int, const int*) {
    int32_t count = helpers::check_float_to_integer(arg(0));
    if (count < 1) {
        stack::store_result_only(&NONE);
        return;
    }
    Cell body = *arg(1);
    stack::push_loop_frame(&words::frame_body);
    stack::store_result_only(&UNSET);
    for (int32_t i = 0; i < count; i++) {
        Round r = run_round(&body);
        if (r == ROUND_PASS) return;
        if (r == ROUND_BREAK) break;
    }
    stack::pop_frame_pass_result();
}

VYX_NATIVE(forever_, N_FOREVER, "forever",
           R"~("evaluates a body until a break" body [block!])~");
void forever_(int, const int*) {
    Cell body = *arg(0);
    stack::push_loop_frame(&words::frame_body);
    stack::store_result_only(&UNSET);
    for (;;) {
        Round r = run_round(&body);
        if (r == ROUND_PASS) return;
        if (r == ROUND_BREAK) break;
    }
    stack::pop_frame_pass_result();
}

VYX_NATIVE(while_, N_WHILE, "while",
           R"~("evaluates a body while a condition block yields a truthy value" cond [block!] body [block!])~");
void while_(int, const int*) {
    Cell cond = *arg(0);
    Cell body = *arg(1);
    stack::push_loop_frame(&words::frame_body);
    for (;;) {
        stack::top = stack::arguments;
        interp::eval_whole_block(&cond, false);
        if (thrown == stack::EXIT_BREAK || thrown == stack::EXIT_CONTINUE) {
            thrown = stack::EXIT_NONE;
            raise_error(err::throw_while_cond);
        }
        if (thrown) return;
        if (!logic::is_true()) break;
        Round r = run_round(&body);
        if (r == ROUND_PASS) return;
        if (r == ROUND_BREAK) break;
    }
    stack::pop_frame_discard();
    stack::store_result_only(&UNSET);
}

VYX_NATIVE(until_, N_UNTIL, "until",
           R"~("evaluates a body until it yields a truthy value" body [block!])~");
void until_(int, const int*) {
    Cell body = *arg(0);
    stack::push_loop_frame(&words::frame_body);
    for (;;) {
        stack::top = stack::arguments;
        interp::eval_whole_block(&body, false);
        if (thrown == stack::EXIT_CONTINUE) {
            thrown = stack::EXIT_NONE;
            continue;
        }
        Round r = after_round();
        if (r == ROUND_PASS) return;
        if (r == ROUND_BREAK) break;
        if (logic::is_true()) break;
    }
    stack::pop_frame_pass_result();
}

// Function making ------------------------------------------------------------------

void make_function(const Cell* spec, const Cell* body) {
    uint32_t flags = function::check_spec(spec);
    Cell* fn = function::push_new(spec, body, 0, 0, flags);
    stack::store_result_only(fn);
}

VYX_NATIVE(func_, N_FUNC, "func",
           R"~("makes a function from a spec and a body" spec [block!] body [block!])~");
void func_(int, const int*) { make_function(arg(0), arg(1)); }

VYX_NATIVE(function_, N_FUNCTION, "function",
           R"~("makes a function whose set-words in the body become locals" spec [block!] body [block!] /extern)~");
void function_(int, const int*) {
    collector::Rooted<1> r;
    Cell& spec = r[0];
    function::copy_deep(arg(0), &spec);
    spec.header = TYPE_BLOCK;
    Cell body = *arg(1);
    function::take_extern(&spec, &body);
    make_function(&spec, &body);
}

VYX_NATIVE(does_, N_DOES, "does",
           R"~("makes a function without arguments" body [block!])~");
void does_(int, const int*) {
    collector::Rooted<1> r;
    Cell& spec = r[0];
    blk::make_at(&spec, 1);
    Cell body = *arg(0);
    make_function(&spec, &body);
}

VYX_NATIVE(has_, N_HAS, "has",
           R"~("makes a function with locals and no arguments" vars [block!] body [block!])~");
void has_(int, const int*) {
    collector::Rooted<1> r;
    Cell& spec = r[0];
    Cell vars = *arg(0);
    blk::make_at(&spec, blk::length(&vars) + 1);
    Cell local = refinements::local;
    blk::append(&spec, &local);
    for (uint32_t i = vars.data1; i < blk::size(vars.data2); i++) blk::append(&spec, blk::at(vars.data2, i));
    Cell body = *arg(1);
    make_function(&spec, &body);
}

// Comparison and reflection -------------------------------------------------------

template <int Op>
void compare_(int, const int*) {
    actions::compare_to_logic(Op);
    stack::keep_result_only();
}
VYX_NATIVE_AS(native_greater_or_equal, compare_<COMP_GREATER_EQUAL>, N_GREATER_OR_EQUAL, "greater-or-equal?",
              R"~("ordering test" value1 [any-type!] value2 [any-type!])~");
VYX_NATIVE_AS(native_lesser_or_equal, compare_<COMP_LESSER_EQUAL>, N_LESSER_OR_EQUAL, "lesser-or-equal?",
              R"~("ordering test" value1 [any-type!] value2 [any-type!])~");
VYX_NATIVE_AS(native_greater, compare_<COMP_GREATER>, N_GREATER, "greater?",
              R"~("ordering test" value1 [any-type!] value2 [any-type!])~");
VYX_NATIVE_AS(native_lesser, compare_<COMP_LESSER>, N_LESSER, "lesser?",
              R"~("ordering test" value1 [any-type!] value2 [any-type!])~");
VYX_NATIVE_AS(native_strict_equal, compare_<COMP_STRICT_EQUAL>, N_STRICT_EQUAL, "strict-equal?",
              R"~("equality test that also requires the same datatype" value1 [any-type!] value2 [any-type!])~");
VYX_NATIVE_AS(native_not_equal, compare_<COMP_NOT_EQUAL>, N_NOT_EQUAL, "not-equal?",
              R"~("inequality test" value1 [any-type!] value2 [any-type!])~");
VYX_NATIVE_AS(native_equal, compare_<COMP_EQUAL>, N_EQUAL, "equal?",
              R"~("equality test" value1 [any-type!] value2 [any-type!])~");

VYX_NATIVE(not_, N_NOT, "not",
           R"~("logical complement of a value's truth" value [any-type!])~");
void not_(int, const int*) {
    logic::box(!logic::truth(arg(0)));
    stack::keep_result_only();
}

VYX_NATIVE(type_q, N_TYPE_Q, "type?",
           R"~("datatype of a value, or its word" value [any-type!] /word)~");
void type_q(int, const int* refs) {
    int t = type_of(arg(0));
    if (refs[native_type_q.refinement("word")] >= 0) {
        Cell w = word::load(type_names[t].name);
        stack::store_result_only(&w);
    } else {
        Cell dt{TYPE_DATATYPE, uint32_t(t), 0, 0};
        stack::store_result_only(&dt);
    }
}

// Exits --------------------------------------------------------------------------

VYX_NATIVE(break_, N_BREAK, "break",
           R"~("leaves the innermost loop" /return value [any-type!])~");
void break_(int, const int* refs) { stack::raise_break(refs[native_break_.refinement("return")] >= 0, false); }
VYX_NATIVE(continue_, N_CONTINUE, "continue",
           R"~("goes on with the next round of the innermost loop")~");
void continue_(int, const int*) { stack::raise_break(false, true); }
VYX_NATIVE(exit_, N_EXIT, "exit",
           R"~("leaves the innermost function, returning unset")~");
void exit_(int, const int*) { stack::raise_return(false, false); }
VYX_NATIVE(return_, N_RETURN, "return",
           R"~("leaves the innermost function with a value" value [any-type!])~");
void return_(int, const int*) { stack::raise_return(true, false); }

VYX_NATIVE(throw_, N_THROW, "throw",
           R"~("throws a value to the nearest (or a named) catch" value [any-type!] /name word [word!])~");
void throw_(int, const int* refs) {
    // The name (unset for an unnamed throw) sits right after the value,
    // where catch looks for it.
    Cell name = refs[native_throw_.refinement("name")] >= 0 ? *arg(refs[native_throw_.refinement("name")]) : UNSET;
    if (interp::tracing) trace::fire(trace::EV_THROW, 0, 0, nullptr, stack::arguments);
    stack::top = stack::arguments + 1;
    stack::push(&name);
    stack::raise_throw(stack::EXIT_THROW);
}

// Does a catch with this name receive a throw with that name? A catch
// without a name takes every throw; a named one only named throws whose
// name matches (names compare without case).
bool catches(const Cell* wanted, const Cell* name) {
    if (type_of(wanted) == TYPE_NONE) return true;
    if (!is_any_word(type_of(name))) return false;
    int32_t s = symbol::resolve(int32_t(name->data2));
    if (type_of(wanted) == TYPE_BLOCK) {
        for (uint32_t i = wanted->data1; i < blk::size(wanted->data2); i++)
            if (symbol::resolve(int32_t(blk::at(wanted->data2, i)->data2)) == s) return true;
        return false;
    }
    return symbol::resolve(int32_t(wanted->data2)) == s;
}

VYX_NATIVE(catch_, N_CATCH, "catch",
           R"~("evaluates a block and returns the value thrown to it" block [block!] /name word [word! block!])~");
void catch_(int, const int* refs) {
    Cell block = *arg(0);
    Cell wanted = refs[native_catch_.refinement("name")] >= 0 ? *arg(refs[native_catch_.refinement("name")]) : NONE;
    if (type_of(&wanted) == TYPE_BLOCK) {
        for (uint32_t i = wanted.data1; i < blk::size(wanted.data2); i++) {
            if (type_of(blk::at(wanted.data2, i)) == TYPE_WORD) continue;
            Cell w = word::load("name");
            raise_error(err::script_invalid_refine_arg, &w, &wanted);
        }
    }
    stack::keep_result_only();
    stack::push_catch_frame(&words::frame_body);
    protect::State saved = protect::State::save();
    interp::eval_whole_block(&block, false);
    if (thrown != stack::EXIT_THROW) {
        if (thrown) return;
        stack::pop_frame_pass_result();
        return;
    }
    // The catch frame is on top; its base holds the thrown value and name.
    Cell value = stack::arguments[0];
    Cell name = stack::arguments[1];
    uint32_t origin = stack::throw_origin;
    saved.restore();
    stack::pop_frame_discard();
    if (!catches(&wanted, &name)) {
        // Not ours: throw it on from this call, still from where it began.
        stack::throw_origin = origin;
        stack::arguments[0] = value;
        stack::top = stack::arguments + 1;
        stack::push(&name);
        stack::raise_throw(stack::EXIT_THROW);
        return;
    }
    stack::store_result_only(&value);
    if (interp::tracing) trace::fire(trace::EV_CATCH, 0, 0, nullptr, stack::arguments);
}

VYX_NATIVE(try_, N_TRY, "try",
           R"~("evaluates a block and returns its value or the error raised" block [block!] /all /keep)~");
void try_(int, const int* refs) {
    Cell block = *arg(0);
    bool all = refs[native_try_.refinement("all")] >= 0;
    bool keep = refs[native_try_.refinement("keep")] >= 0;
    stack::keep_result_only();
    Cell try_word = words::try_;
    if (all)
        stack::push_try_all_frame(&try_word);
    else
        stack::push_try_frame(&try_word);
    protect::Guard guard;
    if (!guard.run([&] { interp::eval_whole_block(&block, false); })) {
        // Everything above the try frame is cut; the error is the answer.
        Cell* error = helpers::error_at(stack::push_slot(), guard.error());
        // The frame records above the try frame are still as the raise
        // left them: /keep turns them into the error's call stack now,
        // before anything pushes a frame over them.
        if (keep) error::set_stack(error);
    }
    if (thrown) return;
    stack::pop_frame_pass_result();
}

void define(std::string_view name, const Cell* value) {
    Cell w = word::load(name);
    context::set(&w, value);
}

}  // namespace

void init() {
    for (uint32_t i = 0; i < CAPACITY; i++) table[i] = nullptr;

    // Datatype and typeset words first: the specs below name them.
    for (int t = 1; t <= max_type_id; t++) {
        Cell dt{TYPE_DATATYPE, uint32_t(t), 0, 0};
        define(type_names[t].name, &dt);
    }
    for (const char* name : {"any-type!", "number!", "any-word!", "all-word!", "any-block!", "any-list!", "any-path!",
                             "any-string!", "any-function!", "any-object!", "series!"}) {
        Cell ts;
        typeset::by_name(name, &ts);
        define(name, &ts);
    }
    Cell null_handle;
    define("null-handle", handle::make_at(&null_handle, 0, handle::CLASS_NULL));

    // Every native of the full table with its spec; the entries above stay
    // where the table has none of its own.
    native_table::install();
    Cell action_values[ACTION_COUNT + 1];
    for (int a = 1; a <= ACTION_COUNT; a++) {
        const char* word = actions::word_of(a);
        const char* spec_text = actions::spec_text(a);
        if (!spec_text) continue;
        Cell spec;
        helpers::spec_from_text(spec_text, &spec);
        native::make_at(&action_values[a], &spec, uint32_t(a), TYPE_ACTION);
        native_table::keep_action(uint32_t(a), &action_values[a]);
        if (word) define(word, &action_values[a]);
    }
    // The one infix operator the library cannot make yet: `//` waits for its
    // function, modulo; until then it is remainder's.
    const Cell& rem = action_values[A_REMAINDER];
    Cell remainder_op{op::header_for(type_of(&rem)), rem.data1, rem.data2, rem.data3};
    define("//", &remainder_op);
}

}  // namespace vyx::natives
