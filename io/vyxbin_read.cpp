// The compact record reader. Every count is checked against the bytes left
// before anything is allocated; every fault raises vb-invalid-record at the
// byte where the check failed.
#include <cstring>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/object.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "io/vyxbin_internal.h"
#include "io/vyxbin_records.h"
#include "runtime/collector.h"
#include "runtime/hash_index.h"
#include "runtime/raise.h"

namespace vyx::vyxbin {

namespace {

struct Compact : RecordBuilder {
    const uint8_t* end;
    bool has_symbols = false;
    const uint8_t* offsets = nullptr;
    uint32_t symbol_count = 0;
    const uint8_t* names = nullptr;
    uint32_t names_size = 0;
    std::vector<int32_t> cache;

    Compact(DecodeState& state, const uint8_t* e) : RecordBuilder(state), end(e) {}

    size_t left(const uint8_t* p) const { return size_t(end - p); }
    uint8_t byte(const uint8_t*& p) {
        if (p >= end) s.invalid(p);
        return *p++;
    }
    uint32_t uvarint(const uint8_t*& p, const uint8_t* limit = nullptr) {
        if (!limit || limit > end) limit = end;
        const uint8_t* at = p;
        uint32_t v = 0;
        for (int k = 0; k < 5; k++) {
            if (p >= limit) s.invalid(p);
            uint8_t b = *p++;
            if (k == 4 && b >= 0x10) s.invalid(at);
            v |= uint32_t(b & 0x7F) << (7 * k);
            if (!(b & 0x80)) return v;
        }
        s.invalid(at);
    }
    // A count or size: 2^31 and above are refused.
    uint32_t count(const uint8_t*& p, const uint8_t* limit = nullptr) {
        const uint8_t* at = p;
        uint32_t v = uvarint(p, limit);
        if (v >= 0x80000000u) s.invalid(at);
        return v;
    }
    int32_t svarint(const uint8_t*& p) {
        uint32_t u = uvarint(p);
        return int32_t((u >> 1) ^ (0u - (u & 1)));
    }
    uint32_t int32(const uint8_t*& p) {
        if (left(p) < 4) s.invalid(p);
        uint32_t v = load_le32(p);
        p += 4;
        return v;
    }
    const uint8_t* take(const uint8_t*& p, size_t n) {
        if (left(p) < n) s.invalid(p);
        const uint8_t* q = p;
        p += n;
        return q;
    }

    int32_t symbol(const uint8_t*& p) {
        const uint8_t* at = p;
        uint32_t i = uvarint(p);
        if (!has_symbols || i >= symbol_count) s.invalid(at);
        if (cache[i]) return cache[i];
        uint32_t offset = load_le32(offsets + 4 * size_t(i));
        if (offset >= names_size) s.invalid(at);
        const uint8_t* name = names + offset;
        size_t length = std::strlen(reinterpret_cast<const char*>(name));
        int32_t id = intern_name(name, uint32_t(length));
        if (!id) s.invalid(at);
        return cache[i] = id;
    }

    // A reference path: the cell it leads to.
    Cell reached(const uint8_t*& p) {
        const uint8_t* at = p;
        uint32_t n = count(p);
        if (n < 1 || n > MAX_PATH || n > left(p)) s.invalid(at);
        s.path.resize(n);
        for (uint32_t i = 0; i < n; i++) s.path[i] = uvarint(p);
        return s.resolve(s.path.data(), n, at);
    }

    std::vector<int32_t> context_words(const uint8_t*& p, uint8_t& flags) {
        flags = byte(p);
        uint32_t n = count(p);
        if (n > left(p)) s.invalid(p);
        std::vector<int32_t> symbols(n);
        for (uint32_t i = 0; i < n; i++) symbols[i] = symbol(p);
        return symbols;
    }

    const uint8_t* record(const uint8_t* p, Out out, uint32_t* where = nullptr);
    const uint8_t* body(const uint8_t* p, const uint8_t* at, int t, bool f, bool ref, Out out, uint32_t& idx);
    const uint8_t* block(const uint8_t* p, const uint8_t* at, int t, bool f, bool ref, Out out, uint32_t& idx);
    const uint8_t* series(const uint8_t* p, const uint8_t* at, int t, bool f, bool ref, Out out, uint32_t& idx);
    const uint8_t* object(const uint8_t* p, const uint8_t* at, bool f, Out out, uint32_t& idx, const Bind* bind);
    const uint8_t* function(const uint8_t* p, const uint8_t* at, Out out, uint32_t& idx, const Bind* bind);
    const uint8_t* function_block(const uint8_t* p, Node ctx, int which);
    const uint8_t* word(const uint8_t* p, const uint8_t* at, int t, bool f, bool ref, Out out, uint32_t& idx);
    const uint8_t* values(const uint8_t* p, Node ctx, uint32_t n) {
        for (uint32_t i = 0; i < n; i++) p = record(p, Out{values_of(ctx), int32_t(i)});
        return p;
    }
};

const uint8_t* Compact::record(const uint8_t* p, Out out, uint32_t* where) {
    s.enter(p);
    bool nl = false, ref = false, pair = false;
    for (;;) {
        if (p >= end) s.invalid(p);
        uint8_t b = *p;
        if (b == CP_NEW_LINE) nl = true;
        else if (b == CP_REFERENCE) ref = true;
        else if (b == CP_SET_PAIR && !s.codec) pair = true;
        else break;
        p++;
    }
    const uint8_t* at = p;
    uint8_t b = *p++;
    uint32_t idx;
    if (b >= 0x80) {
        if (ref || pair) s.invalid(at);
        if (b < 0xC0) idx = place(out, Cell{TYPE_INTEGER, 0, uint32_t(b - CP_SMALL_INT), 0});
        else if (b == CP_TRUE || b == CP_FALSE) idx = place(out, Cell{TYPE_LOGIC, b == CP_TRUE ? 1u : 0u, 0, 0});
        else if (b == CP_BARE_REFERENCE) idx = place(out, reached(p));
        else s.invalid(at);
    } else {
        bool f = b & CP_FLAG;
        int t = b & 0x3F;
        if (t == 63) {
            uint32_t u = uvarint(p);
            t = u > 255 ? 255 : int(u);
        }
        if (t == 0) s.invalid(at);
        if (pair && !(is_any_word(t) && t != TYPE_ISSUE)) s.invalid(at);
        p = body(p, at, t, f, ref, out, idx);
    }
    if (nl) placed(out, idx)->header |= FLAG_NEW_LINE;
    if (pair) {
        if (out.slot >= 0) s.invalid(at);
        p = record(p, out);
        if (!set_pair(out, idx)) s.invalid(at);
    }
    if (where) *where = idx;
    s.leave();
    return p;
}

const uint8_t* Compact::body(const uint8_t* p, const uint8_t* at, int t, bool f, bool ref, Out out, uint32_t& idx) {
    switch (t) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
    case TYPE_HASH: case TYPE_MAP:
        return block(p, at, t, f, ref, out, idx);
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
    case TYPE_BINARY: case TYPE_VECTOR: case TYPE_BITSET: case TYPE_IMAGE:
        return series(p, at, t, f, ref, out, idx);
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
        return word(p, at, t, f, ref, out, idx);
    case TYPE_OBJECT:
        if (ref) {
            idx = place(out, owner_value(reached(p), TYPE_OBJECT, at));
            return p;
        }
        return object(p, at, f, out, idx, nullptr);
    case TYPE_FUNCTION:
        if (ref) {
            idx = place(out, owner_value(reached(p), TYPE_FUNCTION, at));
            return p;
        }
        return function(p, at, out, idx, nullptr);
    default:
        break;
    }
    if (ref) s.invalid(at);
    Cell c{uint32_t(t), 0, 0, 0};
    switch (t) {
    case TYPE_DATATYPE: {
        uint32_t u = uvarint(p);
        if (u < 1 || u > TYPE_MAX) s.invalid(at);
        c.data1 = u;
        break;
    }
    case TYPE_UNSET: case TYPE_NONE:
        break;
    case TYPE_CHAR:
        c.data2 = uvarint(p);
        if (c.data2 > 0x10FFFF) s.invalid(at);
        break;
    case TYPE_INTEGER:
        c.data2 = uint32_t(svarint(p));
        break;
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
        if (f) {
            int32_t k = svarint(p);
            set_cell_float(&c, t == TYPE_PERCENT ? double(k) / 100 : double(k));
        } else {
            c.data2 = int32(p);
            c.data3 = int32(p);
        }
        if (!valid_float(c)) s.invalid(at);
        break;
    case TYPE_PAIR:
        c.data2 = uint32_t(svarint(p));
        c.data3 = uint32_t(svarint(p));
        break;
    case TYPE_POINT2D:
        c.data1 = int32(p);
        c.data2 = int32(p);
        break;
    case TYPE_POINT3D:
        c.data1 = int32(p);
        c.data2 = int32(p);
        c.data3 = int32(p);
        break;
    case TYPE_TYPESET: {
        uint8_t n = byte(p);
        if (n > 12) s.invalid(at);
        std::memcpy(&c.data1, take(p, n), n);
        break;
    }
    case TYPE_TUPLE: {
        uint8_t n = f ? byte(p) : 3;
        if (n < 1 || n > 12) s.invalid(at);
        tuple::make_at(&c, take(p, n), n);
        break;
    }
    case TYPE_MONEY: {
        const uint8_t* bytes = take(p, 12);
        if (!valid_money(bytes)) s.invalid(at);
        std::memcpy(&c.data1, bytes, 12);
        if (f) c.header |= money::NEGATIVE;
        break;
    }
    case TYPE_DATE: {
        c.data1 = int32(p);
        bool has_time = c.data1 & date::HAS_TIME;
        if (has_time != f) s.invalid(at);
        if (f) c.data2 = int32(p), c.data3 = int32(p);
        if (!valid_date(c.data1, c.data2, c.data3, has_time)) s.invalid(at);
        break;
    }
    case TYPE_ISSUE:
        c = word::make_cell(TYPE_ISSUE, context::global, symbol(p), -1);
        break;
    case TYPE_CONTEXT: {
        uint8_t flags;
        std::vector<int32_t> symbols = context_words(p, flags);
        Node ctx = standalone_context(symbols, flags & 3, flags & 4, flags & 8, at);
        collector::Rooted<1> keep;
        keep[0] = Cell{TYPE_CONTEXT_REF, ctx, 0, 0};
        idx = place(out, *context::owner_of(ctx));
        if ((flags & 16) && !(flags & 4)) p = values(p, ctx, uint32_t(symbols.size()));
        return p;
    }
    case TYPE_NATIVE: case TYPE_ACTION: {
        uint32_t number = count(p);
        collector::Rooted<1> spec;
        blk::make_at(&spec[0], 1);
        p = record(p, Out{spec[0].data2, -1});
        if (type_of(blk::at(spec[0].data2, 0)) != TYPE_BLOCK) s.invalid(at);
        if (!make_native_value(t, number, &c)) s.invalid(at);
        break;
    }
    case TYPE_OP: {
        p = record(p, out, &idx);
        if (!make_op(placed(out, idx))) s.invalid(at);
        return p;
    }
    case TYPE_ERROR: {
        uint32_t code = count(p);
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

const uint8_t* Compact::block(const uint8_t* p, const uint8_t* at, int t, bool f, bool ref, Out out, uint32_t& idx) {
    uint32_t head = f && t != TYPE_MAP ? count(p) : 0;
    if (ref) {
        idx = place(out, shared_block(reached(p), t, head, at));
        return p;
    }
    uint32_t n = count(p);
    if (n > left(p) || head > n || (t == TYPE_MAP && (n & 1))) s.invalid(at);
    Node node = new_cell_series(n ? n : 1);
    idx = place(out, Cell{uint32_t(t), head, node, 0});
    for (uint32_t i = 0; i < n; i++) p = record(p, Out{node, -1});
    if (!finish_block(out, idx)) s.invalid(at);
    return p;
}

const uint8_t* Compact::series(const uint8_t* p, const uint8_t* at, int t, bool f, bool ref, Out out, uint32_t& idx) {
    bool headed = t != TYPE_BITSET;
    uint32_t head = f && headed ? count(p) : 0;
    if (ref) {
        idx = place(out, shared_series(reached(p), t, head, at));
        return p;
    }
    SeriesSpec spec{t, head};
    if (t == TYPE_BITSET) {
        spec.complemented = f;
        spec.count = count(p);
    } else if (t == TYPE_BINARY) {
        spec.count = count(p);
    } else if (t == TYPE_VECTOR) {
        uint8_t kind = byte(p);
        spec.element = kind >> 2;
        spec.log2 = kind & 3;
        spec.count = count(p);
    } else if (t == TYPE_IMAGE) {
        spec.width = count(p);
        spec.height = count(p);
        spec.log2 = 2;
        if (spec.width > 0xFFFF || spec.height > 0xFFFF) s.invalid(at);
        spec.count = spec.width * spec.height;
    } else {
        uint32_t u = uvarint(p);
        spec.log2 = u & 3;
        spec.count = u >> 2;
        if (spec.log2 == 3) s.invalid(at);
    }
    size_t bytes = 0;
    if (!series_size(spec, left(p), bytes)) s.invalid(at);
    idx = place(out, make_series(spec, p, at));
    return p + bytes;
}

const uint8_t* Compact::object(const uint8_t* p, const uint8_t* at, bool f, Out out, uint32_t& idx, const Bind* bind) {
    int32_t class_id = svarint(p);
    if (f) svarint(p), svarint(p);
    const uint8_t* ctx_at = p;
    if (byte(p) != TYPE_CONTEXT) s.invalid(ctx_at);
    uint8_t flags;
    std::vector<int32_t> symbols = context_words(p, flags);
    if ((flags & 3) != context::KIND_OBJECT || (flags & 4)) s.invalid(ctx_at);
    collector::Rooted<1> keep;
    Node ctx = new_object(symbols, flags & 8, class_id, out, idx, bind, at, keep[0]);
    if (flags & 16) p = values(p, ctx, uint32_t(symbols.size()));
    if (f && !restore_handlers(ctx, bind ? Out{0, -1} : out, idx)) s.invalid(at);
    return p;
}

const uint8_t* Compact::function(const uint8_t* p, const uint8_t* at, Out out, uint32_t& idx, const Bind* bind) {
    uint32_t spec_count = count(p), body_count = count(p);
    if (spec_count > left(p) || body_count > left(p)) s.invalid(at);
    const uint8_t* ctx_at = p;
    if (byte(p) != TYPE_CONTEXT) s.invalid(ctx_at);
    uint8_t flags;
    std::vector<int32_t> symbols = context_words(p, flags);
    if ((flags & 3) != context::KIND_FUNCTION || !(flags & 4)) s.invalid(ctx_at);
    collector::Rooted<1> keep;
    Node ctx = new_function(symbols, flags & 8, spec_count, body_count, out, idx, bind, at, keep[0]);
    p = function_block(p, ctx, 0);
    p = function_block(p, ctx, 1);
    // A shared spec changed the owner's cell: the placed copy follows it.
    if (!bind) *placed(out, idx) = *context::owner_of(ctx);
    return p;
}

// The spec (0) or body (1) of a function being read: a block record, or a
// reference to a block whose series the function then uses.
const uint8_t* Compact::function_block(const uint8_t* p, Node ctx, int which) {
    bool ref = p < end && *p == CP_REFERENCE;
    if (ref) p++;
    const uint8_t* at = p;
    uint8_t b = byte(p);
    if ((b & 0x3F) != TYPE_BLOCK || b >= 0x80) s.invalid(at);
    if (b & CP_FLAG) count(p);
    if (ref) {
        Cell c = reached(p);
        if (type_of(&c) != TYPE_BLOCK) s.invalid(at);
        share_function_block(ctx, which, c.data2);
        return p;
    }
    uint32_t n = count(p);
    if (n > left(p)) s.invalid(at);
    Node node = function_block_node(ctx, which);
    s.enter(at);
    for (uint32_t i = 0; i < n; i++) p = record(p, Out{node, -1});
    s.leave();
    return p;
}

const uint8_t* Compact::word(const uint8_t* p, const uint8_t* at, int t, bool f, bool ref, Out out, uint32_t& idx) {
    int32_t sym = symbol(p);
    if (!f) {
        if (ref) s.invalid(at);
        Cell w;
        word::make_at(sym, &w, t);
        idx = place(out, w);
        return p;
    }
    if (!s.codec && !ref) {
        uint32_t root = count(p);
        int32_t index = svarint(p);
        idx = place(out, boot_word(t, sym, root, index, at));
        return p;
    }
    int32_t index = svarint(p);
    if (ref) {
        Cell holder = reached(p);
        Node ctx = binding_context(&holder);
        Cell w = word::make_cell(t, ctx, sym, -1);
        if (!ctx || !bind_to(&w, ctx, index)) s.invalid(at);
        idx = place(out, w);
        return p;
    }
    // The owner follows in place; the word is bound once its context exists.
    idx = place(out, word::make_cell(t, context::global, sym, -1));
    Bind bind{out, idx, index};
    const uint8_t* owner_at = p;
    uint8_t b = byte(p);
    uint32_t ignored;
    if ((b & 0x3F) == TYPE_OBJECT && b < 0x80) return object(p, owner_at, b & CP_FLAG, out, ignored, &bind);
    if (b == TYPE_FUNCTION) return function(p, owner_at, out, ignored, &bind);
    s.invalid(owner_at);
}

}  // namespace

const uint8_t* decode_compact(DecodeState& s, const uint8_t* p, const uint8_t* end, bool symbols) {
    Compact c(s, end);
    // The two header integers take at most 20 bytes between them.
    const uint8_t* limit = end - p > 20 ? p + 20 : end;
    c.uvarint(p, limit);
    uint32_t size = c.count(p, limit);
    if (symbols) {
        const uint8_t* at = p;
        limit = end - p > 20 ? p + 20 : end;
        uint32_t n = c.count(p, limit);
        uint32_t names_size = c.count(p, limit);
        if (n > c.left(p) / 4) s.invalid(at);
        c.offsets = p;
        p += 4 * size_t(n);
        if (names_size > c.left(p) || (names_size && p[names_size - 1] != 0)) s.invalid(at);
        c.names = p;
        c.names_size = names_size;
        c.symbol_count = n;
        c.has_symbols = true;
        c.cache.assign(n, 0);
        p += names_size;
    }
    if (size > c.left(p)) s.invalid(p);
    c.end = p + size;
    Out roots{s.target->data2, -1};
    while (p < c.end) p = c.record(p, roots);
    return p;
}

}  // namespace vyx::vyxbin
