// The fixed record reader: every field a 32-bit little-endian word, records
// at multiples of 4 bytes from the payload start, a zero word where a record
// header is expected is padding.
#include <cstring>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/money.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "runtime/stack.h"
#include "io/vyxbin_internal.h"
#include "io/vyxbin_records.h"
#include "runtime/collector.h"
#include "runtime/raise.h"

namespace vyx::vyxbin {

namespace {

struct Fixed : RecordBuilder {
    const uint8_t* payload = nullptr;
    const uint8_t* end;
    bool has_symbols = false;
    const uint8_t* offsets = nullptr;
    uint32_t symbol_count = 0;
    const uint8_t* names = nullptr;
    uint32_t names_size = 0;
    std::vector<int32_t> cache;

    Fixed(DecodeState& state, const uint8_t* e) : RecordBuilder(state), end(e) {}

    size_t left(const uint8_t* p) const { return size_t(end - p); }
    void room(const uint8_t* at, const uint8_t* p, size_t words) const {
        if (p > end || left(p) / 4 < words) s.invalid(at);
    }
    uint32_t word(const uint8_t*& p) {
        room(p, p, 1);
        uint32_t v = load_le32(p);
        p += 4;
        return v;
    }
    const uint8_t* align(const uint8_t* p, const uint8_t* at) const {
        size_t k = size_t(p - payload);
        k = (k + 3) & ~size_t(3);
        if (k > size_t(end - payload)) s.invalid(at);
        return payload + k;
    }
    int32_t symbol(const uint8_t*& p) {
        const uint8_t* at = p;
        uint32_t i = word(p);
        if (!has_symbols || i >= symbol_count) s.invalid(at);
        if (cache[i]) return cache[i];
        uint32_t offset = load_le32(offsets + 4 * size_t(i));
        if (offset >= names_size) s.invalid(at);
        const uint8_t* name = names + offset;
        int32_t id = intern_name(name, uint32_t(std::strlen(reinterpret_cast<const char*>(name))));
        if (!id) s.invalid(at);
        return cache[i] = id;
    }
    // A reference record (255, n, n entries): the cell it leads to.
    Cell reached(const uint8_t*& p) {
        const uint8_t* at = p;
        if (word(p) != FX_REFERENCE_TYPE) s.invalid(at);
        uint32_t n = word(p);
        if (n < 1 || n > MAX_PATH) s.invalid(at);
        room(at, p, n);
        s.path.resize(n);
        for (uint32_t i = 0; i < n; i++) s.path[i] = word(p);
        return s.resolve(s.path.data(), n, at);
    }
    std::vector<int32_t> context_words(const uint8_t*& p, uint32_t& h) {
        const uint8_t* at = p;
        h = word(p);
        if ((h & 0xFF) != TYPE_CONTEXT) s.invalid(at);
        uint32_t n = word(p);
        room(at, p, n);
        std::vector<int32_t> symbols(n);
        for (uint32_t i = 0; i < n; i++) symbols[i] = symbol(p);
        return symbols;
    }
    const uint8_t* values(const uint8_t* p, Node ctx, uint32_t n) {
        for (uint32_t i = 0; i < n; i++) p = record(p, Out{values_of(ctx), int32_t(i)});
        return p;
    }

    const uint8_t* record(const uint8_t* p, Out out, uint32_t* where = nullptr);
    const uint8_t* body(const uint8_t* p, const uint8_t* at, uint32_t h, Out out, uint32_t& idx);
    const uint8_t* series(const uint8_t* p, const uint8_t* at, uint32_t h, Out out, uint32_t& idx);
    const uint8_t* block(const uint8_t* p, const uint8_t* at, uint32_t h, Out out, uint32_t& idx);
    const uint8_t* object(const uint8_t* p, const uint8_t* at, uint32_t h, Out out, uint32_t& idx, const Bind* bind);
    const uint8_t* function(const uint8_t* p, const uint8_t* at, Out out, uint32_t& idx, const Bind* bind);
    const uint8_t* function_block(const uint8_t* p, Node ctx, int which);
    const uint8_t* word_record(const uint8_t* p, const uint8_t* at, uint32_t h, Out out, uint32_t& idx);
};

const uint8_t* Fixed::record(const uint8_t* p, Out out, uint32_t* where) {
    s.enter(p);
    uint32_t h;
    const uint8_t* at;
    do {
        at = p;
        h = word(p);
    } while (h == 0);
    uint32_t idx;
    bool pair = false;
    if ((h & 0xFF) == FX_REFERENCE_TYPE) {
        p = at;
        idx = place(out, reached(p));
    } else {
        int t = int(h & 0xFF);
        // Boot mode: bit 25 of a word record says a value to set follows.
        pair = !s.codec && is_any_word(t) && t != TYPE_ISSUE && (h & FX_GLOBAL);
        p = body(p, at, h, out, idx);
    }
    if (h & FX_NEW_LINE) placed(out, idx)->header |= FLAG_NEW_LINE;
    if (pair) {
        if (out.slot >= 0) s.invalid(at);
        p = record(p, out);
        if (!set_pair(out, idx)) s.invalid(at);
    }
    if (where) *where = idx;
    s.leave();
    return p;
}

const uint8_t* Fixed::body(const uint8_t* p, const uint8_t* at, uint32_t h, Out out, uint32_t& idx) {
    int t = int(h & 0xFF);
    bool ref = h & FX_REF;
    switch (t) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
    case TYPE_HASH: case TYPE_MAP:
        return block(p, at, h, out, idx);
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
    case TYPE_BINARY: case TYPE_VECTOR: case TYPE_BITSET: case TYPE_IMAGE:
        return series(p, at, h, out, idx);
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
        return word_record(p, at, h, out, idx);
    case TYPE_OBJECT:
        if (ref) {
            idx = place(out, owner_value(reached(p), TYPE_OBJECT, at));
            return p;
        }
        return object(p, at, h, out, idx, nullptr);
    case TYPE_FUNCTION:
        if (ref) {
            idx = place(out, owner_value(reached(p), TYPE_FUNCTION, at));
            return p;
        }
        return function(p, at, out, idx, nullptr);
    default:
        break;
    }
    Cell c{uint32_t(t), 0, 0, 0};
    switch (t) {
    case TYPE_UNSET: case TYPE_NONE:
        break;
    case TYPE_DATATYPE:
        c.data1 = word(p);
        if (c.data1 < 1 || c.data1 > TYPE_MAX) s.invalid(at);
        break;
    case TYPE_LOGIC:
        c.data1 = word(p) != 0;
        break;
    case TYPE_CHAR:
        c.data2 = word(p);
        if (c.data2 > 0x10FFFF) s.invalid(at);
        break;
    case TYPE_INTEGER:
        c.data2 = word(p);
        break;
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
        c.data3 = word(p);
        c.data2 = word(p);
        if (!valid_float(c)) s.invalid(at);
        break;
    case TYPE_PAIR:
        c.data2 = word(p);
        c.data3 = word(p);
        break;
    case TYPE_POINT2D:
        c.data1 = word(p);
        c.data2 = word(p);
        break;
    case TYPE_POINT3D: case TYPE_TYPESET:
        c.data1 = word(p);
        c.data2 = word(p);
        c.data3 = word(p);
        break;
    case TYPE_TUPLE: {
        uint32_t n = (h >> 8) & 0xFF;
        if (n < 3 || n > 12) s.invalid(at);
        uint8_t bytes[12];
        room(at, p, 3);
        std::memcpy(bytes, p, 12);
        p += 12;
        tuple::make_at(&c, bytes, int(n));
        break;
    }
    case TYPE_MONEY:
        room(at, p, 3);
        if (!valid_money(p)) s.invalid(at);
        std::memcpy(&c.data1, p, 12);
        p += 12;
        if (h & FX_NEGATIVE) c.header |= money::NEGATIVE;
        break;
    case TYPE_DATE: {
        c.data1 = word(p);
        c.data3 = word(p);
        c.data2 = word(p);
        bool has_time = c.data1 & date::HAS_TIME;
        if (!valid_date(c.data1, c.data2, c.data3, has_time)) s.invalid(at);
        break;
    }
    case TYPE_ISSUE:
        c = word::make_cell(TYPE_ISSUE, context::global, symbol(p), -1);
        break;
    case TYPE_CONTEXT: {
        p = at;
        uint32_t ch;
        std::vector<int32_t> symbols = context_words(p, ch);
        Node ctx = standalone_context(symbols, (ch >> 26) & 3, ch & FX_CTX_STACK, ch & FX_CTX_SELF, at);
        collector::Rooted<1> keep;
        keep[0] = Cell{TYPE_CONTEXT_REF, ctx, 0, 0};
        idx = place(out, *context::owner_of(ctx));
        if (ch & FX_CTX_VALUES) p = values(p, ctx, uint32_t(symbols.size()));
        return p;
    }
    case TYPE_NATIVE: case TYPE_ACTION: {
        uint32_t number = word(p);
        collector::Rooted<1> spec;
        blk::make_at(&spec[0], 1);
        p = record(p, Out{spec[0].data2, -1});
        if (type_of(blk::at(spec[0].data2, 0)) != TYPE_BLOCK) s.invalid(at);
        if (!make_native_value(t, number, &c)) s.invalid(at);
        break;
    }
    case TYPE_OP: {
        p = record(p, out, &idx);
        Cell* inner = placed(out, idx);
        if (type_of(inner) != int((h & op::SOURCE_MASK) >> op::SOURCE_SHIFT) || !make_op(inner)) s.invalid(at);
        return p;
    }
    case TYPE_ERROR: {
        uint32_t code = word(p);
        Node ctx = make_error(code, out, idx, at);
        for (uint32_t k = 0; k < 6; k++) p = record(p, Out{values_of(ctx), int32_t(error::F_ARG1 + k)});
        return p;
    }
    default:
        if (is_unwritable(t)) no_codec(t);
        s.invalid(at);
    }
    idx = place(out, c);
    return p;
}

const uint8_t* Fixed::series(const uint8_t* p, const uint8_t* at, uint32_t h, Out out, uint32_t& idx) {
    int t = int(h & 0xFF);
    uint32_t unit = (h >> 8) & 0xFF;
    uint32_t head = t == TYPE_BITSET ? 0 : word(p);
    if (h & FX_REF) {
        idx = place(out, shared_series(reached(p), t, head, at));
        return p;
    }
    SeriesSpec spec{t, head};
    spec.count = word(p);
    if (t == TYPE_IMAGE) {
        spec.width = spec.count & 0xFFFF;
        spec.height = spec.count >> 16;
        spec.count = spec.width * spec.height;
        spec.log2 = 2;
    } else if (t == TYPE_BITSET) {
        spec.complemented = h & FX_COMPLEMENT;
    } else {
        if (t == TYPE_VECTOR) spec.element = word(p);
        if (unit != 1 && unit != 2 && unit != 4 && unit != 8) s.invalid(at);
        spec.log2 = unit == 8 ? 3 : unit == 4 ? 2 : unit == 2 ? 1 : 0;
    }
    size_t bytes = 0;
    if (!series_size(spec, left(p), bytes)) s.invalid(at);
    idx = place(out, make_series(spec, p, at));
    return align(p + bytes, at);
}

const uint8_t* Fixed::block(const uint8_t* p, const uint8_t* at, uint32_t h, Out out, uint32_t& idx) {
    int t = int(h & 0xFF);
    uint32_t head = t == TYPE_MAP ? 0 : word(p);
    if (h & FX_REF) {
        idx = place(out, shared_block(reached(p), t, head, at));
        return p;
    }
    uint32_t n = word(p);
    if (n > left(p) / 4 || head > n || (t == TYPE_MAP && (n & 1))) s.invalid(at);
    Node node = new_cell_series(n ? n : 1);
    idx = place(out, Cell{uint32_t(t), head, node, 0});
    for (uint32_t i = 0; i < n; i++) p = record(p, Out{node, -1});
    if (!finish_block(out, idx)) s.invalid(at);
    return p;
}

const uint8_t* Fixed::object(const uint8_t* p, const uint8_t* at, uint32_t h, Out out, uint32_t& idx,
                             const Bind* bind) {
    int32_t class_id = int32_t(word(p));
    bool handlers = h & FX_HANDLERS;
    if (handlers) word(p), word(p);
    const uint8_t* ctx_at = p;
    uint32_t ch;
    std::vector<int32_t> symbols = context_words(p, ch);
    if (((ch >> 26) & 3) != context::KIND_OBJECT || (ch & FX_CTX_STACK)) s.invalid(ctx_at);
    collector::Rooted<1> keep;
    Node ctx = new_object(symbols, ch & FX_CTX_SELF, class_id, out, idx, bind, at, keep[0]);
    if (ch & FX_CTX_VALUES) p = values(p, ctx, uint32_t(symbols.size()));
    if (handlers && !restore_handlers(ctx, bind ? Out{0, -1} : out, idx)) s.invalid(at);
    return p;
}

const uint8_t* Fixed::function(const uint8_t* p, const uint8_t* at, Out out, uint32_t& idx, const Bind* bind) {
    uint32_t spec_count = word(p), body_count = word(p);
    if (spec_count > left(p) / 4 || body_count > left(p) / 4) s.invalid(at);
    const uint8_t* ctx_at = p;
    uint32_t ch;
    std::vector<int32_t> symbols = context_words(p, ch);
    if (((ch >> 26) & 3) != context::KIND_FUNCTION || !(ch & FX_CTX_STACK)) s.invalid(ctx_at);
    collector::Rooted<1> keep;
    Node ctx = new_function(symbols, ch & FX_CTX_SELF, spec_count, body_count, out, idx, bind, at, keep[0]);
    p = function_block(p, ctx, 0);
    p = function_block(p, ctx, 1);
    if (!bind) *placed(out, idx) = *context::owner_of(ctx);
    return p;
}

const uint8_t* Fixed::function_block(const uint8_t* p, Node ctx, int which) {
    const uint8_t* at = p;
    uint32_t h = word(p);
    if ((h & 0xFF) != TYPE_BLOCK) s.invalid(at);
    word(p);  // the head: a function keeps its blocks from their start
    if (h & FX_REF) {
        Cell c = reached(p);
        if (type_of(&c) != TYPE_BLOCK) s.invalid(at);
        share_function_block(ctx, which, c.data2);
        return p;
    }
    uint32_t n = word(p);
    if (n > left(p) / 4) s.invalid(at);
    Node node = function_block_node(ctx, which);
    s.enter(at);
    for (uint32_t i = 0; i < n; i++) p = record(p, Out{node, -1});
    s.leave();
    return p;
}

const uint8_t* Fixed::word_record(const uint8_t* p, const uint8_t* at, uint32_t h, Out out, uint32_t& idx) {
    int t = int(h & 0xFF);
    int32_t sym = symbol(p);
    if (!s.codec) {
        // Boot mode: symbol, context selector (-1 global), index.
        int32_t selector = int32_t(word(p));
        int32_t index = int32_t(word(p));
        Cell w;
        if (selector == -1) word::make_at(sym, &w, t);
        else w = boot_word(t, sym, uint32_t(selector), index, at);
        idx = place(out, w);
        return p;
    }
    int32_t index = int32_t(word(p));
    if (h & FX_GLOBAL) {
        Cell w;
        word::make_at(sym, &w, t);
        idx = place(out, w);
        return p;
    }
    if (h & FX_REF) {
        Cell holder = reached(p);
        Node ctx = binding_context(&holder);
        Cell w = word::make_cell(t, ctx, sym, -1);
        if (!ctx || !bind_to(&w, ctx, index)) s.invalid(at);
        idx = place(out, w);
        return p;
    }
    idx = place(out, word::make_cell(t, context::global, sym, -1));
    Bind bind{out, idx, index};
    const uint8_t* owner_at = p;
    uint32_t oh = word(p);
    uint32_t ignored;
    if ((oh & 0xFF) == TYPE_OBJECT && !(oh & FX_REF)) return object(p, owner_at, oh, out, ignored, &bind);
    if ((oh & 0xFF) == TYPE_FUNCTION && !(oh & FX_REF)) return function(p, owner_at, out, ignored, &bind);
    s.invalid(owner_at);
}

}  // namespace

const uint8_t* decode_fixed(DecodeState& s, const uint8_t* p, const uint8_t* end, bool symbols) {
    if (end - p < 8) raise_error(err::script_invalid_data, stack::arguments);
    Fixed f(s, end);
    f.word(p);
    uint32_t size = f.word(p);
    if (symbols) {
        const uint8_t* at = p;
        uint32_t n = f.word(p);
        uint32_t names_size = f.word(p);
        if (n > f.left(p) / 4) s.invalid(at);
        f.offsets = p;
        p += 4 * size_t(n);
        if (names_size > f.left(p) || (names_size && p[names_size - 1] != 0)) s.invalid(at);
        f.names = p;
        f.names_size = names_size;
        f.symbol_count = n;
        f.has_symbols = true;
        f.cache.assign(n, 0);
        p += names_size;
    }
    // A payload whose stated end lies beyond the data is malformed.
    if (size > f.left(p)) s.invalid(p);
    f.payload = p;
    f.end = p + size;
    Out roots{s.target->data2, -1};
    while (p < f.end) p = f.record(p, roots);
    return p;
}

}  // namespace vyx::vyxbin
