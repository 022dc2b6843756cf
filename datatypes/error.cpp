#include "datatypes/error.h"

#include <cstdio>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "evaluator/interpreter.h"
#include "evaluator/protect.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/cycle_stack.h"
#include "runtime/error_catalog.h"
#include "runtime/output.h"
#include "runtime/raise.h"

namespace vyx::error {

int stack_trace_level = 0;

namespace {

const char* const field_names[FIELD_COUNT] = {"code", "type", "id",   "arg1",  "arg2",
                                              "arg3", "near", "where", "stack", "files"};

Cell catalog_cell{TYPE_NONE, 0, 0, 0};
Cell prototype{TYPE_NONE, 0, 0, 0};
bool attaching = false;

inline Cell none_cell() { return Cell{TYPE_NONE, 0, 0, 0}; }
inline Cell integer_cell(int32_t v) { return Cell{TYPE_INTEGER, 0, uint32_t(v), 0}; }
inline int32_t canon(int32_t s) { return symbol::resolve(s); }

inline Node ctx_of(const Cell* e) { return e->data1; }

// Key word n of a context as a word! bound there.
Cell bound_key(Node ctx, uint32_t n) {
    Cell w = *context::key_word(ctx, n);
    w.header = TYPE_WORD;
    w.data1 = ctx;
    w.data3 = n;
    return w;
}

// The value of field n of an object cell (by copy).
Cell field_value(const Cell* obj, uint32_t n) { return *context::value_at(obj->data1, n); }

Cell* new_string(const char* utf8, Cell* target) {
    std::string_view text(utf8);
    return string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0, target);
}

Cell* message_value(const err::EntryInfo* entry, Cell* target) {
    if (entry->kind == err::MessageKind::String) return new_string(entry->parts[0].text, target);
    if (entry->kind == err::MessageKind::Word) {
        char name[] = "arg1";
        name[3] = char('0' + entry->parts[0].arg);
        *target = word::load(name);
        return target;
    }
    collector::Rooted<2> r;
    blk::make_at(&r[0], entry->part_count);
    for (int i = 0; i < entry->part_count; i++) {
        const err::MessagePart& p = entry->parts[i];
        if (p.kind == err::PartKind::Text) {
            new_string(p.text, &r[1]);
        } else {
            char name[] = "arg1";
            name[3] = char('0' + p.arg);
            r[1] = word::load(name);
            if (p.kind == err::PartKind::GetArg) r[1].header = TYPE_GET_WORD;
        }
        blk::append(&r[0], &r[1]);
    }
    *target = r[0];
    return target;
}

void make_prototype() {
    collector::Rooted<1> r;
    object::make_at(&r[0], FIELD_COUNT);
    for (uint32_t i = 0; i < FIELD_COUNT; i++) {
        Cell none = none_cell();
        object::put_field(&r[0], symbol::make(field_names[i]), &none);
    }
    prototype = r[0];
    context::keep_in_root(&prototype);
}

// A new error! with every field none, for the caller to fill.
Cell* blank(Cell* target) {
    Node ctx = context::create(FIELD_COUNT, false, true, prototype.data1, context::KIND_OBJECT);
    for (uint32_t i = 0; i < FIELD_COUNT; i++) *context::value_at(ctx, i) = none_cell();
    *target = Cell{TYPE_ERROR, ctx, ERROR_CLASS, 0};
    *context::owner_of(ctx) = *target;
    return target;
}

void set_field(const Cell* e, Field f, const Cell* value) {
    Cell v = *value;
    *context::value_at(ctx_of(e), f) = v;
}

// Sets code, type and id from catalog positions (the entry counts from 2).
void set_entry(const Cell* e, int category, int entry) {
    Cell cat_obj = field_value(&catalog_cell, uint32_t(category));
    Cell code = integer_cell(category * 100 + entry - err::FIRST_ENTRY);
    Cell type = bound_key(catalog_cell.data1, uint32_t(category));
    Cell id = bound_key(cat_obj.data1, uint32_t(entry));
    set_field(e, F_CODE, &code);
    set_field(e, F_TYPE, &type);
    set_field(e, F_ID, &id);
}

int32_t word_symbol(const Cell* c) { return is_any_word_type(type_of(c)) ? word::symbol_of(c) : 0; }

// The category position of a word in the catalog, or -1.
int find_category(const Cell* w) {
    int32_t s = word_symbol(w);
    if (!s || type_of(&catalog_cell) != TYPE_OBJECT) return -1;
    return object::find_field(&catalog_cell, s);
}

// The entry position of a word in a category (2 = first entry), or -1.
int find_entry(int category, const Cell* w) {
    int32_t s = word_symbol(w);
    if (!s) return -1;
    Cell cat_obj = field_value(&catalog_cell, uint32_t(category));
    if (type_of(&cat_obj) != TYPE_OBJECT) return -1;
    int pos = object::find_field(&cat_obj, s);
    return pos >= err::FIRST_ENTRY ? pos : -1;
}

[[noreturn]] void raise_spec_field(int32_t which) {
    Cell w = word::load(symbol::name(which));
    raise_error(err::script_invalid_spec_field, &w);
}

// ---- the report

// How a value reads when its own writer fails (its datatype's mold is not
// there yet, or it raises): words, texts, datatypes and the plainest scalars
// are written by hand; anything else writes nothing.
std::string plain_text(const Cell* v, bool mold) {
    int t = type_of(v);
    if (is_any_word(t)) {
        std::string name = symbol::name(word::symbol_of(v));
        switch (t) {
        case TYPE_SET_WORD: return name + ":";
        case TYPE_LIT_WORD: return mold ? "'" + name : name;
        case TYPE_GET_WORD: return mold ? ":" + name : name;
        case TYPE_REFINEMENT: return "/" + name;
        case TYPE_ISSUE: return "#" + name;
        default: return name;
        }
    }
    if (is_any_string(t)) {
        std::string text = string::to_utf8(v);
        if (!mold) return text;
        switch (t) {
        case TYPE_STRING: return "\"" + text + "\"";
        case TYPE_FILE: return "%" + text;
        case TYPE_TAG: return "<" + text + ">";
        case TYPE_REF: return "@" + text;
        default: return text;
        }
    }
    switch (t) {
    case TYPE_DATATYPE:
        return v->data1 <= TYPE_MAX && type_names[v->data1].name ? type_names[v->data1].name : "";
    case TYPE_INTEGER: return std::to_string(int32_t(v->data2));
    case TYPE_NONE: return "none";
    case TYPE_LOGIC: return v->data1 ? "true" : "false";
    default: return "";
    }
}

// Writes the value molded (or formed) into `out`. A value that cannot be
// written whole is written in parts: the items of a block-like value one by
// one, leaving out those that fail, anything else as its plain text.
void write_robust(Cell* out, const Cell* value, bool mold, bool only, bool flat, int limit, int depth) {
    collector::Rooted<2> r;
    r[0] = *value;
    string::make_at(&r[1], 16);
    protect::Guard guard;
    bool whole = guard.run([&] {
        if (mold)
            block::mold_cell(&r[0], &r[1], only, false, flat, limit, 0);
        else
            block::form_cell(&r[0], &r[1], limit);
    });
    if (whole) {
        string::concatenate(out, &r[1], -1, 0, true, false);
        return;
    }
    int t = type_of(&r[0]);
    if (!is_any_block(t) || depth > 8) {
        std::string text = plain_text(&r[0], mold);
        if (text.empty()) return;
        string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0, &r[1]);
        string::concatenate(out, &r[1], -1, 0, true, false);
        return;
    }
    bool path = t >= TYPE_PATH && t <= TYPE_GET_PATH;
    bool brackets = mold && !only && !path;
    if (brackets) string::concatenate_literal(out, t == TYPE_PAREN ? "(" : "[", NO_LIMIT);
    if (path && mold && t == TYPE_LIT_PATH) string::concatenate_literal(out, "'", NO_LIMIT);
    if (path && mold && t == TYPE_GET_PATH) string::concatenate_literal(out, ":", NO_LIMIT);
    bool first = true;
    for (uint32_t i = r[0].data1; i < blk::size(r[0].data2) && int(series::rs_length(out)) <= limit; i++) {
        Cell item = *blk::at(r[0].data2, i);
        string::make_at(&r[1], 16);
        write_robust(&r[1], &item, mold, false, flat, limit, depth + 1);
        if (series::rs_length(&r[1]) == 0) continue;  // nothing to show for this item
        if (!first) string::concatenate_literal(out, path ? "/" : " ", NO_LIMIT);
        string::concatenate(out, &r[1], -1, 0, true, false);
        first = false;
    }
    if (path && mold && t == TYPE_SET_PATH) string::concatenate_literal(out, ":", NO_LIMIT);
    if (brackets) string::concatenate_literal(out, t == TYPE_PAREN ? ")" : "]", NO_LIMIT);
}

// Writes the value molded (or formed) into the buffer, at most `limit`
// characters of it.
int write_limited(Cell* buffer, const Cell* value, bool mold, bool only, bool flat, int limit, int part) {
    collector::Rooted<2> r;
    r[0] = *value;
    string::make_at(&r[1], 16);
    write_robust(&r[1], &r[0], mold, only, flat, limit, 0);
    int n = int(series::rs_length(&r[1]));
    if (n > limit) n = limit;
    if (n > part) n = part < 0 ? 0 : part;
    string::concatenate(buffer, &r[1], n, 0, true, false);
    return part - n;
}

// Turns the error into internal/invalid-error with the offending value as arg1.
void make_invalid(const Cell* e, const Cell* offending) {
    Cell arg = *offending;
    set_field(e, F_ARG1, &arg);
    set_entry(e, err::internal_invalid_error.category, err::internal_invalid_error.entry);
}

std::string plain_report(const Cell* value);

int form_report(Cell* value, Cell* buffer, int part) {
    // Without a catalog there are no words to look the entry up by.
    if (!ready()) return string::concatenate_literal(buffer, plain_report(value), part);
    collector::Rooted<4> r;
    Cell& e = r[0];
    Cell& cat_obj = r[1];
    Cell& msg = r[2];
    e = *value;
    part = string::concatenate_literal(buffer, "*** ", part);
    int category = -1;
    int entry = -1;
    {
        Cell type = field_value(&e, F_TYPE);
        category = find_category(&type);
        if (category < 0) {
            make_invalid(&e, &type);
        } else {
            Cell id = field_value(&e, F_ID);
            entry = find_entry(category, &id);
            if (entry < 0) make_invalid(&e, &id);
        }
        if (category < 0 || entry < 0) {
            category = err::internal_invalid_error.category;
            entry = err::internal_invalid_error.entry;
        }
    }
    cat_obj = field_value(&catalog_cell, uint32_t(category));
    msg = field_value(&cat_obj, uint32_t(entry));
    if (is_any_word_type(type_of(&msg))) {
        int32_t pos = object::find_field(&e, word::symbol_of(&msg));
        msg = pos >= 0 ? field_value(&e, uint32_t(pos)) : none_cell();
    }
    {
        Cell title = field_value(&cat_obj, 1);
        if (is_any_string(type_of(&title))) part = write_limited(buffer, &title, false, false, false, NO_LIMIT, part);
        part = string::concatenate_literal(buffer, ": ", part);
    }
    bool syntax = category == err::CAT_SYNTAX;
    if (type_of(&msg) == TYPE_STRING) {
        part = write_limited(buffer, &msg, false, false, false, NO_LIMIT, part);
    } else if (type_of(&msg) == TYPE_BLOCK) {
        uint32_t n = blk::length(&msg);
        for (uint32_t i = 0; i < n && part > 0; i++) {
            if (i > 0) part = string::concatenate_literal(buffer, " ", part);
            Cell item = *blk::at(msg.data2, msg.data1 + i);
            int t = type_of(&item);
            if (t == TYPE_STRING) {
                part = write_limited(buffer, &item, false, false, false, NO_LIMIT, part);
            } else if (t == TYPE_WORD || t == TYPE_GET_WORD) {
                int32_t pos = object::find_field(&e, word::symbol_of(&item));
                if (pos < 0) continue;
                r[3] = field_value(&e, uint32_t(pos));
                // Syntax errors form their texts, but a datatype keeps its "!"
                // ("invalid integer! at 12a").
                bool mold = !syntax || type_of(&r[3]) == TYPE_DATATYPE;
                part = write_limited(buffer, &r[3], mold, false, true, ARG_LIMIT, part);
            }
        }
    } else {
        Cell type = field_value(&e, F_TYPE);
        make_invalid(&e, &type);
    }
    part = string::concatenate_literal(buffer, "\n*** Where: ", part);
    {
        Cell where = field_value(&e, F_WHERE);
        if (is_any_word_type(type_of(&where)) || type_of(&where) == TYPE_STRING)
            part = write_limited(buffer, &where, false, false, false, NO_LIMIT, part);
        else
            part = string::concatenate_literal(buffer, "???", part);
    }
    part = string::concatenate_literal(buffer, "\n*** Near : ", part);
    {
        Cell near = field_value(&e, F_NEAR);
        part = write_limited(buffer, &near, true, true, true, NEAR_LIMIT, part);
    }
    if (stack_trace_level > 0) {
        r[3] = field_value(&e, F_STACK);
        if (type_of(&r[3]) == TYPE_INTEGER) {
            uint32_t depth = r[3].data2;
            blk::make_at(&r[3], 20);
            capture_call_stack(stack_trace_level, &r[3], depth);
        }
        if (type_of(&r[3]) == TYPE_BLOCK) {
            part = string::concatenate_literal(buffer, "\n*** Stack: ", part);
            part = write_limited(buffer, &r[3], false, false, false, NO_LIMIT, part);
        }
    }
    {
        Cell files = field_value(&e, F_FILES);
        if (type_of(&files) == TYPE_BLOCK) {
            part = string::concatenate_literal(buffer, "\n*** Files: ", part);
            part = write_limited(buffer, &files, true, true, true, NEAR_LIMIT, part);
        }
    }
    return part;
}

// ---- handlers

const Cell* make_handler(Cell*, Cell* spec, int) {
    collector::Rooted<1> r;
    make(spec, &r[0]);
    *stack::arguments = r[0];
    return stack::arguments;
}

int form_handler(Cell* value, Cell* buffer, int part) { return form_report(value, buffer, part); }

int mold_handler(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    if (is_cycle_found(value->data1)) return string::concatenate_literal(buffer, "make error! [...]", part);
    if (!only) part = string::concatenate_literal(buffer, "make error! [", part);
    part = object::mold_body(value, buffer, only, all, flat, part, indent);
    if (!only) part = string::concatenate_literal(buffer, "]", part);
    return part;
}

int compare_handler(Cell* a, Cell* b, int op) {
    if (type_of(b) != TYPE_ERROR) return NOT_COMPARABLE;
    Cell x = *a, y = *b;
    set_cell_type(&x, TYPE_OBJECT);
    set_cell_type(&y, TYPE_OBJECT);
    return object::compare(&x, &y, op);
}

}  // namespace

void init() {
    catalog_cell = none_cell();
    prototype = none_cell();
    attaching = false;
    stack_trace_level = 0;
    // Raised errors are held by the guard that will catch them.
    protect::reset();
    raise_hooks = RaiseHooks{attach_value, to_raised, note_raise, protect::hold};
    collector::add_gc_root_callback(protect::mark_roots);
    make_prototype();
    collector::Rooted<1> r;
    build_catalog(&r[0]);
    set_catalog(&r[0]);
}

bool ready() { return type_of(&catalog_cell) == TYPE_OBJECT && type_of(&prototype) == TYPE_OBJECT; }

const Cell* catalog() { return &catalog_cell; }

void set_catalog(const Cell* catalog_object) {
    catalog_cell = *catalog_object;
    context::keep_in_root(&catalog_cell);
}

Cell* build_catalog(Cell* target) {
    collector::Rooted<3> r;
    object::make_at(&r[0], err::CATEGORY_COUNT);
    for (int c = 0; c < err::CATEGORY_COUNT; c++) {
        const err::CategoryInfo* info = err::category_info(c);
        object::make_at(&r[1], uint32_t(info->entry_count) + 2);
        r[2] = integer_cell(info->code);
        object::put_field(&r[1], sym::code, &r[2]);
        new_string(info->title, &r[2]);
        object::put_field(&r[1], sym::type, &r[2]);
        for (int i = 0; i < info->entry_count; i++) {
            message_value(&info->entries[i], &r[2]);
            object::put_field(&r[1], symbol::make(info->entries[i].name), &r[2]);
        }
        object::put_field(&r[0], symbol::make(info->name), &r[1]);
    }
    *target = r[0];
    return target;
}

Cell* create(err::Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3, Cell* target) {
    collector::Rooted<4> r;
    const Cell* args[3] = {arg1, arg2, arg3};
    for (int i = 0; i < 3; i++) r[uint32_t(i)] = args[i] ? *args[i] : none_cell();
    blank(&r[3]);
    set_entry(&r[3], id.category, id.entry);
    for (uint32_t i = 0; i < 3; i++) set_field(&r[3], Field(F_ARG1 + i), &r[i]);
    *target = r[3];
    return target;
}

Cell* make(const Cell* spec_in, Cell* target) {
    collector::Rooted<3> r;
    Cell& spec = r[0];
    Cell& e = r[1];
    spec = *spec_in;
    int st = type_of(&spec);
    if (st == TYPE_INTEGER) {
        int32_t code = int32_t(spec.data2);
        int32_t category = code / 100;
        if (code < 0 || category >= int32_t(object::field_count(&catalog_cell)))
            raise_error(err::script_out_of_range, &spec);
        Cell cat_obj = field_value(&catalog_cell, uint32_t(category));
        int32_t entry = code % 100 + err::FIRST_ENTRY;
        if (entry >= int32_t(object::field_count(&cat_obj))) raise_error(err::script_out_of_range, &spec);
        blank(&e);
        set_entry(&e, category, entry);
    } else if (st == TYPE_BLOCK) {
        uint32_t n = blk::length(&spec);
        Cell first = n ? *blk::at(spec.data2, spec.data1) : none_cell();
        if (type_of(&first) == TYPE_WORD) {
            int category = find_category(&first);
            if (category < 0) raise_spec_field(sym::type);
            if (n < 2) raise_spec_field(word::symbol_of(&words::id));
            Cell second = *blk::at(spec.data2, spec.data1 + 1);
            if (type_of(&second) != TYPE_WORD) raise_error(err::script_invalid_arg, &second);
            int entry = find_entry(category, &second);
            if (entry < 0) raise_spec_field(word::symbol_of(&words::id));
            blank(&e);
            set_entry(&e, category, entry);
        } else if (type_of(&first) == TYPE_SET_WORD) {
            blank(&e);
            context::bind(&spec, e.data1, true);
            Cell* saved = stack::top;
            interp::eval_whole_block(&spec, true);
            if (stack::thrown) {
                *target = e;
                return target;
            }
            stack::top = saved;
            Cell type = field_value(&e, F_TYPE);
            int category = type_of(&type) == TYPE_WORD ? find_category(&type) : -1;
            if (category < 0) raise_spec_field(sym::type);
            Cell id = field_value(&e, F_ID);
            int entry = type_of(&id) == TYPE_WORD ? find_entry(category, &id) : -1;
            if (entry < 0) raise_spec_field(word::symbol_of(&words::id));
            set_entry(&e, category, entry);
        } else {
            raise_error(err::internal_invalid_error);
        }
    } else if (st == TYPE_STRING) {
        create(err::user_message, &spec, nullptr, nullptr, &e);
    } else {
        helpers::raise_bad_make_arg(TYPE_ERROR, &spec);
    }
    // The code that made it, unless its spec set a near of its own.
    Cell near = interp::current_block();
    if (type_of(field(&e, F_NEAR)) == TYPE_NONE && is_any_block(type_of(&near))) {
        set_field(&e, F_NEAR, &near);
    }
    *target = e;
    return target;
}

err::Id id_of(const Cell* e) {
    Cell code = field_value(e, F_CODE);
    int32_t c = type_of(&code) == TYPE_INTEGER ? int32_t(code.data2) : 0;
    return err::Id{uint8_t(c / 100), uint8_t(c % 100 + err::FIRST_ENTRY)};
}

Cell* field(const Cell* e, Field f) { return context::value_at(ctx_of(e), f); }

VyxError to_raised(const Cell* e) {
    VyxError v{id_of(e), {}, *e};
    for (uint32_t i = 0; i < 3; i++) v.args[i] = field_value(e, F_ARG1 + i);
    return v;
}

void capture_call_stack(int level, Cell* block, uint32_t depth) {
    if (!stack::frame_bottom) return;
    uint32_t limit = depth;
    if (stack::frame_bottom + limit > stack::frame_limit) limit = uint32_t(stack::frame_limit - stack::frame_bottom);
    for (uint32_t i = 0; i < limit; i++) {
        const stack::Frame f = stack::frame_bottom[i];
        if (!f.symbol || f.symbol == stack::sym_body || f.symbol == stack::sym_anon) continue;
        Node ctx = f.word_context ? f.word_context : context::global;
        const Cell* v = context::get_value_ptr(int32_t(f.symbol), ctx);
        if (level <= 1 && (!v || type_of(v) != TYPE_FUNCTION)) continue;
        Cell w = word::make_cell(TYPE_WORD, ctx, f.symbol, -1);
        blk::append(block, &w);
    }
}

void set_stack(Cell* error) {
    if (type_of(error) != TYPE_ERROR) return;
    Cell st = field_value(error, F_STACK);
    if (type_of(&st) != TYPE_INTEGER) return;
    collector::Rooted<2> r;
    r[0] = *error;
    blk::make_at(&r[1], 20);
    capture_call_stack(stack_trace_level > 0 ? stack_trace_level : 1, &r[1], st.data2);
    set_field(&r[0], F_STACK, &r[1]);
}

void note_raise(const Cell* e, bool skip_top) {
    // The code being evaluated, positioned at the failing expression.
    Cell near = field_value(e, F_NEAR);
    if (type_of(&near) == TYPE_NONE) {
        near = interp::current_block();
        if (is_any_block(type_of(&near))) set_field(e, F_NEAR, &near);
    }
    Cell where = field_value(e, F_WHERE);
    if (type_of(&where) == TYPE_NONE) {
        stack::CallName who = stack::calling_function_name(skip_top);
        if (who.symbol) {
            where = word::make_cell(TYPE_WORD, who.context ? who.context : context::global, who.symbol, -1);
            set_field(e, F_WHERE, &where);
        }
    }
    Cell st = field_value(e, F_STACK);
    if (type_of(&st) != TYPE_BLOCK) {
        Cell depth = integer_cell(int32_t(stack::frame_depth()));
        set_field(e, F_STACK, &depth);
    }
}

void attach_value(VyxError& ev) {
    if (attaching || !ready() || collector::is_collecting()) return;
    attaching = true;
    protect::Guard guard;
    bool made = guard.run([&] {
        // Raising never collects: code that raises may still hold cells the
        // collector cannot see, as it could before errors were values.
        collector::Pause no_collection;
        collector::Rooted<4> r;
        for (uint32_t i = 0; i < 3; i++) r[i] = ev.args[i];
        create(ev.id, &r[0], &r[1], &r[2], &r[3]);
        note_raise(&r[3], false);
        ev.value = r[3];
    });
    // Too little memory or stack to make the value: it travels without.
    if (!made) ev.value = none_cell();
    attaching = false;
}

void push_error_result(err::Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    stack::push_call_frame(&words::frame_body);
    collector::Rooted<2> r;
    create(id, arg1, arg2, arg3, &r[0]);
    note_raise(&r[0], false);
    std::string text = report(&r[0]);
    string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0, &r[1]);
    run_print_hooks(&r[1], true);
    stack::pop_frame_discard();
    const Cell unset{TYPE_UNSET, 0, 0, 0};
    stack::store_result_only(&unset);
}

std::string report(const Cell* e) {
    collector::Rooted<2> r;
    r[0] = *e;
    string::make_at(&r[1], 64);
    form_report(&r[0], &r[1], NO_LIMIT);
    return string::to_utf8(&r[1]);
}

std::string fallback_report(const VyxError& e) {
    const err::CategoryInfo* cat = err::category_info(e.id.category);
    std::string args[3];
    for (int i = 0; i < 3; i++) args[i] = plain_text(&e.args[i], e.id.category != err::CAT_SYNTAX);
    std::string out = "*** ";
    out += cat ? cat->title : "Internal Error";
    out += ": ";
    out += err::entry_info(e.id) ? err::render_message(e.id, args) : "invalid error object field value:";
    out += "\n*** Where: ???";
    return out;
}

namespace {
std::string plain_report(const Cell* value) { return fallback_report(to_raised(value)); }
}  // namespace

std::string report(const VyxError& e) {
    std::string text;
    if (type_of(&e.value) == TYPE_ERROR && ready()) {
        protect::Guard guard;
        if (guard.run([&] { text = report(&e.value); })) return text;
    }
    return fallback_report(e);
}

int report_uncaught(const VyxError& e) {
    std::string text = report(e);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return -2;
}

void register_type() {
    Registration(TYPE_ERROR, TYPE_OBJECT, "error!")
        .on<A_MAKE>(make_handler)
        .on<A_FORM>(form_handler)
        .on<A_MOLD>(mold_handler)
        .on<A_EVAL_PATH>(object::eval_path)
        .on<A_COMPARE>(compare_handler)
        .commit();
}

}  // namespace vyx::error
