// The parse engine.
//
// One loop runs every rule. Each rule ends in a result (matched or not)
// that goes to the frame on top of the engine's stack: a block frame steps
// on to the next rule (or, on failure, to the next alternative), a command
// frame (a repetition, to/thru, copy, collect, into ...) takes the result of
// the one rule it applies to. Sub-rule blocks, commands and `into` levels are
// frames of that stack, never C++ calls, so nesting is bounded by the stack's
// limit and nothing else.
//
// Positions are element indexes from the input buffer's start. Parens,
// edits and the trace callback may shorten the input, so every position is
// clamped to the current tail when it is used. The engine keeps no buffer
// address across anything that may allocate.
#include "evaluator/parse.h"

#include <cstring>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/call.h"
#include "evaluator/helpers.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/native_table.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/raise.h"

namespace vyx::parse {

namespace {

using stack::thrown;

const Cell NONE_CELL{TYPE_NONE, 0, 0, 0};

enum Kind : uint8_t {
    F_BLOCK,    // a rule block being run
    F_REPEAT,   // any, some, opt, while, counted ranges
    F_TO,       // to and thru
    F_COPY,     // copy word, set word
    F_NOT,      // not, ahead
    F_REMOVE,
    F_CHANGE,
    F_COLLECT,
    F_KEEP,
    F_INTO,
};

// Flag bits of a frame.
enum : uint8_t {
    FL_CASE = 1,      // block: the case mode to restore when it ends
    FL_WHILE = 2,     // repeat: keeps going without progress
    FL_THRU = 2,      // to/thru
    FL_SET = 2,       // copy/set
    FL_AHEAD = 2,     // not/ahead
    FL_ONLY = 2,      // change only
    FL_PICK = 2,      // keep pick
    FL_INTO = 2,      // collect into
    FL_AFTER = 4,     // collect after
    FL_SETWORD = 8,   // collect set
};

// One frame. The cells are roots for the collector: a block frame holds the
// rule block it runs (b) and the one it returns to (a); an into frame the
// outer input (a); copy, set and collect frames their word (a) and collect
// its block (b).
struct Frame {
    uint8_t kind;
    uint8_t flags;
    uint32_t start;     // input position when the frame began
    uint32_t iter;      // repeat: iteration start; to/thru: scan position; into: outer /part limit
    uint32_t rule_pos;  // block: where the parent goes on; repeat, to/thru: the rule they run
    uint32_t input_node;
    int32_t min, max, count;
    int64_t ahead;  // repeat: input left ahead when the iteration began
    Cell a, b;
};

// Frames of every running parse; a nested parse (from a paren or a callback)
// works above the frames of the one that started it.
std::vector<Frame> frames;

// The engines running now, innermost last: their input and rule cells are
// roots too.
struct Engine;
std::vector<Engine*> engines;

void mark_frames();

[[noreturn]] void raise_word_error(err::Id id, uint32_t symbol) {
    Cell w = word::make_cell(TYPE_WORD, context::global, int32_t(symbol), -1);
    raise_error(id, &w);
}

// The keywords, as the engine's own small codes (0: no keyword); a switch
// over them picks a keyword's work in one jump.
enum Key : uint8_t {
    K_NONE_,  // no keyword
    K_BAR, K_SKIP, K_ANY, K_SOME, K_COPY, K_TO, K_THRU, K_END, K_REMOVE, K_BREAK, K_OPT, K_KEEP, K_PICK,
    K_FAIL, K_AHEAD, K_WHILE, K_INTO, K_INSERT, K_ONLY, K_CHANGE, K_IF, K_NOT, K_QUOTE, K_COLLECT,
    K_AFTER, K_SET, K_CASE, K_REJECT, K_NONE,
    K_COUNT
};

// Keyword code by raw symbol id: -1 not looked at yet, else the code (0 for
// none). Rule words are tested at every step, so the answer is kept; the
// table's address and size are kept apart so a look-up reads two globals.
std::vector<int8_t> keyword_cache;
const int8_t* keyword_table = nullptr;
uint32_t keyword_table_size = 0;

// The canonical symbol of each keyword code.
struct Keywords {
    int32_t sym[K_COUNT] = {};
    bool ready = false;
    void load() {
        keyword_cache.assign(keyword_cache.size(), -1);
        keyword_table = keyword_cache.data();
        keyword_table_size = uint32_t(keyword_cache.size());
        const int32_t raw[K_COUNT] = {
            0, sym::bar, sym::skip, sym::any, sym::some, sym::copy, sym::to, sym::thru, sym::end, sym::remove,
            sym::break_, sym::opt, sym::keep, sym::pick, sym::fail, sym::ahead, sym::while_, sym::into,
            sym::insert, sym::only, int32_t(words::change.data2), sym::if_, sym::not_, sym::quote, sym::collect,
            sym::after, sym::set, sym::case_, sym::reject, sym::none};
        for (int k = 1; k < K_COUNT; k++) sym[k] = symbol::resolve(raw[k]);
        ready = true;
    }
};
Keywords kw;


// The keyword code of a symbol, K_NONE_ for none; worked out once per symbol.
[[gnu::noinline]] Key keyword_code_slow(int32_t raw) {
    if (raw <= 0) return K_NONE_;
    if (size_t(raw) >= keyword_cache.size()) {
        keyword_cache.resize(size_t(raw) + 256, -1);
        keyword_table = keyword_cache.data();
        keyword_table_size = uint32_t(keyword_cache.size());
    }
    int8_t& e = keyword_cache[size_t(raw)];
    if (e < 0) {
        int32_t s = symbol::resolve(raw);
        e = 0;
        for (int k = 1; k < K_COUNT; k++)
            if (kw.sym[k] == s) e = int8_t(k);
    }
    return Key(e);
}

// Every rule word's first question: answered from the cache once known.
inline Key keyword_code(int32_t raw) {
    if (uint32_t(raw) < keyword_table_size) {
        int8_t e = keyword_table[uint32_t(raw)];
        if (e >= 0) return Key(e);
    }
    return keyword_code_slow(raw);
}

// The value of a word, or null when its context has no slot for it (a word
// never set). Only good until the next allocation.
const Cell* lookup(const Cell* w) {
    if (word::ctx_of(w) == 0) return nullptr;
    if (word::index_of(w) < 0) return context::get_value_ptr(word::symbol_of(w), word::ctx_of(w));
    return interp::word_value(w);
}

inline Cell integer_cell(int32_t v) { return Cell{TYPE_INTEGER, 0, uint32_t(v), 0}; }
inline Cell logic_cell(bool v) { return Cell{TYPE_LOGIC, v ? 1u : 0u, 0, 0}; }

inline uint32_t input_length(const Cell* s) { return series::length_from_head(s); }

// Whether a value is a series the engine can match as input.
inline bool is_input_type(int t) { return is_any_block(t) || is_any_string(t) || t == TYPE_BINARY; }

enum InputKind { IN_BLOCK, IN_STRING, IN_BINARY };
inline InputKind kind_of_input(int t) {
    return is_any_block(t) ? IN_BLOCK : t == TYPE_BINARY ? IN_BINARY : IN_STRING;
}

// Folds a code point for a case-insensitive compare (ASCII without a call).
inline uint32_t fold(uint32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
    return string::fold_upper(c);
}

struct Engine {
    Cell input;          // the input series (its index is not used: `pos` is)
    Cell rules;          // the rule block being run
    Cell result_block;   // what a top-level collect made (none when nothing)
    Cell callback;       // the trace callback, or none
    uint32_t pos = 0;    // input position
    uint32_t rpos = 0;   // rule position in `rules`
    uint32_t limit = UINT32_MAX;  // /part limit (an index), UINT32_MAX for none
    uint32_t base = 0;   // this call's first frame
    InputKind in = IN_BLOCK;
    bool case_ = false;
    bool stopped = false;  // the trace callback answered false
    bool match = false;    // the last result, for the trace callback
    bool tracing = false;  // a callback is set and has not stopped the parse
    // Code the engine does not run itself (a watched word's handler, a
    // path, a series owner's hook) may have shortened the input: the next
    // fetch clamps the position. Parens and the callback clamp at once.
    bool unclamped = false;

    Engine() {
        input = rules = result_block = callback = NONE_CELL;
        engines.push_back(this);
        base = uint32_t(frames.size());
    }
    ~Engine() {
        // Any way out (an error, a pending exit, the normal end) leaves the
        // stack as this call found it.
        frames.resize(base);
        engines.pop_back();
    }

    // ---- input access

    uint32_t tail() const { return input_length(&input); }
    uint32_t end() const {
        uint32_t t = tail();
        return limit < t ? limit : t;
    }
    void clamp() {
        uint32_t t = tail();
        if (pos > t) pos = t;
    }
    uint32_t clamp_index(uint32_t i) const {
        uint32_t t = tail();
        return i > t ? t : i;
    }
    // Code unit k of a string or binary input.
    uint32_t unit_at(uint32_t k) const {
        SeriesBuffer* b = series::buffer_of(&input);
        return string::get_char(series::element_at(b, k), b->unit());
    }

    // ---- frames

    // A new frame starting here; a repetition sets its `ahead` itself.
    Frame& push(Kind k) {
        need_room();
        return frames.emplace_back(Frame{k, 0, pos, pos, 0, input.data2, 0, 0, 0, 0, NONE_CELL, NONE_CELL});
    }
    // The check of push: one more frame must fit. A command run without its
    // frame checks it all the same.
    void need_room() const {
        if ((frames.size() - base + 1) * 3 > STACK_LIMIT_CELLS) raise_error(err::script_parse_stack);
    }
    Frame& top() { return frames.back(); }
    void pop() { frames.pop_back(); }
    bool at_base() const { return frames.size() == base; }

    // ---- rules

    uint32_t rule_count() const { return blk::size(rules.data2); }
    // Reads leave the block's DECODED mark alone: only a write clears it.
    Cell rule_at(uint32_t i) const { return node_buffer(rules.data2)->read_cells()[i]; }
    bool has_rule(uint32_t i) const { return i < rule_count(); }
    // The keyword a rule cell is, or K_NONE_.
    [[gnu::always_inline]] Key keyword_of(const Cell* c) const {
        return type_of(c) == TYPE_WORD ? keyword_code(word::symbol_of(c)) : K_NONE_;
    }
    bool is_keyword(const Cell* c) const { return keyword_of(c) != 0; }

    // A word of the rule block found by its symbol keeps the index in the
    // block's own cell, so the next step reads its value directly (the
    // interpreter does the same for code). Nothing here allocates.
    void remember_index(uint32_t at, const Cell* word, const Cell* slot) const {
        Node ctx = word->data1;
        if (!ctx || !slot || int32_t(word->data3) != -1 || at >= rule_count()) return;
        const Cell* cc = node_buffer(ctx)->cell_head();
        if (cc->header & context::FLAG_STACK) return;
        const Cell* head = blk::at(cc->data2, 0);
        if (slot < head || slot >= head + blk::size(cc->data2)) return;
        Cell* c = blk::at(rules.data2, at);
        if (int32_t(c->data3) == -1 && c->data1 == word->data1 && c->data2 == word->data2)
            c->data3 = uint32_t(slot - head);
    }

    // The value of the rule word at `at` standing as a rule, found once (an
    // unset word is an invalid rule).
    Cell rule_word_rule(uint32_t at) const {
        Cell w = rule_at(at);
        const Cell* v = lookup(&w);
        remember_index(at, &w, v);
        if (!v || type_of(v) == TYPE_UNSET) {
            set_cell_type(&w, TYPE_WORD);
            raise_error(err::script_parse_rule, &w);
        }
        return *v;
    }

    // The value of a word used as a rule or an argument. An unset word is an
    // invalid rule where it stands as a rule, no-value where it is an argument.
    Cell word_value(const Cell* w, bool as_rule) const {
        Cell word = *w;
        const Cell* v = lookup(&word);
        Cell r = v ? *v : Cell{TYPE_UNSET, 0, 0, 0};
        if (type_of(&r) == TYPE_UNSET) {
            Cell plain = word;
            set_cell_type(&plain, TYPE_WORD);
            raise_error(as_rule ? err::script_parse_rule : err::script_no_value, &plain);
        }
        return r;
    }

    // Evaluates a paren; its value is written to `out` when asked. Answers
    // false when an exit is pending (the caller leaves at once).
    bool eval_paren(const Cell* paren, Cell* out) {
        trace_event(int32_t(words::paren.data2));
        Cell p = *paren;
        Cell* saved = stack::top;
        stack::push(&p);  // kept while it runs: the paren may remove itself
        interp::eval_whole_block(&p, true);
        if (thrown) return false;
        if (out) *out = *(stack::top - 1);
        stack::top = saved;
        clamp();
        return true;
    }

    // ---- matching one value at the current position
    // Each answers the number of input elements matched, or -1.

    // Text of a string-like or binary rule against string or binary input.
    int32_t match_text(const Cell* rule, uint32_t at, uint32_t stop) const {
        int t = type_of(rule);
        if (t == TYPE_CHAR) {
            if (at >= stop) return -1;
            // Bytes are no text: a byte matches the code point it equals.
            uint32_t c = unit_at(at), r = rule->data2;
            if (c == r || (!case_ && in != IN_BINARY && fold(c) == fold(r))) return 1;
            return -1;
        }
        if (t == TYPE_BITSET) {
            if (at >= stop) return -1;
            return bitset::test_bit(rule, unit_at(at)) ? 1 : -1;
        }
        bool tag = t == TYPE_TAG;
        uint32_t n = tag ? 2 : 0;
        SeriesBuffer* rb = series::buffer_of(rule);
        uint32_t rlen = series::rs_length(rule);
        uint32_t rstart = rule->data1;
        n += rlen;
        if (stop < at || stop - at < n) return -1;
        bool exact = case_ || t == TYPE_BINARY || in == IN_BINARY;
        uint32_t k = at;
        if (tag && unit_at(k++) != '<') return -1;
        SeriesBuffer* ib = series::buffer_of(&input);
        uint32_t iu = ib->unit(), ru = rb->unit();
        const uint8_t* ip = series::element_at(ib, k);
        const uint8_t* rp = series::element_at(rb, rstart);
        if (iu == 1 && ru == 1 && exact) {
            if (std::memcmp(ip, rp, rlen) != 0) return -1;
        } else {
            for (uint32_t i = 0; i < rlen; i++) {
                uint32_t c = string::get_char(ip + i * iu, iu), r = string::get_char(rp + i * ru, ru);
                if (c != r && (exact || fold(c) != fold(r))) return -1;
            }
        }
        k += rlen;
        if (tag && unit_at(k) != '>') return -1;
        return int32_t(n);
    }

    // A datatype (or typeset) against binary input: the lexer scans the
    // next token there; its type decides, its length is what matched.
    int32_t match_scanned_type(const Cell* rule, uint32_t at, uint32_t stop) {
        if (at >= stop) return -1;
        Cell from = input;
        from.data1 = at;
        Cell* result = stack::push(&NONE_CELL);
        uint32_t consumed = 0;
        int t = lexer::scan_string_value(result, &from, int32_t(stop - at), true, true, false, false, &consumed,
                                         nullptr, nullptr);
        stack::top--;
        if (t <= 0 || t == TYPE_ERROR || consumed == 0) return -1;
        bool hit = type_of(rule) == TYPE_DATATYPE ? t == int(rule->data1) : typeset::has(rule, t);
        return hit ? int32_t(consumed) : -1;
    }

    // A value that is no keyword against the input at `at`: -1 no match,
    // else the elements matched. `literal` (quote) takes datatypes as values.
    int32_t match_value(const Cell* rule_in, uint32_t at, uint32_t stop, bool literal) {
        Cell rule = *rule_in;
        int t = type_of(&rule);
        if (in == IN_BLOCK) {
            if (at >= stop) return -1;
            Cell elem = *blk::at(input.data2, at);
            int et = type_of(&elem);
            if (!literal && t == TYPE_DATATYPE) return et == int(rule.data1) ? 1 : -1;
            if (!literal && t == TYPE_TYPESET) return typeset::has(&rule, et) ? 1 : -1;
            if (t == TYPE_LIT_WORD && !literal) {
                if (!is_any_word(et) || et == TYPE_REFINEMENT || et == TYPE_ISSUE) return -1;
                if (case_) return word::symbol_of(&elem) == word::symbol_of(&rule) ? 1 : -1;
                return symbol::resolve(word::symbol_of(&elem)) == symbol::resolve(word::symbol_of(&rule)) ? 1 : -1;
            }
            if (t == TYPE_LIT_PATH && !literal) {
                if (et < TYPE_PATH || et > TYPE_GET_PATH) return -1;  // paths of any kind, nothing else
                set_cell_type(&rule, TYPE_PATH);
                set_cell_type(&elem, TYPE_PATH);
            }
            return actions::compare_values(&rule, &elem, case_ ? COMP_STRICT_EQUAL : COMP_EQUAL) ? 1 : -1;
        }
        switch (t) {
        case TYPE_CHAR: case TYPE_BITSET: case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG:
        case TYPE_EMAIL: case TYPE_REF: case TYPE_BINARY:
            return match_text(&rule, at, stop);
        case TYPE_INTEGER:
            if (in == IN_BINARY && literal) {
                if (at >= stop) return -1;
                return unit_at(at) == rule.data2 ? 1 : -1;
            }
            break;
        case TYPE_DATATYPE: case TYPE_TYPESET:
            if (literal) break;
            if (in == IN_BINARY) return match_scanned_type(&rule, at, stop);
            raise_error(err::script_parse_unsupported);
        default:
            break;
        }
        raise_error(err::script_parse_rule, &rule);
    }

    // Whether a rule value can be matched by match_value without the engine
    // (the fast paths of repetitions and to/thru).
    bool is_simple(const Cell* v) const {
        int t = type_of(v);
        if (in == IN_BLOCK) {
            return t == TYPE_DATATYPE || t == TYPE_TYPESET || t == TYPE_LIT_WORD || t == TYPE_STRING ||
                   t == TYPE_CHAR || t == TYPE_FLOAT || t == TYPE_LOGIC;
        }
        switch (t) {
        case TYPE_CHAR: case TYPE_BITSET: case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG:
        case TYPE_EMAIL: case TYPE_REF: case TYPE_BINARY:
            return true;
        default:
            return false;
        }
    }

    // The rule at i as a simple value (a word is looked up), or false.
    bool simple_rule(uint32_t i, Cell* out) const {
        Cell v = rule_at(i);
        if (type_of(&v) == TYPE_WORD) {
            if (is_keyword(&v)) return false;
            const Cell* val = lookup(&v);
            remember_index(i, &v, val);
            if (!val) return false;
            v = *val;
        }
        if (!is_simple(&v)) return false;
        *out = v;
        return true;
    }

    // ---- edits

    // Runs insert, change or remove on the input at `at` in a call frame of
    // its own; answers how much the input grew (negative: shrank).
    int64_t edit(int action, uint32_t at, const Cell* value, int32_t part, bool only) {
        int64_t before = tail();
        stack::push_call_frame(&words::frame_body);
        Cell* s = stack::push(&input);
        s->data1 = at;
        Cell* v = stack::push(value ? value : &NONE_CELL);
        if (action == A_REMOVE) {
            Cell* p = stack::push(&NONE_CELL);
            *p = integer_cell(part);
            reinterpret_cast<act::Remove>(actions::get_action(type_of(s), s, A_REMOVE))(s, p, nullptr);
        } else {
            reinterpret_cast<act::Insert>(actions::get_action(type_of(s), s, action))(s, v, part, only, 1);
        }
        stack::pop_frame_discard();
        unclamped = true;
        return int64_t(tail()) - before;
    }

    void remove_range(uint32_t from, uint32_t to) {
        from = clamp_index(from);
        to = clamp_index(to);
        if (to < from) std::swap(from, to);
        if (to > from) edit(A_REMOVE, from, nullptr, int32_t(to - from), false);
        pos = from;
    }

    // The value after insert or change: a word or get-word gives its value,
    // a paren its result. False when an exit is pending.
    bool edit_value(const Cell* v, Cell* out) {
        int t = type_of(v);
        if (t == TYPE_WORD || t == TYPE_GET_WORD) {
            *out = word_value(v, false);
            return true;
        }
        if (t == TYPE_PAREN) return eval_paren(v, out);
        *out = *v;
        return true;
    }

    // ---- captures

    // A copy of the input from `from` to `to` (clamped), of the input's type.
    void copy_part(uint32_t from, uint32_t to, Cell* out) {
        from = clamp_index(from);
        to = clamp_index(to);
        if (to < from) to = from;
        Cell* slot = stack::push(&NONE_CELL);
        series::copy_range(&input, from, to - from, slot);
        clear_new_line_flag(slot);
        *out = *slot;
        stack::top--;
    }

    // Sets a word; `at`, when given, is the word's place in the rule block,
    // which keeps the index the setting found.
    void set_word(const Cell* w, const Cell* value, int64_t at = -1) {
        Cell word = *w;
        Cell v = *value;
        if (!context::poke(&word, &v)) {
            context::set(&word, &v);
            unclamped = true;
        }
        if (at < 0 || int32_t(w->data3) != -1 || int32_t(word.data3) < 0 || uint32_t(at) >= rule_count()) return;
        Cell* c = blk::at(rules.data2, uint32_t(at));
        if (int32_t(c->data3) == -1 && c->data1 == w->data1 && c->data2 == w->data2) c->data3 = word.data3;
    }

    // copy (the input from `start` to here) or set (its first element, none
    // when nothing matched) into the word at `at` of the rule block.
    void capture(const Cell* word, uint32_t start, bool set, uint32_t at) {
        Cell w = *word, v;
        uint32_t from = clamp_index(start);
        if (set) {
            if (pos > from)
                series::element_value(&input, from, &v);
            else
                v = NONE_CELL;
        } else {
            copy_part(from, pos, &v);
        }
        Cell* slot = stack::push(&v);
        set_word(&w, slot, at);
        stack::top--;
    }

    // ---- collect and keep

    Frame* collect_frame(size_t below) {
        for (size_t i = below; i > base; i--)
            if (frames[i - 1].kind == F_COLLECT) return &frames[i - 1];
        return nullptr;
    }

    void keep_value(const Cell* value) {
        Frame* c = collect_frame(frames.size());
        if (!c) raise_error(err::script_parse_keep);
        Cell blk = c->b;
        Cell v = *value;
        clear_new_line_flag(&v);
        blk::append(&blk, &v);
    }

    void keep_part(uint32_t from, uint32_t to, bool pick) {
        from = clamp_index(from);
        to = clamp_index(to);
        if (to < from) to = from;
        if (pick) {
            for (uint32_t k = from; k < to && k < tail(); k++) {
                Cell v;
                series::element_value(&input, k, &v);
                keep_value(&v);
            }
            return;
        }
        Cell v;
        if (to - from == 1)
            series::element_value(&input, from, &v);
        else
            copy_part(from, to, &v);
        Cell* slot = stack::push(&v);
        keep_value(slot);
        stack::top--;
    }

    // The target of collect into/after, checked.
    Cell collect_target(const Cell* w) {
        Cell target = word_value(w, false);
        int t = type_of(&target);
        bool ok = is_series_type(t) && t != TYPE_VECTOR && t != TYPE_IMAGE;
        if (ok && t == TYPE_BINARY && in != IN_BINARY) ok = false;
        if (ok && is_any_string(t) && in == IN_BLOCK) ok = false;
        if (!ok) raise_error(err::script_parse_into_type, &target);
        if (target.data2 == input.data2) raise_error(err::script_parse_into_bad, &target);
        return target;
    }

    // ---- the trace callback

    // Tells the callback, when there is one, of an event.
    [[gnu::always_inline]] void trace_event(int32_t event) {
        if (tracing) [[unlikely]] report_event(event);
    }

    // The callback told of an event; a false answer stops the parse.
    [[gnu::noinline]] void report_event(int32_t event) {
        Cell* saved = stack::top;
        Cell* args = stack::push_slot();
        *args = word::make_cell(TYPE_WORD, context::global, event, -1);
        stack::push(&NONE_CELL);
        args[1] = logic_cell(match);
        Cell* r = stack::push(&rules);
        r->data1 = rpos < rule_count() ? rpos : rule_count();
        Cell* i = stack::push(&input);
        i->data1 = pos;
        Cell* st = stack::push(&NONE_CELL);
        blk::make_at(st, uint32_t(frames.size() - base + 1));
        for (size_t k = base; k < frames.size(); k++) {
            if (frames[k].kind != F_BLOCK) continue;
            Cell b = frames[k].b;
            blk::append(st, &b);
        }
        Cell fn = callback;
        Cell* res = call::call_function(&fn, args, 5);
        if (thrown) return;
        bool go_on = logic::truth(res);
        stack::top = saved;
        clamp();
        if (!go_on) {
            stopped = true;
            tracing = false;
        }
    }

    // ---- running

    // A block entered where the frames below `upto` already run it, on the
    // same input at the same position, would never end.
    void check_recursion(const Cell* b, const Frame* upto) const {
        for (const Frame* f = frames.data() + base; f < upto; f++) {
            if (f->start == pos && f->kind == F_BLOCK && f->b.data2 == b->data2 && f->b.data1 == b->data1 &&
                f->input_node == input.data2) {
                raise_error(err::script_parse_infinite, b);
            }
        }
    }

    // Enters a rule block as a sub-rule; `next` is where the current block
    // goes on afterwards.
    void enter_block(const Cell* block_in, uint32_t next) {
        Cell b = *block_in;
        check_recursion(&b, frames.data() + frames.size());
        Frame& nf = push(F_BLOCK);
        nf.a = rules;
        nf.b = b;
        nf.rule_pos = next;
        nf.flags = case_ ? FL_CASE : 0;
        rules = b;
        set_cell_type(&rules, TYPE_BLOCK);
        rpos = b.data1;
        trace_event(int32_t(words::push.data2));
    }

    // Finds the next alternative from rpos; true when there is one (rpos
    // then follows its bar).
    bool next_alternative() {
        uint32_t n = rule_count();
        const Cell* c = node_buffer(rules.data2)->read_cells();
        for (uint32_t i = rpos; i < n; i++) {
            if (keyword_of(c + i) == K_BAR) {
                rpos = i + 1;
                return true;
            }
        }
        return false;
    }

    // Where the rule at i ends (its arguments and the rules it applies to
    // included), found without running it.
    uint32_t rule_end(uint32_t i) const {
        uint32_t n = rule_count();
        int need = 1;
        while (need > 0 && i < n) {
            Cell c = rule_at(i);
            Key k = keyword_of(&c);
            i++;
            if (!k || k == K_BAR) {
                if (type_of(&c) == TYPE_INTEGER && i < n) continue;  // a count: its rule follows
                need--;
                continue;
            }
            if (k == K_ANY || k == K_SOME || k == K_OPT || k == K_WHILE || k == K_NOT || k == K_AHEAD ||
                k == K_TO || k == K_THRU || k == K_REMOVE || k == K_INTO) {
                continue;
            }
            if (k == K_KEEP) {
                if (i < n) {
                    Cell nx = rule_at(i);
                    if (keyword_of(&nx) == K_PICK) i++;
                }
                continue;
            }
            if (k == K_COPY || k == K_SET) {
                i++;
                continue;
            }
            if (k == K_COLLECT) {
                if (i < n) {
                    Cell nx = rule_at(i);
                    Key m = keyword_of(&nx);
                    if (m == K_SET || m == K_INTO || m == K_AFTER) i += 2;
                }
                continue;
            }
            if (k == K_INSERT || k == K_CHANGE) {
                if (i < n) {
                    Cell nx = rule_at(i);
                    if (keyword_of(&nx) == K_ONLY) i++;
                }
                if (k == K_INSERT) {
                    i++;
                    need--;
                } else {
                    need++;  // the rule, then the value
                }
                continue;
            }
            if (k == K_IF || k == K_QUOTE || k == K_CASE) {
                i++;
                need--;
                continue;
            }
            need--;
        }
        return i > n ? n : i;
    }

    // The integer a rule value stands for (a word is looked up), or false.
    bool count_at(uint32_t i, int32_t* out) const {
        if (i >= rule_count()) return false;
        Cell c = rule_at(i);
        if (type_of(&c) == TYPE_WORD && !is_keyword(&c)) {
            Cell w = c;
            const Cell* v = lookup(&w);
            if (!v) return false;
            c = *v;
        }
        if (type_of(&c) != TYPE_INTEGER) return false;
        *out = int32_t(c.data2);
        return true;
    }

    // A repetition of a simple value as one loop; answers the result.
    bool repeat_simple(const Cell* v, int32_t min, int32_t max) {
        uint32_t start = pos, stop = end();
        int32_t count = 0;
        if (type_of(v) == TYPE_BITSET && in != IN_BLOCK && series::buffer_of(&input)->unit() == 1) {
            // A charset over byte-wide input: the run of its bytes, read in
            // place. The loop writes nothing, so the set's bounds stay in
            // registers.
            const uint8_t* from = series::buffer_of(&input)->read_head() + pos;
            const SeriesBuffer* set = node_buffer(v->data2);
            uint32_t room = stop > pos ? stop - pos : 0;
            if (max >= 0 && uint32_t(max) < room) room = uint32_t(max);
            const uint8_t* p = from;
            const uint8_t* last = from + room;
            while (p < last && bitset::buffer_has_bit(set, *p)) p++;
            count = int32_t(p - from);
            pos += uint32_t(count);
        } else {
            while (max < 0 || count < max) {
                int32_t n = match_value(v, pos, stop, false);
                if (n < 0) break;
                count++;
                if (n == 0) {
                    // An empty match repeats in place: the count is met.
                    if (count < min) count = min;
                    break;
                }
                pos += uint32_t(n);
            }
        }
        if (count < min) {
            pos = start;
            return false;
        }
        return true;
    }

    // A rule that ends in a result without frames of its own (a simple value,
    // skip, end, none, fail, or any, some, opt, to or thru of a simple value):
    // runs it, its result in pending_result and rpos past it, and answers
    // true. Any other rule is left to the engine (false, nothing done).
    bool lean_rule(uint32_t at) {
        Cell v = rule_at(at);
        Key k = keyword_of(&v);
        switch (k) {
        case K_NONE_: {
            if (!simple_rule(at, &v)) return false;
            int32_t m = match_value(&v, pos, end(), false);
            if (m >= 0) pos += uint32_t(m);
            pending_result = m >= 0;
            rpos = at + 1;
            return true;
        }
        case K_SKIP: case K_END: case K_NONE: case K_FAIL:
            rpos = at;
            keyword_step(k);
            return true;
        case K_ANY: case K_SOME: case K_OPT: case K_TO: case K_THRU: {
            uint32_t sub = at + 1;
            if (sub >= rule_count()) return false;
            if (k == K_TO || k == K_THRU) {
                Cell t = rule_at(sub);
                if (keyword_of(&t) == K_END) {
                    pos = end() > pos ? end() : pos;
                    pending_result = true;
                } else if (simple_rule(sub, &v)) {
                    pending_result = scan_simple(&v, k == K_THRU);
                } else {
                    return false;
                }
            } else {
                if (!simple_rule(sub, &v)) return false;
                pending_result = repeat_simple(&v, k == K_SOME ? 1 : 0, k == K_OPT ? 1 : -1);
            }
            rpos = sub + 1;
            return true;
        }
        default:
            return false;
        }
    }

    // to/thru a simple value as one scan; answers the result.
    bool scan_simple(const Cell* v, bool thru) {
        uint32_t stop = end();
        int t = type_of(v);
        bool text = t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_EMAIL;
        if (in != IN_BLOCK && (t == TYPE_CHAR || (text && series::rs_length(v) > 0)) &&
            series::buffer_of(&input)->unit() == 1) {
            // Byte-wide input: candidates by the first character, found by
            // memchr when it has one form, by a two-byte compare for an
            // ASCII letter without regard to case; the rule is then matched
            // at each candidate.
            uint32_t first = t == TYPE_CHAR ? v->data2 : string::char_at(v, v->data1);
            bool letter = (first | 0x20) >= 'a' && (first | 0x20) <= 'z';
            bool one_form = case_ || in == IN_BINARY || (first < 0x80 && !letter);
            if (first <= 0xFF && (one_form || letter)) {
                uint8_t lo = uint8_t(one_form ? first : (first | 0x20));
                uint8_t up = uint8_t(one_form ? first : (first & ~0x20u));
                for (uint32_t s = pos; s < stop;) {
                    const uint8_t* base_p = series::element_at(series::buffer_of(&input), 0);
                    uint32_t at;
                    if (one_form) {
                        const void* hit = std::memchr(base_p + s, lo, stop - s);
                        if (!hit) return false;
                        at = uint32_t(static_cast<const uint8_t*>(hit) - base_p);
                    } else {
                        at = s;
                        while (at < stop && base_p[at] != lo && base_p[at] != up) at++;
                        if (at >= stop) return false;
                    }
                    int32_t n = t == TYPE_CHAR ? 1 : match_text(v, at, stop);
                    if (n >= 0) {
                        pos = thru ? at + uint32_t(n) : at;
                        return true;
                    }
                    s = at + 1;
                }
                return false;
            }
        }
        for (uint32_t s = pos; s <= stop; s++) {
            int32_t n = match_value(v, s, stop, false);
            if (n >= 0) {
                pos = thru ? s + uint32_t(n) : s;
                return true;
            }
        }
        return false;
    }

    [[noreturn]] void end_error(Key keyword) const { raise_word_error(err::script_parse_end, uint32_t(kw.sym[keyword])); }

    // The rule a keyword applies to must be there, and be no bar.
    void need_rule(Key keyword, uint32_t at) const {
        if (at >= rule_count()) end_error(keyword);
        Cell c = rule_at(at);
        if (keyword_of(&c) == K_BAR) end_error(keyword);
    }

    // Drops the command frames of the current block (a break or reject
    // outside any loop ends the block itself).
    void unwind_to_block() {
        while (frames.size() > base && top().kind != F_BLOCK) pop();
    }

    // Ends the innermost loop from `break` (ok) or `reject` (!ok). Answers
    // false when there is no loop: the current block then ends so.
    bool leave_loop() {
        size_t i = frames.size();
        while (i > base && frames[i - 1].kind != F_REPEAT) i--;
        if (i == base) return false;
        // Back to the rule context of the loop: the block frame just above it
        // knows where its block was entered from; into levels crossed give
        // their outer input back.
        for (size_t k = frames.size(); k > i; k--) {
            const Frame& f = frames[k - 1];
            if (f.kind == F_INTO) {
                input = f.a;
                limit = f.iter;
                in = kind_of_input(type_of(&input));
                pos = clamp_index(f.start);
            }
        }
        if (i < frames.size() && frames[i].kind == F_BLOCK) {
            rules = frames[i].a;
            rpos = frames[i].rule_pos;
            case_ = frames[i].flags & FL_CASE;
        } else {
            rpos = rule_end(frames[i - 1].rule_pos);
        }
        frames.resize(i);
        return true;
    }

    // Whether a repetition goes on after an iteration that matched, `count`
    // iterations done and the input's tail at `t`. any and some end after an
    // iteration that did not move; counted ranges are bounded anyway, and
    // while repeats in place. At the tail a repetition stops once it has its
    // minimum. Progress is a move that leaves less input ahead: an insert
    // that moves as far as it grew the input is none.
    bool goes_on(const Frame& f, int32_t count, uint32_t t) const {
        bool moved = pos != f.iter && int64_t(t) - pos < f.ahead;
        bool progress = moved || f.max >= 0 || (f.flags & FL_WHILE);
        return (f.max < 0 || count < f.max) && progress && (pos < (limit < t ? limit : t) || count < f.min);
    }

    // A block that matched, repeated by the frame below it: when the
    // repetition goes on and its rule is still a block (or a word for one),
    // the block starts over in its own frame, as ending it and entering it
    // again would have it, and the answer is true. Any other case is left to
    // the general steps (false, nothing done); so are traced parses, whose
    // callback sees every step.
    bool restart_block() {
        Frame* f = &frames.back();
        Frame& rep = f[-1];
        if (rep.kind != F_REPEAT) return false;
        uint32_t t = tail();
        if (!goes_on(rep, rep.count + 1, t)) return false;
        uint32_t at = rep.rule_pos;
        if (at >= blk::size(f->a.data2)) return false;
        Cell b = node_buffer(f->a.data2)->read_cells()[at];
        if (type_of(&b) == TYPE_WORD) {
            if (keyword_of(&b)) return false;
            const Cell* v = lookup(&b);
            if (!v || type_of(v) != TYPE_BLOCK) return false;
            b = *v;
        } else if (type_of(&b) != TYPE_BLOCK) {
            return false;
        }
        rep.count++;
        rep.iter = pos;
        rep.ahead = int64_t(t) - pos;
        if (unclamped) {
            unclamped = false;
            clamp();
        }
        check_recursion(&b, f);
        case_ = f->flags & FL_CASE;
        f->start = f->iter = pos;
        f->input_node = input.data2;
        f->b = b;
        rules = b;
        set_cell_type(&rules, TYPE_BLOCK);
        rpos = b.data1;
        return true;
    }

    enum Step { FETCH, RESULT, BLOCK_END };

    // A rule that stands for itself (neither a keyword nor a count): a block
    // is entered as a sub-rule, any other value matched at the position.
    Step value_rule(const Cell* val, bool* r) {
        if (type_of(val) == TYPE_BLOCK) {
            enter_block(val, rpos + 1);
            return FETCH;
        }
        int32_t m = match_value(val, pos, end(), false);
        if (m >= 0) pos += uint32_t(m);
        *r = m >= 0;
        rpos++;
        return RESULT;
    }

    // Runs the rules; answers the match.
    bool run(const Cell* rule_block) {
        Frame& top_frame = push(F_BLOCK);
        top_frame.b = *rule_block;
        rules = *rule_block;
        rpos = rules.data1;
        Step step = FETCH;
        bool r = true;
        for (;;) {
            if (thrown) return false;
            if (stopped) return match;
            switch (step) {
            case FETCH: {
                if (unclamped) {
                    unclamped = false;
                    clamp();
                }
                uint32_t n = rule_count();
                if (rpos >= n) {
                    r = true;
                    step = BLOCK_END;
                    break;
                }
                trace_event(int32_t(words::fetch.data2));
                if (thrown || stopped) break;
                step = RESULT;
                // A word is told apart in place; any other rule is copied out
                // first (its cell moves when something allocates).
                const Cell* cell = node_buffer(rules.data2)->read_cells() + rpos;
                if (type_of(cell) == TYPE_WORD) {
                    Key k = keyword_of(cell);
                    if (!k) {
                        Cell val = rule_word_rule(rpos);
                        if (type_of(&val) == TYPE_INTEGER) {
                            step = counted(int32_t(val.data2));
                            r = pending_result;
                        } else {
                            step = value_rule(&val, &r);
                        }
                    } else if (k == K_BAR) {
                        // The alternative matched: the block ends here.
                        if (rpos + 1 >= n) end_error(k);
                        rpos = n;
                        r = true;
                        step = BLOCK_END;
                    } else if (k == K_SKIP) {
                        rpos++;
                        r = pos < end();
                        if (r) pos++;
                    } else {
                        step = keyword(k, &r);
                    }
                } else {
                    Cell v = *cell;
                    switch (type_of(&v)) {
                    case TYPE_SET_WORD: {
                        Cell here = input;
                        here.data1 = pos;
                        set_word(&v, &here, rpos);
                        rpos++;
                        r = true;
                        break;
                    }
                    case TYPE_GET_WORD: {
                        Cell val = word_value(&v, false);
                        if (!is_series_type(type_of(&val)) || val.data2 != input.data2) {
                            raise_error(err::script_parse_invalid_ref, &val);
                        }
                        pos = clamp_index(val.data1);
                        rpos++;
                        r = true;
                        break;
                    }
                    case TYPE_PAREN:
                        rpos++;
                        if (!eval_paren(&v, nullptr)) return false;
                        r = true;
                        break;
                    case TYPE_INTEGER:
                        step = counted(int32_t(v.data2));
                        r = pending_result;
                        break;
                    case TYPE_PATH: {
                        // A path stands for the rule it refers to.
                        Cell p = v;
                        Cell* saved = stack::top;
                        Cell* holder = stack::push(&p);
                        uint32_t after = rpos + 1;
                        interp::walk_path(holder, rules.data2, after, after, true, interp::PATH_GET, nullptr, false);
                        if (thrown) return false;
                        unclamped = true;
                        Cell val = *(stack::top - 1);
                        stack::top = saved;
                        step = value_rule(&val, &r);
                        break;
                    }
                    default:
                        // A block, or a value matched as it stands.
                        step = value_rule(&v, &r);
                        break;
                    }
                }
                // A match in a block goes on to the next rule at once when no
                // callback is told of it.
                if (step == RESULT && r && !tracing && top().kind == F_BLOCK) step = FETCH;
                break;
            }
            case RESULT: {
                match = r;
                trace_event(int32_t(words::match.data2));
                if (thrown || stopped) break;
                Frame& f = top();
                switch (f.kind) {
                case F_BLOCK:
                    if (r) {
                        step = FETCH;
                    } else {
                        pos = clamp_index(f.start);
                        step = next_alternative() ? FETCH : BLOCK_END;
                    }
                    break;
                case F_REPEAT: {
                    if (r) {
                        f.count++;
                        trace_event(int32_t(words::iterate.data2));
                        if (thrown || stopped) break;
                        Frame& f = top();  // the callback may have moved the stack
                        uint32_t t = tail();
                        if (goes_on(f, f.count, t)) {
                            f.iter = pos;
                            f.ahead = int64_t(t) - pos;
                            rpos = f.rule_pos;
                            step = FETCH;
                            break;
                        }
                    } else {
                        pos = clamp_index(f.iter);
                    }
                    r = f.count >= f.min;
                    if (!r) pos = clamp_index(f.start);
                    pop();
                    break;
                }
                case F_TO: {
                    if (r) {
                        if (!(f.flags & FL_THRU)) pos = clamp_index(f.iter);
                        pop();
                        break;
                    }
                    f.iter++;
                    // Scanning ends at the tail, and never goes past where the
                    // tail was when it began (a rule that inserts would
                    // otherwise keep the tail ahead of it).
                    if (f.iter > end() || f.iter > uint32_t(f.max)) {
                        pos = clamp_index(f.start);
                        pop();
                        break;
                    }
                    pos = f.iter;
                    rpos = f.rule_pos;
                    step = FETCH;
                    break;
                }
                case F_COPY: {
                    if (r) {
                        Cell w = f.a;
                        capture(&w, f.start, f.flags & FL_SET, f.rule_pos);
                    }
                    pop();
                    break;
                }
                case F_NOT:
                    if (!(f.flags & FL_AHEAD)) r = !r;
                    pos = clamp_index(f.start);
                    pop();
                    break;
                case F_REMOVE:
                    if (r) remove_range(f.start, pos);
                    pop();
                    break;
                case F_CHANGE: {
                    if (!has_rule(rpos)) end_error(K_CHANGE);
                    Cell rv = rule_at(rpos);
                    rpos++;
                    if (r) {
                        uint32_t from = clamp_index(f.start), to = clamp_index(pos);
                        if (to < from) to = from;
                        bool only = f.flags & FL_ONLY;
                        Cell val;
                        if (!edit_value(&rv, &val)) return false;
                        Cell* slot = stack::push(&val);
                        int64_t grew = edit(A_CHANGE, from, slot, int32_t(to - from), only);
                        stack::top--;
                        pos = uint32_t(int64_t(to) + grew);
                        clamp();
                    }
                    pop();
                    break;
                }
                case F_KEEP:
                    if (r) keep_part(f.start, pos, f.flags & FL_PICK);
                    pop();
                    break;
                case F_COLLECT: {
                    Cell blk = f.b, w = f.a;
                    uint8_t flags = f.flags;
                    size_t at = frames.size() - 1;
                    Frame* outer = collect_frame(at);
                    Cell* slot = stack::push(&blk);
                    if (flags & (FL_INTO | FL_AFTER)) {
                        if (r) {
                            Cell target = collect_target(&w);
                            Cell* t = stack::push(&target);
                            int64_t grew = 0;
                            stack::push_call_frame(&words::frame_body);
                            Cell* ts = stack::push(t);
                            Cell* vs = stack::push(slot);
                            uint32_t before = series::length_from_head(ts);
                            reinterpret_cast<act::Insert>(actions::get_action(type_of(ts), ts, A_INSERT))(
                                ts, vs, -1, false, 1);
                            grew = int64_t(series::length_from_head(ts)) - before;
                            stack::pop_frame_discard();
                            unclamped = true;
                            if (flags & FL_AFTER) {
                                t->data1 = uint32_t(int64_t(t->data1) + grew);
                                set_word(&w, t);
                            }
                        }
                    } else if (flags & FL_SETWORD) {
                        if (r) set_word(&w, slot);
                    } else if (outer) {
                        if (r) {
                            Cell ob = outer->b;
                            blk::append(&ob, slot);
                        }
                    } else {
                        result_block = *slot;
                    }
                    stack::top = slot;
                    pop();
                    break;
                }
                case F_INTO: {
                    bool whole = r && pos >= end();
                    input = f.a;
                    limit = f.iter;
                    in = kind_of_input(type_of(&input));
                    uint32_t at = clamp_index(f.start);
                    pos = whole ? clamp_index(at + 1) : at;
                    r = whole;
                    pop();
                    break;
                }
                }
                break;
            }
            case BLOCK_END: {
                unwind_to_block();  // the block may have been cut under its commands
                Frame& f = top();
                if (!r) pos = clamp_index(f.start);
                if (frames.size() - 1 == base) {
                    trace_event(sym::end);
                    return r && pos >= end();
                }
                if (r && !tracing && restart_block()) {
                    step = FETCH;
                    break;
                }
                rules = f.a;
                rpos = f.rule_pos;
                case_ = f.flags & FL_CASE;
                pop();
                trace_event(int32_t(words::pop.data2));
                step = RESULT;
                break;
            }
            }
        }
    }

    // A count N, its range N M and the rule they apply to.
    Step counted(int32_t n) {
        Cell self = rule_at(rpos);
        if (n < 0) {
            Cell c = integer_cell(n);
            raise_error(err::script_out_of_range, &c);
        }
        int32_t m = n;
        uint32_t subject = rpos + 1;
        int32_t second;
        if (count_at(subject, &second)) {
            m = second;
            subject++;
            if (m < n) {
                Cell c = rule_at(rpos + 1);
                raise_error(err::script_parse_rule, &c);
            }
        }
        if (!has_rule(subject)) raise_error(err::script_parse_rule, &self);
        Cell sub = rule_at(subject);
        if (keyword_of(&sub) == K_BAR) raise_error(err::script_parse_rule, &self);
        if (m == 0) {
            rpos = rule_end(subject);
            return result_true();
        }
        return repeat(n, m, subject, false);
    }

    bool pending_result = true;
    Step result_true() {
        pending_result = true;
        return RESULT;
    }

    // Starts a repetition of the rule at `subject`.
    Step repeat(int32_t min, int32_t max, uint32_t subject, bool is_while) {
        Cell simple;
        if (!is_while && simple_rule(subject, &simple)) {
            pending_result = repeat_simple(&simple, min, max);
            rpos = subject + 1;
            return RESULT;
        }
        Frame& f = push(F_REPEAT);
        f.ahead = int64_t(tail()) - pos;
        f.min = min;
        f.max = max;
        f.rule_pos = subject;
        if (is_while) f.flags |= FL_WHILE;
        rpos = subject;
        return FETCH;
    }

    // A keyword at rpos; answers the next step (the result in *r when it is
    // RESULT).
    Step keyword(Key k, bool* r) {
        Step s = keyword_step(k);
        *r = pending_result;
        return s;
    }

    Step keyword_step(Key k) {
        uint32_t next = rpos + 1;
        pending_result = true;
        switch (k) {
        case K_SKIP: {
            rpos = next;
            if (pos < end()) {
                pos++;
                return RESULT;
            }
            pending_result = false;
            return RESULT;
        }
        case K_END: {
            rpos = next;
            pending_result = pos >= end();
            return RESULT;
        }
        case K_NONE: {
            rpos = next;
            return RESULT;
        }
        case K_FAIL: {
            rpos = next;
            pending_result = false;
            return RESULT;
        }
        case K_BREAK: case K_REJECT: {
            bool ok = k == K_BREAK;
            if (!leave_loop()) {
                // No loop: the current block ends so.
                unwind_to_block();
                rpos = rule_count();
                pending_result = ok;
                if (!ok) return fail_block();
                return FETCH;
            }
            Frame& f = top();
            if (!ok) pos = clamp_index(f.start);
            pop();
            pending_result = ok;
            return RESULT;
        }
        case K_ANY:
            need_rule(k, next);
            return repeat(0, -1, next, false);
        case K_SOME:
            need_rule(k, next);
            return repeat(1, -1, next, false);
        case K_OPT:
            need_rule(k, next);
            return repeat(0, 1, next, false);
        case K_WHILE:
            need_rule(k, next);
            return repeat(0, -1, next, true);
        case K_TO: case K_THRU: {
            need_rule(k, next);
            Cell t = rule_at(next);
            bool thru = k == K_THRU;
            if (keyword_of(&t) == K_END) {
                pos = end() > pos ? end() : pos;
                rpos = next + 1;
                return RESULT;
            }
            Cell simple;
            if (simple_rule(next, &simple)) {
                pending_result = scan_simple(&simple, thru);
                rpos = next + 1;
                return RESULT;
            }
            Frame& f = push(F_TO);
            f.max = int32_t(end());
            if (thru) f.flags |= FL_THRU;
            f.rule_pos = next;
            rpos = next;
            return FETCH;
        }
        case K_COPY: case K_SET: {
            if (next >= rule_count()) end_error(k);
            Cell w = rule_at(next);
            if (!is_any_word(type_of(&w)) || type_of(&w) == TYPE_REFINEMENT || type_of(&w) == TYPE_ISSUE)
                end_error(k);
            need_rule(k, next + 1);
            set_cell_type(&w, TYPE_WORD);
            if (!tracing) {
                // A rule that ends at once needs no frame: it runs here and
                // the capture follows.
                need_room();
                uint32_t start = pos;
                if (lean_rule(next + 1)) {
                    if (pending_result) capture(&w, start, k == K_SET, next);
                    return RESULT;
                }
            }
            Frame& f = push(F_COPY);
            f.a = w;
            f.rule_pos = next;
            if (k == K_SET) f.flags |= FL_SET;
            rpos = next + 1;
            return FETCH;
        }
        case K_NOT: case K_AHEAD: {
            need_rule(k, next);
            Frame& f = push(F_NOT);
            if (k == K_AHEAD) f.flags |= FL_AHEAD;
            rpos = next;
            return FETCH;
        }
        case K_REMOVE: {
            need_rule(k, next);
            Cell t = rule_at(next);
            int tt = type_of(&t);
            if (tt == TYPE_PATH) raise_error(err::script_parse_rule, &t);
            if (tt == TYPE_WORD && !is_keyword(&t)) {
                Cell val = word_value(&t, false);
                if (is_series_type(type_of(&val)) && val.data2 == input.data2) {
                    // From the position the word holds to the current one.
                    remove_range(val.data1, pos);
                    rpos = next + 1;
                    return RESULT;
                }
            }
            push(F_REMOVE);
            rpos = next;
            return FETCH;
        }
        case K_INSERT: {
            bool only = false;
            uint32_t at = after_only(next, &only);
            if (at >= rule_count()) end_error(k);
            Cell rv = rule_at(at);
            Cell val;
            if (!edit_value(&rv, &val)) return RESULT;
            Cell* slot = stack::push(&val);
            clamp();
            int64_t grew = edit(A_INSERT, pos, slot, -1, only);
            stack::top--;
            pos = uint32_t(int64_t(pos) + (grew > 0 ? grew : 0));
            clamp();
            rpos = at + 1;
            return RESULT;
        }
        case K_CHANGE: {
            bool only = false;
            uint32_t at = after_only(next, &only);
            need_rule(k, at);
            if (at + 1 >= rule_count()) end_error(k);
            Frame& f = push(F_CHANGE);
            if (only) f.flags |= FL_ONLY;
            rpos = at;
            return FETCH;
        }
        case K_KEEP: {
            if (!collect_frame(frames.size())) raise_error(err::script_parse_keep);
            if (next >= rule_count()) end_error(k);
            Cell t = rule_at(next);
            bool pick = false;
            if (keyword_of(&t) == K_PICK) {
                pick = true;
                next++;
                if (next >= rule_count()) end_error(k);
                t = rule_at(next);
            }
            if (type_of(&t) == TYPE_PAREN) {
                Cell val;
                rpos = next + 1;
                if (!eval_paren(&t, &val)) return RESULT;
                Cell* slot = stack::push(&val);
                if (pick && is_series_type(type_of(slot)) && is_any_block(type_of(slot))) {
                    uint32_t len = series::length_from_head(slot);
                    for (uint32_t i = slot->data1; i < len; i++) {
                        Cell e = *blk::at(slot->data2, i);
                        keep_value(&e);
                    }
                } else {
                    keep_value(slot);
                }
                stack::top--;
                return RESULT;
            }
            need_rule(k, next);
            Frame& f = push(F_KEEP);
            if (pick) f.flags |= FL_PICK;
            rpos = next;
            return FETCH;
        }
        case K_COLLECT: {
            if (next >= rule_count()) end_error(k);
            Cell t = rule_at(next);
            Key m = keyword_of(&t);
            uint8_t flags = 0;
            Cell w = NONE_CELL;
            if (m == K_SET || m == K_INTO || m == K_AFTER) {
                if (next + 1 >= rule_count()) end_error(k);
                w = rule_at(next + 1);
                if (type_of(&w) != TYPE_WORD) end_error(k);
                flags = m == K_SET ? FL_SETWORD : m == K_INTO ? FL_INTO : FL_AFTER;
                if (flags != FL_SETWORD) collect_target(&w);
                next += 2;
                if (next >= rule_count()) end_error(k);
            }
            need_rule(k, next);
            Cell* slot = stack::push(&NONE_CELL);
            blk::make_at(slot, 8);
            Frame& f = push(F_COLLECT);
            f.b = *slot;
            f.a = w;
            f.flags = flags;
            stack::top--;
            rpos = next;
            return FETCH;
        }
        case K_IF: {
            if (next >= rule_count()) end_error(k);
            Cell p = rule_at(next);
            if (type_of(&p) != TYPE_PAREN) end_error(k);
            Cell val;
            rpos = next + 1;
            if (!eval_paren(&p, &val)) return RESULT;
            pending_result = logic::truth(&val);
            return RESULT;
        }
        case K_QUOTE: {
            if (next >= rule_count()) end_error(k);
            Cell v = rule_at(next);
            int32_t m = in == IN_BLOCK ? match_value(&v, pos, end(), true) : match_value(&v, pos, end(), true);
            if (m >= 0) pos += uint32_t(m);
            pending_result = m >= 0;
            rpos = next + 1;
            return RESULT;
        }
        case K_CASE: {
            if (next >= rule_count()) end_error(k);
            Cell w = rule_at(next);
            if (type_of(&w) != TYPE_WORD) end_error(k);
            Cell v = word_value(&w, false);
            case_ = logic::truth(&v);
            rpos = next + 1;
            return RESULT;
        }
        case K_INTO: {
            if (next >= rule_count()) end_error(k);
            if (in != IN_BLOCK) raise_error(err::script_parse_block, &input);
            Cell sub = rule_at(next);
            if (type_of(&sub) == TYPE_WORD) sub = word_value(&sub, false);
            if (type_of(&sub) != TYPE_BLOCK) end_error(k);
            if (pos >= end()) {
                rpos = next + 1;
                pending_result = false;
                return RESULT;
            }
            Cell elem = *blk::at(input.data2, pos);
            int et = type_of(&elem);
            if (!is_input_type(et)) {
                rpos = next + 1;
                pending_result = false;
                return RESULT;
            }
            Frame& f = push(F_INTO);
            f.a = input;
            f.iter = limit;
            input = elem;
            clear_new_line_flag(&input);
            in = kind_of_input(et);
            limit = UINT32_MAX;
            pos = clamp_index(elem.data1);
            enter_block(&sub, next + 1);
            return FETCH;
        }
        default:
            break;
        }
        // only, pick, after out of place.
        Cell c = rule_at(rpos);
        raise_error(err::script_parse_rule, &c);
    }

    // Skips the `only` that may follow insert and change.
    uint32_t after_only(uint32_t at, bool* only) const {
        if (at < rule_count()) {
            Cell o = rule_at(at);
            if (keyword_of(&o) == K_ONLY) {
                *only = true;
                return at + 1;
            }
        }
        return at;
    }

    // reject outside any loop: the current alternative fails.
    Step fail_block() {
        pending_result = false;
        return RESULT;
    }
};

void mark_frames() {
    for (const Frame& f : frames) {
        collector::mark_cell(&f.a);
        collector::mark_cell(&f.b);
    }
    for (Engine* e : engines) {
        collector::mark_cell(&e->input);
        collector::mark_cell(&e->rules);
        collector::mark_cell(&e->result_block);
        collector::mark_cell(&e->callback);
    }
}

}  // namespace

void init() {
    frames.clear();
    engines.clear();
    frames.reserve(64);
    kw.ready = false;
    collector::add_gc_root_callback(mark_frames);
}

VYX_NATIVE(parse_native, 40, "parse",
           R"~("runs the parse dialect over a series" input [binary! any-block! any-string!] rules [block!] /case /part length [number! series!] /trace callback [function! [event [word!] match? [logic!] rule [block!] input [series!] stack [block!] return: [logic!]]] return: [logic! block!])~");
void parse_native(int check, const int* refs) {
    if (check) native_parse_native.check(refs);
    // Refinement positions, read from the spec.
    enum {
        R_CASE = native_parse_native.refinement("case"),
        R_PART = native_parse_native.refinement("part"),
        R_TRACE = native_parse_native.refinement("trace")
    };
    if (!kw.ready) kw.load();
    Cell input = *stack::arguments;
    Cell rules = *(stack::arguments + 1);
    uint32_t tail = series::length_from_head(&input);
    uint32_t index = input.data1 > tail ? tail : input.data1;
    Engine e;
    clear_new_line_flag(&input);
    e.input = input;
    e.in = kind_of_input(type_of(&input));
    e.case_ = refs[R_CASE] >= 0;
    e.pos = index;
    if (refs[R_PART] >= 0) {
        Cell part = *(stack::arguments + refs[R_PART]);
        int64_t lim;
        if (type_of(&part) == TYPE_INTEGER) {
            lim = int64_t(index) + int32_t(part.data2);
        } else if (type_of(&part) == TYPE_FLOAT) {
            // Bounded before the conversion: a length past either end of
            // the input means its tail or the start.
            double d = cell_float(&part);
            if (d != d) {
                Cell w = series::named_word("part");
                raise_error(err::script_invalid_refine_arg, &w, &part);
            }
            if (d > 4294967296.0) d = 4294967296.0;
            if (d < -4294967296.0) d = -4294967296.0;
            lim = int64_t(index) + int64_t(d);
        } else if (type_of(&part) == type_of(&input) && part.data2 == input.data2) {
            lim = part.data1;
        } else {
            Cell w = series::named_word("part");
            raise_error(err::script_invalid_refine_arg, &w, &part);
        }
        if (lim < index) lim = index;
        if (lim > tail) lim = tail;
        e.limit = uint32_t(lim);
    }
    if (refs[R_TRACE] >= 0) {
        e.callback = *(stack::arguments + refs[R_TRACE]);
        e.tracing = type_of(&e.callback) != TYPE_NONE;
    }
    bool ok = e.run(&rules);
    if (thrown) return;
    // A parse the callback stopped answers its match flag, whatever a
    // collect made before.
    if (!e.stopped && type_of(&e.result_block) == TYPE_BLOCK) {
        Cell b = e.result_block;
        stack::store_result_only(&b);
        return;
    }
    Cell res = logic_cell(ok);
    stack::store_result_only(&res);
}

}  // namespace vyx::parse
