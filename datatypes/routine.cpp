// routine!: library routines written in C++. A routine is called like a
// function (its arguments gathered by its spec onto the stack) but runs
// native code, found by index in the routine code table, which reads its
// arguments at stack::arguments and writes the result slot.
#include <vector>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/registry.h"
#include "runtime/cells.h"
#include "runtime/stack.h"

namespace vyx {

namespace routine {

namespace {
// Index 0 stays empty: 0 means "no code".
std::vector<Code>& table() {
    static std::vector<Code> t{nullptr};
    return t;
}
constexpr uint32_t ARG_SHIFT = 25;
constexpr uint32_t ARG_MASK = 0x1Fu << ARG_SHIFT;
constexpr uint32_t FLAG_RAW = 0x8000;
}  // namespace

uint32_t register_code(Code code) {
    table().push_back(code);
    return uint32_t(table().size() - 1);
}

Code code_at(uint32_t index) { return index < table().size() ? table()[index] : nullptr; }

Cell* push_new(const Cell* spec, const Cell* body, uint32_t code, bool raw) {
    Cell* fn = function::push_new(spec, nullptr, 0, code, raw ? FLAG_RAW : 0);
    Cell* m = function::more(fn);
    m[function::MORE_BODY] = body ? *body : Cell{TYPE_NONE, 0, 0, 0};
    // Count the plain words of the spec: the routine's argument count.
    uint32_t count = 0;
    Cell s{TYPE_BLOCK, 0, fn->data2, 0};
    uint32_t n = blk::size(s.data2);
    for (uint32_t i = 0; i < n; i++) {
        const Cell* c = blk::at(s.data2, i);
        if (type_of(c) == TYPE_WORD) count++;
    }
    fn->header = (fn->header & ~(ARG_MASK | TYPE_MASK)) | TYPE_ROUTINE | ((count & 0x1F) << ARG_SHIFT);
    *context::owner_of(fn->data1) = *fn;
    return fn;
}

int arg_count(const Cell* routine) { return int((routine->header & ARG_MASK) >> ARG_SHIFT); }

void register_type() {
    Registration(TYPE_ROUTINE, TYPE_FUNCTION, "routine!")
        .inherit(A_REFLECT)
        .on<A_FORM>(function::form)
        .on<A_MOLD>(function::mold)
        .on<A_COMPARE>(function::compare)
        .commit();
}

}  // namespace routine
}  // namespace vyx
