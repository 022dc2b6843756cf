// The generic action entries. Each reads its arguments at stack::arguments,
// turns its refinement integers into the handler's typed parameters, finds
// the handler of the first argument's datatype and calls it.
#include "evaluator/actions.h"

#include "datatypes/context.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "evaluator/spec_positions.h"
#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx::actions {

Entry table[ACTION_COUNT];

namespace {

const Cell UNSET{TYPE_UNSET, 0, 0, 0};

// Action specs, until the boot data supplies them: argument names and the
// refinements, by action number; the entries reach the refinements by name.
constexpr const char* SPECS[ACTION_COUNT + 1] = {
    nullptr,
    "type [any-type!] spec [any-type!]",  // A_MAKE
    "value /seed /secure /only",  // A_RANDOM
    "value [any-type!] field [word!]",  // A_REFLECT
    "type [any-type!] spec [any-type!]",  // A_TO
    "value [any-type!] /part limit [integer!]",  // A_FORM
    "value [any-type!] /only /all /flat /part limit [integer!]",  // A_MOLD
    "parent element /set value",  // A_EVAL_PATH
    nullptr,  // A_UNUSED
    "value1 value2 op",  // A_COMPARE
    "value",  // A_ABSOLUTE
    "value1 value2",  // A_ADD
    "value1 value2",  // A_DIVIDE
    "value1 value2",  // A_MULTIPLY
    "number",  // A_NEGATE
    "number exponent",  // A_POWER
    "value1 value2",  // A_REMAINDER
    "n /to scale /even /down /half-down /floor /ceiling /half-ceiling",  // A_ROUND
    "value1 value2",  // A_SUBTRACT
    "number",  // A_EVEN_Q
    "number",  // A_ODD_Q
    "value1 value2",  // A_AND_T
    "value",  // A_COMPLEMENT
    "value1 value2",  // A_OR_T
    "value1 value2",  // A_XOR_T
    "series value [any-type!] /part length /only /dup count [integer!]",  // A_APPEND
    "series index",  // A_AT
    "series",  // A_BACK
    "series value [any-type!] /part range /only /dup count [integer!]",  // A_CHANGE
    "series",  // A_CLEAR
    "value /part length /deep /types kind",  // A_COPY
    "series value [any-type!] /part length /only /case /same /any /with wild /skip size /last /reverse /tail /match",  // A_FIND
    "series",  // A_HEAD
    "series",  // A_HEAD_Q
    "series",  // A_INDEX_Q
    "series value [any-type!] /part length /only /dup count [integer!]",  // A_INSERT
    "series",  // A_LENGTH_Q
    "origin target /part length",  // A_MOVE
    "series",  // A_NEXT
    "series index",  // A_PICK
    "series index value [any-type!]",  // A_POKE
    "series key value /case",  // A_PUT
    "series /part length /key key-arg",  // A_REMOVE
    "series /part length /skip size",  // A_REVERSE
    "series value [any-type!] /part length /only /case /same /any /with wild /skip size /last /reverse",  // A_SELECT
    "series /case /skip size /compare comparator /part length /all /reverse /stable",  // A_SORT
    "series offset",  // A_SKIP
    "series1 series2",  // A_SWAP
    "series",  // A_TAIL
    "series",  // A_TAIL_Q
    "series /part length /deep /last",  // A_TAKE
    "series /head /tail /auto /lines /all /with str",  // A_TRIM
    "port",  // A_CREATE
    "port",  // A_CLOSE
    "port",  // A_DELETE
    "target field value /case",  // A_MODIFY
    "spec /new /read /write /seek /allow access",  // A_OPEN
    "port",  // A_OPEN_Q
    "target",  // A_QUERY
    "source /part length /seek index /binary /lines /info /as encoding",  // A_READ
    "from to",  // A_RENAME
    "port",  // A_UPDATE
    "destination data /binary /lines /info /append /part length /seek index /allow access /as encoding",  // A_WRITE
};

// The refinement positions of action A, by name.
template <int A>
struct Refs {
    static consteval int at(std::string_view name) { return refinement_index(SPECS[A], name); }
};

inline Cell* arg(int i) { return stack::arguments + i; }
inline Cell* ref_arg(const int* refs, int k) { return refs[k] >= 0 ? stack::arguments + refs[k] : nullptr; }
inline bool flag(const int* refs, int k) { return refs[k] >= 0; }

// The first argument word of the function that is running, for the error of
// an unsupported action.
Cell first_argument_word(const stack::CallName& who) {
    if (!who.symbol) return Cell{TYPE_NONE, 0, 0, 0};
    Node ctx = who.context ? who.context : context::global;
    const Cell* fn = context::get_value_ptr(int32_t(who.symbol), ctx);
    if (!fn) return Cell{TYPE_NONE, 0, 0, 0};
    int t = type_of(fn);
    if (t != TYPE_NATIVE && t != TYPE_ACTION && t != TYPE_FUNCTION && t != TYPE_ROUTINE && t != TYPE_OP)
        return Cell{TYPE_NONE, 0, 0, 0};
    Node spec = fn->data2;
    uint32_t n = blk::size(spec);
    for (uint32_t i = 0; i < n; i++) {
        Cell c = *blk::at(spec, i);
        int ct = type_of(&c);
        if (ct == TYPE_WORD || ct == TYPE_LIT_WORD || ct == TYPE_GET_WORD) {
            c.header = TYPE_WORD;
            return c;
        }
    }
    return Cell{TYPE_NONE, 0, 0, 0};
}

[[noreturn]] void unsupported(const Cell* value) {
    stack::CallName who = stack::calling_function_name();
    Cell name = who.symbol ? word::make_cell(TYPE_WORD, who.context ? who.context : context::global, who.symbol, -1)
                           : words::frame_not_found;
    Cell dt{TYPE_DATATYPE, uint32_t(type_of(value)), 0, 0};
    Cell w = first_argument_word(who);
    raise_error(err::script_expect_arg, &name, &dt, &w);
}

template <typename F>
inline F handler(int action) {
    return reinterpret_cast<F>(get_action_for_arg(action));
}

// Stack handlers: everything is on the stack already.
template <int A>
void stack_entry(const int*) {
    handler<act::Stack>(A)();
}

void make_or_to(int action) {
    Cell* first = arg(0);
    int type = type_of(first) == TYPE_DATATYPE ? int(first->data1) : type_of(first);
    auto h = reinterpret_cast<act::Make>(get_action(type, first, action));
    const Cell* r = h(first, arg(1), type);
    stack::set_last(r);
}

void make_entry(const int*) { make_or_to(A_MAKE); }
void to_entry(const int*) { make_or_to(A_TO); }

void random_entry(const int* refs) {
    using R = Refs<A_RANDOM>;
    handler<act::Random>(A_RANDOM)(arg(0), flag(refs, R::at("seed")), flag(refs, R::at("secure")),
                                   flag(refs, R::at("only")));
}

void reflect_entry(const int*) {
    Cell* field = arg(1);
    handler<act::Reflect>(A_REFLECT)(arg(0), int(field->data2));
}

// form and mold write into a new string; /part cuts it to the limit.
void text_entry(int action, const int* refs, bool only, bool all, bool flat, int part_ref) {
    int limit = NO_LIMIT;
    Cell* part = ref_arg(refs, part_ref);
    if (part) {
        limit = int(int32_t(part->data2));
        if (limit < 1) {
            Cell empty;
            string::make_at(&empty, 1);
            stack::store_result_only(&empty);
            return;
        }
    }
    act::Any h = get_action_for_arg(action);
    stack::keep_result_only();
    Cell* buffer = string::push(16);
    if (action == A_FORM)
        reinterpret_cast<act::Form>(h)(arg(0), buffer, limit);
    else
        reinterpret_cast<act::Mold>(h)(arg(0), buffer, only, all, flat, limit, 0);
    if (part) {
        SeriesBuffer* b = node_buffer(buffer->data2);
        uint32_t max = b->offset + (buffer->data1 + uint32_t(limit)) * b->unit();
        if (b->tail > max) b->tail = max;
    }
    stack::set_last(buffer);
    stack::keep_result_only();
}

void form_entry(const int* refs) { text_entry(A_FORM, refs, false, false, false, Refs<A_FORM>::at("part")); }
void mold_entry(const int* refs) {
    using R = Refs<A_MOLD>;
    text_entry(A_MOLD, refs, flag(refs, R::at("only")), flag(refs, R::at("all")), flag(refs, R::at("flat")),
               R::at("part"));
}

void eval_path_entry(const int* refs) {
    auto h = get_path_action(arg(0), nullptr, arg(1), nullptr);
    const Cell* r = h(arg(0), arg(1), ref_arg(refs, Refs<A_EVAL_PATH>::at("set")), nullptr, false);
    stack::set_last(r);
}

void compare_entry(const int*) {
    int op = type_of(arg(2)) == TYPE_INTEGER ? int(arg(2)->data2) : COMP_EQUAL;
    compare_to_logic(op);
}

void negate_entry(const int*) { handler<act::Negate>(A_NEGATE)(arg(0)); }

void round_entry(const int* refs) {
    using R = Refs<A_ROUND>;
    handler<act::Round>(A_ROUND)(arg(0), ref_arg(refs, R::at("to")), flag(refs, R::at("even")),
                                 flag(refs, R::at("down")), flag(refs, R::at("half-down")), flag(refs, R::at("floor")),
                                 flag(refs, R::at("ceiling")), flag(refs, R::at("half-ceiling")));
}

template <int A>
void even_odd_entry(const int*) {
    bool r = handler<act::EvenOdd>(A)(arg(0));
    logic::box(r);
}

void complement_entry(const int*) { stack::set_last(handler<act::Complement>(A_COMPLEMENT)(arg(0))); }

inline uint32_t series_length_at(const Cell* s) {
    SeriesBuffer* b = node_buffer(s->data2);
    uint32_t n = b->length();
    return n;
}

// /part given as a count or as a position in the same series; answers the
// count, moving `value`'s index back for a negative count.
int resolve_part(Cell* value, Cell* part, bool check_value) {
    int vt = type_of(value);
    if (!is_series_type(vt) || value->data2 == 0) {
        if (check_value) raise_error(err::script_invalid_part, part);
        return type_of(part) == TYPE_INTEGER ? int(int32_t(part->data2)) : 0;
    }
    uint32_t len = series_length_at(value);
    if (value->data1 > len) value->data1 = len;
    int count;
    if (type_of(part) == TYPE_INTEGER) {
        count = int(int32_t(part->data2));
    } else if (type_of(part) == vt && part->data2 == value->data2) {
        uint32_t at = part->data1 > len ? len : part->data1;
        count = int(at) - int(value->data1);
    } else {
        Cell w = refinements::part;
        w.header = TYPE_WORD;
        raise_error(err::script_invalid_refine_arg, &w, part);
    }
    if (count < 0) {
        // (widened: the most negative integer has no int negation)
        uint32_t back = uint32_t(-int64_t(count));
        if (back > value->data1) back = value->data1;
        value->data1 -= back;
        count = int(back);
    }
    return count;
}

template <int A>
void insert_entry(const int* refs) {
    Cell* series = arg(0);
    Cell* value = arg(1);
    int part = -1;
    using R = Refs<A>;
    if (Cell* p = ref_arg(refs, R::at("part"))) {
        if (A == A_CHANGE && type_of(series) == TYPE_IMAGE) {
            part = 0;  // image! takes no /part; its change says so
        } else if (A == A_CHANGE) {
            part = resolve_part(series, p, false);
            if (part < 0) part = 0;
        } else {
            part = resolve_part(value, p, true);
            if (part == 0) return;
        }
    }
    int dup = 1;
    if (Cell* d = ref_arg(refs, R::at("dup"))) {
        dup = int(int32_t(d->data2));
        if (dup < 1) return;
    }
    handler<act::Insert>(A)(series, value, part, flag(refs, R::at("only")), dup);
}

void clear_entry(const int*) { handler<act::Clear>(A_CLEAR)(arg(0)); }

void copy_entry(const int* refs) {
    using R = Refs<A_COPY>;
    Cell* kind = ref_arg(refs, R::at("types"));
    if (kind && type_of(kind) != TYPE_DATATYPE && type_of(kind) != TYPE_TYPESET) {
        Cell name = word::load("copy");
        Cell dt{TYPE_DATATYPE, uint32_t(type_of(kind)), 0, 0};
        Cell w = word::load("kind");
        raise_error(err::script_expect_arg, &name, &dt, &w);
    }
    act::Copy h = handler<act::Copy>(A_COPY);
    Cell* fresh = stack::push(&UNSET);
    const Cell* r = h(arg(0), fresh, ref_arg(refs, R::at("part")), flag(refs, R::at("deep")), kind);
    stack::set_last(r);
}

void find_entry(const int* refs) {
    using R = Refs<A_FIND>;
    const Cell* r = handler<act::Find>(A_FIND)(
        arg(0), arg(1), ref_arg(refs, R::at("part")), flag(refs, R::at("only")), flag(refs, R::at("case")),
        flag(refs, R::at("same")), flag(refs, R::at("any")), ref_arg(refs, R::at("with")), ref_arg(refs, R::at("skip")),
        flag(refs, R::at("last")), flag(refs, R::at("reverse")), flag(refs, R::at("tail")), flag(refs, R::at("match")));
    stack::set_last(r);
}

void select_entry(const int* refs) {
    using R = Refs<A_SELECT>;
    // A map! looks its key up straight.
    if (type_of(arg(0)) == TYPE_MAP) {
        stack::set_last(map::select_value(arg(0), arg(1), flag(refs, R::at("case")), flag(refs, R::at("same"))));
        return;
    }
    const Cell* r = handler<act::Find>(A_SELECT)(
        arg(0), arg(1), ref_arg(refs, R::at("part")), flag(refs, R::at("only")), flag(refs, R::at("case")),
        flag(refs, R::at("same")), flag(refs, R::at("any")), ref_arg(refs, R::at("with")), ref_arg(refs, R::at("skip")),
        flag(refs, R::at("last")), flag(refs, R::at("reverse")), false, false);
    stack::set_last(r);
}

void length_entry(const int*) {
    int n = handler<act::Length>(A_LENGTH_Q)(arg(0));
    if (n < 0)
        none::box();
    else
        *stack::arguments = Cell{TYPE_INTEGER, 0, uint32_t(n), 0};
}

void move_entry(const int* refs) {
    using R = Refs<A_MOVE>;
    stack::set_last(handler<act::Move>(A_MOVE)(arg(0), arg(1), ref_arg(refs, R::at("part"))));
}

void pick_entry(const int*) {
    stack::set_last(handler<act::Pick>(A_PICK)(arg(0), pick_poke_index(arg(1)), arg(1)));
}

void poke_entry(const int*) {
    stack::set_last(handler<act::Poke>(A_POKE)(arg(0), pick_poke_index(arg(1)), arg(2), arg(1)));
}

void put_entry(const int* refs) {
    using R = Refs<A_PUT>;
    stack::set_last(handler<act::Put>(A_PUT)(arg(0), arg(1), arg(2), flag(refs, R::at("case"))));
}

void remove_entry(const int* refs) {
    using R = Refs<A_REMOVE>;
    handler<act::Remove>(A_REMOVE)(arg(0), ref_arg(refs, R::at("part")), ref_arg(refs, R::at("key")));
}

void reverse_entry(const int* refs) {
    using R = Refs<A_REVERSE>;
    handler<act::Reverse>(A_REVERSE)(arg(0), ref_arg(refs, R::at("part")), ref_arg(refs, R::at("skip")));
}

void sort_entry(const int* refs) {
    using R = Refs<A_SORT>;
    const Cell* r =
        handler<act::Sort>(A_SORT)(arg(0), flag(refs, R::at("case")), ref_arg(refs, R::at("skip")),
                                   ref_arg(refs, R::at("compare")), ref_arg(refs, R::at("part")),
                                   flag(refs, R::at("all")), flag(refs, R::at("reverse")), flag(refs, R::at("stable")));
    // A /compare function that broke out of the sort leaves the exit pending.
    if (!stack::thrown) stack::set_last(r);
}

void swap_entry(const int*) { handler<act::Swap>(A_SWAP)(arg(0), arg(1)); }

void take_entry(const int* refs) {
    using R = Refs<A_TAKE>;
    stack::set_last(handler<act::Take>(A_TAKE)(arg(0), ref_arg(refs, R::at("part")), flag(refs, R::at("deep")),
                                               flag(refs, R::at("last"))));
}

void trim_entry(const int* refs) {
    using R = Refs<A_TRIM>;
    handler<act::Trim>(A_TRIM)(arg(0), flag(refs, R::at("head")), flag(refs, R::at("tail")), flag(refs, R::at("auto")),
                               flag(refs, R::at("lines")), flag(refs, R::at("all")), ref_arg(refs, R::at("with")));
}

template <int A>
void port_one_entry(const int*) {
    stack::set_last(handler<act::PortOne>(A)(arg(0)));
}

void modify_entry(const int* refs) {
    using R = Refs<A_MODIFY>;
    stack::set_last(handler<act::Modify>(A_MODIFY)(arg(0), arg(1), arg(2), flag(refs, R::at("case"))));
}

void open_entry(const int* refs) {
    using R = Refs<A_OPEN>;
    stack::set_last(handler<act::Open>(A_OPEN)(arg(0), flag(refs, R::at("new")), flag(refs, R::at("read")),
                                               flag(refs, R::at("write")), flag(refs, R::at("seek")),
                                               ref_arg(refs, R::at("allow"))));
}

void read_entry(const int* refs) {
    using R = Refs<A_READ>;
    stack::set_last(handler<act::Read>(A_READ)(arg(0), ref_arg(refs, R::at("part")), ref_arg(refs, R::at("seek")),
                                               flag(refs, R::at("binary")), flag(refs, R::at("lines")),
                                               flag(refs, R::at("info")), ref_arg(refs, R::at("as"))));
}

void rename_entry(const int*) { stack::set_last(handler<act::Rename>(A_RENAME)(arg(0), arg(1))); }

void write_entry(const int* refs) {
    using R = Refs<A_WRITE>;
    stack::set_last(handler<act::Write>(A_WRITE)(
        arg(0), arg(1), flag(refs, R::at("binary")), flag(refs, R::at("lines")), flag(refs, R::at("info")),
        flag(refs, R::at("append")), ref_arg(refs, R::at("part")), ref_arg(refs, R::at("seek")),
        ref_arg(refs, R::at("allow")), ref_arg(refs, R::at("as"))));
}

struct ActionInfo {
    const char* word;
    Entry entry;
};

// The words and entries by action number.
const ActionInfo infos[ACTION_COUNT] = {
    {"make", make_entry},
    {"random", random_entry},
    {"reflect", reflect_entry},
    {"to", to_entry},
    {"form", form_entry},
    {"mold", mold_entry},
    {nullptr, eval_path_entry},
    {nullptr, nullptr},
    {nullptr, compare_entry},
    {"absolute", stack_entry<A_ABSOLUTE>},
    {"add", stack_entry<A_ADD>},
    {"divide", stack_entry<A_DIVIDE>},
    {"multiply", stack_entry<A_MULTIPLY>},
    {"negate", negate_entry},
    {"power", stack_entry<A_POWER>},
    {"remainder", stack_entry<A_REMAINDER>},
    {"round", round_entry},
    {"subtract", stack_entry<A_SUBTRACT>},
    {"even?", even_odd_entry<A_EVEN_Q>},
    {"odd?", even_odd_entry<A_ODD_Q>},
    {"and~", stack_entry<A_AND_T>},
    {"complement", complement_entry},
    {"or~", stack_entry<A_OR_T>},
    {"xor~", stack_entry<A_XOR_T>},
    {"append", insert_entry<A_APPEND>},
    {"at", stack_entry<A_AT>},
    {"back", stack_entry<A_BACK>},
    {"change", insert_entry<A_CHANGE>},
    {"clear", clear_entry},
    {"copy", copy_entry},
    {"find", find_entry},
    {"head", stack_entry<A_HEAD>},
    {"head?", stack_entry<A_HEAD_Q>},
    {"index?", stack_entry<A_INDEX_Q>},
    {"insert", insert_entry<A_INSERT>},
    {"length?", length_entry},
    {"move", move_entry},
    {"next", stack_entry<A_NEXT>},
    {"pick", pick_entry},
    {"poke", poke_entry},
    {"put", put_entry},
    {"remove", remove_entry},
    {"reverse", reverse_entry},
    {"select", select_entry},
    {"sort", sort_entry},
    {"skip", stack_entry<A_SKIP>},
    {"swap", swap_entry},
    {"tail", stack_entry<A_TAIL>},
    {"tail?", stack_entry<A_TAIL_Q>},
    {"take", take_entry},
    {"trim", trim_entry},
    {"create", port_one_entry<A_CREATE>},
    {"close", port_one_entry<A_CLOSE>},
    {"delete", port_one_entry<A_DELETE>},
    {"modify", modify_entry},
    {"open", open_entry},
    {"open?", port_one_entry<A_OPEN_Q>},
    {"query", port_one_entry<A_QUERY>},
    {"read", read_entry},
    {"rename", rename_entry},
    {"update", port_one_entry<A_UPDATE>},
    {"write", write_entry},
};

}  // namespace

void build_action_table() {
    for (int a = 0; a < ACTION_COUNT; a++) table[a] = infos[a].entry;
}

const char* spec_text(int action) { return SPECS[action]; }
const char* word_of(int action) { return infos[action - 1].word; }

act::Any get_action(int type, const Cell* value, int action) {
    act::Any h = get_handler(type, action);
    if (!h) unsupported(value);
    return h;
}

act::Any get_action_for_arg(int action) {
    const Cell* first = stack::arguments;
    return get_action(type_of(first), first, action);
}

act::EvalPath get_path_action(const Cell* value, const Cell* path, const Cell* element, const Cell* previous) {
    act::Any h = get_handler(type_of(value), A_EVAL_PATH);
    if (h) return reinterpret_cast<act::EvalPath>(h);
    Cell dt{TYPE_DATATYPE, uint32_t(type_of(value)), 0, 0};
    if (path) {
        Cell p = *path;
        Cell prev = previous ? *previous : Cell{TYPE_NONE, 0, 0, 0};
        raise_error(err::script_bad_path_type, &p, &dt, &prev);
    }
    raise_error(err::script_bad_path_type2, element, &dt);
}

int pick_poke_index(const Cell* index) {
    switch (type_of(index)) {
    case TYPE_LOGIC: return index->data1 ? 1 : 2;
    case TYPE_CHAR: case TYPE_INTEGER: return int(int32_t(index->data2));
    default: return 0;
    }
}

bool compare_values(Cell* a, Cell* b, int op) {
    int ordering;
    switch (type_of(a)) {
    case TYPE_FUNCTION: case TYPE_ROUTINE:
        ordering = type_of(b) != type_of(a) ? NOT_COMPARABLE : a->data3 < b->data3 ? -1 : a->data3 > b->data3 ? 1 : 0;
        break;
    default: {
        act::Any h = get_handler(type_of(a), A_COMPARE);
        ordering = h ? reinterpret_cast<act::Compare>(h)(a, b, op) : NOT_COMPARABLE;
    }
    }
    if (ordering == NOT_COMPARABLE) {
        switch (op) {
        case COMP_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_LIT_STRICT_EQUAL: case COMP_LIT_EQUAL:
        case COMP_FIND:
            return false;
        case COMP_NOT_EQUAL: return true;
        default: raise_error(err::script_invalid_compare, a, b);
        }
    }
    switch (op) {
    case COMP_NOT_EQUAL: return ordering != 0;
    case COMP_LESSER: return ordering < 0;
    case COMP_LESSER_EQUAL: return ordering < 1;
    case COMP_GREATER: return ordering >= 1;
    case COMP_GREATER_EQUAL: return ordering >= 0;
    default: return ordering == 0;
    }
}

void compare_to_logic(int op) {
    bool r = compare_values(stack::arguments, stack::arguments + 1, op);
    logic::box(r);
}

}  // namespace vyx::actions
