#include "runtime/raise.h"

#include "datatypes/error.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "evaluator/protect.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/output.h"

namespace vyx {

void (*error_raised_hook)(const VyxError& e) = nullptr;

[[noreturn]] void raise_error(err::Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    VyxError e{id, {}, Cell{TYPE_NONE, 0, 0, 0}};
    const Cell* args[3] = {arg1, arg2, arg3};
    for (int i = 0; i < 3; i++) e.args[i] = args[i] ? *args[i] : Cell{TYPE_NONE, 0, 0, 0};
    error::attach_value(e);
    protect::hold(e);
    if (error_raised_hook) error_raised_hook(e);
    throw e;
}

[[noreturn]] void raise_error_value(const Cell* error, bool skip_top) {
    VyxError e = error::to_raised(error);
    protect::hold(e);
    error::note_raise(&e.value, skip_top);
    if (error_raised_hook) error_raised_hook(e);
    throw e;
}

void push_error_result(err::Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    stack::push_call_frame(&words::frame_body);
    collector::Rooted<2> r;
    error::create(id, arg1, arg2, arg3, &r[0]);
    error::note_raise(&r[0], false);
    std::string report = error::report(&r[0]);
    string::load(reinterpret_cast<const uint8_t*>(report.data()), uint32_t(report.size()), 0, &r[1]);
    run_print_hooks(&r[1], true);
    stack::pop_frame_discard();
    const Cell unset{TYPE_UNSET, 0, 0, 0};
    stack::store_result_only(&unset);
}

}  // namespace vyx
