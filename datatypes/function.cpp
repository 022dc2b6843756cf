// function!: user functions made from a spec and a body. The spec check runs
// before anything is allocated, so a refused spec leaves nothing behind.
#include "datatypes/function.h"

#include <vector>

#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/cycle_stack.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/raise.h"

namespace vyx::function {

namespace {

inline int32_t canon(const Cell* w) { return symbol::resolve(int32_t(w->data2)); }
inline bool is_symbol(const Cell* w, int32_t sym) { return canon(w) == symbol::resolve(sym); }
inline int32_t local_symbol() { return int32_t(words::local.data2); }

[[noreturn]] void bad_def(const Cell* spec) { raise_error(err::script_bad_func_def, spec); }

void check_type_block(const Cell* types) {
    uint32_t n = blk::size(types->data2);
    for (uint32_t i = types->data1; i < n; i++) {
        Cell item = *blk::at(types->data2, i);
        int t = type_of(&item);
        if (t == TYPE_DATATYPE || t == TYPE_TYPESET) continue;
        if (t == TYPE_WORD) {
            Cell* v = context::get(&item);
            int vt = type_of(v);
            if (vt == TYPE_UNSET) raise_error(err::script_no_value, &item);
            if (vt == TYPE_DATATYPE || vt == TYPE_TYPESET || is_any_word(vt)) continue;
        }
        raise_error(err::script_invalid_type_spec, &item);
    }
}

}  // namespace

uint32_t check_spec(const Cell* spec) {
    enum Prev { NOTHING, ARG, DOC_AFTER_ARG, DOC, TYPES, REFINEMENT, RETURN_WORD, RETURN_TYPES };
    Node node = spec->data2;
    uint32_t n = blk::size(node);
    uint32_t i = spec->data1;
    uint32_t flags = 0;
    if (i < n && type_of(blk::at(node, i)) == TYPE_BLOCK) {
        Cell attrs = *blk::at(node, i);
        uint32_t m = blk::size(attrs.data2);
        for (uint32_t k = attrs.data1; k < m; k++) {
            const Cell* a = blk::at(attrs.data2, k);
            if (type_of(a) != TYPE_WORD) bad_def(spec);
            if (is_symbol(a, sym::trace)) flags |= FLAG_TRACE;
            if (is_symbol(a, sym::no_trace)) flags |= FLAG_NO_TRACE;
        }
        i++;
    }
    Prev prev = NOTHING;
    bool seen_return = false, locals = false;
    uint32_t first = i;
    for (; i < n; i++) {
        Cell c = *blk::at(node, i);
        int t = type_of(&c);
        switch (t) {
        case TYPE_STRING:
            prev = prev == ARG ? DOC_AFTER_ARG : DOC;
            break;
        case TYPE_BLOCK:
            if (prev == ARG) {
                check_type_block(&c);
                prev = TYPES;
            } else if (prev == RETURN_WORD) {
                check_type_block(&c);
                prev = RETURN_TYPES;
                if (i + 1 < n) {
                    int next = type_of(blk::at(node, i + 1));
                    if (next != TYPE_REFINEMENT && next != TYPE_STRING) bad_def(spec);
                }
            } else {
                bad_def(spec);
            }
            break;
        case TYPE_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
            if (prev == RETURN_WORD) bad_def(spec);
            if (seen_return && !locals) bad_def(spec);
            if (locals && t != TYPE_WORD) bad_def(spec);
            prev = ARG;
            break;
        case TYPE_SET_WORD:
            if (!is_symbol(&c, sym::return_) || seen_return || locals) bad_def(spec);
            if (i + 1 >= n || type_of(blk::at(node, i + 1)) != TYPE_BLOCK) bad_def(spec);
            seen_return = true;
            prev = RETURN_WORD;
            break;
        case TYPE_REFINEMENT:
            if (prev == RETURN_WORD) bad_def(spec);
            if (is_symbol(&c, local_symbol())) {
                locals = true;
            } else if (seen_return || locals) {
                bad_def(spec);
            }
            if (i + 1 < n) {
                int next = type_of(blk::at(node, i + 1));
                if (!is_any_word(next) || next == TYPE_ISSUE) {
                    if (next != TYPE_STRING) bad_def(spec);
                }
            }
            prev = REFINEMENT;
            break;
        default:
            bad_def(spec);
        }
    }
    // No two arguments, refinements or locals may share a name.
    std::vector<int32_t> seen;
    for (i = first; i < n; i++) {
        const Cell* c = blk::at(node, i);
        int t = type_of(c);
        if (t != TYPE_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD && t != TYPE_REFINEMENT) continue;
        int32_t s = canon(c);
        for (int32_t other : seen)
            if (other == s) {
                Cell dup = *c;
                raise_error(err::script_dup_vars, &dup);
            }
        seen.push_back(s);
    }
    return flags;
}

Cell* copy_deep(const Cell* block, Cell* target) {
    // The source and the copy in the making stay reachable while nested
    // copies allocate.
    collector::Rooted<3> r;
    Cell& source = r[0];
    source = *block;
    // A block inside itself has no end to copy.
    auto guard = CycleGuard::refusing(source.data2);
    uint32_t head = source.data1;
    uint32_t n = blk::size(source.data2);
    uint32_t count = head < n ? n - head : 0;
    r[1] = Cell{TYPE_BLOCK, 0, new_cell_series(count ? count : 1), 0};
    Node copy = r[1].data2;
    // A body copied from library code stays library code.
    node_buffer(copy)->flags |= node_buffer(source.data2)->flags & series_flag::LIBRARY;
    for (uint32_t i = 0; i < count; i++) {
        Cell c = *blk::at(source.data2, head + i);
        if (is_any_block(type_of(&c)) && type_of(&c) != TYPE_HASH) {
            copy_deep(&c, &r[2]);
            r[2].header = c.header;
            c = r[2];
        }
        SeriesBuffer* b = node_buffer(copy);
        *append_cell_to_buffer(b) = c;
    }
    *target = Cell{source.header, 0, copy, 0};
    return target;
}

Cell* push_new(const Cell* spec_in, const Cell* body, Node ctx, uint32_t code, uint32_t flags) {
    // Everything made here is only held by these cells until the value exists.
    collector::Rooted<5> r;
    Cell& spec = r[0];
    Cell& body_copy = r[1];
    Cell& body_in = r[2];
    spec = *spec_in;
    uint32_t n = blk::size(spec.data2);
    if (spec.data1 > n) spec.data1 = n;
    if (spec.data1 > 0) {
        // The spec is kept from its head, so that spec-of shows only what was given.
        Cell& copy = r[3];
        blk::make_at(&copy, n - spec.data1);
        for (uint32_t i = spec.data1; i < n; i++) blk::append(&copy, blk::at(spec.data2, i));
        spec = copy;
    }
    bool has_body = body && type_of(body) != TYPE_NONE;
    body_in = has_body ? *body : Cell{TYPE_NONE, 0, 0, 0};
    if (has_body) {
        uint32_t bn = blk::size(body_in.data2);
        if (body_in.data1 > bn) body_in.data1 = bn;
    }
    Node more = new_cell_series(5);
    r[4] = Cell{TYPE_BLOCK, 0, more, 0};
    {
        SeriesBuffer* b = node_buffer(more);
        for (int k = 0; k < 5; k++) *append_cell_to_buffer(b) = Cell{TYPE_UNSET, 0, 0, 0};
    }
    bool own_context = ctx == 0;
    if (own_context) ctx = context::make_from_block(&spec, true, false, context::KIND_FUNCTION);
    Cell fn{flags | TYPE_FUNCTION, ctx, spec.data2, more};
    // From here the context's owner cell keeps spec and record alive, and
    // the new value is reachable through the context only: keep it on the stack.
    Cell* held = stack::push(&fn);
    *context::owner_of(ctx) = fn;
    if (has_body) {
        copy_deep(&body_in, &body_copy);
        body_copy.header = TYPE_BLOCK;
    } else {
        body_copy = Cell{TYPE_NONE, 0, 0, 0};
    }
    Cell* m = node_buffer(more)->cell_head();
    m[MORE_BODY] = body_copy;
    if (code) m[MORE_CODE] = Cell{TYPE_INTEGER, 0, code, 0};
    if (own_context && has_body) context::bind(&body_copy, ctx, false);
    return held;
}

int count_locals(const Cell* spec, uint32_t start, bool must_find) {
    uint32_t n = blk::size(spec->data2);
    int32_t local = symbol::resolve(local_symbol());
    for (uint32_t i = start; i < n; i++) {
        const Cell* c = blk::at(spec->data2, i);
        if (type_of(c) == TYPE_REFINEMENT && canon(c) == local) {
            int count = 1;
            for (uint32_t k = i + 1; k < n; k++)
                if (type_of(blk::at(spec->data2, k)) == TYPE_WORD) count++;
            return count;
        }
    }
    return must_find ? -1 : 0;
}

void push_unused_refinement(int n) {
    logic::push(false);
    for (int k = 1; k < n; k++) none::push();
}

namespace {

bool holds_word(const Cell* list, const Cell* w) {
    uint32_t n = blk::size(list->data2);
    int32_t s = canon(w);
    for (uint32_t i = list->data1; i < n; i++) {
        const Cell* c = blk::at(list->data2, i);
        if (type_of(c) == TYPE_WORD && canon(c) == s) return true;
    }
    return false;
}

// Adds the word to the gathered list unless excluded, then excludes it.
void collect_word(const Cell* w, Cell* gathered, Cell* exclusions) {
    if (holds_word(exclusions, w)) return;
    Cell copy = *w;
    copy.header = TYPE_WORD;
    blk::append(gathered, &copy);
    blk::append(exclusions, &copy);
}

}  // namespace

void collect_body_words(const Cell* body, Cell* gathered, Cell* exclusions) {
    Cell b = *body;
    for (uint32_t i = b.data1; i < blk::size(b.data2); i++) {
        Cell c = *blk::at(b.data2, i);
        int t = type_of(&c);
        if (t == TYPE_SET_WORD) {
            collect_word(&c, gathered, exclusions);
        } else if (t == TYPE_BLOCK || t == TYPE_PAREN) {
            collect_body_words(&c, gathered, exclusions);
        } else if (t == TYPE_WORD && i + 1 < blk::size(b.data2)) {
            bool is_repeat = is_symbol(&c, sym::repeat);
            bool is_each = is_symbol(&c, sym::foreach) || is_symbol(&c, sym::remove_each);
            if (!is_repeat && !is_each) continue;
            Cell next = *blk::at(b.data2, i + 1);
            int nt = type_of(&next);
            if (nt == TYPE_WORD || nt == TYPE_SET_WORD) {
                collect_word(&next, gathered, exclusions);
            } else if (is_each && nt == TYPE_BLOCK) {
                for (uint32_t k = next.data1; k < blk::size(next.data2); k++) {
                    Cell w = *blk::at(next.data2, k);
                    int wt = type_of(&w);
                    if (wt == TYPE_WORD || wt == TYPE_GET_WORD || wt == TYPE_LIT_WORD)
                        collect_word(&w, gathered, exclusions);
                }
            }
        }
    }
}

void take_extern(Cell* spec, const Cell* body) {
    int32_t local = symbol::resolve(local_symbol());
    int32_t ext = symbol::resolve(int32_t(refinements::extern_.data2));
    collector::Rooted<2> r;
    Cell& gathered = r[0];
    Cell& exclusions = r[1];
    blk::make_at(&gathered, 8);
    uint32_t n = blk::size(spec->data2);
    blk::make_at(&exclusions, n);
    for (uint32_t i = spec->data1; i < n; i++) blk::append(&exclusions, blk::at(spec->data2, i));
    bool has_extern = false;
    for (uint32_t i = spec->data1; i < n; i++) {
        const Cell* c = blk::at(spec->data2, i);
        if (type_of(c) != TYPE_REFINEMENT || canon(c) != ext) continue;
        has_extern = true;
        uint32_t k = i + 1;
        while (k < n && type_of(blk::at(spec->data2, k)) == TYPE_WORD) k++;
        if (k < n && type_of(blk::at(spec->data2, k)) == TYPE_REFINEMENT && canon(blk::at(spec->data2, k)) == local) {
            for (k++; k < n; k++) {
                Cell w = *blk::at(spec->data2, k);
                if (type_of(&w) == TYPE_WORD) blk::append(&gathered, &w);
            }
        }
        // Cut the spec before /extern.
        SeriesBuffer* sb = node_buffer(spec->data2);
        sb->tail = sb->offset + i * 16;
        break;
    }
    for (uint32_t i = exclusions.data1; i < blk::size(exclusions.data2); i++) {
        Cell* c = blk::at(exclusions.data2, i);
        int t = type_of(c);
        if (t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD || t == TYPE_REFINEMENT) {
            set_cell_type(c, TYPE_WORD);
        } else if (has_extern && t != TYPE_WORD && t != TYPE_BLOCK && t != TYPE_STRING) {
            Cell bad = *c;
            raise_error(err::script_bad_func_extern, &bad);
        }
    }
    collect_body_words(body, &gathered, &exclusions);
    uint32_t g = blk::size(gathered.data2);
    if (g == 0) return;
    bool spec_has_local = false;
    for (uint32_t i = spec->data1; i < blk::size(spec->data2); i++) {
        const Cell* c = blk::at(spec->data2, i);
        if (type_of(c) == TYPE_REFINEMENT && canon(c) == local) spec_has_local = true;
    }
    if (!spec_has_local) {
        Cell r = refinements::local;
        blk::append(spec, &r);
    }
    for (uint32_t i = 0; i < g; i++) {
        Cell w = *blk::at(gathered.data2, i);
        if (canon(&w) == local) continue;
        blk::append(spec, &w);
    }
}

namespace {

const Cell* make(Cell* proto, Cell* spec, int type) {
    if (type_of(spec) != TYPE_BLOCK || blk::length(spec) < 2) raise_error(err::script_bad_func_def, spec);
    Cell s = *blk::at(spec->data2, spec->data1);
    Cell b = *blk::at(spec->data2, spec->data1 + 1);
    if (type_of(&s) != TYPE_BLOCK || type_of(&b) != TYPE_BLOCK) raise_error(err::script_bad_func_def, spec);
    uint32_t flags = check_spec(&s);
    return push_new(&s, &b, 0, 0, flags);
}

}  // namespace

// Shared with routine!: spec, body and words.
void reflect(Cell* value, int field) {
    int32_t f = symbol::resolve(field);
    Cell fn = *value;
    if (f == symbol::resolve(sym::spec)) {
        *stack::arguments = Cell{TYPE_BLOCK, 0, fn.data2, 0};
    } else if (f == symbol::resolve(sym::body)) {
        *stack::arguments = more(&fn)[MORE_BODY];
    } else if (f == symbol::resolve(sym::words)) {
        collector::Rooted<1> r;
        Cell& out = r[0];
        uint32_t n = context::word_count(fn.data1);
        blk::make_at(&out, n);
        for (uint32_t i = 0; i < n; i++) {
            Cell w = *context::key_word(fn.data1, i);
            w.header = TYPE_WORD;
            blk::append(&out, &w);
        }
        *stack::arguments = out;
    } else {
        raise_error(err::internal_not_done);
    }
}

int form(Cell* value, Cell* buffer, int part) {
    return string::concatenate_literal(buffer, type_of(value) == TYPE_ROUTINE ? "?routine?" : "?function?", part);
}

int mold_block(const Cell* block, Cell* buffer, bool all, bool flat, int part, int indent) {
    auto mold = reinterpret_cast<act::Mold>(get_handler(TYPE_BLOCK, A_MOLD));
    if (!mold) return part;
    Cell b = *block;
    return mold(&b, buffer, false, all, flat, part, indent);
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    Cell fn = *value;
    Cell spec{TYPE_BLOCK, 0, fn.data2, 0};
    Cell body = more(&fn)[MORE_BODY];
    if (type_of(&fn) == TYPE_ROUTINE) {
        part = string::concatenate_literal(buffer, "routine ", part);
        part = mold_block(&spec, buffer, all, flat, part, indent);
        if (type_of(&body) == TYPE_BLOCK) return mold_block(&body, buffer, all, flat, part, indent);
        part = string::concatenate_literal(buffer, " ", part);
        auto m = reinterpret_cast<act::Mold>(get_handler(type_of(&body), A_MOLD));
        return m ? m(&body, buffer, false, all, flat, part, indent) : part;
    }
    part = string::concatenate_literal(buffer, "func ", part);
    part = mold_block(&spec, buffer, all, flat, part, indent);
    if (type_of(&body) == TYPE_BLOCK) return mold_block(&body, buffer, all, flat, part, indent);
    return string::concatenate_literal(buffer, " none", part);
}

int compare(Cell* a, Cell* b, int op) {
    if (type_of(a) != type_of(b) || !is_unordered_compare(op)) return NOT_COMPARABLE;
    return a->data3 < b->data3 ? -1 : a->data3 > b->data3 ? 1 : 0;
}

namespace {

// The context, the spec block and the more record.
void mark_cell(const Cell* c) {
    if (c->data1) collector::mark_context_node(c->data1);
    if (c->data2) collector::mark_series_node(c->data2);
    if (c->data3) collector::mark_series_node(c->data3);
}

}  // namespace

void register_type() {
    Registration(TYPE_FUNCTION, TYPE_CONTEXT, "function!")
        .marker(mark_cell)
        .hasher(hash_payload_bytes<1, 12>)
        .on<A_MAKE>(make)
        .on<A_REFLECT>(reflect)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(compare)
        .commit();
}

}  // namespace vyx::function
