#include "evaluator/helpers.h"

#include <cmath>
#include <string>

#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/lexer.h"
#include "evaluator/protect.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/raise.h"

namespace vyx {

namespace helpers {

namespace {

// The running function's word, and the spec word of its argument n.
void argument_names(int n, Cell* name, Cell* word) {
    stack::CallName who = stack::calling_function_name();
    *word = Cell{TYPE_NONE, 0, 0, 0};
    if (!who.symbol) {
        *name = words::frame_not_found;
        return;
    }
    Node ctx = who.context ? who.context : context::global;
    *name = word::make_cell(TYPE_WORD, ctx, who.symbol, -1);
    const Cell* fn = context::get_value_ptr(int32_t(who.symbol), ctx);
    if (!fn) return;
    int t = type_of(fn);
    if (t < TYPE_NATIVE || (t > TYPE_FUNCTION && t != TYPE_ROUTINE)) return;
    Node spec = fn->data2;
    uint32_t size = blk::size(spec);
    for (uint32_t i = 0; i < size; i++) {
        const Cell* c = blk::at(spec, i);
        int ct = type_of(c);
        if (ct == TYPE_WORD || ct == TYPE_LIT_WORD || ct == TYPE_GET_WORD) {
            if (n-- == 0) {
                *word = *c;
                word->header = TYPE_WORD;
                return;
            }
        }
    }
}

[[noreturn]] void expect_arg(int n, int type) {
    Cell name, word;
    argument_names(n, &name, &word);
    Cell dt{TYPE_DATATYPE, uint32_t(type), 0, 0};
    raise_error(err::script_expect_arg, &name, &dt, &word);
}

}  // namespace

void raise_expect_arg(int n, int type) { expect_arg(n, type); }

const Cell* typecheck_argument(int n, const Cell* ts, const Cell* value) {
    if (!typeset::has(ts, type_of(value))) expect_arg(n, type_of(value));
    return value;
}

void raise_bad_make_arg(int type, const Cell* value) {
    Cell dt{TYPE_DATATYPE, uint32_t(type), 0, 0};
    raise_error(err::script_bad_make_arg, &dt, value);
}

int32_t check_float_to_integer(const Cell* value) {
    if (type_of(value) != TYPE_FLOAT) return int32_t(value->data2);
    double d = cell_float(value);
    if (!(d <= 2147483647.0 && d >= -2147483648.0)) raise_error(err::script_out_of_range, value);
    return int32_t(std::trunc(d));
}

double degrees_to_radians(double angle, int mode) {
    double a = std::fmod(angle, 360.0);
    if (a > 180.0 || a < -180.0) a = a >= 0 ? a - 360.0 : a + 360.0;
    if (a > 90.0 || a < -90.0) {
        if (mode == 0) a = a >= 0 ? a - 180.0 : a + 180.0;
        if (mode == 2) a = a >= 0 ? 180.0 - a : -180.0 - a;
    }
    return a * M_PI / 180.0;
}

Cell* select_in_block(bool push, bool to_block) {
    Cell key = stack::arguments[0];
    Cell block = stack::arguments[1];
    Cell answer{TYPE_NONE, 0, 0, 0};
    if (type_of(&key) != TYPE_BLOCK) {
        uint32_t size = blk::size(block.data2);
        uint32_t step = push ? 1 : 2;
        for (uint32_t i = block.data1; i < size; i += step) {
            Cell c = *blk::at(block.data2, i);
            if (type_of(&c) != type_of(&key) || !actions::compare_values(&c, &key, COMP_EQUAL)) continue;
            if (to_block) {
                // The first block after the match; none when there is none,
                // never a cell past the tail.
                for (uint32_t k = i + 1; k < blk::size(block.data2); k++) {
                    if (type_of(blk::at(block.data2, k)) == TYPE_BLOCK) {
                        answer = *blk::at(block.data2, k);
                        break;
                    }
                }
            } else {
                answer = i + 1 < size ? *blk::at(block.data2, i + 1) : c;
            }
            break;
        }
    }
    if (push) {
        Cell* slot = stack::push_slot();
        *slot = answer;
        return slot;
    }
    stack::set_last(&answer);
    return stack::arguments;
}

// Spec text ----------------------------------------------------------------------

namespace {

struct SpecReader {
    std::string_view text;
    size_t at = 0;

    void skip_space() {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\n' || text[at] == '\t')) at++;
    }
    bool done() {
        skip_space();
        return at >= text.size();
    }
    std::string_view token() {
        size_t start = at;
        while (at < text.size() && text[at] != ' ' && text[at] != '\n' && text[at] != '\t' && text[at] != '[' &&
               text[at] != ']')
            at++;
        return text.substr(start, at - start);
    }

    void read_block(Cell* block, bool types) {
        while (!done()) {
            char c = text[at];
            if (c == ']') {
                at++;
                return;
            }
            if (c == '[') {
                at++;
                // Held only here until appended: reading it allocates.
                collector::Rooted<1> inner;
                blk::make_at(&inner[0], 4);
                read_block(&inner[0], true);
                blk::append(block, &inner[0]);
                continue;
            }
            if (c == '"') {
                size_t end = text.find('"', at + 1);
                if (end == std::string_view::npos) end = text.size();
                std::string_view s = text.substr(at + 1, end - at - 1);
                at = end + 1;
                collector::Rooted<1> str;
                string::make_at(&str[0], uint32_t(s.size()));
                string::concatenate_literal(&str[0], s, int(s.size()));
                blk::append(block, &str[0]);
                continue;
            }
            std::string_view t = token();
            Cell v;
            if (types) {
                std::string name(t);
                int type = 0;
                for (int k = 1; k <= max_type_id; k++)
                    if (type_names[k].name && name == type_names[k].name) type = k;
                if (type) {
                    v = Cell{TYPE_DATATYPE, uint32_t(type), 0, 0};
                } else if (!typeset::by_name(name.c_str(), &v)) {
                    v = word::load(t);
                }
            } else if (t[0] == '/') {
                v = word::load(t.substr(1));
                v.header = TYPE_REFINEMENT;
            } else if (t[0] == '\'') {
                v = word::load(t.substr(1));
                v.header = TYPE_LIT_WORD;
            } else if (t[0] == ':') {
                v = word::load(t.substr(1));
                v.header = TYPE_GET_WORD;
            } else if (t.back() == ':') {
                v = word::load(t.substr(0, t.size() - 1));
                v.header = TYPE_SET_WORD;
            } else {
                v = word::load(t);
            }
            blk::append(block, &v);
        }
    }
};

}  // namespace

Cell* spec_from_text(std::string_view text, Cell* target) {
    blk::make_at(target, 8);
    collector::Root keep(target);
    SpecReader r{text};
    r.read_block(target, false);
    return target;
}

const Cell FAILURE_CELL{TYPE_NONE, 0, 0, 0};

const Cell* load_value_from_string_into(const Cell* str, Cell* out) {
    Cell s = *str;
    uint32_t consumed = 0;
    uint32_t length;
    {
        SeriesBuffer* b = node_buffer(s.data2);
        uint32_t n = (b->tail - b->offset) / b->unit();
        length = s.data1 < n ? n - s.data1 : 0;
    }
    protect::Guard guard;
    if (!guard.run([&] { lexer::scan_string_value(out, &s, -1, false, true, true, false, &consumed, nullptr, nullptr); })) {
        if (guard.error().id.category == err::CAT_SYNTAX) return &FAILURE_CELL;
        guard.rethrow();
    }
    if (consumed < length) return &FAILURE_CELL;
    if (type_of(out) != TYPE_BLOCK || blk::length(out) == 0) {
        *out = Cell{TYPE_UNSET, 0, 0, 0};
        return out;
    }
    return blk::at(out->data2, out->data1);
}

const Cell* load_value_from_string(const Cell* str) { return load_value_from_string_into(str, stack::arguments); }

Cell* error_at(Cell* target, const VyxError& e) {
    // The error! made at the raise; one is made here only for an error
    // raised without one (while memory or stack ran out).
    if (type_of(&e.value) == TYPE_ERROR) {
        *target = e.value;
    } else if (error::ready()) {
        collector::Rooted<4> r;
        for (uint32_t i = 0; i < 3; i++) r[i] = e.args[i];
        error::create(e.id, &r[0], &r[1], &r[2], &r[3]);
        *target = r[3];
    } else {
        *target = Cell{TYPE_NONE, 0, 0, 0};
    }
    return target;
}

VyxError error_of(const Cell* error) { return error::to_raised(error); }

}  // namespace helpers
}  // namespace vyx
