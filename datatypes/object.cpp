#include "datatypes/object.h"

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "datatypes/word.h"
#include "evaluator/call.h"
#include "runtime/cells.h"
#include "evaluator/interpreter.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/cycle_stack.h"
#include "datatypes/ownership.h"
#include "runtime/raise.h"

namespace vyx::object {

namespace {

uint32_t class_counter = FIRST_CLASS_ID - 1;

// Answered for an absent field. Callers get it as const: writing a value
// into it would turn every later absent field into that value.
const Cell SHARED_NONE{TYPE_NONE, 0, 0, 0};

inline bool is_object_kind(int t) { return t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT; }
inline Cell integer_cell(int32_t v) { return Cell{TYPE_INTEGER, 0, uint32_t(v), 0}; }
inline Cell logic_cell(bool v) { return Cell{TYPE_LOGIC, v ? 1u : 0u, 0, 0}; }
inline int32_t canon(int32_t s) { return symbol::resolve(s); }

inline int32_t sym_on_change() { return word::symbol_of(&words::on_change); }
inline int32_t sym_on_deep_change() { return word::symbol_of(&words::on_deep_change); }

bool is_handler_field(Node ctx, uint32_t i) {
    int32_t s = canon(word::symbol_of(context::key_word(ctx, i)));
    return s == canon(sym_on_change()) || s == canon(sym_on_deep_change());
}

// Types whose values a new object takes copies of rather than sharing.
bool is_copied_series(int t) {
    switch (t) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_PATH:
    case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
        return true;
    default:
        return false;
    }
}

// Replaces every series value of the context by a copy (nested blocks too
// when deep).
void copy_series_values(Node ctx, bool deep) {
    collector::Rooted<2> r;
    r[0] = Cell{TYPE_OBJECT, ctx, 0, 0};
    uint32_t n = context::word_count(ctx);
    for (uint32_t i = 0; i < n; i++) {
        Cell v = *context::value_at(ctx, i);
        int t = type_of(&v);
        if (!is_copied_series(t)) continue;
        if (deep && is_any_block(t))
            function::copy_deep(&v, &r[1]);
        else
            series::copy_range(&v, v.data1, series::rs_length(&v), &r[1]);
        r[1].header = v.header;
        r[1].data1 = 0;
        *context::value_at(ctx, i) = r[1];
    }
}

// Makes the object the owner of every field value, each under its own field
// word, and marks it as owning its fields.
void own_fields(const Cell* obj) {
    Node ctx = obj->data1;
    collector::Rooted<1> r;
    r[0] = *obj;
    uint32_t n = context::word_count(ctx);
    for (uint32_t i = 0; i < n; i++) {
        Cell v = *context::value_at(ctx, i);
        Cell w = *context::key_word(ctx, i);
        w.header = TYPE_WORD;
        ownership::bind_deep(&v, &r[0], &w);
    }
    context::cell_of(ctx)->header |= context::FLAG_OWNER;
}

// Makes every function! of the context a new function whose body is bound
// to this context, so that a copy's methods work on the copy.
void rebind_functions(Node ctx) {
    collector::Rooted<3> r;
    r[0] = Cell{TYPE_OBJECT, ctx, 0, 0};
    uint32_t n = context::word_count(ctx);
    for (uint32_t i = 0; i < n; i++) {
        Cell fn = *context::value_at(ctx, i);
        if (type_of(&fn) != TYPE_FUNCTION) continue;
        r[1] = fn;
        Cell body = function::more(&fn)[function::MORE_BODY];
        if (type_of(&body) != TYPE_BLOCK) raise_error(err::script_bad_func_def, &r[1]);
        function::copy_deep(&body, &r[2]);
        context::bind(&r[2], ctx, true);
        Cell spec{TYPE_BLOCK, 0, fn.data2, 0};
        Cell* made = function::push_new(&spec, &r[2], 0, 0, fn.header & ~TYPE_MASK & ~FLAG_NEW_LINE);
        Cell copy = *made;
        stack::top = made;
        copy.header |= fn.header & FLAG_NEW_LINE;
        *context::value_at(ctx, i) = copy;
    }
}

void clear_marks_and_new_lines(Node ctx) {
    uint32_t n = context::word_count(ctx);
    for (uint32_t i = 0; i < n; i++) {
        context::key_word(ctx, i)->header &= ~context::WORD_SET_MARK;
        clear_new_line_flag(context::value_at(ctx, i));
    }
}

// Every field of `src` set in (or added to) the object; answers whether fields were added.
bool merge(Cell* obj, const Cell* src_in) {
    collector::Rooted<1> r;
    r[0] = *src_in;
    Node ctx = obj->data1;
    uint32_t before = context::word_count(ctx);
    uint32_t n = context::word_count(r[0].data1);
    for (uint32_t i = 0; i < n; i++) {
        int32_t s = word::symbol_of(context::key_word(r[0].data1, i));
        int32_t pos = context::add(ctx, s);
        *context::value_at(ctx, uint32_t(pos)) = *context::value_at(r[0].data1, i);
    }
    return context::word_count(ctx) != before;
}

void write_value(Cell* v, Cell* buffer, bool all, bool flat, int* part, int indent) {
    Cell value = *v;
    int t = type_of(&value);
    if (t == TYPE_UNSET) {
        *part = string::concatenate_literal(buffer, "unset", *part);
    } else if (t == TYPE_WORD) {
        *part = word::write_name(&value, buffer, "'", "", *part);
    } else {
        clear_new_line_flag(&value);
        *part = block::mold_cell(&value, buffer, false, all, flat, *part, indent);
    }
}

Node handler_record_of(const Cell* obj) { return obj->data3; }

}  // namespace

uint32_t next_class_id() { return ++class_counter; }

Cell* make_at(Cell* cell, uint32_t count) {
    Node ctx = context::create(count, false, true, 0, context::KIND_OBJECT);
    *cell = Cell{TYPE_OBJECT, ctx, 0, 0};
    *context::owner_of(ctx) = *cell;
    return cell;
}

Cell* push(Node ctx, uint32_t class_id, Node on_set) {
    Cell obj{TYPE_OBJECT, ctx, class_id, on_set};
    *context::owner_of(ctx) = obj;
    return stack::push(&obj);
}

uint32_t field_count(const Cell* obj) { return context::word_count(obj->data1); }

int32_t find_field(const Cell* obj, int32_t symbol) { return context::find_word(obj->data1, symbol, true); }

const Cell* field_ptr(const Cell* obj, const Cell* word) {
    int32_t pos = find_field(obj, word::symbol_of(word));
    if (pos < 0) return &SHARED_NONE;
    return context::value_at(obj->data1, uint32_t(pos));
}

Cell* value_at(const Cell* obj, uint32_t n) { return context::value_at(obj->data1, n); }

void put_field(Cell* obj, int32_t symbol, const Cell* value) {
    Cell v = *value;
    int32_t pos = context::add(obj->data1, symbol);
    *context::value_at(obj->data1, uint32_t(pos)) = v;
}

// ------------------------------------------------------------ handlers

Node find_on_set(const Cell* obj) {
    Node ctx = obj->data1;
    int32_t at[2] = {context::find_word(ctx, sym_on_change(), true),
                     context::find_word(ctx, sym_on_deep_change(), true)};
    if (at[0] < 0 && at[1] < 0) return 0;
    for (int k = 0; k < 2; k++) {
        if (at[k] < 0) continue;
        Cell v = *context::value_at(ctx, uint32_t(at[k]));
        if (type_of(&v) != TYPE_FUNCTION && type_of(&v) != TYPE_ROUTINE) {
            Cell w = *context::key_word(ctx, uint32_t(at[k]));
            w.header = TYPE_WORD;
            Cell dt{TYPE_DATATYPE, uint32_t(type_of(&v)), 0, 0};
            raise_error(err::script_bad_field_set, &w, &dt);
        }
    }
    Node record = new_cell_series(2);
    for (int k = 0; k < 2; k++) {
        Cell h{TYPE_CHANGE_HANDLER, 0, NO_HANDLER, 0};
        if (at[k] >= 0) {
            Cell fn = *context::value_at(ctx, uint32_t(at[k]));
            Cell spec{TYPE_BLOCK, 0, fn.data2, 0};
            int count = function::count_locals(&spec, 0, false);
            h.data2 = (uint32_t(at[k]) << 16) | (uint32_t(count < 0 ? 0 : count) & 0xFFFF);
            h.data3 = fn.data2;
        }
        SeriesBuffer* b = node_buffer(record);
        *append_cell_to_buffer(b) = h;
    }
    return record;
}

bool has_deep_handler(const Cell* obj) {
    Node rec = handler_record_of(obj);
    return rec && node_buffer(rec)->cell_head()[1].data2 != NO_HANDLER;
}

void set_on_set(Cell* obj) {
    obj->data3 = find_on_set(obj);
    Node ctx = obj->data1;
    *context::owner_of(ctx) = *obj;
    if (has_deep_handler(obj)) own_fields(obj);
}

void fire_on_change(const Cell* owner_in, const Cell* word_in, const Cell* old_value, const Cell* new_value) {
    Cell owner = *owner_in;
    if (!owner.data3) return;
    Cell* rec = node_buffer(owner.data3)->cell_head();
    if (rec[0].data2 == NO_HANDLER) return;
    uint32_t index = rec[0].data2 >> 16;
    Node ctx = owner.data1;
    Cell fn = *context::value_at(ctx, index);
    if (type_of(&fn) != TYPE_FUNCTION) raise_error(err::script_invalid_obj_evt, &fn);
    if (rec[0].data3 != fn.data2) {
        // The field holds another function now: its local count is taken anew.
        Cell spec{TYPE_BLOCK, 0, fn.data2, 0};
        int count = function::count_locals(&spec, 0, false);
        rec = node_buffer(owner.data3)->cell_head();
        rec[0].data2 = (index << 16) | (uint32_t(count < 0 ? 0 : count) & 0xFFFF);
        rec[0].data3 = fn.data2;
    }
    Cell args[3] = {*word_in, *old_value, *new_value};
    args[0].header = TYPE_WORD | (args[0].header & ~TYPE_MASK & ~FLAG_NEW_LINE);
    if (word::ctx_of(&args[0]) != ctx) context::bind_word(ctx, &args[0]);
    Cell* saved = stack::top;
    call::call_function(&fn, args, 3, &words::on_change);
    if (!stack::thrown) stack::top = saved;
}

void fire_on_deep_change(const Cell* owner_in, const Cell* field, const Cell* target, const Cell* action,
                         const Cell* new_value, int32_t index, int32_t part) {
    Cell owner = *owner_in;
    if (!owner.data3) raise_error(err::script_invalid_obj_evt, &owner);
    Cell* rec = node_buffer(owner.data3)->cell_head();
    if (rec[1].data2 == NO_HANDLER) return;
    Cell fn = *context::value_at(owner.data1, rec[1].data2 >> 16);
    if (type_of(&fn) != TYPE_FUNCTION) return;
    Cell args[7] = {owner,
                    *field,
                    *target,
                    *action,
                    new_value ? *new_value : Cell{TYPE_NONE, 0, 0, 0},
                    integer_cell(index),
                    integer_cell(part)};
    Cell* saved = stack::top;
    call::call_function(&fn, args, 7, &words::on_deep_change);
    if (!stack::thrown) stack::top = saved;
}

void set_values(Cell* obj_in, const Cell* value_in, bool any, bool only, bool some) {
    collector::Rooted<3> r;
    Cell& obj = r[0];
    Cell& value = r[1];
    Cell& item = r[2];
    obj = *obj_in;
    value = *value_in;
    Node ctx = obj.data1;
    uint32_t n = context::word_count(ctx);
    int vt = type_of(&value);
    for (uint32_t i = 0; i < n; i++) {
        if (!only && vt == TYPE_BLOCK) {
            uint32_t len = blk::length(&value);
            item = i < len ? *blk::at(value.data2, value.data1 + i) : SHARED_NONE;
        } else if (!only && is_object_kind(vt)) {
            int32_t pos = context::find_word(value.data1, word::symbol_of(context::key_word(ctx, i)), true);
            if (pos < 0) continue;
            item = *context::value_at(value.data1, uint32_t(pos));
        } else {
            item = value;
        }
        if (!any && !some && type_of(&item) == TYPE_UNSET) {
            Cell w = *context::key_word(ctx, i);
            w.header = TYPE_WORD;
            raise_error(err::script_need_value, &w);
        }
        if (some && type_of(&item) == TYPE_NONE) continue;
        Cell* saved = stack::top;
        Cell* old = stack::push(context::value_at(ctx, i));
        Cell* now = stack::push(&item);
        *context::value_at(ctx, i) = item;
        context::key_word(ctx, i)->header |= context::WORD_SET_MARK;
        if (obj.data3 && !is_handler_field(ctx, i)) {
            Cell* key = stack::push(context::key_word(ctx, i));
            key->header = TYPE_WORD;
            fire_on_change(&obj, key, old, now);
            if (stack::thrown) return;
        }
        stack::top = saved;
    }
}

bool add_spec_words(Node ctx, const Cell* spec_in, bool raw) {
    collector::Rooted<2> r;
    Cell& spec = r[0];
    r[1] = Cell{TYPE_OBJECT, ctx, 0, 0};
    spec = *spec_in;
    uint32_t before = context::word_count(ctx);
    uint32_t len = blk::length(&spec);
    for (uint32_t i = 0; i < len;) {
        Cell c = *blk::at(spec.data2, spec.data1 + i);
        if (type_of(&c) != TYPE_SET_WORD) {
            i++;
            continue;
        }
        // A run of set-words all take the value that follows it.
        uint32_t end = i;
        while (end < len && type_of(blk::at(spec.data2, spec.data1 + end)) == TYPE_SET_WORD) end++;
        Cell v = end < len ? *blk::at(spec.data2, spec.data1 + end) : SHARED_NONE;
        if (!raw && type_of(&v) == TYPE_WORD) {
            int32_t s = canon(word::symbol_of(&v));
            if (s == canon(sym::true_) || s == canon(sym::yes) || s == canon(sym::on))
                v = logic_cell(true);
            else if (s == canon(sym::false_) || s == canon(sym::no) || s == canon(sym::off))
                v = logic_cell(false);
            else if (s == canon(sym::none))
                v = SHARED_NONE;
        }
        for (uint32_t k = i; k < end; k++) {
            int32_t s = word::symbol_of(blk::at(spec.data2, spec.data1 + k));
            int32_t pos = context::add(ctx, s);
            *context::value_at(ctx, uint32_t(pos)) = v;
        }
        i = end + 1;
    }
    return context::word_count(ctx) != before;
}

Cell* push_new(const Cell* spec_in, const Cell* proto_in, bool raw) {
    collector::Rooted<3> r;
    r[0] = *spec_in;
    r[1] = proto_in ? *proto_in : SHARED_NONE;
    bool has_proto = is_object_kind(type_of(&r[1]));
    if (has_proto) {
        copy_object(&r[1], &r[2], false, false, nullptr);
        r[2].header = TYPE_OBJECT;
    } else {
        make_at(&r[2], 4);
        r[2].data2 = next_class_id();
    }
    bool added = add_spec_words(r[2].data1, &r[0], raw);
    if (has_proto && added) r[2].data2 = next_class_id();
    set_on_set(&r[2]);
    return stack::push(&r[2]);
}

Cell* wrap_context(Node ctx, uint32_t class_id) {
    uint32_t n = context::word_count(ctx);
    SeriesBuffer* b = node_buffer(context::cell_of(ctx)->data2);
    if (b->length() == 0)
        for (uint32_t i = 0; i < n; i++) {
            b = node_buffer(context::cell_of(ctx)->data2);
            *append_cell_to_buffer(b) = Cell{TYPE_UNSET, 0, 0, 0};
        }
    return push(ctx, class_id, 0);
}

Cell* copy_object(const Cell* obj_in, Cell* target, bool keep_handlers, bool deep, const Cell* types) {
    collector::Rooted<3> r;
    Cell& src = r[0];
    Cell& copy = r[1];
    src = *obj_in;
    if (types) r[2] = *types;
    Node from = src.data1;
    uint32_t n = context::word_count(from);
    Node ctx = context::create(n, false, true, from, context::KIND_OBJECT);
    copy = Cell{(src.header & ~TYPE_MASK) | uint32_t(type_of(&src)), ctx, src.data2, keep_handlers ? src.data3 : 0};
    *context::owner_of(ctx) = copy;
    for (uint32_t i = 0; i < n; i++) {
        *context::value_at(ctx, i) = *context::value_at(from, i);
        context::key_word(ctx, i)->header &= ~context::WORD_SET_MARK;
    }
    context::cell_of(ctx)->header &= ~context::FLAG_OWNER;
    if (types) {
        if (deep) {
            if (is_cycle_found(from)) raise_error(err::internal_no_cycle);
        }
        CycleGuard guard(from);
        rebind_functions(ctx);
        Cell values{TYPE_BLOCK, 0, context::cell_of(ctx)->data2, 0};
        block::copy_typed_series(&values, 0, n, 1, &r[2], deep);
    } else {
        if (deep) copy_series_values(ctx, true);
        rebind_functions(ctx);
    }
    if (keep_handlers && has_deep_handler(&copy)) set_on_set(&copy);
    *target = copy;
    return target;
}

Cell* make(const Cell* proto_in, const Cell* spec_in, Cell* target) {
    collector::Rooted<3> r;
    Cell& proto = r[0];
    Cell& spec = r[1];
    Cell& obj = r[2];
    proto = *proto_in;
    spec = *spec_in;
    bool has_proto = is_object_kind(type_of(&proto));
    int st = type_of(&spec);
    if (st != TYPE_BLOCK && st != TYPE_OBJECT) raise_error(err::syntax_malconstruct, &spec);
    if (has_proto) {
        copy_object(&proto, &obj, false, false, nullptr);
        obj.header = TYPE_OBJECT;
    } else {
        make_at(&obj, 4);
    }
    Node ctx = obj.data1;
    bool added;
    if (st == TYPE_OBJECT) {
        added = merge(&obj, &spec);
        copy_series_values(ctx, false);
        rebind_functions(ctx);
    } else {
        added = context::bind_walk(ctx, &spec);
        context::bind(&spec, ctx, true);
        if (has_proto) copy_series_values(ctx, false);
        Cell* saved = stack::top;
        interp::eval_whole_block(&spec, true);
        if (stack::thrown) return nullptr;
        stack::top = saved;
        clear_marks_and_new_lines(ctx);
    }
    obj.data2 = (added || !has_proto) ? next_class_id() : proto.data2;
    set_on_set(&obj);
    *target = obj;
    return target;
}

namespace {

const Cell* make_handler(Cell* proto, Cell* spec, int) {
    collector::Rooted<1> r;
    if (!make(proto, spec, &r[0])) return stack::arguments;  // an exit is on its way
    *stack::arguments = r[0];
    return stack::arguments;
}

// Missing fields and unset values met by a path.
[[noreturn]] void raise_path(const Cell* path, const Cell* element) {
    Cell p = path ? *path : Cell{TYPE_NONE, 0, 0, 0};
    Cell e = *element;
    raise_error(err::script_unset_path, &p, &e);
}

}  // namespace

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, bool) {
    int et = type_of(element);
    if (et != TYPE_WORD && et != TYPE_SET_WORD && et != TYPE_GET_WORD && et != TYPE_LIT_WORD) {
        Cell p = path ? *path : Cell{TYPE_NONE, 0, 0, 0};
        raise_error(err::script_invalid_path, &p, element);
    }
    Cell obj = *parent;
    Node ctx = obj.data1;
    int32_t pos = context::find_word(ctx, word::symbol_of(element), true);
    if (!value) {
        if (pos < 0) raise_path(path, element);
        Cell* v = context::value_at(ctx, uint32_t(pos));
        if (type_of(v) == TYPE_UNSET) raise_path(path, element);
        return v;
    }
    if (canon(word::symbol_of(element)) == canon(sym::self)) {
        Cell p = path ? *path : Cell{TYPE_NONE, 0, 0, 0};
        raise_error(err::script_invalid_path, &p, element);
    }
    if (pos < 0) raise_path(path, element);
    Cell incoming = *value;
    Cell* saved = stack::top;
    Cell* old = stack::push(context::value_at(ctx, uint32_t(pos)));
    Cell* key = stack::push(context::key_word(ctx, uint32_t(pos)));
    key->header = TYPE_WORD;
    *context::value_at(ctx, uint32_t(pos)) = incoming;
    context::key_word(ctx, uint32_t(pos))->header |= context::WORD_SET_MARK;
    if (obj.data3) {
        Cell* now = stack::push(&incoming);
        fire_on_change(&obj, key, old, now);
        if (stack::thrown) return value;
    }
    stack::top = saved;
    return value;
}

int compare(Cell* a, Cell* b, int op) {
    if (type_of(b) != TYPE_OBJECT) return NOT_COMPARABLE;
    Node ca = a->data1, cb = b->data1;
    if (ca == cb) return 0;
    if (op == COMP_SAME) return -1;
    bool seen_a = is_cycle_found(ca), seen_b = is_cycle_found(cb);
    if (seen_a || seen_b) return seen_a && seen_b ? 0 : -1;
    uint32_t na = context::word_count(ca), nb = context::word_count(cb);
    if (na != nb) return na > nb ? 1 : -1;
    CycleGuard ga(ca);
    CycleGuard gb(cb);
    auto group = [](int t) {
        if (is_any_word_type(t)) return int(TYPE_WORD);
        if (t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT) return int(TYPE_INTEGER);
        return t;
    };
    for (uint32_t i = 0; i < na; i++) {
        int32_t sa = canon(word::symbol_of(context::key_word(ca, i)));
        int32_t sb = canon(word::symbol_of(context::key_word(cb, i)));
        if (sa != sb) return sa < sb ? -1 : 1;
        Cell va = *context::value_at(ca, i), vb = *context::value_at(cb, i);
        int ta = group(type_of(&va)), tb = group(type_of(&vb));
        if (ta != tb) return ta < tb ? -1 : 1;
        act::Any h = get_handler(type_of(&va), A_COMPARE);
        int ordering;
        if (!h)
            ordering = (va.data1 == vb.data1 && va.data2 == vb.data2 && va.data3 == vb.data3) ? 0 : -1;
        else
            ordering = reinterpret_cast<act::Compare>(h)(&va, &vb, op);
        if (ordering == NOT_COMPARABLE) ordering = -1;
        if (ordering != 0) return ordering;
    }
    return 0;
}

Cell* body(const Cell* object, Cell* out, bool new_lines) {
    Cell obj = *object;
    Node ctx = obj.data1;
    uint32_t n = context::word_count(ctx);
    collector::Rooted<1> r;
    r[0] = obj;
    blk::make_at(out, n * 2);
    for (uint32_t i = 0; i < n; i++) {
        Cell w = *context::key_word(ctx, i);
        w.header = TYPE_SET_WORD | (new_lines ? FLAG_NEW_LINE : 0);
        w.data1 = ctx;
        w.data3 = i;
        blk::append(out, &w);
        Cell v = *context::value_at(ctx, i);
        if (type_of(&v) == TYPE_WORD) set_cell_type(&v, TYPE_LIT_WORD);
        else if (type_of(&v) == TYPE_PATH) set_cell_type(&v, TYPE_LIT_PATH);
        if (!new_lines) v.header &= ~FLAG_NEW_LINE;
        blk::append(out, &v);
    }
    return out;
}

void reflect(Cell* value, int field) {
    int32_t f = canon(field);
    Cell obj = *value;
    Node ctx = obj.data1;
    uint32_t n = context::word_count(ctx);
    collector::Rooted<2> r;
    r[0] = obj;
    Cell& out = r[1];
    if (f == canon(sym::changed) || f == canon(sym::words)) {
        bool only_changed = f == canon(sym::changed);
        blk::make_at(&out, n);
        for (uint32_t i = 0; i < n; i++) {
            Cell w = *context::key_word(ctx, i);
            if (only_changed && !(w.header & context::WORD_SET_MARK)) continue;
            w.header = TYPE_WORD;
            w.data1 = ctx;
            w.data3 = i;
            blk::append(&out, &w);
        }
    } else if (f == canon(sym::class_)) {
        out = integer_cell(int32_t(obj.data2));
    } else if (f == canon(sym::values)) {
        blk::make_at(&out, n);
        for (uint32_t i = 0; i < n; i++) {
            Cell v = *context::value_at(ctx, i);
            blk::append(&out, &v);
        }
    } else if (f == canon(sym::body)) {
        body(&obj, &out, true);
    } else if (f == canon(sym::owner)) {
        out = logic_cell(context::cell_of(ctx)->header & context::FLAG_OWNER);
    } else if (f == canon(sym::is_events)) {
        out = logic_cell(obj.data3 != 0);
    } else {
        raise_error(err::internal_not_done);
    }
    *stack::arguments = out;
}

int form(Cell* value, Cell* buffer, int part) {
    if (mold_cycle_marker(value, buffer, &part, false)) return part;
    Node ctx = value->data1;
    CycleGuard guard(ctx);
    uint32_t n = context::word_count(ctx);
    bool first = true;
    for (uint32_t i = 0; i < n && part > 0; i++) {
        if (is_handler_field(ctx, i)) continue;
        if (!first) part = string::concatenate_literal(buffer, "\n", part);
        first = false;
        Cell w = *context::key_word(ctx, i);
        part = word::write_name(&w, buffer, "", ": ", part);
        Cell v = *context::value_at(ctx, i);
        if (type_of(&v) != TYPE_UNSET) part = block::form_cell(&v, buffer, part);
    }
    return part;
}

int mold_body(Cell* obj, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    Node ctx = obj->data1;
    CycleGuard guard(ctx);
    uint32_t n = context::word_count(ctx);
    // Inside brackets the fields sit one level deeper, each on its own line.
    int level = only ? indent : indent + 1;
    bool first = true;
    for (uint32_t i = 0; i < n && part > 0; i++) {
        if (!all && is_handler_field(ctx, i)) continue;
        if (flat) {
            if (!first) part = string::concatenate_literal(buffer, " ", part);
        } else {
            if (!first || !only) part = string::concatenate_literal(buffer, "\n", part);
            part = mold_indent(buffer, level, part);
        }
        first = false;
        Cell w = *context::key_word(ctx, i);
        part = word::write_name(&w, buffer, "", ": ", part);
        write_value(context::value_at(ctx, i), buffer, all, flat, &part, level);
    }
    if (!first && !flat && !only) part = string::concatenate_literal(buffer, "\n", part);
    if (!first && !flat && !only && indent > 0) part = mold_indent(buffer, indent, part);
    return part;
}

namespace {

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    if (mold_cycle_marker(value, buffer, &part, true)) return part;
    if (!only) part = string::concatenate_literal(buffer, "make object! [", part);
    part = mold_body(value, buffer, only, all, flat, part, indent);
    if (!only) part = string::concatenate_literal(buffer, "]", part);
    return part;
}

const Cell* copy(Cell* s, Cell* result, Cell* part, bool deep, Cell* types) {
    if (part) {
        Cell w = refinements::part;
        w.header = TYPE_REFINEMENT;
        raise_error(err::script_invalid_refine_arg, &w, part);
    }
    collector::Rooted<1> r;
    copy_object(s, &r[0], true, deep, types);
    *result = r[0];
    return result;
}

const Cell* select(Cell* s, Cell* key, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    int kt = type_of(key);
    if (kt != TYPE_WORD && kt != TYPE_SET_WORD && kt != TYPE_GET_WORD && kt != TYPE_LIT_WORD)
        raise_error(err::script_invalid_arg, key);
    return field_ptr(s, key);
}

const Cell* put(Cell* s, Cell* key, Cell* value, bool case_) {
    if (type_of(key) != TYPE_WORD) raise_error(err::script_invalid_arg, key);
    return eval_path(s, key, value, nullptr, case_);
}

const Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    Cell obj = *target;
    Node ctx = obj.data1;
    int32_t f = type_of(field) == TYPE_WORD || type_of(field) == TYPE_LIT_WORD ? canon(word::symbol_of(field)) : 0;
    if (f == canon(sym::changed)) {
        if (type_of(value) != TYPE_NONE) raise_error(err::script_invalid_arg, value);
        uint32_t n = context::word_count(ctx);
        for (uint32_t i = 0; i < n; i++) context::key_word(ctx, i)->header &= ~context::WORD_SET_MARK;
    } else if (f == canon(sym::owner)) {
        own_fields(&obj);
    } else if (f == canon(sym::owned)) {
        collector::Rooted<3> r;
        r[0] = obj;
        uint32_t n = context::word_count(ctx);
        if (type_of(value) == TYPE_NONE) {
            for (uint32_t i = 0; i < n; i++) {
                Cell v = *context::value_at(ctx, i);
                ownership::unbind(&v);
            }
        } else if (type_of(value) == TYPE_BLOCK && blk::length(value) >= 2) {
            r[1] = *blk::at(value->data2, value->data1);
            r[2] = *blk::at(value->data2, value->data1 + 1);
            if (!is_object_kind(type_of(&r[1]))) raise_error(err::script_invalid_arg, value);
            for (uint32_t i = 0; i < n; i++) {
                Cell v = *context::value_at(ctx, i);
                ownership::bind_deep(&v, &r[1], &r[2]);
            }
        } else {
            raise_error(err::script_invalid_arg, value);
        }
    } else {
        raise_error(err::script_invalid_arg, field);
    }
    return target;
}

void on_change_hook(Cell* owner, Cell* word, Cell* old_value, Cell* new_value) {
    fire_on_change(owner, word, old_value, new_value);
}

}  // namespace

namespace {

// An object keeps its context and its change-handler record.
void mark_cell(const Cell* c) {
    if (c->data1) collector::mark_context_node(c->data1);
    if (c->data3) collector::mark_series_node(c->data3);
}

// A change-handler entry keeps the spec block its local count came from.
void mark_handler_entry(const Cell* c) {
    if (c->data2 != NO_HANDLER && c->data3) collector::mark_series_node(c->data3);
}

}  // namespace

void register_type() {
    class_counter = FIRST_CLASS_ID - 1;
    context::on_change_hook = on_change_hook;
    collector::set_cell_marker(TYPE_CHANGE_HANDLER, mark_handler_entry);
    Registration(TYPE_OBJECT, 0, "object!")
        .marker(mark_cell)
        .hasher(hash_payload_word<1>)
        .on<A_MAKE>(make_handler)
        .on<A_REFLECT>(reflect)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_EVAL_PATH>(eval_path)
        .on<A_COMPARE>(compare)
        .on<A_COPY>(copy)
        .on<A_PUT>(put)
        .on<A_SELECT>(select)
        .on<A_MODIFY>(modify)
        .commit();
}

}  // namespace vyx::object
