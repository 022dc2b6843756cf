#include "evaluator/interpreter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include <pthread.h>
#include <sys/resource.h>

#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/arg_frame.h"
#include "evaluator/decoded.h"
#include "evaluator/helpers.h"
#include "evaluator/natives.h"
#include "runtime/stack.h"
#include "evaluator/trace.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/raise.h"

namespace vyx::interp {

Running* running = nullptr;

bool trace_requested = false;
bool tracing = false;

namespace {

const Cell UNSET{TYPE_UNSET, 0, 0, 0};
const Cell NONE{TYPE_NONE, 0, 0, 0};

// The lowest machine stack address evaluation may reach (the stack grows
// down): a margin above the end of the stack the runtime came up on. Deep
// recursion must end in a catchable error, never in a crash.
intptr_t stack_floor = 0;

inline Cell* code_at(Node n, uint32_t i) { return node_buffer(n)->code_cells() + i; }
inline uint32_t code_size(Node n) {
    SeriesBuffer* b = node_buffer(n);
    return (b->tail - b->offset) >> 4;
}

// A word's value by its binding, with the context's own fallbacks for
// anything unusual. Null when the word cannot be read (not bound to a running
// call, or not in its context); the caller chooses whether that is an error.
[[gnu::always_inline]] inline const Cell* peek_word(const Cell* w) {
    Node ctx = w->data1;
    int32_t index = int32_t(w->data3);
    if (ctx == 0) return nullptr;
    if (index < 0) return context::get_value_ptr(int32_t(w->data2), ctx);
    return context::value_at(ctx, index);
}

// A word found by its symbol (its index still -1, as the lexer leaves words
// of the global context) keeps the index in the code block's own cell, so the
// next evaluation reads its value directly. Nothing here allocates.
void remember_index(Node code, uint32_t pos, const Cell* word, int32_t index) {
    if (index < 0 || pos >= code_size(code)) return;
    Cell* c = code_at(code, pos);
    if (int32_t(c->data3) == -1 && c->data1 == word->data1 && c->data2 == word->data2) c->data3 = uint32_t(index);
}

// The index of a value cell found for a word in a context whose values are a
// series (not the stack), or -1.
int32_t index_of_slot(const Cell* word, const Cell* slot) {
    Node ctx = word->data1;
    if (!ctx || !slot) return -1;
    const Cell* cc = node_buffer(ctx)->read_cells();
    if (cc->header & context::FLAG_STACK) return -1;
    SeriesBuffer* values = node_buffer(cc->data2);
    const Cell* head = values->read_cells();
    if (slot < head || slot >= values->read_cells_tail()) return -1;
    return int32_t(slot - head);
}

// Infix arithmetic and comparisons on numbers that need no evaluation -----
//
// `i + 1`, `n < 2`, `s + i`: when the operator word still holds the op made
// from add, subtract, multiply or a comparison, and both operands are numbers
// as they stand (the left one already evaluated, the right one a literal or a
// word holding a number), the result is computed here with no call. It is the
// result the call would give: integer arithmetic that does not fit gives the
// float, a float operand makes float arithmetic, and comparisons are taken
// only between integers. Anything else takes the general road.

enum Fast { FAST_NONE, FAST_ADD, FAST_SUB, FAST_MUL, FAST_LT, FAST_GT, FAST_LE, FAST_GE, FAST_EQ, FAST_NE };

inline Fast fast_kind(const Cell* op) {
    int source = op::source_type(op);
    if (source == TYPE_ACTION) {
        switch (op->data1) {
        case A_ADD: return FAST_ADD;
        case A_SUBTRACT: return FAST_SUB;
        case A_MULTIPLY: return FAST_MUL;
        default: return FAST_NONE;
        }
    }
    if (source != TYPE_NATIVE) return FAST_NONE;
    switch (op->data1) {
    case natives::N_LESSER: return FAST_LT;
    case natives::N_GREATER: return FAST_GT;
    case natives::N_LESSER_OR_EQUAL: return FAST_LE;
    case natives::N_GREATER_OR_EQUAL: return FAST_GE;
    case natives::N_EQUAL: return FAST_EQ;
    case natives::N_NOT_EQUAL: return FAST_NE;
    default: return FAST_NONE;
    }
}

inline bool is_plain_number(const Cell* c) {
    int t = type_of(c);
    return t == TYPE_INTEGER || t == TYPE_FLOAT;
}

// Computes `left k right` into `left` (keeping its header flags, as the call
// would); false when the operands are not ones this handles.
[[gnu::always_inline]] inline bool fast_math(Fast k, Cell* left, const Cell* right) {
    bool ints = type_of(left) == TYPE_INTEGER && type_of(right) == TYPE_INTEGER;
    if (ints) {
        int32_t a = int32_t(left->data2), b = int32_t(right->data2), r;
        bool test;
        switch (k) {
        case FAST_ADD:
            if (__builtin_add_overflow(a, b, &r)) float_::make_at(left, double(a) + double(b));
            else left->data2 = uint32_t(r);
            return true;
        case FAST_SUB:
            if (__builtin_sub_overflow(a, b, &r)) float_::make_at(left, double(a) - double(b));
            else left->data2 = uint32_t(r);
            return true;
        case FAST_MUL:
            if (__builtin_mul_overflow(a, b, &r)) float_::make_at(left, double(a) * double(b));
            else left->data2 = uint32_t(r);
            return true;
        case FAST_LT: test = a < b; break;
        case FAST_GT: test = a > b; break;
        case FAST_LE: test = a <= b; break;
        case FAST_GE: test = a >= b; break;
        case FAST_EQ: test = a == b; break;
        case FAST_NE: test = a != b; break;
        default: return false;
        }
        *left = Cell{TYPE_LOGIC, test ? 1u : 0u, 0, 0};
        return true;
    }
    if (k > FAST_MUL || !is_plain_number(left) || !is_plain_number(right)) return false;
    auto number = [](const Cell* c) {
        return type_of(c) == TYPE_INTEGER ? double(int32_t(c->data2)) : cell_float(c);
    };
    double a = number(left), b = number(right);
    float_::make_at(left, k == FAST_ADD ? a + b : k == FAST_SUB ? a - b : a * b);
    return true;
}

// A block's cells as they stand: good until anything allocates.
struct View {
    Cell* head;
    uint32_t size;
    explicit View(Node n) {
        SeriesBuffer* b = node_buffer(n);
        head = b->code_cells();
        size = (b->tail - b->offset) >> 4;
    }
};

// A word of the code found by its symbol (its index still -1, as the lexer
// leaves words of the global context) keeps the index of its value cell, so
// the next evaluation reads the value directly.
inline void keep_index(Cell* word, const Cell* value) {
    int32_t index = index_of_slot(word, value);
    if (index >= 0) word->data3 = uint32_t(index);
}

// The number a code cell stands for without evaluation: a literal, or a word
// holding one. Null otherwise.
inline const Cell* number_operand(const View& cv, uint32_t pos) {
    Cell* c = cv.head + pos;
    if (is_plain_number(c)) return c;
    if (type_of(c) != TYPE_WORD) return nullptr;
    const Cell* v = peek_word(c);
    if (!v || !is_plain_number(v)) return nullptr;
    if (int32_t(c->data3) < 0) [[unlikely]] keep_index(c, v);
    return v;
}

// A comparison (k from FAST_LT on) of a string! at `left` with the code cell
// at `pos` (`c = p`, `name < "m"`): when that is a string! or a word holding
// one, computed into `left` as the comparison natives compute it (nothing can
// fail or run); false, with nothing changed, for any other operand.
[[gnu::noinline]] bool text_comparison(Fast k, Cell* left, const View& cv, uint32_t pos) {
    Cell* c = cv.head + pos;
    const Cell* right = c;
    if (type_of(c) == TYPE_WORD) {
        right = peek_word(c);
        if (!right) return false;
        if (int32_t(c->data3) < 0) [[unlikely]] keep_index(c, right);
    }
    if (type_of(right) != TYPE_STRING) return false;
    bool test;
    if (k == FAST_EQ || k == FAST_NE) {
        test = string::equal_values(left, right, COMP_EQUAL) == (k == FAST_EQ);
    } else {
        int order = string::compare_values(left, right, COMP_LESSER, false);
        test = k == FAST_LT ? order < 0 : k == FAST_GT ? order > 0 : k == FAST_LE ? order <= 0 : order >= 0;
    }
    *left = Cell{TYPE_LOGIC, test ? 1u : 0u, 0, 0};
    return true;
}

// The op value of an operator word at `pos`, or null.
[[gnu::always_inline]] inline const Cell* op_at(const View& cv, uint32_t pos) {
    Cell* next = cv.head + pos;
    if (type_of(next) != TYPE_WORD) return nullptr;
    const Cell* v = peek_word(next);
    if (!v || type_of(v) != TYPE_OP) return nullptr;
    if (int32_t(next->data3) < 0) [[unlikely]] keep_index(next, v);
    return v;
}

[[gnu::always_inline]] inline uint32_t fast_operators(const View& cv, uint32_t pos, uint32_t end, Cell* out,
                                                      const Cell* op, uint32_t* stop = nullptr);

// A whole expression of numbers and the operators above (`1`, `s + i`,
// `i + 1 * 2`): its value goes to `out` and the answer is the position after
// it; 0 when the expression is anything else (nothing has been changed then,
// but for `out` and, past a first number, `stop`: see fast_operators).
[[gnu::always_inline]] inline uint32_t fast_expression(const View& cv, uint32_t pos, uint32_t end, Cell* out,
                                                       uint32_t* stop = nullptr) {
    uint32_t limit = end < cv.size ? end : cv.size;
    if (pos >= limit) return 0;
    const Cell* first = number_operand(cv, pos);
    if (!first) return 0;
    *out = *first;
    pos++;
    const Cell* op = pos < limit ? op_at(cv, pos) : nullptr;
    return op ? fast_operators(cv, pos, end, out, op, stop) : pos;
}

// The bits of a call frame the interpreter pushes for the code: frames
// pushed while library code runs are marked as such.
inline uint32_t eval_frame_bits() {
    return stack::kind_bits(stack::FRAME_CALL) | stack::FRAME_EVAL | library_frames;
}

// An event of the traced build of a step (see eval_expression).
template <bool Traced>
inline void event(uint32_t ev, Node code, uint32_t pos, const Cell* ref, const Cell* value) {
    if constexpr (Traced) trace::fire(ev, code, pos, ref, value);
}

// Fires a trace event when tracing is on (one load and branch otherwise).
inline void traced(uint32_t event, Node code, uint32_t pos, const Cell* ref, const Cell* value) {
    if (tracing) [[unlikely]] trace::fire(event, code, pos, ref, value);
}

inline bool is_callable(int t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

// Whether a word's value (null when it cannot be read) is pushed as it
// stands: not called, not an operator, not unset.
inline bool is_plain_value(const Cell* v) {
    if (!v) return false;
    int t = type_of(v);
    return !is_callable(t) && t != TYPE_UNSET && t != TYPE_OP;
}

// The word that names a call: the given one when it is a word!, else <anon>.
inline Cell naming(const Cell* name) {
    if (name && type_of(name) == TYPE_WORD) return *name;
    return words::frame_anon;
}

[[noreturn]] void expect_arg(const Cell* name, const Cell* callable, int k, const Cell* value) {
    Cell dt{TYPE_DATATYPE, uint32_t(type_of(value)), 0, 0};
    Cell w = argument_word(callable, k);
    raise_error(err::script_expect_arg, name, &dt, &w);
}

struct Gather {
    const Cell* callable;
    const Cell* name;  // what argument errors report
    Node code;
    uint32_t end;
    bool infix;
    bool single = false;  // an applying call with /safer: one value per argument

    bool at_end(uint32_t pos) const { return pos >= end || pos >= code_size(code); }
};

// A get-word or lit-word argument: the value as it stands, a paren's value,
// or the value a get-word or get-path names.
[[gnu::noinline]] uint32_t take_quoted_argument(const Gather& g, uint32_t kind, uint32_t pos) {
    Cell v = *code_at(g.code, pos);
    traced(trace::EV_FETCH, g.code, pos, nullptr, &v);
    if (kind == ARG_LITERAL) {
        switch (type_of(&v)) {
        case TYPE_PAREN:
            stack::push_frame(&words::frame_anon, eval_frame_bits());
            eval_whole_block(&v, true);
            if (stack::thrown) return pos + 1;
            stack::pop_frame_keep_result();
            return pos + 1;
        case TYPE_GET_WORD: {
            const Cell* value = word_value(&v);
            Cell* pushed = stack::push(value);
            traced(trace::EV_PUSH, g.code, pos, nullptr, pushed);
            return pos + 1;
        }
        case TYPE_GET_PATH: walk_path(&v, g.code, pos + 1, g.end, true, PATH_GET, nullptr); return pos + 1;
        default: break;
        }
    }
    stack::push(&v);
    traced(trace::EV_PUSH, g.code, pos, nullptr, &v);
    return pos + 1;
}

inline uint32_t quick_value(const View& cv, uint32_t pos, uint32_t end, bool no_infix, uint32_t* stop);
uint32_t infix_tail(Node code, uint32_t pos, uint32_t end, Cell* T);

// Takes one argument by its kind; returns the position after it. One taken
// normally that runs nothing is taken by quick_value, as a word's call takes it.
inline uint32_t take_argument(const Gather& g, uint32_t kind, uint32_t pos, int k) {
    if (g.at_end(pos)) {
        Cell w = argument_word(g.callable, k);
        raise_error(err::script_no_arg, g.name, &w);
    }
    if (kind != ARG_NORMAL) return take_quoted_argument(g, kind, pos);
    uint32_t end = g.single ? pos + 1 : g.end;
    if (!tracing) {
        uint32_t stop = 0;
        uint32_t after = quick_value(View(g.code), pos, end, g.infix, &stop);
        if (after) return after;
        if (stop) return infix_tail(g.code, stop, end, stack::top - 1);
    }
    return eval_one_expression(g.code, pos, end, g.infix);
}

// Refinements named by a path, or by the block of an applying call, after
// the positional arguments are in.
struct Refinements {
    const Cell* fn;
    Node desc;
    bool is_fn;
    bool safer;
    const Gather& gr;
    int* refs;
    int& count;

    // Whether the callable has refinements at all.
    bool has_refinements() const { return arg_frame_at(desc)->refinements > 0; }

    // One refinement named by a path element or by the block: switched on or
    // off, then its arguments. `reported` is what dup-refine names.
    bool name_refinement(const Cell& el, bool on, const Cell* reported, uint32_t& pos) {
        int32_t s = symbol::resolve(int32_t(el.data2));
        const ArgFrame* af = arg_frame_at(desc);
        uint32_t ri = 0;
        int k = 0;  // spec argument number of the refinement's first argument
        bool found = false;
        for (uint32_t i = 0; i < af->count; i++) {
            const ArgSlot& c = af->slots[i];
            if (c.kind == ARG_REFINEMENT && int32_t(c.canonical) == s) {
                ri = i;
                found = true;
                break;
            }
            if (c.kind != ARG_REFINEMENT) k++;
        }
        if (!found) {
            Cell w = el;
            w.header = TYPE_WORD;
            raise_error(err::script_no_refine, gr.name, &w);
        }
        ArgSlot ref = af->slots[ri];
        if (is_fn) {
            Cell* flag = stack::arguments + ref.slot;
            if (logic::truth(flag)) raise_error(err::script_dup_refine, reported);
            *flag = Cell{TYPE_LOGIC, on ? 1u : 0u, 0, 0};
        } else if (on) {
            int slot = int(ref.refinement) - 1;
            if (refs[slot] != -1) raise_error(err::script_dup_refine, reported);
            refs[slot] = count;
        }
        uint32_t a = 1;
        for (uint32_t i = ri + 1;; i++) {
            af = arg_frame_at(desc);  // an argument's evaluation may have moved it
            if (i >= af->count || af->slots[i].kind == ARG_REFINEMENT) break;
            ArgSlot c = af->slots[i];
            if (safer && !on) {
                // apply/safer steps over an off refinement's argument unevaluated.
                if (!gr.at_end(pos)) pos++;
            } else {
                pos = take_argument(gr, c.kind, pos, k);
                if (stack::thrown) return false;
                Cell* v = stack::top - 1;
                if (!on) {
                    stack::top--;
                } else {
                    if (!typeset::has(&c.types, type_of(v))) expect_arg(gr.name, fn, k, v);
                    count++;
                    if (is_fn) {
                        stack::arguments[ref.slot + a] = *v;
                        stack::top--;
                    }
                }
            }
            a++;
            k++;
        }
        return true;
    }

    // The refinements a path or the rest of an applying call's block names.
    uint32_t take_named(const Gather& g, Node code, uint32_t pos, uint32_t end, const Cell* path, uint32_t path_pos,
                        bool applying, int how) {
        if (path) {
            // Refinements named by the path, in the order given.
            Cell p = *path;
            uint32_t psize = code_size(p.data2);
            for (uint32_t e = path_pos; e < psize; e++) {
                Cell el = *code_at(p.data2, e);
                int et = type_of(&el);
                if (et != TYPE_WORD && et != TYPE_GET_WORD) {
                    if (applying && !has_refinements()) break;
                    raise_error(err::script_bad_refine, &el);
                }
                bool on = true;
                if (et == TYPE_GET_WORD) {
                    const Cell* v = word_value(&el);
                    if (type_of(v) == TYPE_UNSET) raise_error(err::script_no_value, &el);
                    on = logic::truth(v);
                }
                if (!name_refinement(el, on, &p, pos)) return pos;
            }
        } else if (how == APPLY_NAMED) {
            // Refinements named in the rest of the block, each followed by the
            // expression that switches it.
            while (!g.at_end(pos)) {
                Cell el = *code_at(code, pos);
                int et = type_of(&el);
                if (et != TYPE_REFINEMENT && et != TYPE_GET_WORD) {
                    if (!has_refinements()) break;
                    raise_error(err::script_bad_refine, &el);
                }
                pos++;
                bool on = false;
                if (!g.at_end(pos)) {
                    pos = eval_one_expression(code, pos, end, false);
                    if (stack::thrown) return pos;
                    Cell* v = stack::top - 1;
                    if (type_of(v) == TYPE_UNSET) raise_error(err::script_no_value, &el);
                    on = logic::truth(v);
                    stack::top--;
                }
                if (!name_refinement(el, on, &NONE, pos)) return pos;
            }
        }
        return pos;
    }
};

// The frame cells of a function's refinements not named, and of its locals.
inline void push_unnamed(Node desc, uint32_t from) {
    const ArgFrame* af = arg_frame_at(desc);
    for (uint32_t i = from; i < af->count; i++) {
        if (af->slots[i].kind == ARG_REFINEMENT)
            stack::push_slot()[0] = Cell{TYPE_LOGIC, 0, 0, 0};
        else
            stack::push(&NONE);
    }
    if (af->locals > 0) function::push_unused_refinement(int(af->locals));
}

// The general gathering: paths naming refinements, applying calls, and
// arguments taken other than by evaluation. Fills `refs` for natives and
// actions; answers the position after what the call took.
uint32_t gather_general(const Cell* fn, Node desc, Node code, uint32_t pos, uint32_t end, const Cell* path,
                        uint32_t path_pos, const Cell* name, const Cell* element, bool infix, int mode, int* refs) {
    int t = type_of(fn);
    bool is_fn = t == TYPE_FUNCTION || t == TYPE_ROUTINE;
    bool applying = mode != APPLY_NONE;
    bool safer = (mode & APPLY_SAFER) != 0;
    int how = mode & 3;  // APPLY_ALL or APPLY_NAMED
    Gather g{fn, name, code, end, infix, safer};
    // From the refinements on, errors name the path element that fetched the
    // callable (an applying call names its word throughout).
    Gather gr{fn, applying ? name : element, code, end, infix, safer};
    bool collecting = true;
    bool unnamed = false;  // the cells after the first refinement are pushed
    int count = 0;  // argument values gathered
    int argk = 0;   // argument number in the spec
    for (uint32_t i = 0;; i++) {
        const ArgFrame* af = arg_frame_at(desc);  // an argument's evaluation may have moved it
        if (i >= af->count) break;
        ArgSlot c = af->slots[i];
        if (c.kind != ARG_REFINEMENT) {
            if (collecting) {
                if (applying && g.at_end(pos)) {
                    // What the block of an applying call does not hold is none.
                    stack::push(&NONE);
                    count++;
                    argk++;
                    continue;
                }
                if (infix && count == 0) {
                    // The left operand already sits in the first argument cell.
                } else if (c.kind == ARG_LITERAL && typeset::has(&c.types, TYPE_UNSET) && g.at_end(pos)) {
                    stack::push(&UNSET);
                } else {
                    pos = take_argument(g, c.kind, pos, argk);
                    if (stack::thrown) return pos;
                }
                Cell* v = stack::top - 1;
                if (!typeset::has(&c.types, type_of(v))) expect_arg(name, fn, argk, v);
                count++;
            } else {
                if (is_fn) stack::push(&NONE);
                // apply/all evaluates and drops the arguments of a refinement given off.
                if (mode == APPLY_ALL && !path) {
                    pos = take_argument(g, c.kind, pos, argk);
                    if (stack::thrown) return pos;
                    stack::top--;
                }
            }
            argk++;
        } else if (applying && !path && how == APPLY_ALL && !g.at_end(pos)) {
            // apply/all: the switch is the next value, a logic!.
            pos = take_argument(g, ARG_NORMAL, pos, argk);
            if (stack::thrown) return pos;
            Cell* v = stack::top - 1;
            if (type_of(v) != TYPE_LOGIC) {
                Cell dt{TYPE_DATATYPE, uint32_t(type_of(v)), 0, 0};
                Cell w;
                word::make_at(int32_t(c.symbol), &w);
                raise_error(err::script_expect_arg, name, &dt, &w);
            }
            collecting = v->data1 != 0;
            if (!is_fn) {
                stack::top--;
                if (collecting) refs[int(c.refinement) - 1] = count;
            }
        } else if (applying && !path) {
            // Named refinements come after the arguments; at the end of
            // the block the refinement's arguments are none.
            if (is_fn) logic::push(false);
            collecting = g.at_end(pos);
        } else {
            // Nothing after the first refinement is taken from the code: a
            // function's cells are false and none (its locals after them).
            if (is_fn) push_unnamed(desc, i);
            unnamed = true;
            break;
        }
    }
    if (path || how == APPLY_NAMED) {
        Refinements r{fn, desc, is_fn, safer, gr, refs, count};
        pos = r.take_named(g, code, pos, end, path, path_pos, applying, how);
        if (stack::thrown) return pos;
    }
    if (is_fn && !unnamed) {
        const ArgFrame* af = arg_frame_at(desc);
        if (af->locals > 0) function::push_unused_refinement(int(af->locals));
    }
    return pos;
}

// Calls a native's or an action's entry on the arguments in its frame.
inline void call_entry(const Cell* fn, const int* refs) {
    if (type_of(fn) == TYPE_NATIVE) {
        natives::Entry entry = natives::table[fn->data1 - 1];
        if (!entry) raise_error(err::internal_not_done);
        entry(0, refs);
    } else {
        actions::Entry entry = actions::table[fn->data1 - 1];
        if (!entry) raise_error(err::internal_not_done);
        entry(refs);
    }
}

// Calls a native's or an action's entry with none of its refinements named.
inline void call_plain_entry(const Cell* fn) { call_entry(fn, NO_REFINEMENTS.data()); }

// Whether a value of the type evaluates to itself (the step's default).
constexpr bool evaluates_to_itself(int t) {
    switch (t) {
    case TYPE_WORD: case TYPE_PAREN: case TYPE_SET_WORD: case TYPE_SET_PATH: case TYPE_GET_WORD:
    case TYPE_LIT_WORD: case TYPE_PATH: case TYPE_GET_PATH: case TYPE_LIT_PATH: case TYPE_OP: case TYPE_NATIVE:
    case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE: case TYPE_ISSUE:
        return false;
    default:
        return true;
    }
}
constexpr auto self_evaluating = [] {
    std::array<bool, 256> table{};
    for (int t = 0; t < 256; t++) table[size_t(t)] = evaluates_to_itself(t);
    return table;
}();

// The operators after a number, the first at `pos` (its op value `op`),
// while fast_math computes them on the value at `out`: answers the position
// after the last, or 0 when one is anything else. Only `out` has changed
// then: it holds the value of the expression up to that operator, whose
// position goes to `stop`, so the walker's operator loop can go on from there.
[[gnu::always_inline]] inline uint32_t fast_operators(const View& cv, uint32_t pos, uint32_t end, Cell* out,
                                                      const Cell* op, uint32_t* stop) {
    uint32_t limit = end < cv.size ? end : cv.size;
    for (;;) {
        Fast k = fast_kind(op);
        const Cell* right = k && pos + 1 < limit ? number_operand(cv, pos + 1) : nullptr;
        if (!right || !fast_math(k, out, right)) {
            if (stop) *stop = pos;
            return 0;
        }
        pos += 2;
        if (pos >= limit || !(op = op_at(cv, pos))) return pos;
    }
}

uint32_t call_expression(const Cell* fn, Node code, uint32_t pos, uint32_t end, const Cell* name, bool no_infix);
uint32_t set_word_expression(Node code, uint32_t pos, uint32_t end, Cell partial, uint32_t stop);
uint32_t infix_tail(Node code, uint32_t pos, uint32_t end, Cell* T);

template <bool here = false>
[[gnu::always_inline]] inline void whole_block(const Cell* block, bool keep);

// Evaluates the paren at `pos`, its value pushed (a copy of the cell runs:
// the paren may change the code holding it).
inline void push_paren(Node code, uint32_t pos) {
    Cell paren = *code_at(code, pos);
    whole_block(&paren, true);
}

// A paren at `pos`, its value pushed, and the operators after that value.
[[gnu::noinline]] uint32_t paren_expression(Node code, uint32_t pos, uint32_t end) {
    Cell* T = stack::top;
    push_paren(code, pos);
    if (stack::thrown || pos + 1 >= end) return pos + 1;
    return infix_tail(code, pos + 1, end, T);
}

// The call named by the word `c` at `pos`, whose value `v` is callable: the
// word keeps its value's index, and the callee and its name are copied (the
// call may move the code) before the call step takes them.
[[gnu::always_inline]] inline uint32_t call_named(Cell* c, const Cell* v, Node code, uint32_t pos, uint32_t end,
                                                  bool no_infix) {
    if (int32_t(c->data3) < 0) [[unlikely]] keep_index(c, v);
    Cell fn = *v;
    Cell name = *c;
    return call_expression(&fn, code, pos + 1, end, &name, no_infix);
}

// The expression at `pos`, with the operators after its value unless
// `no_infix` (an operator's right operand, a set-word's value): a paren or a
// call named by a word is taken at once, anything else by the step.
inline uint32_t operand_expression(Node code, uint32_t pos, uint32_t end, bool no_infix) {
    View cv(code);
    if (tracing || pos >= cv.size) return eval_one_expression(code, pos, end, no_infix);
    Cell* c = cv.head + pos;
    if (type_of(c) == TYPE_PAREN) {
        if (!no_infix) return paren_expression(code, pos, end);
        push_paren(code, pos);
        return pos + 1;
    }
    // A call (`total + select m i`, `n: length? s`) goes straight to the call step.
    if (type_of(c) == TYPE_WORD) {
        const Cell* v = peek_word(c);
        if (v && is_callable(type_of(v))) return call_named(c, v, code, pos, end, no_infix);
    }
    return eval_one_expression(code, pos, end, no_infix);
}

// A set-word of arithmetic that fast_expression computes: computed without a
// call, the value is set without a frame (nothing can fail that a frame
// would name). Answers the position after it, or 0: nothing has changed
// then, but for the cell at the stack's top and `stop` (see fast_operators).
// The value of the set-word at `pos` computed by fast_expression into `slot`;
// `key` (or null), an object's key word, then marked as set.
[[gnu::always_inline]] inline uint32_t quick_set_at(Cell* slot, Cell* key, const View& cv, uint32_t pos,
                                                    uint32_t end, uint32_t* stop) {
    uint32_t after = fast_expression(cv, pos + 1, end, stack::top, stop);
    if (after) {
        *slot = *stack::push_slot();
        if (key) context::mark_set(key);
    }
    return after;
}

[[gnu::always_inline]] inline uint32_t quick_set(const View& cv, uint32_t pos, uint32_t end,
                                                 uint32_t* stop = nullptr) {
    // Computing the value allocates nothing: the slot stays where it is.
    Cell* slot = context::poke_slot(cv.head + pos);
    return slot ? quick_set_at(slot, nullptr, cv, pos, end, stop) : 0;
}

// quick_set for an object's field (`n: n + 1` in a method), which is marked
// as set as well; 0 for any other word poke_slot has no slot for. Tried by
// set_word_expression, off the common path.
[[gnu::noinline]] uint32_t quick_set_field(const View& cv, uint32_t pos, uint32_t end, uint32_t* stop) {
    Cell* key;
    Cell* slot = context::object_slot(cv.head + pos, &key);
    return slot ? quick_set_at(slot, key, cv, pos, end, stop) : 0;
}

// A set-word's expression, by quick_set or else under its frame, going on
// from the operator quick_set stopped at, if any.
[[gnu::always_inline]] inline uint32_t set_expression(const View& cv, Node code, uint32_t pos, uint32_t end) {
    uint32_t stop = 0;
    uint32_t after = quick_set(cv, pos, end, &stop);
    return after ? after : set_word_expression(code, pos, end, *stack::top, stop);
}

// The rest of a quick expression whose first value `v` (the cell at `pos`,
// or the value of the word there) runs nothing: pushed as it stands when no
// operator follows, else number arithmetic that fast_operators computes.
// With `stop`, an operator fast_operators stops at (or the first operator,
// after a value that is not a number) leaves the value so far pushed and
// its position there.
[[gnu::always_inline]] inline uint32_t quick_rest(const View& cv, const Cell* v, uint32_t pos, uint32_t end,
                                                  bool no_infix, uint32_t* stop = nullptr) {
    uint32_t next = pos + 1;
    const Cell* op;
    if (no_infix || next >= end || next >= cv.size || !(op = op_at(cv, next))) {
        stack::push(v);
        return next;
    }
    if (!is_plain_number(v)) {
        // Not a number: with `stop`, the operators are the walker's from the
        // first one.
        if (stop) {
            stack::push(v);
            *stop = next;
        }
        return 0;
    }
    Cell* out = stack::push_slot();
    *out = *v;
    uint32_t after = fast_operators(cv, next, end, out, op, stop);
    if (!after && !stop) stack::top--;
    return after;
}

// An expression taken without the step that runs nothing: a value that
// evaluates to itself, or a word holding one that is not called, with no
// operator after it; arithmetic on numbers that fast_operators computes; a
// set-word of such arithmetic. Its value is pushed and the answer is the
// position after it; 0 when the step must take it (nothing has changed
// then, unless quick_rest stopped at an operator: see `stop` there). `pos`
// lies inside the code. Not while tracing.
[[gnu::always_inline]] inline uint32_t quick_value(const View& cv, uint32_t pos, uint32_t end, bool no_infix,
                                                   uint32_t* stop = nullptr) {
    Cell* c = cv.head + pos;
    const Cell* v = c;
    int t = type_of(c);
    if (t == TYPE_WORD) {
        v = peek_word(c);
        if (!is_plain_value(v)) return 0;
        if (int32_t(c->data3) < 0) [[unlikely]] keep_index(c, v);
    } else if (t == TYPE_SET_WORD) {
        return quick_set(cv, pos, end);
    } else if (!self_evaluating[size_t(t)]) {
        return 0;
    }
    return quick_rest(cv, v, pos, end, no_infix, stop);
}

// A block's expression taken without the step's dispatch: a quick value, a
// set-word, or a call named by a word (with the operators after its value).
// 0 when the step must take it. Not while tracing.
[[gnu::always_inline]] inline uint32_t quick_expression(Node code, uint32_t pos, uint32_t end) {
    View cv(code);
    if (pos >= cv.size) [[unlikely]] return 0;
    Cell* c = cv.head + pos;
    int t = type_of(c);
    if (t == TYPE_SET_WORD) return set_expression(cv, code, pos, end);
    uint32_t stop = 0;
    uint32_t after;
    if (t != TYPE_WORD) {
        if (t == TYPE_PAREN) return paren_expression(code, pos, end);
        after = quick_value(cv, pos, end, false, &stop);
        return after || !stop ? after : infix_tail(code, stop, end, stack::top - 1);
    }
    const Cell* v = peek_word(c);
    if (!v) return 0;
    int vt = type_of(v);
    if (is_callable(vt)) return call_named(c, v, code, pos, end, false);
    if (int32_t(c->data3) < 0) [[unlikely]] keep_index(c, v);
    if (vt == TYPE_UNSET || vt == TYPE_OP) return 0;
    after = quick_rest(cv, v, pos, end, false, &stop);
    return after || !stop ? after : infix_tail(code, stop, end, stack::top - 1);
}

// An argument taken normally, the k-th: by quick_value (when `quick`) if it
// runs nothing, else by the step, `ran` then set and `cv` read again.
[[gnu::always_inline]] inline uint32_t lean_argument(const Cell* fn, Node code, uint32_t pos, uint32_t end,
                                                     const Cell* name, bool infix, uint32_t k, View& cv, bool quick,
                                                     bool& ran) {
    if (pos >= end || pos >= cv.size) {
        Cell w = argument_word(fn, int(k));
        raise_error(err::script_no_arg, name, &w);
    }
    uint32_t stop = 0;
    uint32_t after = quick ? quick_value(cv, pos, end, infix, &stop) : 0;
    if (after) return after;
    ran = true;
    pos = stop ? infix_tail(code, stop, end, stack::top - 1) : eval_one_expression(code, pos, end, infix);
    if (!stack::thrown) cv = View(code);
    return pos;
}

// The common call: each mandatory argument is the value of the next
// expression; every refinement is off. The code and the description stay
// where they are until an argument runs something. A function's other words
// follow, unset.
[[gnu::always_inline]] inline uint32_t gather_lean(const Cell* fn, Node desc, Node code, uint32_t pos, uint32_t end,
                                                   const Cell* name, bool infix, bool is_fn) {
    const ArgFrame* af = arg_frame_at(desc);
    uint32_t m = af->mandatory;
    View cv(code);
    for (uint32_t k = 0; k < m; k++) {
        if (!infix || k > 0) {
            bool ran = false;
            pos = lean_argument(fn, code, pos, end, name, infix, k, cv, !tracing, ran);
            if (ran) {
                if (stack::thrown) return pos;
                af = arg_frame_at(desc);
            }
        }
        Cell* v = stack::top - 1;
        if (!typeset::has(&af->slots[k].types, type_of(v))) expect_arg(name, fn, int(k), v);
    }
    if (is_fn) push_unnamed(desc, m);
    return pos;
}

// A lean call's arguments gathered and, for a native or an action, its entry
// called with no refinement named.
[[gnu::always_inline]] inline uint32_t gather_plain(const Cell* fn, Node desc, Node code, uint32_t pos, uint32_t end,
                                                    const Cell* name, bool infix, bool is_fn) {
    pos = gather_lean(fn, desc, code, pos, end, name, infix, is_fn);
    if (stack::thrown) return pos;
    traced(trace::EV_CALL, code, pos, fn, nullptr);
    if (!is_fn) call_plain_entry(fn);
    return pos;
}

// Fills the frame that invoke_callable pushed and, for natives and actions,
// calls the entry. A mode above 0 is an applying call (see invoke_callable).
uint32_t gather_arguments(const Cell* fn, Node code, uint32_t pos, uint32_t end, const Cell* path,
                          uint32_t path_pos, const Cell* name, const Cell* element, bool infix, int mode) {
    int t = type_of(fn);
    bool is_fn = t == TYPE_FUNCTION || t == TYPE_ROUTINE;
    Node desc = arg_frame_node(fn);
    const ArgFrame* af = arg_frame_at(desc);
    // A path naming no refinements (a method, `o/f x`) takes them as a word does.
    if (mode == APPLY_NONE && af->lean && (!path || path_pos >= code_size(path->data2)))
        return gather_plain(fn, desc, code, pos, end, name, infix, is_fn);
    int named[64];
    if (!is_fn) std::copy_n(NO_REFINEMENTS.begin(), std::min<uint32_t>(af->refinements, 64), named);
    pos = gather_general(fn, desc, code, pos, end, path, path_pos, name, element, infix, mode, named);
    if (stack::thrown) return pos;
    traced(trace::EV_CALL, mode != APPLY_NONE ? 0 : code, pos, fn, nullptr);
    if (!is_fn) call_entry(fn, named);
    return pos;
}

// An infix operator made from add, subtract, multiply or a comparison whose
// right operand needs evaluating (`(fib n - 1) + (fib n - 2)`): the operand
// is evaluated under the operator's frame, as a call would, and two numbers
// are then computed in place; anything else goes to the operator's entry.
// The left operand sits at `left`; answers the position after the operand.
template <class Right>
uint32_t infix_arithmetic(Fast k, const Cell* fn, Node code, uint32_t pos, uint32_t end, const Cell* name,
                          Cell* left, Right right) {
    // Two strings compared need no frame.
    if (k >= FAST_LT && type_of(left) == TYPE_STRING) {
        View cv(code);
        if (pos < end && pos < cv.size && text_comparison(k, left, cv, pos)) return pos + 1;
    }
    stack::top = left;
    stack::push_frame(name, eval_frame_bits());
    stack::top = left + 1;
    // The left operand is checked before the right one is evaluated.
    if (!is_plain_number(left) && !typeset::has(&arg_frame(fn)->slots[0].types, type_of(left)))
        expect_arg(name, fn, 0, left);
    View cv(code);
    if (pos >= end || pos >= cv.size) {
        Cell w = argument_word(fn, 1);
        raise_error(err::script_no_arg, name, &w);
    }
    pos = right(pos);
    if (stack::thrown) return pos;
    if (!fast_math(k, left, left + 1)) {
        Node desc = arg_frame_node(fn);
        for (int a = 0; a < 2; a++)
            if (!typeset::has(&arg_frame_at(desc)->slots[a].types, type_of(left + a)))
                expect_arg(name, fn, a, left + a);
        call_plain_entry(fn);
    }
    stack::pop_frame_keep_result();
    return pos;
}

}  // namespace

std::atomic<uint32_t> poll_word{0};
uint32_t library_frames = 0;

namespace {

// What the poll word asked for, between two expressions.
void serve_poll(Cell* base) {
    uint32_t bits = poll_word.exchange(0, std::memory_order_relaxed);
    if (bits & POLL_HALT) {
        Cell value = word::load("halt-request");
        Cell name = word::load("console");
        stack::top = base;
        stack::push(&value);
        stack::push(&name);
        stack::raise_throw(stack::EXIT_THROW);
    }
}

}  // namespace

void init() {
    decoded::init();
    running = nullptr;
    stack::sym_body = words::frame_body.data2;
    stack::sym_anon = words::frame_anon.data2;
    trace_requested = tracing = false;
    collector::add_gc_root_callback([] {
        for (Running* r = running; r; r = r->outer) collector::mark_cell(&r->block);
    });
    char here;
    intptr_t stack_base = reinterpret_cast<intptr_t>(&here);
    // The room left below this point on this thread's stack (the process
    // entry runs the runtime on a thread with a large one), less a margin
    // for raising and reporting the error itself.
    intptr_t room = 8 << 20;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* low = nullptr;
        size_t size = 0;
        if (pthread_attr_getstack(&attr, &low, &size) == 0 && low) room = stack_base - reinterpret_cast<intptr_t>(low);
        pthread_attr_destroy(&attr);
    } else {
        rlimit rl{};
        if (getrlimit(RLIMIT_STACK, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) room = intptr_t(rl.rlim_cur);
    }
    intptr_t margin = room / 16 > (512 << 10) ? room / 16 : (512 << 10);
    stack_floor = stack_base - (room - margin);
}

void check_machine_stack() {
    char here;
    if (reinterpret_cast<intptr_t>(&here) < stack_floor) [[unlikely]] raise_error(err::internal_stack_overflow);
}

const Cell* word_value(const Cell* word) {
    const Cell* v = peek_word(word);
    if (v) return v;
    Cell w = *word;
    return context::get(&w);
}

// Evaluation -------------------------------------------------------------------

namespace {

// A decoded form being run: its record, its block and the block's end.
struct Run {
    decoded::Record* r;
    Node code;
    uint32_t end;
};

// Whether a record still describes its block's buffer: nothing wrote to it,
// and its head and tail stayed.
inline bool describes(const decoded::Record* r, const SeriesBuffer* b) {
    return (b->flags & series_flag::DECODED) && b->offset == r->offset && b->tail == r->tail;
}

// Whether the decoded form still describes the block, and no tracer wants
// the walker's events.
inline bool still_good(const Run& x) { return describes(x.r, node_buffer(x.code)) && !tracing; }

[[gnu::always_inline]] inline uint32_t run_step(const Run& x, const decoded::Op* op);
void run_single(decoded::Record* r, const Cell* block, bool keep, uint32_t end);
[[gnu::always_inline]] inline void single_run(decoded::Record* r, const Cell* block, bool keep, uint32_t end);
void short_block(const Cell* block, bool keep);
uint32_t eval_block_expression(Node code, uint32_t pos, uint32_t end);
uint32_t run_decoded_block(Node node, uint32_t pos, uint32_t end, Cell* base, Cell* cursor);
[[gnu::always_inline]] inline uint32_t run_decoded(decoded::Record* rec, Node node, uint32_t pos, uint32_t end,
                                                 Cell* base, Cell* cursor);

// After each expression of a block: the poll point (a pending exit or a
// request, one test for both) and the tracer. False when the block ends there.
[[gnu::always_inline]] inline bool between_expressions(Node node, uint32_t start, Cell* base) {
    if ((stack::thrown | poll_word.load(std::memory_order_relaxed)) != 0) [[unlikely]] {
        if (!stack::thrown) serve_poll(base);
        if (stack::thrown) return false;
    }
    if (tracing) [[unlikely]] trace::fire(trace::EV_EXPR, node, start, nullptr, base);
    return true;
}

// The walker over a block's expressions from `pos` to `end` (the block
// `here` runs), each leaving its value where the block began (`base`): false
// when the block ends early (an exit pending, or a stop).
[[gnu::always_inline]] inline bool walk_expressions(Node node, uint32_t pos, uint32_t end, Cell* base,
                                                    Running& here) {
    while (pos < end) {
        here.block.data1 = pos;
        stack::top = base;
        uint32_t start = pos;
        pos = eval_block_expression(node, pos, end);
        if (!between_expressions(node, start, base)) [[unlikely]] return false;
    }
    return true;
}

// The value of a block's only cell when it is a value or a word holding one,
// pushed (and put in the result slot unless `keep`); false when the cell
// must be evaluated, or when tracing or a pending poll wants the walker.
[[gnu::always_inline]] inline bool one_value(Cell* c, bool keep) {
    if (tracing || (stack::thrown | poll_word.load(std::memory_order_relaxed)) != 0) return false;
    const Cell* v = c;
    int t = type_of(c);
    if (t == TYPE_WORD) {
        v = peek_word(c);
        if (!is_plain_value(v)) return false;
        if (int32_t(c->data3) < 0) [[unlikely]] keep_index(c, v);
    } else if (!self_evaluating[size_t(t)]) {
        return false;
    }
    Cell* base = stack::push(v);
    if (!keep) *stack::arguments = *base;
    return true;
}

}  // namespace

void eval_whole_block(const Cell* block, bool keep) {
    check_machine_stack();
    Node node = block->data2;
    uint32_t pos = block->data1;
    SeriesBuffer* buffer = node_buffer(node);
    uint32_t end = (buffer->tail - buffer->offset) >> 4;
    // A block that is a single value (a branch `[n]`, a body `[none]`) needs
    // none of what follows: nothing runs, nothing can fail or mark a frame.
    if (end == pos + 1 && one_value(buffer->code_cells() + pos, keep)) return;
    uint32_t outer_library = library_frames;
    library_frames = buffer->flags & series_flag::LIBRARY ? stack::FRAME_LIBRARY : 0;
    // The block joins the running ones, where the collector sees it (nothing
    // else may hold it: a paren that clears its own code, for one) and an
    // error finds it. Library code behaves as compiled code: its frames are
    // marked, and its block stays out of the chain, leaving an error's near
    // to the user's expression.
    Running here{*block, running};
    if (!library_frames) running = &here;
    // A block takes no frame: each expression leaves its value in the cell
    // where the block began, the last one staying there.
    Cell* base = stack::top;
    bool observed = tracing;  // trace::fire checks again
    if (observed) [[unlikely]] trace::fire(trace::EV_ENTER, node, pos, nullptr, block);
    if (pos >= end) {
        stack::push(&UNSET);
    } else {
        // A pending exit leaves the block at once.
        auto leave = [&] {
            running = here.outer;
            library_frames = outer_library;
        };
        // A block evaluated again runs from its decoded form while that holds;
        // the walker goes on from wherever it stops holding.
        if (decoded::enabled && !observed) {
            // Nothing has allocated since `buffer` was read.
            decoded::Record* r = decoded::find(node);
            if (r && r->decoded && r->pos == pos && describes(r, buffer))
                pos = r->tops.empty() ? pos : run_decoded(r, node, pos, end, base, &here.block);
            else
                pos = run_decoded_block(node, pos, end, base, &here.block);
            if (stack::thrown) [[unlikely]] return leave();
        }
        if (!walk_expressions(node, pos, end, base, here)) [[unlikely]] return leave();
        stack::top = base + 1;
    }
    if (observed) [[unlikely]] trace::fire(trace::EV_EXIT, node, pos, nullptr, base);
    running = here.outer;
    library_frames = outer_library;
    if (!keep) *stack::arguments = *base;
}

uint32_t eval_next_at(const Cell* series, uint32_t position, uint32_t end, bool push) {
    Node node = series->data2;
    // A value pushed needs no frame: the expression leaves it where the top
    // was. One that goes into the caller's result slot is taken under a frame.
    if (!push) stack::push_frame(&words::frame_body, eval_frame_bits());
    uint32_t outer_library = library_frames;
    library_frames = trace::is_library(node) ? stack::FRAME_LIBRARY : 0;
    uint32_t pos = tracing ? 0 : quick_expression(node, position, end);
    if (!pos) pos = eval_one_expression(node, position, end, false);
    library_frames = outer_library;
    if (stack::thrown) return pos;
    if (!push) stack::pop_frame_pass_result();
    return pos;
}

uint32_t do_next_in_series(const Cell* series) {
    Cell s = *series;
    uint32_t end = code_size(s.data2);
    if (s.data1 >= end) {
        stack::set_last(&UNSET);
        return s.data1;
    }
    return eval_next_at(&s, s.data1, end, false);
}

namespace {

// The start of a function body's run: the call's values become its
// context's; answers the values they replace.
inline uint32_t begin_body(Node ctx) {
    uint32_t old = stack::context_values_ref(ctx);
    stack::set_context_values_ref(ctx, stack::values_ref_of(stack::arguments));
    stack::current_frame()->header |= stack::FRAME_BODY;
    return old;
}

// A return or exit aimed at the call whose body just ran ends there.
inline void take_own_exit() {
    uint32_t code = stack::thrown;
    if (code == stack::EXIT_RETURN || code == stack::EXIT_EXIT) stack::thrown = stack::EXIT_NONE;
}

// The end of a function body's run: the context's values back, and a return
// or exit aimed at this call taken.
inline void end_body(Node ctx, uint32_t old) {
    stack::set_context_values_ref(ctx, old);
    take_own_exit();
    if (!stack::thrown) stack::current_frame()->header &= ~stack::FRAME_BODY;
}

// A function's body run as the common call runs it: nothing traces, the body
// is a block, and it runs with the call's values as its context's. False
// when invoke_function_value must take the call.
[[gnu::always_inline]] inline bool run_plain_body(const Cell* fn) {
    if (tracing || (fn->header & (function::FLAG_TRACE | function::FLAG_NO_TRACE))) [[unlikely]]
        return false;
    Cell body = node_buffer(fn->data3)->read_cells()[function::MORE_BODY];
    if (type_of(&body) != TYPE_BLOCK) [[unlikely]]
        return false;
    begin_body(fn->data1);
    whole_block<true>(&body, false);
    // Every caller pops the function's frame next, which gives its context
    // the values back (a throw past it has cut the frame already): only a
    // return or exit aimed at this call is left to take.
    take_own_exit();
    return true;
}

// A call named by a word of the code (the word's cell a copy the caller
// holds), with no path, object or tracing: the common call.
// `gather` fills the frame (and calls a native's or action's entry) and
// answers the position after the arguments.
// With `inline_body`, a function's plain body is run from here (the call
// step's own function calls); else through invoke_function_value.
template <bool inline_body = false, class Gatherer>
inline uint32_t invoke_with(const Cell* fn, const Cell* name, bool infix, Gatherer gather) {
    check_machine_stack();
    if (!infix) stack::push(fn);
    // Frames pushed while library code runs are marked as such.
    uint32_t bits = eval_frame_bits();
    int t = type_of(fn);
    if (t == TYPE_FUNCTION)
        stack::push_function_frame(name->data2, name->data1, fn->data1, bits & ~stack::KIND_MASK);
    else
        stack::push_frame(name, bits);
    if (infix) stack::top++;
    uint32_t pos = gather();
    if (stack::thrown) return pos;
    if (t == TYPE_FUNCTION) {
        if (!(inline_body && run_plain_body(fn))) invoke_function_value(fn);
        if (stack::thrown) return pos;
        stack::pop_function_frame();
    } else {
        if (t == TYPE_ROUTINE) {
            invoke_routine_value(fn);
            if (stack::thrown) return pos;
        }
        stack::pop_frame_keep_result();
    }
    if (!infix) {
        stack::top[-2] = stack::top[-1];
        stack::top--;
    }
    return pos;
}

uint32_t invoke_named(const Cell* fn, Node code, uint32_t pos, uint32_t end, const Cell* name, bool infix) {
    return invoke_with(fn, name, infix,
                       [=] { return gather_arguments(fn, code, pos, end, nullptr, 0, name, name, infix, APPLY_NONE); });
}

// The step's less common values: set-paths, get- and lit-words, paths,
// callables and ops written as values, issues.
template <bool Traced>
[[gnu::noinline]] uint32_t eval_other(Node code, uint32_t pos, uint32_t end, Cell* value_in) {
    Cell value = *value_in;
    uint32_t start = pos;
    switch (type_of(&value)) {
    case TYPE_SET_PATH: {
        event<Traced>(trace::EV_PUSH, code, pos, nullptr, &value);
        pos++;
        if (pos >= end) raise_error(err::script_need_value, &value);
        stack::push_frame(&words::set_path, eval_frame_bits());
        pos = eval_one_expression(code, pos, end, false);
        if (stack::thrown) return pos;
        Cell v = *stack::arguments;
        event<Traced>(trace::EV_SET, code, start, &value, &v);
        walk_path(&value, code, pos, end, false, PATH_SET, &v);
        if (stack::thrown) return pos;
        stack::store_result_only(&v);
        stack::pop_frame_keep_result();
        break;
    }
    case TYPE_GET_WORD:
        event<Traced>(trace::EV_PUSH, code, pos, nullptr, stack::push(word_value(&value)));
        pos++;
        break;
    case TYPE_LIT_WORD:
        value.header = (value.header & ~TYPE_MASK) | TYPE_WORD;
        stack::push(&value);
        event<Traced>(trace::EV_PUSH, code, pos, nullptr, &value);
        pos++;
        break;
    case TYPE_PATH: case TYPE_GET_PATH:
        pos = walk_path(&value, code, pos + 1, end, true, type_of(&value) == TYPE_GET_PATH ? PATH_GET : PATH_GET_VALUE,
                        nullptr);
        if (stack::thrown) return pos;
        break;
    case TYPE_LIT_PATH:
        value.header = (value.header & ~TYPE_MASK) | TYPE_PATH;
        stack::push(&value);
        event<Traced>(trace::EV_PUSH, code, pos, nullptr, &value);
        pos++;
        break;
    case TYPE_OP:
        raise_error(err::script_no_op_arg, &value);
    case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE:
        pos = invoke_callable(&value, code, pos + 1, end, true, nullptr, 0, nullptr, false);
        if (stack::thrown) return pos;
        break;
    case TYPE_ISSUE: {
        int32_t s = symbol::resolve(int32_t(value.data2));
        View cv(code);
        if ((s == symbol::resolve(sym::system) || s == symbol::resolve(sym::system_global)) && pos + 1 < end &&
            pos + 1 < cv.size && type_of(cv.head + pos + 1) == TYPE_BLOCK)
            raise_error(err::internal_vyx_system);
        stack::push(&value);
        event<Traced>(trace::EV_PUSH, code, pos, nullptr, &value);
        pos++;
        break;
    }
    default: break;
    }
    return pos;
}

// A set-word whose value needs a call or more: evaluated under a frame that
// names the word, so an error in the value says where it was going.
template <bool Traced, class Value>
[[gnu::always_inline]] inline uint32_t set_word(Node code, uint32_t pos, uint32_t end, const Cell* word,
                                                Value evaluate) {
    Cell value = *word;
    uint32_t at = pos;
    stack::push_frame(&value, eval_frame_bits());
    stack::push(&value);
    event<Traced>(trace::EV_PUSH, code, pos, nullptr, &value);
    pos++;
    if (pos >= end) raise_error(err::script_need_value, &value);
    pos = evaluate(pos);
    if (stack::thrown) return pos;
    Cell* v = stack::arguments + 1;
    event<Traced>(trace::EV_SET, code, at, &value, v);
    if (type_of(v) == TYPE_UNSET) raise_error(err::script_need_value, &value);
    if (!context::poke(stack::arguments, v)) {
        context::set(stack::arguments, v);
        if (int32_t(value.data3) < 0) remember_index(code, at, &value, int32_t(stack::arguments->data3));
    }
    *stack::arguments = *v;
    stack::pop_frame_keep_result();
    return pos;
}

// The set-word at `pos` under its frame, its value taken by the untraced
// step; or, when quick_set computed it up to the operator at `stop`, from
// that value (`partial`) by the walker's operators from there.
[[gnu::noinline]] uint32_t set_word_expression(Node code, uint32_t pos, uint32_t end, Cell partial, uint32_t stop) {
    if (!stop && context::is_object_context(code_at(code, pos)->data1)) {
        uint32_t after = quick_set_field(View(code), pos, end, &stop);
        if (after) return after;
        if (stop) partial = *stack::top;
    }
    Cell w = *code_at(code, pos);
    return set_word<false>(code, pos, end, &w, [&](uint32_t at) {
        return stop ? infix_tail(code, stop, end, stack::push(&partial)) : operand_expression(code, at, end, false);
    });
}

// The operators after an expression's value (sitting at T): each takes the
// value so far as its left operand. Answers the position after the last.
template <bool Traced>
[[gnu::always_inline]] inline uint32_t infix_loop(Node code, uint32_t pos, uint32_t end, Cell* T, View cv) {
    while (pos < end && pos < cv.size) {
        const Cell* v = op_at(cv, pos);
        if (!v) break;
        Cell name = cv.head[pos];
        Cell fn = op::source_of(v);
        if (!Traced) {
            Fast k = fast_kind(v);
            if (k) {
                const Cell* right = pos + 1 < end && pos + 1 < cv.size ? number_operand(cv, pos + 1) : nullptr;
                if (right && fast_math(k, T, right)) {
                    pos += 2;
                    continue;
                }
                pos = infix_arithmetic(k, &fn, code, pos + 1, end, &name, T,
                                       [code, end](uint32_t at) { return operand_expression(code, at, end, true); });
                if (stack::thrown) return pos;
                cv = View(code);
                continue;
            }
        }
        event<Traced>(trace::EV_FETCH, code, pos, nullptr, &name);
        stack::top = T;
        if (Traced)
            pos = invoke_callable(&fn, code, pos + 1, end, true, nullptr, 0, &name, true);
        else
            pos = invoke_named(&fn, code, pos + 1, end, &name, true);
        if (stack::thrown) return pos;
        cv = View(code);
    }
    return pos;
}

// The walker's operators after a value at T, from `pos`: for an expression
// taken up part way (a quick one stopped at an operator, a decoded one that
// left its decoded form).
[[gnu::noinline]] uint32_t infix_tail(Node code, uint32_t pos, uint32_t end, Cell* T) {
    return infix_loop<false>(code, pos, end, T, View(code));
}

// A block run in the current call's result slot (do_block), inline where a
// branch is chosen.
[[gnu::always_inline]] inline void run_block(const Cell* block) {
    // The block waits in the result slot while it runs: the caller's cells
    // above it are dropped, and the code may remove it from where it came from.
    Cell b = *block;
    *stack::arguments = b;
    stack::keep_result_only();
    whole_block(&b, false);
    if (!stack::thrown) stack::keep_result_only();
}

[[gnu::always_inline]] inline void choose(uint32_t which, const Cell* branches) {
    Cell* cond = stack::arguments;
    if (which == natives::N_EITHER) {
        if (type_of(cond) == TYPE_UNSET) raise_error(err::script_no_return);
        run_block(logic::truth(cond) ? branches : branches + 1);
    } else if (logic::truth(cond) == (which == natives::N_IF)) {
        run_block(branches);
    } else {
        stack::store_result_only(&NONE);
    }
}

// What a call of if, unless or either needs of the native's description,
// kept for the native last called through each of the three numbers: the
// common call then reads no description at all. An entry holds while the
// native's private node is the one called and nothing has moved since it was
// made (a collection, which may give the node to another series, counts as a
// move).
struct ConditionalSpec {
    Node node = 0;
    uint64_t moved = 0;
    uint32_t mandatory = 0;
    Cell condition{};  // the condition's admitted types
};
ConditionalSpec conditional_specs[natives::N_EITHER - natives::N_IF + 1];

[[gnu::noinline]] const ConditionalSpec& learn_conditional(const Cell* fn) {
    // The description may be made now, which allocates: the count is read after.
    const ArgFrame* af = arg_frame(fn);
    ConditionalSpec& spec = conditional_specs[fn->data1 - natives::N_IF];
    spec.mandatory = af->mandatory;
    spec.condition = af->count ? af->slots[0].types : typeset::empty();
    spec.node = fn->data3;
    spec.moved = buffers_moved;
    return spec;
}

// The entry for fn, a native whose number is that of if, unless or either.
[[gnu::always_inline]] inline const ConditionalSpec& conditional_spec(const Cell* fn) {
    const ConditionalSpec& spec = conditional_specs[fn->data1 - natives::N_IF];
    if (spec.node == fn->data3 && spec.moved == buffers_moved) [[likely]] return spec;
    return learn_conditional(fn);
}

// The arguments of if, unless and either after the condition (pushed, the
// code's cells `cv` read after it ran): a block written in the code, with no
// operator after it, is taken as it stands (the argument admits it). Then
// what the native does: with every block taken as it stands, the chosen one
// is run from the code, never pushed.
[[gnu::always_inline]] inline uint32_t conditional_branches(const Cell* fn, const Cell& condition, uint32_t m,
                                                            Node code, uint32_t pos, uint32_t end, const Cell* name,
                                                            View cv) {
    bool ran = false;
    Cell* cond = stack::top - 1;
    if (!typeset::has(&condition, type_of(cond))) expect_arg(name, fn, 0, cond);
    // The condition may have turned the tracer on: the call is then traced.
    bool quick = !tracing;
    uint32_t first = pos;
    // The common case at once: every branch a block, nothing after the last
    // (a block is never an operator, so only the last can be followed by one).
    uint32_t after = pos + m - 1;
    uint32_t limit = end < cv.size ? end : cv.size;
    if (quick && after <= limit && type_of(cv.head + pos) == TYPE_BLOCK &&
        (m == 2 || (m == 3 && type_of(cv.head + pos + 1) == TYPE_BLOCK)) && (after >= limit || !op_at(cv, after))) {
        choose(fn->data1, cv.head + first);
        return after;
    }
    uint32_t k = 1;
    while (quick && k < m && pos < end && pos < cv.size && type_of(cv.head + pos) == TYPE_BLOCK &&
           (pos + 1 >= end || pos + 1 >= cv.size || !op_at(cv, pos + 1))) {
        pos++;
        k++;
    }
    if (k == m) {
        choose(fn->data1, cv.head + first);
        return pos;
    }
    for (uint32_t q = first; q < pos; q++) stack::push(cv.head + q);
    for (; k < m; k++) {
        pos = lean_argument(fn, code, pos, end, name, false, k, cv, quick, ran);
        if (ran) {
            if (stack::thrown) return pos;
            quick = !tracing;
        }
        Cell* v = stack::top - 1;
        if (!typeset::has(&arg_frame(fn)->slots[k].types, type_of(v))) expect_arg(name, fn, int(k), v);
    }
    traced(trace::EV_CALL, code, pos, fn, nullptr);
    choose(fn->data1, stack::arguments + 1);
    return pos;
}

// The arguments of if, unless and either, the condition as any call takes
// it, and what the native does (see conditional_branches).
uint32_t gather_conditional(const Cell* fn, Node code, uint32_t pos, uint32_t end, const Cell* name) {
    // Copied: the condition may call another native of the same number.
    const ConditionalSpec& spec = conditional_spec(fn);
    Cell condition = spec.condition;
    uint32_t m = spec.mandatory;
    View cv(code);
    bool ran = false;
    pos = lean_argument(fn, code, pos, end, name, false, 0, cv, true, ran);
    if (ran && stack::thrown) return pos;
    return conditional_branches(fn, condition, m, code, pos, end, name, cv);
}

// The arguments of a call taking them normally, gathered (and, for a native
// or an action, its entry called) without the general gathering's questions.
[[gnu::always_inline]] inline uint32_t gather_lean_call(const Cell* fn, Node code, uint32_t pos, uint32_t end,
                                                        const Cell* name, bool is_fn) {
    Node desc = arg_frame_node(fn);
    if (!arg_frame_at(desc)->lean)
        return gather_arguments(fn, code, pos, end, nullptr, 0, name, name, false, APPLY_NONE);
    return gather_plain(fn, desc, code, pos, end, name, false, is_fn);
}

// A native or an action named by a word of the code, with no path.
[[gnu::noinline]] uint32_t call_native(const Cell* fn, Node code, uint32_t pos, uint32_t end, const Cell* name) {
    return invoke_with(fn, name, false, [=] { return gather_lean_call(fn, code, pos, end, name, false); });
}

}  // namespace

void do_block(const Cell* block) { run_block(block); }

void conditional(uint32_t which, const Cell* branches) { choose(which, branches); }

namespace {

// A call named by a word of the code, and the operators after its value
// unless `no_infix`: the untraced step's common expression.
uint32_t call_expression(const Cell* fn, Node code, uint32_t pos, uint32_t end, const Cell* name, bool no_infix) {
    Cell* T = stack::top;
    int t = type_of(fn);
    if (t == TYPE_NATIVE && fn->data1 >= natives::N_IF && fn->data1 <= natives::N_EITHER)
        pos = invoke_with(fn, name, false, [=] { return gather_conditional(fn, code, pos, end, name); });
    else if (t == TYPE_FUNCTION)
        pos = invoke_with<true>(fn, name, false, [=] { return gather_lean_call(fn, code, pos, end, name, true); });
    else if (t != TYPE_ROUTINE)
        pos = call_native(fn, code, pos, end, name);
    else
        pos = invoke_named(fn, code, pos, end, name, false);
    if (stack::thrown || no_infix) return pos;
    return infix_loop<false>(code, pos, end, T, View(code));
}

// How eval_expression takes an expression.
enum : uint32_t {
    NO_INFIX = 1,     // without the operators after its value
    BLOCK_LEVEL = 2,  // a whole expression of a block's evaluation, its value going where the last one is
};

template <bool Traced>
uint32_t eval_expression(Node code, uint32_t pos, uint32_t end, uint32_t how) {
    Cell* T = stack::top;
    View cv(code);
    if (pos >= cv.size) [[unlikely]] {
        // The block was shortened under us: nothing is left to evaluate. A
        // block's value stays its last expression's.
        if (how & BLOCK_LEVEL)
            stack::top = T + 1;
        else
            stack::push(&UNSET);
        return end;
    }
    Cell value = cv.head[pos];
    bool called = false;  // whether anything ran that may have moved the code
    if constexpr (Traced) {
        trace::fire(trace::EV_FETCH, code, pos, nullptr, &value);
        cv = View(code);  // the tracer may have moved the code
    }
    switch (type_of(&value)) {
    case TYPE_WORD: {
        const Cell* v = peek_word(&value);
        if (v) {
            if (int32_t(value.data3) < 0) [[unlikely]] keep_index(cv.head + pos, v);
        } else {
            v = word_value(&value);
        }
        int vt = type_of(v);
        if (is_callable(vt)) {
            Cell fn = *v;
            if (!Traced) return call_expression(&fn, code, pos + 1, end, &value, how & NO_INFIX);
            pos = invoke_callable(&fn, code, pos + 1, end, true, nullptr, 0, &value, false);
            if (stack::thrown) return pos;
            called = true;
        } else if (vt == TYPE_UNSET) {
            raise_error(err::script_no_value, &value);
        } else if (vt == TYPE_OP) {
            raise_error(err::script_no_op_arg, &value);
        } else {
            event<Traced>(trace::EV_PUSH, code, pos, nullptr, stack::push(v));
            pos++;
        }
        break;
    }
    case TYPE_PAREN:
        // The paren's value stays pushed.
        eval_whole_block(&value, true);
        if (stack::thrown) return pos;
        called = true;
        pos++;
        break;
    case TYPE_SET_WORD: {
        // `x: 1`, `s: s + i`: a value computed without a call is set
        // without a frame (nothing can fail that a frame would name).
        if (!Traced) {
            pos = set_expression(cv, code, pos, end);
        } else {
            pos = set_word<Traced>(code, pos, end, &value,
                                   [&](uint32_t at) { return eval_one_expression(code, at, end, false); });
        }
        if (stack::thrown) return pos;
        called = true;
        break;
    }
    case TYPE_SET_PATH: case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_PATH: case TYPE_GET_PATH:
    case TYPE_LIT_PATH: case TYPE_OP: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE:
    case TYPE_ISSUE:
        pos = eval_other<Traced>(code, pos, end, &value);
        if (stack::thrown) return pos;
        called = true;
        break;
    default:
        event<Traced>(trace::EV_PUSH, code, pos, nullptr, stack::push(&value));
        pos++;
        break;
    }
    if (!(how & NO_INFIX)) {
        if (called) cv = View(code);
        return infix_loop<Traced>(code, pos, end, T, cv);
    }
    return pos;
}


// Decoded blocks ---------------------------------------------------------------
//
// The second evaluation of a block from the same position decodes it (see
// decoded.h): each whole expression becomes a tree of steps made with the
// bindings of that moment. Running a step does what the walker's step does,
// frames and errors included, without finding out again what the code is: a
// call's arguments are the steps that follow it, an operator's right operand
// the step after the operator. A callee or operator word is re-read and
// compared with the value decoded before it is relied on; when it differs,
// when anything wrote to the block, or when a step ended elsewhere than
// decoded, the walker takes over from that position for the rest of the
// expression, and the rest of the block.

using decoded::Op;

// The value of a callee or operator is the same as when decoded.
// Read as two 64-bit words: the header's flags are the only bits left out.
[[gnu::always_inline]] inline bool same_value(const Cell* a, const Cell* b) {
    uint64_t a0, a1, b0, b1;
    std::memcpy(&a0, a, 8);
    std::memcpy(&a1, reinterpret_cast<const char*>(a) + 8, 8);
    std::memcpy(&b0, b, 8);
    std::memcpy(&b1, reinterpret_cast<const char*>(b) + 8, 8);
    constexpr uint64_t kept = ~uint64_t(0xFFFFFFFFu) | TYPE_MASK;  // data1 and the type
    return ((a0 ^ b0) & kept) == 0 && a1 == b1;
}

// Builds the steps of a block from `pos` to `end` with the current bindings.
// It runs nothing; it may allocate (a callee's argument-frame description
// made on first use), so it re-reads the code after that.
struct Decoder {
    Node code;
    uint32_t end;
    std::vector<Op>& ops;
    uint32_t depth = 0;

    static constexpr uint32_t MAX_DEPTH = 200;

    uint32_t add(uint8_t kind, uint32_t pos, uint8_t no_infix) {
        Op op{};
        op.kind = kind;
        op.pos = pos;
        op.no_infix = no_infix;
        op.size = 1;
        ops.push_back(op);
        return uint32_t(ops.size() - 1);
    }
    uint32_t close(uint32_t i, uint32_t next) {
        ops[i].next = next;
        ops[i].size = uint32_t(ops.size()) - i;
        return next;
    }
    bool inside(uint32_t pos) const { return pos < end && pos < code_size(code); }

    // A whole expression, operators included; 0 when it is not decoded.
    uint32_t full(uint32_t pos) {
        if (++depth > MAX_DEPTH) return 0;
        uint32_t at = add(decoded::K_EXPR, pos, 0);
        uint32_t q = primary(pos, 1);
        bool pairs = false;
        while (q && inside(q)) {
            View cv(code);
            const Cell* v = op_at(cv, q);
            if (!v) break;
            if (!inside(q + 1)) return 0;  // the missing operand is the walker's error to report
            uint32_t p = add(decoded::K_PAIR, q, 1);
            ops[p].fast = uint8_t(fast_kind(v));
            ops[p].ident = *v;
            q = primary(q + 1, 1);
            if (q) close(p, q);
            pairs = true;
        }
        depth--;
        if (!q) return 0;
        bool word_next = inside(q) && type_of(code_at(code, q)) == TYPE_WORD;
        if (!pairs && !word_next) {
            // A value alone: the walker would take it over as a whole expression.
            ops.erase(ops.begin() + at);
            ops[at].no_infix = 0;
            return q;
        }
        ops[at].check_next = word_next;
        // Numbers and the operators fast_math computes, nothing that runs:
        // taken at once by quick_decoded.
        bool quick = pairs;
        auto plain = [&](uint32_t i) {
            return (ops[i].kind == decoded::K_VALUE || ops[i].kind == decoded::K_WORD) && ops[i].size == 1;
        };
        if (quick && !plain(at + 1)) quick = false;
        for (uint32_t c = at + 2; quick && c < ops.size(); c += 2)
            quick = ops[c].kind == decoded::K_PAIR && ops[c].fast && ops[c].size == 2 && plain(c + 1);
        ops[at].fast = quick;
        return close(at, q);
    }

    // A value with no operators after it; 0 when it is not decoded.
    uint32_t primary(uint32_t pos, uint8_t no_infix) {
        if (!inside(pos)) return 0;
        Cell c = *code_at(code, pos);
        switch (type_of(&c)) {
        case TYPE_WORD: {
            const Cell* v = peek_word(&c);
            int t = v ? type_of(v) : TYPE_UNSET;
            if (is_callable(t)) {
                Cell fn = *v;
                Node desc = arg_frame_node(&fn);
                const ArgFrame* af = arg_frame_at(desc);
                uint32_t m = af->mandatory;
                // A call whose arguments are all taken normally is decoded
                // with them; the walker takes any other, the decoder only
                // stepping over its arguments.
                bool lean = af->lean && t != TYPE_ROUTINE;
                uint32_t i = add(lean ? decoded::K_CALL : decoded::K_WALK, pos, no_infix);
                ops[i].ident = fn;
                ops[i].count = m;
                uint32_t q = pos + 1;
                if (lean && m > 0 && t == TYPE_NATIVE && fn.data1 >= natives::N_IF && fn.data1 <= natives::N_EITHER) {
                    // if, unless or either with its branches written as
                    // blocks: the condition is decoded, the blocks are taken
                    // as the walker takes them. Any other is decoded below,
                    // as a call.
                    uint32_t c = full(q);
                    if (!c) return 0;
                    uint32_t b = c;
                    while (b < c + m - 1 && inside(b) && type_of(code_at(code, b)) == TYPE_BLOCK) b++;
                    if (b == c + m - 1) {
                        ops[i].kind = decoded::K_COND;
                        return close(i, b);
                    }
                    ops.resize(i + 1);
                }
                for (uint32_t k = 0; k < m; k++) {
                    if (!inside(q)) {
                        if (lean) return 0;
                        break;
                    }
                    if (arg_frame_at(desc)->slots[k].kind == ARG_NORMAL) {
                        q = full(q);
                        if (!q) return 0;
                    } else {
                        q++;
                    }
                }
                if (!lean) ops.resize(i + 1);
                return close(i, q);
            }
            if (t == TYPE_UNSET || t == TYPE_OP) return close(add(decoded::K_WALK, pos, no_infix), pos + 1);
            return close(add(decoded::K_WORD, pos, no_infix), pos + 1);
        }
        case TYPE_PAREN: return close(add(decoded::K_PAREN, pos, no_infix), pos + 1);
        case TYPE_SET_WORD:
        case TYPE_SET_PATH: {
            bool word = type_of(&c) == TYPE_SET_WORD;
            uint32_t i = add(word ? decoded::K_SET : decoded::K_WALK, pos, no_infix);
            if (!inside(pos + 1)) return 0;
            uint32_t q = full(pos + 1);
            if (!q) return 0;
            if (!word) ops.resize(i + 1);
            return close(i, q);
        }
        case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_LIT_PATH: case TYPE_ISSUE:
        // A path is taken by the walker; what follows is decoded as if it took
        // no arguments, and a path that does take some ends the decoded run.
        case TYPE_PATH: case TYPE_GET_PATH:
            return close(add(decoded::K_WALK, pos, no_infix), pos + 1);
        case TYPE_OP: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE:
            return 0;
        default:
            return close(add(decoded::K_VALUE, pos, no_infix), pos + 1);
        }
    }
};

// The record of a block about to be evaluated from `pos`, when its decoded
// form can be run; null when the walker evaluates it. The first evaluation
// only leaves a record and the flag; the second decodes.
decoded::Record* decoded_record(Node node, uint32_t pos, uint32_t end) {
    SeriesBuffer* b = node_buffer(node);
    decoded::Record* r = decoded::find(node);
    if (r && r->pos == pos && describes(r, b)) {
        if (r->decoded) return r->tops.empty() ? nullptr : r;
        decoded::Running hold(r);
        r->ops.clear();
        r->tops.clear();
        r->single = false;
        Decoder d{node, end, r->ops};
        for (uint32_t q = pos; q < end;) {
            uint32_t i = uint32_t(r->ops.size());
            d.depth = 0;
            uint32_t next = d.full(q);
            if (!next) {
                r->ops.resize(i);
                break;
            }
            r->tops.push_back(i);
            q = next;
        }
        r->decoded = true;
        r->single = r->tops.size() == 1 && end > pos + 1 && r->ops[r->tops[0]].next == end &&
                    end == code_size(node);
        return r->tops.empty() ? nullptr : r;
    }
    // A decoded form still running further up the machine stack must never
    // see the flag set again for cells it was not made from.
    if (r && r->running) return nullptr;
    r = r ? r : decoded::fresh(node);
    r->pos = pos;
    b = node_buffer(node);
    r->offset = b->offset;
    r->tail = b->tail;
    r->decoded = false;
    r->single = false;
    r->ops.clear();
    r->tops.clear();
    b->flags |= series_flag::DECODED;
    return nullptr;
}

inline const Cell* step_cell(const Run& x, uint32_t pos) { return node_buffer(x.code)->read_cells() + pos; }

// The number a value step, or a word step whose word holds one, stands for
// (the code's cells at `head`); null otherwise.
[[gnu::always_inline]] inline const Cell* number_step(const Cell* head, const Op* c) {
    const Cell* v = c->kind == decoded::K_VALUE ? head + c->pos
                    : c->kind == decoded::K_WORD ? peek_word(head + c->pos)
                                                 : nullptr;
    return v && is_plain_number(v) ? v : nullptr;
}

// An expression the decoder found to be numbers and fast operators only
// (`n - 1`, `i < 10`), its value pushed, computed as the walker's quick step
// computes it; false, with nothing changed, when anything differs from what
// was decoded or an operand is not a number.
[[gnu::always_inline]] inline bool quick_decoded(const Run& x, const Op* op) {
    // Nothing here allocates: the code stays where it is.
    const Cell* head = node_buffer(x.code)->read_cells();
    const Cell* v = number_step(head, op + 1);
    if (!v) return false;
    Cell* T = stack::push_slot();
    *T = *v;
    const Op* stop = op + op->size;
    for (const Op* c = op + 2; c < stop; c += 2) {
        const Cell* w = peek_word(head + c->pos);
        const Cell* right;
        if (!w || !same_value(w, &c->ident) || !(right = number_step(head, c + 1)) ||
            !fast_math(Fast(c->fast), T, right)) {
            stack::top--;
            return false;
        }
    }
    if (op->check_next && op->next < x.end) {
        View cv(x.code);
        if (op->next < cv.size && op_at(cv, op->next)) {
            stack::top--;
            return false;
        }
    }
    return true;
}

// Runs a step: a value, a word holding one, or quick arithmetic without a
// call. `ran` tells whether anything ran (which may have changed the code).
[[gnu::always_inline]] inline uint32_t run_operand(const Run& x, const Op* op, bool& ran) {
    ran = false;
    switch (op->kind) {
    case decoded::K_VALUE: stack::push(step_cell(x, op->pos)); return op->next;
    case decoded::K_WORD: {
        const Cell* v = peek_word(step_cell(x, op->pos));
        if (is_plain_value(v)) {
            stack::push(v);
            return op->next;
        }
        break;
    }
    case decoded::K_EXPR:
        if (op->fast && quick_decoded(x, op)) return op->next;
        break;
    case decoded::K_PAREN:
        ran = true;
        push_paren(x.code, op->pos);
        return op->next;
    default: break;
    }
    ran = true;
    return run_step(x, op);
}

// The same where what ran does not matter.
[[gnu::always_inline]] inline uint32_t run_operand(const Run& x, const Op* op) {
    bool ran;
    return run_operand(x, op, ran);
}

// After a step: whether the decoded form holds from `pos` on.
inline bool on_track(const Run& x, const Op* op, uint32_t pos, bool ran) {
    return pos == op->next && (!ran || still_good(x));
}

// Runs a block's whole expressions from its decoded form while that holds;
// answers where the walker goes on (the end when all ran). A pending exit
// answers at once, the walker's loop then leaving.
// `rec` is the block's decoded record, found good for this evaluation.
[[gnu::always_inline]] inline uint32_t run_decoded(decoded::Record* rec, Node node, uint32_t pos, uint32_t end,
                                                 Cell* base, Cell* cursor) {
    decoded::Running hold(rec);
    Run x{rec, node, end};
    const decoded::Op* ops = rec->ops.data();
    const uint32_t* t = rec->tops.data();
    const uint32_t* stop = t + rec->tops.size();
    for (bool first = true; t < stop; t++, first = false) {
        const decoded::Op* op = ops + *t;
        // Each expression may have changed the code the next one relies on.
        if (pos != op->pos || (!first && !still_good(x))) break;
        cursor->data1 = pos;
        stack::top = base;
        uint32_t start = pos;
        pos = run_operand(x, op);
        if (!between_expressions(node, start, base)) return end;
    }
    return pos;
}

// The same for a block whose record is not known good: made, or decoded,
// or run when it is.
[[gnu::noinline]] uint32_t run_decoded_block(Node node, uint32_t pos, uint32_t end, Cell* base, Cell* cursor) {
    decoded::Record* rec = decoded_record(node, pos, end);
    return rec ? run_decoded(rec, node, pos, end, base, cursor) : pos;
}

// eval_whole_block for a block, not library code, whose decoded form is one
// whole expression reaching its tail (a branch, a paren, a short body), found
// good with nothing tracing: the same steps with no questions left to ask.
// The walker goes on if the expression ends elsewhere.
[[gnu::always_inline]] inline void single_run(decoded::Record* r, const Cell* block, bool keep, uint32_t end) {
    check_machine_stack();
    Node node = block->data2;
    uint32_t pos = block->data1;
    uint32_t outer_library = library_frames;
    library_frames = 0;
    Running here{*block, running};
    running = &here;
    Cell* base = stack::top;
    {
        decoded::Running hold(r);
        Run x{r, node, end};
        pos = run_operand(x, r->ops.data() + r->tops[0]);
    }
    bool whole = between_expressions(node, here.block.data1, base) && walk_expressions(node, pos, end, base, here);
    running = here.outer;
    library_frames = outer_library;
    if (!whole) [[unlikely]] return;
    stack::top = base + 1;
    if (!keep) *stack::arguments = *base;
}

// The same, called.
[[gnu::noinline]] void run_single(decoded::Record* r, const Cell* block, bool keep, uint32_t end) {
    single_run(r, block, keep, end);
}

// eval_whole_block with a block of a single value (a branch `[n]`) taken
// here, without its frame of registers.
[[gnu::noinline]] void short_block(const Cell* block, bool keep) {
    check_machine_stack();
    SeriesBuffer* b = node_buffer(block->data2);
    uint32_t pos = block->data1;
    if ((b->tail - b->offset) >> 4 == pos + 1 && one_value(b->code_cells() + pos, keep)) return;
    eval_whole_block(block, keep);
}

// The callee of a call step whose word still holds the value decoded: the
// value and the word copied to `fn` and `name` (the call may move the
// code). False when the walker must take the call.
inline bool decoded_callee(const Run& x, const Op* op, Cell& fn, Cell& name) {
    const Cell* w = step_cell(x, op->pos);
    const Cell* v = peek_word(w);
    if (!v || !same_value(v, &op->ident)) return false;
    fn = *v;
    name = *w;
    return true;
}

// A call whose callee is still the one decoded: its arguments are the steps
// after it (the walker's from wherever one ends off the decoded form).
[[gnu::noinline]] uint32_t run_call(const Run& x, const Op* op) {
    Cell fn, name;
    if (!decoded_callee(x, op, fn, name)) return eval_one_expression(x.code, op->pos, x.end, op->no_infix);
    return invoke_with<true>(&fn, &name, false, [&]() -> uint32_t {
        bool is_fn = type_of(&fn) == TYPE_FUNCTION;
        Node desc = arg_frame_node(&fn);
        uint32_t m = arg_frame_at(desc)->mandatory;
        const Op* a = op + 1;
        uint32_t pos = op->pos + 1;
        bool track = m == op->count;
        for (uint32_t k = 0; k < m; k++) {
            if (track) {
                bool ran;
                pos = run_operand(x, a, ran);
                if (stack::thrown) return pos;
                track = on_track(x, a, pos, ran);
                a += a->size;
            } else {
                if (pos >= x.end || pos >= code_size(x.code)) {
                    Cell aw = argument_word(&fn, int(k));
                    raise_error(err::script_no_arg, &name, &aw);
                }
                pos = eval_one_expression(x.code, pos, x.end, false);
                if (stack::thrown) return pos;
            }
            Cell* val = stack::top - 1;
            if (!typeset::has(&arg_frame_at(desc)->slots[k].types, type_of(val))) expect_arg(&name, &fn, int(k), val);
        }
        if (is_fn) push_unnamed(desc, m);
        traced(trace::EV_CALL, x.code, pos, &fn, nullptr);
        if (!is_fn) call_plain_entry(&fn);
        return pos;
    });
}

// if, unless or either whose callee is still the one decoded: the
// condition is the step after it, the branches are taken as the walker
// takes them.
[[gnu::noinline]] uint32_t run_cond(const Run& x, const Op* op) {
    Cell fn, name;
    if (!decoded_callee(x, op, fn, name)) return eval_one_expression(x.code, op->pos, x.end, op->no_infix);
    return invoke_with(&fn, &name, false, [&]() -> uint32_t {
        const ConditionalSpec& spec = conditional_spec(&fn);
        Cell condition = spec.condition;
        uint32_t m = spec.mandatory;
        if (m != op->count) return gather_conditional(&fn, x.code, op->pos + 1, x.end, &name);
        bool ran;
        uint32_t pos = run_operand(x, op + 1, ran);
        if (ran && stack::thrown) return pos;
        View cv(x.code);
        if (!ran && !tracing) {
            // Nothing ran: the branches are still the blocks decoded, and
            // only the cell after them may have become an operator since.
            Cell* cond = stack::top - 1;
            if (!typeset::has(&condition, type_of(cond))) expect_arg(&name, &fn, 0, cond);
            uint32_t after = op->next;
            if (after >= x.end || after >= cv.size || !op_at(cv, after)) {
                choose(fn.data1, cv.head + pos);
                return after;
            }
        }
        return conditional_branches(&fn, condition, m, x.code, pos, x.end, &name, cv);
    });
}

// run_operand for the first value of an expression: a paren
// (`(fib n - 1) + ...`) is run from here.
[[gnu::always_inline]] inline uint32_t paren_or_operand(const Run& x, const Op* op, bool& ran) {
    if (op->kind != decoded::K_PAREN) return run_operand(x, op, ran);
    ran = true;
    Cell paren = *step_cell(x, op->pos);
    whole_block<true>(&paren, true);
    return op->next;
}

// A value and its operators.
[[gnu::noinline]] uint32_t run_expr(const Run& x, const Op* op) {
    Cell* T = stack::top;
    const Op* c = op + 1;
    bool ran = true;
    uint32_t q = paren_or_operand(x, c, ran);
    if (stack::thrown) return q;
    bool track = on_track(x, c, q, ran);
    const Op* stop = op + op->size;
    for (c += c->size; track && c < stop; c += c->size) {
        const Cell* w = step_cell(x, c->pos);
        const Cell* v = peek_word(w);
        if (!v || !same_value(v, &c->ident)) {
            track = false;
            break;
        }
        Cell name = *w;
        Cell fn = op::source_of(v);
        const Op* r = c + 1;
        Fast k = Fast(c->fast);
        if (k) {
            const Cell* right = number_step(node_buffer(x.code)->read_cells(), r);
            if (right && fast_math(k, T, right)) {
                q = r->next;
                continue;
            }
            q = infix_arithmetic(k, &fn, x.code, c->pos + 1, x.end, &name, T,
                                 [&](uint32_t) { return run_operand(x, r); });
        } else {
            stack::top = T;
            q = invoke_named(&fn, x.code, c->pos + 1, x.end, &name, true);
        }
        if (stack::thrown) return q;
        track = on_track(x, r, q, true);
    }
    if (!track) return infix_tail(x.code, q, x.end, T);
    if (op->check_next && q < x.end) {
        View cv(x.code);
        if (q < cv.size && op_at(cv, q)) return infix_tail(x.code, q, x.end, T);
    }
    return q;
}

// A set-word: its value's expression is the step after it.
[[gnu::noinline]] uint32_t run_set(const Run& x, const Op* op) {
    if (uint32_t after = quick_set(View(x.code), op->pos, x.end)) return after;
    Cell word = *step_cell(x, op->pos);
    return set_word<false>(x.code, op->pos, x.end, &word, [&](uint32_t) { return run_operand(x, op + 1); });
}

// The steps run_operand leaves: calls, operators, set-words, and what the
// walker takes.
[[gnu::always_inline]] inline uint32_t run_step(const Run& x, const Op* op) {
    switch (op->kind) {
    case decoded::K_CALL: return run_call(x, op);
    case decoded::K_COND: return run_cond(x, op);
    case decoded::K_EXPR: return run_expr(x, op);
    case decoded::K_SET: return run_set(x, op);
    default: break;
    }
    return eval_one_expression(x.code, op->pos, x.end, op->no_infix);
}


// A block evaluated where the interpreter itself runs one (a branch, a
// paren, a body): by run_single when its decoded form allows, else by
// eval_whole_block. With `here`, run_single's steps are made in the caller
// itself (a call's body, the paren that begins an expression), one machine
// call fewer on the way down a recursion.
template <bool here>
[[gnu::always_inline]] inline void whole_block(const Cell* block, bool keep) {
    if (decoded::enabled) {
        decoded::Record* r = decoded::find(block->data2);
        if (r && r->single && r->pos == block->data1 && !tracing) {
            SeriesBuffer* b = node_buffer(block->data2);
            if (describes(r, b) && !(b->flags & series_flag::LIBRARY)) {
                if (here) return single_run(r, block, keep, (b->tail - b->offset) >> 4);
                return run_single(r, block, keep, (b->tail - b->offset) >> 4);
            }
        }
        return short_block(block, keep);
    }
    eval_whole_block(block, keep);
}

}  // namespace

uint32_t eval_one_expression(Node code, uint32_t pos, uint32_t end, bool no_infix) {
    uint32_t how = no_infix ? uint32_t(NO_INFIX) : 0u;
    return tracing ? eval_expression<true>(code, pos, end, how) : eval_expression<false>(code, pos, end, how);
}

namespace {

uint32_t eval_block_expression(Node code, uint32_t pos, uint32_t end) {
    if (tracing) [[unlikely]] return eval_expression<true>(code, pos, end, BLOCK_LEVEL);
    uint32_t after = quick_expression(code, pos, end);
    return after ? after : eval_expression<false>(code, pos, end, BLOCK_LEVEL);
}

}  // namespace

uint32_t invoke_callable(const Cell* callable, Node code, uint32_t pos, uint32_t end, bool keep, const Cell* path,
                         uint32_t path_pos, const Cell* name, bool infix, const Cell* object, int mode) {
    check_machine_stack();
    Cell fn = *callable;
    // The word that names the call (pointed to, not copied, in the common case).
    const Cell* nm = name && type_of(name) == TYPE_WORD ? name : &words::frame_anon;
    // A method reached through an object runs in the object's context: the
    // call is named in it, so call traces find the method there.
    Cell method_name;
    if (object && object->data1 != context::global && nm != &words::frame_anon) {
        method_name = *nm;
        method_name.data1 = object->data1;
        nm = &method_name;
    }
    // What argument errors report: the path when there is one (an applying
    // call names its word).
    const Cell* reported = path && mode == APPLY_NONE ? path : (name ? name : nm);
    Cell held_name;  // the naming cells may sit in a block the call changes
    if (reported != &words::frame_anon && reported != &method_name) {
        held_name = *reported;
        reported = &held_name;
    }
    if (!infix) stack::push(&fn);
    if (tracing) [[unlikely]] {
        if (infix) stack::top++;  // over the left operand while the tracer runs
        trace::fire(trace::EV_OPEN, code, pos, nullptr, nm);
        if (infix) stack::top--;
    }
    int t = type_of(&fn);
    // Frames pushed while library code runs are marked as such.
    uint32_t bits = eval_frame_bits();
    if (t == TYPE_FUNCTION)
        stack::push_function_frame(nm->data2, nm->data1, fn.data1, bits & ~stack::KIND_MASK);
    else
        stack::push_frame(nm, bits);
    if (infix) stack::top++;
    pos = gather_arguments(&fn, code, pos, end, path, path_pos, reported, name ? name : nm, infix, mode);
    if (stack::thrown) return pos;
    if (t == TYPE_FUNCTION) {
        invoke_function_value(&fn);
        if (stack::thrown) return pos;
        if (keep)
            stack::pop_function_frame();
        else
            stack::pop_function_frame_pass_result();
    } else {
        if (t == TYPE_ROUTINE) {
            invoke_routine_value(&fn);
            if (stack::thrown) return pos;
        }
        if (keep)
            stack::pop_frame_keep_result();
        else
            stack::pop_frame_pass_result();
    }
    if (!infix) {
        stack::top[-2] = stack::top[-1];
        stack::top--;
    }
    traced(trace::EV_RETURN, code, pos, nm, stack::top - 1);
    return pos;
}

void invoke_function_value(const Cell* fn) {
    if (run_plain_body(fn)) return;
    Cell body = node_buffer(fn->data3)->read_cells()[function::MORE_BODY];
    if (type_of(&body) != TYPE_BLOCK) {
        stack::set_last(&UNSET);
        return;
    }
    // An interpreted body is a call of its own to the tracer; a library
    // body, as compiled code, is not.
    bool announced = tracing && !trace::is_library(body.data2);
    if (announced) trace::fire(trace::EV_CALL, 0, 0, fn, nullptr);
    eval_function_body(fn, &body);
    if (announced && !stack::thrown) trace::fire(trace::EV_RETURN, 0, 0, fn, stack::arguments);
}

void eval_function_body(const Cell* fn, const Cell* body) {
    Node ctx = fn->data1;
    uint32_t old = begin_body(ctx);
    bool saved_tracing = tracing;
    if (fn->header & function::FLAG_TRACE) tracing = trace_requested;
    if (fn->header & function::FLAG_NO_TRACE) tracing = false;
    bool observed = tracing && !trace::is_library(body->data2);
    if (observed) {
        trace::fire(trace::EV_PROLOG, 0, 0, fn, nullptr);
        if (stack::thrown) {
            // The tracer left: the body never ran.
            tracing = saved_tracing;
            stack::set_context_values_ref(ctx, old);
            return;
        }
    }
    eval_whole_block(body, false);
    if (observed) {
        uint32_t pending = stack::thrown;
        stack::thrown = stack::EXIT_NONE;
        trace::fire(trace::EV_EPILOG, 0, 0, fn, nullptr);
        if (!stack::thrown) stack::thrown = pending;
    }
    tracing = saved_tracing;
    end_body(ctx, old);
}

void invoke_routine_value(const Cell* routine) {
    Cell* m = function::more(routine);
    uint32_t index = type_of(m + function::MORE_CODE) == TYPE_INTEGER ? m[function::MORE_CODE].data2 : 0;
    routine::Code code = routine::code_at(index);
    if (!code) raise_error(err::internal_routines);
    code();
}

// Paths ------------------------------------------------------------------------

namespace {

// Values whose path set changes the cell itself rather than a series or a
// context it refers to.
bool lives_in_cell(int type) {
    switch (type) {
    case TYPE_PAIR: case TYPE_POINT2D: case TYPE_POINT3D: case TYPE_TUPLE: case TYPE_DATE: case TYPE_TIME:
        return true;
    default:
        return false;
    }
}

// The value of a path's head word; an unset path when the word was never
// set (the lookup raises no-value) or holds unset!.
Cell head_value(const Cell* path, const Cell* head) {
    const Cell* hv;
    try {
        hv = word_value(head);
    } catch (const VyxError& e) {
        if (e.id.category != err::script_no_value.category || e.id.entry != err::script_no_value.entry) throw;
        raise_error(err::script_unset_path, path, head);
    }
    if (type_of(hv) == TYPE_UNSET) raise_error(err::script_unset_path, path, head);
    // Found by its symbol: the path's own cell keeps the index, as a word of
    // the code does.
    if (int32_t(head->data3) < 0) remember_index(path->data2, path->data1, head, index_of_slot(head, hv));
    return *hv;
}

// After a paren element the current value is read again from where it came
// from, since the paren may have changed it: the head word, an object's
// field, or a position in a block. Any other value stays as it was taken.
void refetch(const Cell* path, const Cell* head, bool at_head, Cell* cur, Cell* from, const Cell* step, bool case_) {
    if (at_head) {
        *cur = head_value(path, head);
        return;
    }
    int ft = type_of(from), st = type_of(step);
    bool object_field = ft == TYPE_OBJECT && is_any_word(st);
    bool block_position = is_any_block(ft) && st == TYPE_INTEGER;
    if (!object_field && !block_position) return;
    Cell* saved = stack::top;
    Cell el = *step;
    act::EvalPath handler = actions::get_path_action(from, path, &el, nullptr);
    Cell p = *path;
    Cell again = *handler(from, &el, nullptr, &p, case_);
    stack::top = saved;
    *cur = again;
}

}  // namespace

uint32_t walk_path(const Cell* path_in, Node code, uint32_t pos, uint32_t end, bool push, int mode, const Cell* value,
                   bool case_) {
    Cell path = *path_in;
    uint32_t size = code_size(path.data2);
    if (path.data1 >= size) raise_error(err::script_empty_path);
    Cell head = *code_at(path.data2, path.data1);
    if (type_of(&head) != TYPE_WORD) raise_error(err::script_word_first, &path);
    Cell* T = stack::top;
    traced(trace::EV_ENTER, path.data2, path.data1, nullptr, &path);
    traced(trace::EV_FETCH, path.data2, path.data1, nullptr, &head);
    Cell hv = head_value(&path, &head);
    if (is_callable(type_of(&hv))) {
        if (mode == PATH_SET) raise_error(err::script_invalid_path_set, &path);
        if (mode == PATH_GET) raise_error(err::script_invalid_path_get, &path);
        pos = invoke_callable(&hv, code, pos, end, true, &path, path.data1 + 1, &head, false);
        if (stack::thrown) return pos;
        if (!push) stack::store_result_only(T);
        return pos;
    }
    // The current value and the value it was taken from live in stack cells:
    // a paren element may allocate and move series, but a cell (a series
    // value, not an address) stays right, and the collector sees both.
    Cell* cur = stack::push(&hv);
    Cell* from = stack::push(&NONE);
    Cell previous = head;
    for (uint32_t i = path.data1 + 1; i < size; i++) {
        Cell el = *code_at(path.data2, i);
        if (type_of(&el) == TYPE_GET_WORD) {
            el = *word_value(&el);
        } else if (type_of(&el) == TYPE_PAREN) {
            eval_whole_block(&el, true);
            if (stack::thrown) return pos;
            el = *--stack::top;
            refetch(&path, &head, i == path.data1 + 1, cur, from, &previous, case_);
        }
        if (type_of(&el) == TYPE_UNSET) raise_error(err::script_invalid_path, &path, &el);
        bool last = i + 1 == size;
        act::EvalPath handler = actions::get_path_action(cur, &path, &el, &previous);
        Cell v = value ? *value : UNSET;
        bool set = mode == PATH_SET && last;
        const Cell* r = handler(cur, &el, set ? &v : nullptr, &path, case_);
        Cell result = *r;
        stack::top = from + 1;
        if (set && lives_in_cell(type_of(cur))) {
            // The set changed this copy of the value: it goes back where it
            // was taken from.
            Cell changed = *cur;
            if (i == path.data1 + 1) {
                context::set(&head, &changed);
            } else {
                act::EvalPath put = actions::get_path_action(from, &path, &previous, nullptr);
                put(from, &previous, &changed, &path, case_);
                if (stack::thrown) return pos;
                stack::top = from + 1;
            }
        }
        *from = *cur;
        *cur = result;
        previous = el;
        // A function reached through an object is a method: called, with the
        // rest of the path as its refinements.
        if (mode == PATH_GET_VALUE && type_of(from) == TYPE_OBJECT && is_callable(type_of(&result))) {
            Cell object = *from;
            pos = invoke_callable(&result, code, pos, end, true, &path, i + 1, &el, false, &object);
            if (stack::thrown) return pos;
            *cur = stack::top[-1];
            break;
        }
    }
    Cell final = *cur;
    traced(trace::EV_EXIT, path.data2, path.data1, nullptr, &final);
    stack::top = T;
    if (push)
        stack::push(&final);
    else
        stack::store_result_only(&final);
    return pos;
}

}  // namespace vyx::interp
