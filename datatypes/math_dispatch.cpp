#include "datatypes/math_dispatch.h"

#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx::math {

int action_of(int op) {
    static const int actions[] = {A_ADD, A_SUBTRACT, A_MULTIPLY, A_DIVIDE, A_REMAINDER, A_OR_T, A_AND_T, A_XOR_T};
    return actions[op];
}

const char* action_name(int op) {
    static const char* names[] = {"add", "subtract", "multiply", "divide", "remainder", "or~", "and~", "xor~"};
    return op >= 0 && op < 8 ? names[op] : "???";
}

void not_related(const char* action, int type) {
    Cell word = series::named_word(action);
    Cell dt{TYPE_DATATYPE, uint32_t(type), 0, 0};
    raise_error(err::script_not_related, &word, &dt);
}

void run_stack_handler(int type, int action) {
    auto h = reinterpret_cast<act::Stack>(get_handler(type, action));
    if (!h) raise_error(err::internal_not_done);
    h();
}

void swap_arguments() {
    Cell t = stack::arguments[0];
    stack::arguments[0] = stack::arguments[1];
    stack::arguments[1] = t;
}

}  // namespace vyx::math
