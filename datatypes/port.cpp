#include "datatypes/port.h"

#include <algorithm>

#include "boot/system_object.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "evaluator/call.h"
#include "evaluator/helpers.h"
#include "evaluator/arg_frame.h"  // layer: a port forwards its actions to functions of the width their spec gives
#include "evaluator/interpreter.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/cycle_stack.h"
#include "runtime/raise.h"

namespace vyx::port {

namespace {

constexpr uint32_t PORT_CLASS = 2;

const Cell NONE_VALUE{TYPE_NONE, 0, 0, 0};

int32_t sym(const char* name) { return symbol::make(name); }

// The value of a field, or null when the object has no such field.
Cell* field(const Cell* obj, const char* name) {
    int32_t n = object::find_field(obj, sym(name));
    return n < 0 ? nullptr : object::value_at(obj, uint32_t(n));
}

[[noreturn]] void access_error(err::Id id, const Cell* arg = nullptr) {
    if (!arg) raise_error(id);
    Cell a = *arg;
    raise_error(id, &a);
}

// ---------------------------------------------------------------- make and mold

const Cell* make(Cell*, Cell* spec_in, int) {
    collector::Rooted<3> r;
    Cell& spec = r[0];
    Cell& port = r[1];
    if (type_of(spec_in) == TYPE_OBJECT) {
        spec = *spec_in;
    } else {
        const Cell* parts = system_object::field({"standard", "url-parts"});
        Cell proto = parts ? *parts : NONE_VALUE;
        if (!object::make(&proto, spec_in, &spec)) return stack::arguments;  // an exit is on its way
    }
    Cell scheme = object::field_count(&spec) ? *object::value_at(&spec, 0) : NONE_VALUE;
    if (type_of(&scheme) != TYPE_WORD) access_error(err::access_no_scheme, &spec);
    const Cell* proto = system_object::field({"standard", "port"});
    if (!proto || type_of(proto) != TYPE_OBJECT) raise_error(err::internal_not_done);
    object::copy_object(proto, &port, false, false, nullptr);
    set_cell_type(&port, TYPE_PORT);
    port.data2 = PORT_CLASS;
    *context::owner_of(port.data1) = port;
    object::put_field(&port, sym("spec"), &spec);
    object::put_field(&port, sym("scheme"), &scheme);
    const Cell* schemes = system_object::field({"schemes"});
    const Cell* found = schemes && is_any_block(type_of(schemes)) ? block::select_word(schemes, &scheme) : &NONE_VALUE;
    if (type_of(found) != TYPE_OBJECT) access_error(err::access_unknown_scheme, &spec);
    Cell* actor = field(found, "actor");
    if (!actor || (type_of(actor) != TYPE_OBJECT && type_of(actor) != TYPE_HANDLE))
        access_error(err::access_invalid_actor);
    r[2] = *actor;
    object::put_field(&port, sym("actor"), &r[2]);
    *stack::arguments = port;
    return stack::arguments;
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    if (mold_cycle_marker(value, buffer, &part, true)) return part;
    part = string::concatenate_literal(buffer, "make port! [", part);
    part = object::mold_body(value, buffer, only, all, flat, part, indent);
    return string::concatenate_literal(buffer, "]", part);
}

int form(Cell* value, Cell* buffer, int part) { return mold(value, buffer, false, false, false, part, 0); }

// Ports compare as objects do, with ports only: a port is equal to itself.
int compare(Cell* a, Cell* b, int op) {
    if (type_of(b) != TYPE_PORT) return NOT_COMPARABLE;
    Cell x = *a, y = *b;
    set_cell_type(&x, TYPE_OBJECT);
    set_cell_type(&y, TYPE_OBJECT);
    return object::compare(&x, &y, op);
}

// ---------------------------------------------------------------- forwarding

// The arguments of a forwarded call, in the action's spec order: the port,
// the action's arguments, then each refinement as a logic! followed by its
// arguments (none when absent).
struct Args {
    Cell cells[24];
    uint32_t count = 0;

    Args& value(const Cell& c) {
        cells[count++] = c;
        return *this;
    }
    Args& flag(bool on) { return value(Cell{TYPE_LOGIC, on ? 1u : 0u, 0, 0}); }
    // A refinement with one argument: given when the cell is.
    Args& refine(const Cell* c) {
        flag(c != nullptr);
        return value(c ? *c : NONE_VALUE);
    }
    // A refinement whose argument arrives as an integer (absent: `absent`).
    Args& refine_count(int n, bool given) {
        flag(given);
        return value(given ? Cell{TYPE_INTEGER, 0, uint32_t(n), 0} : NONE_VALUE);
    }
};

// The number of argument slots of a function before its locals: arguments,
// refinement flags and refinement arguments.
uint32_t argument_slots(const Cell* fn) { return interp::arg_frame(fn)->width; }

// The result of the last forwarded call: read by the action entry at once.
Cell forwarded;

// Calls the actor's function named `action` with the arguments; answers its result.
const Cell* call_actor(const char* action, const Args& args) {
    Cell port = args.cells[0];
    Cell* actor = field(&port, "actor");
    if (!actor || type_of(actor) != TYPE_OBJECT) access_error(err::access_invalid_port);
    Cell* fn = field(actor, action);
    if (!fn || type_of(fn) != TYPE_FUNCTION) access_error(err::access_no_port_action);
    Cell f = *fn;
    Cell name = series::named_word(action);
    uint32_t count = std::min(args.count, argument_slots(&f));
    Cell* saved = stack::top;
    Cell* result = call::call_function(&f, args.cells, count, &name);
    forwarded = *result;
    if (!stack::thrown) stack::top = saved;
    return &forwarded;
}

inline Args with_port(const Cell* port) {
    Args a;
    a.value(*port);
    return a;
}

// Handlers whose entries leave the result slot to them.
void answer(const Cell* result) { *stack::arguments = *result; }

template <const char* Name>
void forward_stack_port() {
    answer(call_actor(Name, with_port(stack::arguments)));
}

template <const char* Name>
void forward_stack_second() {
    answer(call_actor(Name, with_port(stack::arguments).value(stack::arguments[1])));
}

template <const char* Name>
const Cell* forward_port_one(Cell* port) {
    return call_actor(Name, with_port(port));
}

constexpr char W_AT[] = "at", W_SKIP[] = "skip", W_BACK[] = "back", W_HEAD[] = "head", W_HEAD_Q[] = "head?",
               W_INDEX_Q[] = "index?", W_NEXT[] = "next", W_TAIL[] = "tail", W_TAIL_Q[] = "tail?",
               W_CREATE[] = "create", W_CLOSE[] = "close", W_DELETE[] = "delete", W_QUERY[] = "query",
               W_UPDATE[] = "update";

const Cell* pick(Cell* port, int, Cell* index) { return call_actor("pick", with_port(port).value(*index)); }

void clear(Cell* port) { answer(call_actor("clear", with_port(port))); }

int length(Cell* port) {
    const Cell* r = call_actor("length?", with_port(port));
    return type_of(r) == TYPE_INTEGER ? int(int32_t(r->data2)) : -1;
}

// append, insert and change: /part arrives as a count (-1 absent), /dup as
// a count given only above 1.
template <const char* Name>
void forward_insert(Cell* port, Cell* value, int part, bool only, int dup) {
    Args a = with_port(port);
    a.value(*value).refine_count(part, part >= 0).flag(only).refine_count(dup, dup > 1);
    answer(call_actor(Name, a));
}
constexpr char W_APPEND[] = "append", W_INSERT[] = "insert", W_CHANGE[] = "change";

const Cell* find(Cell* port, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                 Cell* skip, bool last, bool reverse, bool tail, bool match) {
    Args a = with_port(port);
    a.value(*value).refine(part).flag(only).flag(case_).flag(same).flag(any).refine(with).refine(skip);
    a.flag(last).flag(reverse).flag(tail).flag(match);
    return call_actor("find", a);
}

const Cell* select(Cell* port, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                   Cell* skip, bool last, bool reverse, bool, bool) {
    Args a = with_port(port);
    a.value(*value).refine(part).flag(only).flag(case_).flag(same).flag(any).refine(with).refine(skip);
    a.flag(last).flag(reverse);
    return call_actor("select", a);
}

const Cell* move(Cell* port, Cell* target, Cell* part) {
    return call_actor("move", with_port(port).value(*target).refine(part));
}

const Cell* copy(Cell* port, Cell*, Cell* part, bool deep, Cell* types) {
    return call_actor("copy", with_port(port).refine(part).flag(deep).refine(types));
}

const Cell* modify(Cell* port, Cell* field_arg, Cell* value, bool case_) {
    return call_actor("modify", with_port(port).value(*field_arg).value(*value).flag(case_));
}

const Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow) {
    return call_actor("open", with_port(port).flag(new_).flag(read).flag(write).flag(seek).refine(allow));
}

const Cell* poke(Cell* port, int, Cell* value, Cell* index) {
    return call_actor("poke", with_port(port).value(*index).value(*value));
}

const Cell* put(Cell* port, Cell* key, Cell* value, bool case_) {
    return call_actor("put", with_port(port).value(*key).value(*value).flag(case_));
}

void remove(Cell* port, Cell* part, Cell* key) { answer(call_actor("remove", with_port(port).refine(part).refine(key))); }

void reverse(Cell* port, Cell* part, Cell* skip) {
    answer(call_actor("reverse", with_port(port).refine(part).refine(skip)));
}

const Cell* rename(Cell* port, Cell* to) { return call_actor("rename", with_port(port).value(*to)); }

const Cell* sort(Cell* port, bool case_, Cell* skip, Cell* compare, Cell* part, bool all, bool reverse, bool stable) {
    Args a = with_port(port);
    a.flag(case_).refine(skip).refine(compare).refine(part).flag(all).flag(reverse).flag(stable);
    return call_actor("sort", a);
}

void swap(Cell* port, Cell* other) { answer(call_actor("swap", with_port(port).value(*other))); }

const Cell* take(Cell* port, Cell* part, bool deep, bool last) {
    return call_actor("take", with_port(port).refine(part).flag(deep).flag(last));
}

void trim(Cell* port, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    answer(call_actor("trim", with_port(port).flag(head).flag(tail).flag(auto_).flag(lines).flag(all).refine(with)));
}

// read: open (with /seek when the read has it), copy with the read's /part,
// close; the copy's result is the read's.
const Cell* read(Cell* port, Cell* part, Cell* seek, bool, bool, bool, Cell*) {
    Cell p = *port;
    call_actor("open", with_port(&p).flag(false).flag(false).flag(false).flag(seek != nullptr).refine(nullptr));
    if (stack::thrown) return &forwarded;
    Cell* result = stack::push(call_actor("copy", with_port(&p).refine(part).flag(false).refine(nullptr)));
    if (stack::thrown) return &forwarded;
    call_actor("close", with_port(&p));
    if (stack::thrown) return &forwarded;
    forwarded = *result;
    return &forwarded;
}

// write: open with /write (and /seek), insert the data (with an integer
// /part), copy with the write's /part, close; the copy's result is the write's.
const Cell* write(Cell* port, Cell* data, bool, bool, bool, bool, Cell* part, Cell* seek, Cell*, Cell*) {
    Cell p = *port;
    Cell d = *data;
    call_actor("open", with_port(&p).flag(false).flag(false).flag(true).flag(seek != nullptr).refine(nullptr));
    if (stack::thrown) return &forwarded;
    bool counted = part && type_of(part) == TYPE_INTEGER;
    Args insert = with_port(&p);
    insert.value(d).refine_count(counted ? int(int32_t(part->data2)) : -1, counted).flag(false).refine_count(1, false);
    call_actor("insert", insert);
    if (stack::thrown) return &forwarded;
    Cell* result = stack::push(call_actor("copy", with_port(&p).refine(part).flag(false).refine(nullptr)));
    if (stack::thrown) return &forwarded;
    call_actor("close", with_port(&p));
    if (stack::thrown) return &forwarded;
    forwarded = *result;
    return &forwarded;
}

}  // namespace

void register_type() {
    Registration(TYPE_PORT, TYPE_OBJECT, "port!")
        .on<A_MAKE>(make)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(compare)
        .inherit({A_REFLECT, A_EVAL_PATH})
        .on<A_APPEND>(forward_insert<W_APPEND>)
        .on<A_INSERT>(forward_insert<W_INSERT>)
        .on<A_CHANGE>(forward_insert<W_CHANGE>)
        .on<A_AT>(forward_stack_second<W_AT>)
        .on<A_SKIP>(forward_stack_second<W_SKIP>)
        .on<A_PICK>(pick)
        .on<A_BACK>(forward_stack_port<W_BACK>)
        .on<A_HEAD>(forward_stack_port<W_HEAD>)
        .on<A_HEAD_Q>(forward_stack_port<W_HEAD_Q>)
        .on<A_INDEX_Q>(forward_stack_port<W_INDEX_Q>)
        .on<A_NEXT>(forward_stack_port<W_NEXT>)
        .on<A_TAIL>(forward_stack_port<W_TAIL>)
        .on<A_TAIL_Q>(forward_stack_port<W_TAIL_Q>)
        .on<A_CLEAR>(clear)
        .on<A_LENGTH_Q>(length)
        .on<A_CREATE>(forward_port_one<W_CREATE>)
        .on<A_CLOSE>(forward_port_one<W_CLOSE>)
        .on<A_DELETE>(forward_port_one<W_DELETE>)
        .on<A_QUERY>(forward_port_one<W_QUERY>)
        .on<A_UPDATE>(forward_port_one<W_UPDATE>)
        .on<A_FIND>(find)
        .on<A_SELECT>(select)
        .on<A_MOVE>(move)
        .on<A_COPY>(copy)
        .on<A_MODIFY>(modify)
        .on<A_OPEN>(open)
        .on<A_POKE>(poke)
        .on<A_PUT>(put)
        .on<A_REMOVE>(remove)
        .on<A_REVERSE>(reverse)
        .on<A_RENAME>(rename)
        .on<A_SORT>(sort)
        .on<A_SWAP>(swap)
        .on<A_TAKE>(take)
        .on<A_TRIM>(trim)
        .on<A_READ>(read)
        .on<A_WRITE>(write)
        .commit();
}

}  // namespace vyx::port
