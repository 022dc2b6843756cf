// The natives that evaluate into blocks (reduce, compose), read and write
// words (get, set, unset, value?), bind (bind, in, context?), coerce (as) and
// make objects without evaluation (construct, extend).
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/hash.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/call.h"
#include "evaluator/helpers.h"
#include "evaluator/lexer.h"
#include "evaluator/interpreter.h"
#include "evaluator/native_table.h"
#include "runtime/stack.h"
#include "evaluator/trace.h"
#include "runtime/collector.h"
#include "runtime/raise.h"

namespace vyx::natives {

namespace {

using stack::thrown;

const Cell UNSET_VALUE{TYPE_UNSET, 0, 0, 0};
const Cell NONE_VALUE{TYPE_NONE, 0, 0, 0};

inline Cell* arg(int i) { return stack::arguments + i; }

inline bool is_callable_type(int t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

inline bool is_list_type(int t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_PATH || t == TYPE_LIT_PATH || t == TYPE_SET_PATH ||
           t == TYPE_GET_PATH;
}

inline bool is_path_type(int t) {
    return t == TYPE_PATH || t == TYPE_LIT_PATH || t == TYPE_SET_PATH || t == TYPE_GET_PATH;
}

inline bool is_word_kind(int t) {
    return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD;
}

// Where reduce and compose put their results: a stack cell holding the
// target block, appended to at its tail or inserted into at its position.
struct Target {
    Cell* block;  // a value-stack cell: the collector sees it, and it never moves
    bool insert;
    uint32_t start;  // the tail when appending began (for the owner's notice)
};

// The scratch cell at the base of the native's own frame: insertion writes
// its result there.
inline void push_scratch() { stack::push(&NONE_VALUE); }

// A hash! target has its index brought in step with each added cell.
void add(Target& t, const Cell* value) {
    Cell v = *value;
    bool hashed = type_of(t.block) == TYPE_HASH;
    uint32_t n = blk::size(t.block->data2);
    if (!t.insert) {
        blk::append(t.block, &v);
        if (hashed) hash::update(t.block, n, n, n, n + 1);
        return;
    }
    uint32_t at = std::min(t.block->data1, n);
    Cell scratch = v;
    block::insert(t.block, &scratch, -1, true, 1);
    t.block->data1 = stack::arguments->data1;
    if (hashed) hash::update(t.block, n, at, at, at + 1);
}

// Sets the target up from `out` (a stack cell, or null for a new block with
// room for `capacity` cells).
Target open_target(Cell* slot, const Cell* out, uint32_t capacity) {
    Target t{slot, false, 0};
    if (out) {
        *slot = *out;
        uint32_t n = series::length_from_head(slot);
        t.insert = slot->data1 < n;
        t.start = n;
    } else {
        blk::make_at(slot, capacity);
    }
    return t;
}

// After appending into a given block, its owner hears of the whole range.
void close_target(Target& t, bool into) {
    if (!into || t.insert) return;
    uint32_t n = series::length_from_head(t.block);
    if (n > t.start) series::notify(t.block, series::Change::APPEND, true, t.block, int32_t(t.start),
                                    int32_t(n - t.start));
}

// Evaluates a value as a one-value expression, pushing its value: a word
// gives its value, a paren its result, a path what walking it gives.
void eval_single(const Cell* value) {
    Cell* holder = stack::push_slot();
    blk::make_at(holder, 1);
    blk::append(holder, value);
    Cell code = *holder;
    interp::eval_next_at(&code, 0, 1, true);
}

}  // namespace

void reduce_value(const Cell* value_in, const Cell* out_in) {
    bool into = out_in != nullptr;
    Cell* source = stack::push(value_in);
    Cell* target_slot = stack::push_slot();
    *target_slot = NONE_VALUE;
    Cell out_copy = into ? *out_in : NONE_VALUE;
    const Cell* out = into ? &out_copy : nullptr;
    stack::push_call_frame(&words::frame_body);
    push_scratch();
    Cell src = *source;
    if (type_of(&src) == TYPE_BLOCK) {
        uint32_t end = blk::size(src.data2);
        Target t = open_target(target_slot, out, src.data1 < end ? end - src.data1 : 0);
        uint32_t pos = src.data1;
        while (pos < end) {
            pos = interp::eval_next_at(&src, pos, end, true);
            if (thrown) return;
            Cell v = *(stack::top - 1);
            clear_new_line_flag(&v);
            add(t, &v);
            stack::top--;
            // The block may have been changed by the code it holds.
            end = blk::size(src.data2);
        }
        close_target(t, into);
    } else {
        if (is_callable_type(type_of(&src))) {
            stack::push(&src);
        } else {
            eval_single(&src);
            if (thrown) return;
        }
        Cell v = *(stack::top - 1);
        if (into) {
            Target t = open_target(target_slot, out, 0);
            add(t, &v);
            close_target(t, true);
        } else {
            *target_slot = v;
        }
    }
    Cell result = *target_slot;
    stack::pop_frame_discard();
    stack::store_result_only(&result);
}

VYX_NATIVE(reduce_, 35, "reduce",
           R"~("evaluates every expression of a block into a new block (or into a given one)" value [any-type!] /into out [any-block!])~");
void reduce_(int check, const int* refs) {
    if (check) native_reduce_.check(refs);
    Cell value = *arg(0);
    if (refs[native_reduce_.refinement("into")] >= 0) {
        Cell out = *arg(refs[native_reduce_.refinement("into")]);
        reduce_value(&value, &out);
    } else {
        reduce_value(&value, nullptr);
    }
}

namespace {

// Composes the block `src` into the target; false when an exit is pending.
bool compose_into(const Cell* src_in, Target& t, bool deep, bool only) {
    Cell src = *src_in;
    for (uint32_t i = src.data1; i < blk::size(src.data2); i++) {
        Cell c = *blk::at(src.data2, i);
        int ct = type_of(&c);
        if (ct == TYPE_BLOCK && deep) {
            Cell* inner = stack::push_slot();
            Target it = open_target(inner, nullptr, blk::length(&c));
            if (!compose_into(&c, it, deep, only)) return false;
            add(t, inner);
            stack::top--;
        } else if (ct == TYPE_PAREN) {
            if (blk::length(&c) == 0) continue;
            Cell* base = stack::top;
            interp::eval_whole_block(&c, true);
            if (thrown) return false;
            // The result stays on the stack, reachable, while it is added.
            Cell* held = stack::top - 1;
            int vt = type_of(held);
            if (vt == TYPE_BLOCK && !only) {
                for (uint32_t k = held->data1; k < blk::size(held->data2); k++) {
                    Cell item = *blk::at(held->data2, k);
                    add(t, &item);
                }
            } else if (vt != TYPE_UNSET) {
                add(t, held);
            }
            stack::top = base;
        } else {
            add(t, &c);
        }
    }
    return true;
}

}  // namespace

VYX_NATIVE(compose_, 36, "compose",
           R"~("copies a block, evaluating only its parens" value [block!] /deep /only /into out [any-block!])~");
void compose_(int check, const int* refs) {
    if (check) native_compose_.check(refs);
    Cell value = *arg(0);
    if (type_of(&value) != TYPE_BLOCK) {
        Cell expected{TYPE_DATATYPE, TYPE_BLOCK, 0, 0};
        Cell got{TYPE_DATATYPE, uint32_t(type_of(&value)), 0, 0};
        raise_error(err::script_expect_val, &expected, &got);
    }
    bool deep = refs[native_compose_.refinement("deep")] >= 0, only = refs[native_compose_.refinement("only")] >= 0,
         into = refs[native_compose_.refinement("into")] >= 0;
    Cell* target_slot = stack::push_slot();
    *target_slot = NONE_VALUE;
    Cell out_copy = into ? *arg(refs[native_compose_.refinement("into")]) : NONE_VALUE;
    const Cell* out = into ? &out_copy : nullptr;
    stack::push_call_frame(&words::frame_body);
    push_scratch();
    Target t = open_target(target_slot, out, blk::length(&value));
    if (!compose_into(&value, t, deep, only)) return;
    close_target(t, into);
    Cell result = *target_slot;
    stack::pop_frame_discard();
    stack::store_result_only(&result);
}

// do ----------------------------------------------------------------------------------

namespace {

// Evaluates a block (or paren, hash) argument: the whole of it, or with
// /next one expression, setting `position` to the rest.
void do_series(Cell* code, const Cell* position) {
    uint32_t size = blk::size(code->data2);
    if (code->data1 > size) code->data1 = size;
    if (!position) {
        interp::do_block(code);
        return;
    }
    uint32_t next = interp::do_next_in_series(code);
    if (thrown) return;
    Cell rest = *code;
    rest.data1 = next;
    Cell word = *position;
    context::set(&word, &rest);
    stack::keep_result_only();
}

}  // namespace

namespace {

// do's evaluation by the value's datatype.
void do_value(Cell* code, const Cell* next, const int* refs, int args_ref) {
    switch (type_of(code)) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
        do_series(code, next);
        return;
    case TYPE_STRING: {
        Cell text = *code;
        lexer::scan_string_value(code, &text, -1, false, true, true, false, nullptr, nullptr, nullptr);
        do_series(code, next);
        return;
    }
    case TYPE_FILE: case TYPE_URL: {
        // Scripts run through the library's do-file.
        Cell name = word::load("do-file");
        const Cell* fn = context::get_value_ptr(word::symbol_of(&name), context::global);
        if (!fn || type_of(fn) != TYPE_FUNCTION) raise_error(err::internal_not_done);
        Cell callee = *fn;
        // The script and, in the cell after it, the /args value.
        stack::push(refs[args_ref] >= 0 ? arg(refs[args_ref]) : &NONE_VALUE);
        Cell* r = call::call_function(&callee, code, 2, &name);
        if (thrown) return;
        Cell result = *r;
        stack::store_result_only(&result);
        return;
    }
    case TYPE_ERROR:
        raise_error_value(code, true);
    default: {
        eval_single(code);
        if (thrown) return;
        Cell result = *(stack::top - 1);
        stack::store_result_only(&result);
        return;
    }
    }
}

// A trace installed by do/trace is taken down however the evaluation ends.
struct TraceScope {
    bool installed = false;
    ~TraceScope() {
        if (installed) trace::clear();
    }
};

}  // namespace

VYX_NATIVE(do_native, N_DO, "do",
           R"~("evaluates a value: block, paren, string, file, url, path, error or single value" value [any-type!] /expand /args arg /next position [word!] /trace callback [function! [event [word!] code [any-block! none!] offset [integer!] value [any-type!] ref [any-type!] frame [pair!]]])~");
void do_native(int check, const int* refs) {
    if (check) native_do_native.check(refs);
    // Refinement positions, read from the spec.
    enum {
        R_EXPAND = native_do_native.refinement("expand"),
        R_ARGS = native_do_native.refinement("args"),
        R_NEXT = native_do_native.refinement("next"),
        R_TRACE = native_do_native.refinement("trace")
    };
    // The preprocessor is not part of this build: refusing is better than
    // evaluating without what was asked for.
    if (refs[R_EXPAND] >= 0) raise_error(err::internal_not_done);
    TraceScope scope;
    if (refs[R_TRACE] >= 0) {
        Cell tracer = *arg(refs[R_TRACE]);
        scope.installed = trace::begin(&tracer);
    }
    // The code is held in a cell of this call while it runs.
    Cell* code = stack::push(arg(0));
    Cell position = refs[R_NEXT] >= 0 ? *arg(refs[R_NEXT]) : NONE_VALUE;
    const Cell* next = refs[R_NEXT] >= 0 ? &position : nullptr;
    do_value(code, next, refs, R_ARGS);
    if (scope.installed) {
        trace::end();
        scope.installed = false;
    }
}

// Words ---------------------------------------------------------------------------

namespace {

// The value of a word, or null when its context has no slot for it (a word
// never set). A word of a function that is not running raises, as reading it
// in code does.
const Cell* lookup(const Cell* w) {
    if (word::ctx_of(w) == 0) return nullptr;
    if (word::index_of(w) < 0) return context::get_value_ptr(word::symbol_of(w), word::ctx_of(w));
    return interp::word_value(w);
}

}  // namespace

VYX_NATIVE(get_, N_GET, "get",
           R"~("returns the value of a word, path or object" word [any-word! any-path! object!] /any /case return: [any-type!])~");
void get_(int check, const int* refs) {
    if (check) native_get_.check(refs);
    Cell target = *arg(0);
    bool any = refs[native_get_.refinement("any")] >= 0;
    int t = type_of(&target);
    if (is_path_type(t)) {
        Cell path = target;
        path.header = TYPE_PATH;
        uint32_t size = blk::size(path.data2);
        interp::walk_path(&path, path.data2, size, size, false, interp::PATH_GET, nullptr,
                          refs[native_get_.refinement("case")] >= 0);
        return;
    }
    if (t == TYPE_OBJECT) {
        object::reflect(&target, sym::values);
        stack::keep_result_only();
        return;
    }
    const Cell* found = lookup(&target);
    Cell v = found ? *found : UNSET_VALUE;
    if (type_of(&v) == TYPE_UNSET && !any) {
        target.header = (target.header & ~TYPE_MASK) | TYPE_WORD;
        raise_error(err::script_no_value, &target);
    }
    stack::store_result_only(&v);
}

// Sets the words of a block from successive values of a series (or every
// word to one value). Every word and every value is checked before anything
// is set, so a refused set changes nothing. `held` (or null): copies of the
// block's words in cells of a loop's call, set in their place so that they
// keep their indexes.
void set_words_from_series(const Cell* words_in, const Cell* values_in, bool any, bool only, bool some, Cell* held) {
    Cell words = *words_in;
    Cell values = *values_in;
    int vt = type_of(&values);
    bool spread = !only && (is_any_block(vt) || vt == TYPE_MAP);
    uint32_t count = blk::length(&words);
    // The value for word i (a cell read in place: only good until the next
    // allocation).
    auto value_at = [&](uint32_t i) -> const Cell* {
        if (!spread) return &values;
        const SeriesBuffer* b = node_buffer(values.data2);
        uint32_t k = values.data1 + i;
        return k < (b->tail - b->offset) >> 4 ? b->read_cells() + k : &NONE_VALUE;
    };
    auto word_at = [&](uint32_t i) { return held ? held[i] : node_buffer(words.data2)->read_cells()[words.data1 + i]; };
    for (uint32_t i = 0; i < count; i++) {
        Cell w = word_at(i);
        if (!is_word_kind(type_of(&w))) raise_error(err::script_invalid_arg, &w);
        if (!any && type_of(value_at(i)) == TYPE_UNSET) raise_error(err::script_need_value, &w);
    }
    for (uint32_t i = 0; i < count; i++) {
        Cell v = *value_at(i);
        if (some && type_of(&v) == TYPE_NONE) continue;
        if (held) {
            context::set_again(&held[i], &v);
            continue;
        }
        // The word is set through a copy: looking an unbound word up must not
        // write into the block's buffer.
        Cell w = word_at(i);
        context::set(&w, &v);
    }
}

VYX_NATIVE(set_, N_SET, "set",
           R"~("sets a word, path, object or block of words" word [any-word! block! object! any-path!] value [any-type!] /any /case /only /some return: [any-type!])~");
void set_(int check, const int* refs) {
    if (check) native_set_.check(refs);
    Cell target = *arg(0);
    Cell value = *arg(1);
    bool any = refs[native_set_.refinement("any")] >= 0, case_ = refs[native_set_.refinement("case")] >= 0,
         only = refs[native_set_.refinement("only")] >= 0, some = refs[native_set_.refinement("some")] >= 0;
    if (!any && type_of(&value) == TYPE_UNSET) raise_error(err::script_need_value, &target);
    int t = type_of(&target);
    if (t == TYPE_BLOCK) {
        stack::push_call_frame(&words::frame_body);
        set_words_from_series(&target, &value, any, only, some);
        stack::pop_frame_discard();
    } else if (is_path_type(t)) {
        Cell path = target;
        path.header = TYPE_PATH;
        uint32_t size = blk::size(path.data2);
        interp::walk_path(&path, path.data2, size, size, false, interp::PATH_SET, &value, case_);
        if (thrown) return;
    } else if (t == TYPE_OBJECT) {
        object::set_values(&target, &value, any, only, some);
    } else {
        context::set(&target, &value);
    }
    stack::store_result_only(&value);
}

VYX_NATIVE(unset_, 88, "unset",
           R"~("unsets a word or the words of a block" word [word! block!])~");
void unset_(int check, const int* refs) {
    if (check) native_unset_.check(refs);
    Cell target = *arg(0);
    if (type_of(&target) == TYPE_WORD) {
        context::set(&target, &UNSET_VALUE);
    } else {
        for (uint32_t i = target.data1; i < blk::size(target.data2); i++) {
            Cell w = *blk::at(target.data2, i);
            if (type_of(&w) == TYPE_WORD) context::set(&w, &UNSET_VALUE);
        }
    }
    stack::store_result_only(&UNSET_VALUE);
}

VYX_NATIVE(value_q, 69, "value?",
           R"~("whether a word has a value" value [word!] return: [logic!])~");
void value_q(int check, const int* refs) {
    if (check) native_value_q.check(refs);
    Cell w = *arg(0);
    bool has;
    if (!is_any_word(type_of(&w))) {
        has = type_of(&w) != TYPE_UNSET;
    } else {
        const Cell* v = lookup(&w);
        has = v && type_of(v) != TYPE_UNSET;
    }
    logic::box(has);
    stack::keep_result_only();
}

// Binding -----------------------------------------------------------------------

namespace {

// The context a value stands for: a function's own, an object's, or the one
// a word is bound to. 0 when there is none.
Node context_of_value(const Cell* v) {
    int t = type_of(v);
    if (t == TYPE_FUNCTION || t == TYPE_ROUTINE || t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT)
        return v->data1;
    if (is_any_word(t)) return word::ctx_of(v);
    return 0;
}

}  // namespace

VYX_NATIVE(bind_, 38, "bind",
           R"~("binds words to a context" word [block! any-word!] context [any-word! any-object! function!] /copy return: [block! any-word!])~");
void bind_(int check, const int* refs) {
    if (check) native_bind_.check(refs);
    Cell target = *arg(0);
    Cell ctx_value = *arg(1);
    Node ctx = context_of_value(&ctx_value);
    if (!ctx) raise_error(err::script_invalid_arg, &ctx_value);
    bool self = (context::cell_of(ctx)->header & context::FLAG_SELF) != 0;
    if (type_of(&target) == TYPE_BLOCK) {
        if (refs[native_bind_.refinement("copy")] >= 0) {
            Cell* copy = stack::push_slot();
            function::copy_deep(&target, copy);
            target = *copy;
        }
        context::bind(&target, ctx, self);
        stack::store_result_only(&target);
        return;
    }
    Cell w = target;
    context::bind_word(ctx, &w);
    stack::store_result_only(&w);
}

VYX_NATIVE(in_, 39, "in",
           R"~("returns a word bound to an object's or function's context" object [any-object! any-function!] word [any-word! refinement!])~");
void in_(int check, const int* refs) {
    if (check) native_in_.check(refs);
    Cell holder = *arg(0);
    Cell w = *arg(1);
    Node ctx = context_of_value(&holder);
    if (!ctx) {
        // native!, action! and op! have no context a word could be bound to.
        stack::store_result_only(&NONE_VALUE);
        return;
    }
    int32_t pos = context::find_word(ctx, word::symbol_of(&w), true);
    if (pos < 0) {
        stack::store_result_only(&NONE_VALUE);
        return;
    }
    int t = type_of(&w) == TYPE_REFINEMENT ? TYPE_WORD : type_of(&w);
    Cell bound = word::make_cell(t, ctx, word::symbol_of(&w), pos);
    stack::store_result_only(&bound);
}

VYX_NATIVE(context_q, 92, "context?",
           R"~("context to which a word is bound" word [any-word!] return: [object! function! none!])~");
void context_q(int check, const int* refs) {
    if (check) native_context_q.check(refs);
    Cell w = *arg(0);
    Node ctx = word::ctx_of(&w);
    if (!ctx) {
        stack::store_result_only(&NONE_VALUE);
        return;
    }
    Cell owner = *context::owner_of(ctx);
    if (ctx == context::global && type_of(&owner) == TYPE_UNSET) {
        // The global context answers for itself until the library's object
        // of it exists.
        owner = *object::wrap_context(ctx, 0);
    }
    int ot = type_of(&owner);
    if (ot != TYPE_OBJECT && ot != TYPE_FUNCTION && ot != TYPE_ROUTINE && ot != TYPE_ERROR && ot != TYPE_PORT &&
        ot != TYPE_NATIVE && ot != TYPE_ACTION)
        owner = NONE_VALUE;
    stack::store_result_only(&owner);
}

// Coercion and objects --------------------------------------------------------------

VYX_NATIVE(as_, 98, "as",
           R"~("coerces a series to a related datatype without copying" type [datatype! block! paren! any-path! any-string!] spec [block! paren! any-path! any-string!])~");
void as_(int check, const int* refs) {
    if (check) native_as_.check(refs);
    Cell type = *arg(0);
    Cell spec = *arg(1);
    int target = type_of(&type) == TYPE_DATATYPE ? int(type.data1) : type_of(&type);
    int from = type_of(&spec);
    bool lists = is_list_type(target) && is_list_type(from);
    bool strings = is_any_string(target) && is_any_string(from);
    if (!lists && !strings) {
        Cell a{TYPE_DATATYPE, uint32_t(from), 0, 0};
        Cell b{TYPE_DATATYPE, uint32_t(target), 0, 0};
        raise_error(err::script_not_same_class, &a, &b);
    }
    spec.header = (spec.header & ~TYPE_MASK) | uint32_t(target);
    stack::store_result_only(&spec);
}

VYX_NATIVE(construct_, 68, "construct",
           R"~("makes an object from an unevaluated spec" block [block!] /with object [object!] /only)~");
void construct_(int check, const int* refs) {
    if (check) native_construct_.check(refs);
    Cell spec = *arg(0);
    bool only = refs[native_construct_.refinement("only")] >= 0;
    if (refs[native_construct_.refinement("with")] >= 0) {
        Cell proto = *arg(refs[native_construct_.refinement("with")]);
        object::push_new(&spec, &proto, only);
    } else {
        object::push_new(&spec, nullptr, only);
    }
    Cell result = *(stack::top - 1);
    stack::store_result_only(&result);
}

VYX_NATIVE(extend_, 83, "extend",
           R"~("adds key and value pairs to a map" obj [object! map!] spec [block! hash! map!] /case)~");
void extend_(int check, const int* refs) {
    if (check) native_extend_.check(refs);
    // Objects are not extended in place; a map takes the pairs of the block.
    if (type_of(arg(0)) != TYPE_MAP) raise_error(err::internal_not_done);
    Cell spec = *arg(1);
    if (type_of(&spec) == TYPE_MAP) {
        // A map's pairs are its live body.
        raise_error(err::internal_not_done);
    }
    map::extend(arg(0), &spec, refs[native_extend_.refinement("case")] >= 0);
}

}  // namespace vyx::natives
