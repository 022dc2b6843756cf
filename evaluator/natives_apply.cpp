// apply: calls a function with the values of a block as its arguments.
#include "datatypes/function.h"
#include "datatypes/runtime_words.h"
#include "evaluator/helpers.h"
#include "evaluator/interpreter.h"
#include "evaluator/native_table.h"
#include "evaluator/natives.h"
#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx::natives {

namespace {

bool is_applicable(int t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

}  // namespace

// apply func args /all /safer. A word (or a path's first word) must itself
// hold the function: the path is not walked, its further elements name the
// refinements. The arguments are taken from the block as the interpreter
// takes them from code, one argument at a time.
VYX_NATIVE(apply_, 107, "apply",
           R"~("calls a function with a block of reduced arguments" func [word! path! any-function!] args [block!] /all /safer)~");
void apply_(int check, const int* refs) {
    if (check) native_apply_.check(refs);
    Cell* call = stack::arguments;  // stack cells never move
    Cell f = call[0];
    Cell args = call[1];
    int mode = (refs[native_apply_.refinement("all")] >= 0 ? interp::APPLY_ALL : interp::APPLY_NAMED) |
               (refs[native_apply_.refinement("safer")] >= 0 ? interp::APPLY_SAFER : 0);
    Cell name = words::frame_applied;
    const Cell* path = nullptr;
    uint32_t path_pos = 0;
    Cell fn = f;
    if (type_of(&f) == TYPE_WORD || type_of(&f) == TYPE_PATH) {
        Cell head = f;
        if (type_of(&f) == TYPE_PATH) {
            if (f.data1 >= blk::size(f.data2)) raise_error(err::script_invalid_arg, &f);
            head = *blk::at(f.data2, f.data1);
            if (type_of(&head) != TYPE_WORD) raise_error(err::script_invalid_arg, &f);
            path = &call[0];
            path_pos = f.data1 + 1;
        }
        fn = *interp::word_value(&head);
        if (!is_applicable(type_of(&fn))) raise_error(err::script_invalid_arg, &f);
        name = head;
    }
    if (type_of(&fn) == TYPE_OP) fn = op::source_of(&fn);
    // The callee sits in a cell of this call while it runs.
    stack::top = call + 2;
    stack::push(&fn);
    stack::current_frame()->header |= stack::FRAME_EVAL;
    interp::invoke_callable(&call[2], args.data2, args.data1, blk::size(args.data2), true, path, path_pos, &name,
                            false, nullptr, mode);
    if (stack::thrown) return;
    stack::store_result_only(stack::top - 1);
}

}  // namespace vyx::natives
