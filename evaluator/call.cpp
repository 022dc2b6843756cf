#include "evaluator/call.h"

#include "datatypes/function.h"
#include "datatypes/runtime_words.h"
#include "datatypes/simple.h"
#include "evaluator/actions.h"
#include "evaluator/helpers.h"
#include "evaluator/arg_frame.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx::call {

Cell* call_function(const Cell* fn_in, const Cell* args, uint32_t count, const Cell* name_in) {
    interp::check_machine_stack();
    Cell fn = type_of(fn_in) == TYPE_OP ? op::source_of(fn_in) : *fn_in;
    Cell name = name_in && type_of(name_in) == TYPE_WORD ? *name_in : words::frame_anon;
    int t = type_of(&fn);
    if (t != TYPE_NATIVE && t != TYPE_ACTION && t != TYPE_FUNCTION && t != TYPE_ROUTINE) {
        Cell dt{TYPE_DATATYPE, uint32_t(t), 0, 0};
        raise_error(err::script_invalid_type, &dt);
    }
    Cell* base = stack::top;
    stack::push(&fn);  // keeps the callee reachable while it runs
    if (t == TYPE_FUNCTION)
        stack::push_function_frame(name.data2, name.data1, fn.data1);
    else
        stack::push_call_frame(&name);
    for (uint32_t i = 0; i < count; i++) stack::push(args + i);
    // The arguments given are checked against the spec, as a call from
    // source would be: C++ callers pass whatever they hold.
    Node desc = interp::arg_frame_node(&fn);
    {
        uint32_t slot = 0, k = 0;
        for (const interp::ArgSlot& c : *interp::arg_frame_at(desc)) {
            if (slot >= count) break;
            if (c.kind != interp::ARG_REFINEMENT) helpers::typecheck_argument(int(k++), &c.types, stack::arguments + slot);
            slot++;
        }
    }
    if (t == TYPE_FUNCTION || t == TYPE_ROUTINE) {
        // Fill the rest of the frame's layout the way an unused refinement is passed.
        const interp::ArgFrame* af = interp::arg_frame_at(desc);
        for (uint32_t i = count; i < af->count; i++) {
            if (af->slots[i].kind == interp::ARG_REFINEMENT)
                logic::push(false);
            else
                none::push();
        }
        if (af->locals > 0) function::push_unused_refinement(int(af->locals));
        if (t == TYPE_FUNCTION)
            interp::invoke_function_value(&fn);
        else
            interp::invoke_routine_value(&fn);
        if (stack::thrown) return stack::top - 1;
        if (t == TYPE_FUNCTION)
            stack::pop_function_frame();
        else
            stack::pop_frame_keep_result();
    } else {
        // Natives and actions take the mandatory arguments only; every
        // refinement is absent.
        if (t == TYPE_NATIVE) {
            natives::Entry entry = natives::table[fn.data1 - 1];
            if (!entry) raise_error(err::internal_not_done);
            entry(1, interp::NO_REFINEMENTS.data());
        } else {
            actions::Entry entry = actions::table[fn.data1 - 1];
            if (!entry) raise_error(err::internal_not_done);
            entry(interp::NO_REFINEMENTS.data());
        }
        if (stack::thrown) return stack::top - 1;
        stack::pop_frame_keep_result();
    }
    *base = *(stack::top - 1);
    stack::top = base + 1;
    return base;
}

}  // namespace vyx::call
