// Trace callbacks written in the language: the adapter between the lexer's
// Tracer and a function! or routine! value.
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/simple.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/call.h"
#include "evaluator/lexer.h"
#include "evaluator/lexer_internal.h"
#include "runtime/stack.h"
#include "runtime/memory.h"

namespace vyx::lexer {

namespace {

bool call_value(void* context, TraceCall& call) {
    auto* self = static_cast<FunctionTracer*>(context);
    Cell args[5];
    args[0] = word::make_cell(TYPE_WORD, context::global, symbol::make(event_name(call.event)), -1);
    args[1] = *call.input;
    args[2] = call.type;
    args[3] = Cell{TYPE_INTEGER, 0, uint32_t(call.line), 0};
    args[4] = call.token;
    Cell* top = stack::top;
    Cell* result = call::call_function(self->fn, args, 5);
    bool answer = logic::truth(result);
    stack::top = top;
    // A break, throw or return left pending ends the scan; the native that
    // started it hands the exit on.
    if (stack::thrown != stack::EXIT_NONE) throw QuietStop{false};
    return answer;
}

}  // namespace

void make_function_tracer(const Cell* fn, FunctionTracer& out) {
    out.fn = fn;
    out.tracer = Tracer{call_value, &out, EV_ALL};
    int t = type_of(fn);
    if (t != TYPE_FUNCTION && t != TYPE_ROUTINE) return;
    const Cell* body = &function::more(fn)[function::MORE_BODY];
    if (type_of(body) != TYPE_BLOCK) return;
    SeriesBuffer* b = node_buffer(body->data2);
    const Cell* first = b->cell_head() + body->data1;
    if (first >= b->cell_tail() || type_of(first) != TYPE_BLOCK) return;
    // A body that starts with a block of event words listens to those only.
    SeriesBuffer* events = node_buffer(first->data2);
    std::vector<std::string> names;
    for (const Cell* c = events->cell_head() + first->data1; c < events->cell_tail(); c++)
        if (type_of(c) == TYPE_WORD) names.push_back(symbol::name(int32_t(c->data2)));
    std::vector<std::string_view> views(names.begin(), names.end());
    out.tracer.mask = event_mask_of_names(views.data(), int(views.size()));
}

}  // namespace vyx::lexer
