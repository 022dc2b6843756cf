// The VYXBIN writer, both record forms. Writing allocates nothing in the
// collected heap until the result binary is made, so the value's cells are
// read in place.
#include <cmath>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/image.h"
#include "datatypes/money.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "io/image_store.h"
#include "io/vyxbin_internal.h"
#include "runtime/raise.h"

namespace vyx::vyxbin {

namespace {

const uint8_t MAGIC[6] = {'V', 'Y', 'X', 'B', 'I', 'N'};

// Whether a word bound to this context is written with its binding: only
// contexts owned by an object or a function can be rebuilt on reading.
bool owned_binding(Node ctx) {
    if (!ctx || ctx == context::global) return false;
    int owner = type_of(context::owner_of(ctx));
    return owner == TYPE_OBJECT || owner == TYPE_FUNCTION;
}

}  // namespace

struct Writer {
    bool compact;
    std::vector<uint8_t> rec;
    std::vector<int32_t> symbols;
    std::unordered_map<int32_t, uint32_t> symbol_at;
    std::vector<uint8_t> names;
    std::vector<uint32_t> offsets;
    uint32_t current = 0;
    struct Record {
        uint32_t parent;
        uint32_t index;
    };
    static constexpr uint32_t NO_RECORD = 0xFFFFFFFF;
    std::vector<uint32_t> saved;    // the current index of each open level
    std::vector<uint32_t> open;     // the record of each open level
    std::vector<Record> records;
    std::vector<uint32_t> scratch;
    std::unordered_map<Node, uint32_t> refs;
    uint32_t depth = 0;
    // Boot mode: words bound to the context of a literal are written as
    // flagged boot words naming it. What a set-pair's value records is
    // forgotten after it: the pair leaves no literal a later path could reach.
    bool boot = false;
    std::vector<Node>* scoped = nullptr;
    std::unordered_map<Node, uint32_t> boot_contexts;

    explicit Writer(bool compact_form) : compact(compact_form) {}

    // ---- emitters
    void byte(uint8_t b) { rec.push_back(b); }
    void bytes(const uint8_t* p, size_t n) { rec.insert(rec.end(), p, p + n); }
    void uvarint(uint32_t v) {
        while (v >= 0x80) {
            rec.push_back(uint8_t(v | 0x80));
            v >>= 7;
        }
        rec.push_back(uint8_t(v));
    }
    void svarint(int32_t v) { uvarint((uint32_t(v) << 1) ^ uint32_t(v >> 31)); }
    void int32(uint32_t v) {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        bytes(b, 4);
    }
    void header(int type, bool flag) {
        if (type < 63) {
            byte(uint8_t(type | (flag ? CP_FLAG : 0)));
        } else {
            byte(uint8_t(63 | (flag ? CP_FLAG : 0)));
            uvarint(uint32_t(type));
        }
    }
    void pad(uint32_t multiple) {
        while (rec.size() % multiple) rec.push_back(0);
    }

    uint32_t symbol_index(int32_t sym) {
        auto it = symbol_at.find(sym);
        if (it != symbol_at.end()) return it->second;
        uint32_t index = uint32_t(symbols.size());
        symbols.push_back(sym);
        symbol_at.emplace(sym, index);
        offsets.push_back(uint32_t(names.size()));
        std::string_view name = symbol::name_view(sym);
        names.insert(names.end(), name.begin(), name.end());
        names.push_back(0);
        if (!compact)
            while (names.size() % 8) names.push_back(0);
        return index;
    }

    // ---- references
    // Every value that may be referenced is recorded as its position within
    // its parent and a link to the parent's record, so recording costs O(1)
    // whatever the depth; a path is rebuilt only when a reference is written.
    void push_path() {
        saved.push_back(current);
        current = 0;
    }
    void pop_path() {
        current = saved.back();
        saved.pop_back();
        open.pop_back();
    }
    void record_path(Node node) {
        uint32_t id = uint32_t(records.size());
        records.push_back(Record{open.empty() ? NO_RECORD : open.back(), saved.back()});
        open.push_back(id);
        refs[node] = id;
        if (scoped) scoped->push_back(node);
    }
    void emit_path(uint32_t id) {
        scratch.clear();
        for (uint32_t r = id; r != NO_RECORD; r = records[r].parent) scratch.push_back(records[r].index);
        uint32_t n = uint32_t(scratch.size());
        if (compact) {
            uvarint(n);
            for (uint32_t i = n; i-- > 0;) uvarint(scratch[i]);
        } else {
            int32(FX_REFERENCE_TYPE);
            int32(n);
            for (uint32_t i = n; i-- > 0;) int32(scratch[i]);
        }
    }

    [[noreturn]] void no_codec(const Cell* value) {
        Cell v = *value;
        raise_error(err::access_no_codec, &v);
    }

    // ---- values
    void value(const Cell* v);
    void plain(const Cell* v, int t, bool nl);
    void referable(const Cell* v, int t, bool nl);
    void body(const Cell* v, int t, bool nl, bool ref);
    void word(const Cell* v, int t, bool nl);
    void series(const Cell* v, int t, uint32_t h, bool ref);
    void block(const Cell* v, int t, uint32_t h, bool ref);
    void map(const Cell* v, uint32_t h, bool ref);
    void bitset(const Cell* v, uint32_t h, bool ref);
    void image(const Cell* v, uint32_t h, bool ref);
    void object_record(const Cell* obj, uint32_t h, bool ref);
    void function_record(const Cell* fn, uint32_t h, bool ref);
    void context_record(Node ctx);
    void native(const Cell* v, int t, uint32_t h);
    void op(const Cell* v, uint32_t h);
    void error(const Cell* v, uint32_t h);
    void float_value(const Cell* v, int t, uint32_t h);
};

void Writer::value(const Cell* v) {
    if (++depth > DEPTH_LIMIT) raise_error(err::internal_too_deep);
    int t = type_of(v);
    bool nl = (v->header & FLAG_NEW_LINE) != 0;
    if (compact && nl) byte(CP_NEW_LINE);
    switch (t) {
    case TYPE_UNSET: case TYPE_NONE: case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_INTEGER: case TYPE_CHAR:
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: case TYPE_PAIR: case TYPE_POINT2D: case TYPE_POINT3D:
    case TYPE_TYPESET: case TYPE_TUPLE: case TYPE_MONEY: case TYPE_DATE: case TYPE_ISSUE:
        plain(v, t, nl);
        break;
    case TYPE_ERROR:
        error(v, compact ? 0 : uint32_t(t) | (nl ? FX_NEW_LINE : 0));
        break;
    case TYPE_NATIVE: case TYPE_ACTION:
        native(v, t, compact ? 0 : uint32_t(t) | (nl ? FX_NEW_LINE : 0));
        break;
    case TYPE_OP:
        op(v, compact ? 0 : uint32_t(t) | (nl ? FX_NEW_LINE : 0));
        break;
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
    case TYPE_HASH: case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
    case TYPE_BINARY: case TYPE_VECTOR: case TYPE_MAP: case TYPE_BITSET: case TYPE_OBJECT: case TYPE_FUNCTION:
    case TYPE_IMAGE:
        referable(v, t, nl);
        break;
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
        word(v, t, nl);
        break;
    default:
        // No record: routine!, triple!, handle!, port!, event!, and the
        // symbol!, context! and series! values that only live inside others.
        no_codec(v);
    }
    current++;
    depth--;
}

void Writer::plain(const Cell* v, int t, bool nl) {
    uint32_t h = uint32_t(t) | (nl ? FX_NEW_LINE : 0);
    switch (t) {
    case TYPE_UNSET: case TYPE_NONE:
        if (compact) header(t, false); else int32(h);
        return;
    case TYPE_DATATYPE:
        if (compact) header(t, false), uvarint(v->data1); else int32(h), int32(v->data1);
        return;
    case TYPE_LOGIC:
        if (compact) byte(v->data1 ? CP_TRUE : CP_FALSE); else int32(h), int32(v->data1 ? 1 : 0);
        return;
    case TYPE_INTEGER: {
        int32_t i = int32_t(v->data2);
        if (!compact) int32(h), int32(v->data2);
        else if (i >= 0 && i < 64) byte(uint8_t(CP_SMALL_INT + i));
        else header(t, false), svarint(i);
        return;
    }
    case TYPE_CHAR:
        if (compact) header(t, false), uvarint(v->data2); else int32(h), int32(v->data2);
        return;
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
        float_value(v, t, h);
        return;
    case TYPE_PAIR:
        if (compact) header(t, false), svarint(int32_t(v->data2)), svarint(int32_t(v->data3));
        else int32(h), int32(v->data2), int32(v->data3);
        return;
    case TYPE_POINT2D:
        if (compact) header(t, false); else int32(h);
        int32(v->data1), int32(v->data2);
        return;
    case TYPE_POINT3D:
        if (compact) header(t, false); else int32(h);
        int32(v->data1), int32(v->data2), int32(v->data3);
        return;
    case TYPE_TYPESET: {
        if (!compact) {
            int32(h), int32(v->data1), int32(v->data2), int32(v->data3);
            return;
        }
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&v->data1);
        uint8_t n = 12;
        while (n > 0 && b[n - 1] == 0) n--;
        header(t, false), byte(n), bytes(b, n);
        return;
    }
    case TYPE_TUPLE: {
        int n = tuple::length(v);
        if (!compact) {
            int32(h | uint32_t(n) << 8), int32(v->data1), int32(v->data2), int32(v->data3);
            return;
        }
        header(t, n != 3);
        if (n != 3) byte(uint8_t(n));
        bytes(reinterpret_cast<const uint8_t*>(v) + 4, size_t(n));
        return;
    }
    case TYPE_MONEY: {
        bool negative = v->header & money::NEGATIVE;
        if (compact) header(t, negative); else int32(h | (negative ? FX_NEGATIVE : 0));
        bytes(reinterpret_cast<const uint8_t*>(v) + 4, 12);
        return;
    }
    case TYPE_DATE: {
        bool has_time = v->data1 & date::HAS_TIME;
        if (!compact) {
            int32(h), int32(v->data1), int32(v->data3), int32(v->data2);
            return;
        }
        header(t, has_time), int32(v->data1);
        if (has_time) int32(v->data2), int32(v->data3);
        return;
    }
    case TYPE_ISSUE: {
        uint32_t s = symbol_index(word::symbol_of(v));
        if (compact) header(t, false), uvarint(s); else int32(h), int32(s);
        return;
    }
    }
}

void Writer::float_value(const Cell* v, int t, uint32_t h) {
    double d = cell_float(v);
    if (!compact) {
        pad(8);
        int32(h), int32(v->data3), int32(v->data2);
        return;
    }
    bool zero_sign = std::signbit(d) && d == 0;
    if (t == TYPE_PERCENT) {
        if (d >= -21474836.0 && d <= 21474836.0 && !zero_sign) {
            double r = d * 100;
            double k = r < 0 ? -std::floor(-r + 0.5) : std::floor(r + 0.5);
            if (k / 100 == d) {
                header(t, true), svarint(int32_t(k));
                return;
            }
        }
    } else if (d >= -2147483000.0 && d <= 2147483000.0 && d == std::trunc(d) && !zero_sign) {
        header(t, true), svarint(int32_t(d));
        return;
    }
    header(t, false), int32(v->data2), int32(v->data3);
}

// Series, blocks, maps, bitsets, objects and functions: written once, then
// as a path to where they were first written.
void Writer::referable(const Cell* v, int t, bool nl) {
    Node key = t == TYPE_OBJECT || t == TYPE_FUNCTION ? v->data1 : v->data2;
    bool ref = false;
    uint32_t at = 0;
    // Global words and objects, and images without pixels, are never shared.
    bool global = key == context::global || key == 0;
    bool recorded = false;
    if (!global) {
        auto it = refs.find(key);
        if (it != refs.end()) {
            ref = true;
            at = it->second;
        } else {
            push_path();
            record_path(key);
            recorded = true;
        }
    }
    if (compact && ref) byte(CP_REFERENCE);
    body(v, t, nl, ref);
    if (ref) emit_path(at);
    else if (recorded) pop_path();
}

void Writer::body(const Cell* v, int t, bool nl, bool ref) {
    uint32_t h = uint32_t(t) | (nl ? FX_NEW_LINE : 0) | (ref ? FX_REF : 0);
    switch (t) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
    case TYPE_BINARY: case TYPE_VECTOR:
        return series(v, t, h, ref);
    case TYPE_MAP:
        return map(v, h, ref);
    case TYPE_BITSET:
        return bitset(v, h, ref);
    case TYPE_IMAGE:
        return image(v, h, ref);
    case TYPE_OBJECT:
        return object_record(v, h, ref);
    case TYPE_FUNCTION:
        return function_record(v, h, ref);
    default:
        return block(v, t, h, ref);
    }
}

void Writer::series(const Cell* v, int t, uint32_t h, bool ref) {
    SeriesBuffer* b = node_buffer(v->data2);
    uint32_t unit = b->unit();
    uint32_t head = v->data1;
    uint32_t n = (b->tail - b->offset) / unit;
    uint32_t log2 = unit == 8 ? 3 : unit == 4 ? 2 : unit == 2 ? 1 : 0;
    if (compact) {
        header(t, head != 0);
        if (head) uvarint(head);
        if (ref) return;
        if (t == TYPE_VECTOR) byte(uint8_t(v->data3 * 4 + log2)), uvarint(n);
        else if (t == TYPE_BINARY) uvarint(n);
        else uvarint(n * 4 + log2);
        bytes(b->head(), size_t(n) * unit);
        return;
    }
    int32(h | unit << 8), int32(head);
    if (ref) return;
    int32(n);
    if (t == TYPE_VECTOR) int32(v->data3);
    bytes(node_buffer(v->data2)->head(), size_t(n) * unit);
    pad(4);
}

void Writer::block(const Cell* v, int t, uint32_t h, bool ref) {
    uint32_t head = v->data1;
    if (compact) {
        header(t, head != 0);
        if (head) uvarint(head);
    } else {
        int32(h), int32(head);
    }
    if (ref) return;
    uint32_t n = node_buffer(v->data2)->length();
    if (compact) uvarint(n); else int32(n);
    // Nothing allocates while writing: the buffer stays where it is.
    const Cell* cells = node_buffer(v->data2)->cell_head();
    for (uint32_t i = 0; i < n; i++) value(cells + i);
}

void Writer::map(const Cell* v, uint32_t h, bool ref) {
    if (compact) header(TYPE_MAP, false); else int32(h);
    if (ref) return;
    SeriesBuffer* b = node_buffer(v->data2);
    const Cell* cells = b->cell_head();
    uint32_t n = b->length() & ~1u, live = 0;
    for (uint32_t i = 0; i < n; i += 2)
        if (cells[i + 1].header != 0) live++;
    if (compact) uvarint(live * 2); else int32(live * 2);
    for (uint32_t i = 0; i < n; i += 2) {
        if (cells[i + 1].header == 0) continue;
        value(cells + i);
        value(cells + i + 1);
    }
}

void Writer::bitset(const Cell* v, uint32_t h, bool ref) {
    SeriesBuffer* b = node_buffer(v->data2);
    bool complemented = b->flags & series_flag::COMPLEMENTED;
    if (compact) header(TYPE_BITSET, complemented); else int32(h | (complemented ? FX_COMPLEMENT : 0));
    if (ref) return;
    uint32_t n = b->tail - b->offset;
    if (compact) uvarint(n); else int32(n);
    bytes(b->head(), n);
    if (!compact) pad(4);
}

// Every pixel as its four memory bytes (B, G, R, A), the argb channel.
void Writer::image(const Cell* v, uint32_t h, bool ref) {
    uint32_t head = v->data1;
    uint32_t width = image::width(v), height = image::height(v);
    if (compact) {
        header(TYPE_IMAGE, head != 0);
        if (head) uvarint(head);
        if (ref) return;
        uvarint(width), uvarint(height);
    } else {
        int32(h), int32(head);
        if (ref) return;
        int32(v->data3);
    }
    if (v->data2) bytes(imaging::lock_pixels(v->data2), size_t(width) * height * 4);
}

void Writer::context_record(Node ctx) {
    uint32_t kind = context::kind_of(ctx);
    bool stack = context::on_stack(ctx);
    bool self = context::cell_of(ctx)->header & context::FLAG_SELF;
    uint32_t n = context::word_count(ctx);
    bool values = false;
    if (!stack)
        for (uint32_t i = 0; i < n && !values; i++) values = type_of(context::value_at(ctx, i)) != TYPE_UNSET;
    if (compact) {
        header(TYPE_CONTEXT, false);
        byte(uint8_t(kind | (stack ? 4 : 0) | (self ? 8 : 0) | (values ? 16 : 0)));
        uvarint(n);
    } else {
        int32(TYPE_CONTEXT | kind << 26 | (stack ? FX_CTX_STACK : 0) | (self ? FX_CTX_SELF : 0) |
              (values ? FX_CTX_VALUES : 0));
        int32(n);
    }
    for (uint32_t i = 0; i < n; i++) {
        uint32_t s = symbol_index(word::symbol_of(context::key_word(ctx, i)));
        if (compact) uvarint(s); else int32(s);
    }
    if (values)
        for (uint32_t i = 0; i < n; i++) value(context::value_at(ctx, i));
}

void Writer::object_record(const Cell* obj, uint32_t h, bool ref) {
    Node handlers = obj->data3;
    if (compact) header(TYPE_OBJECT, handlers != 0 && !ref); else int32(h | (handlers && !ref ? FX_HANDLERS : 0));
    if (ref) return;
    int32_t first = 0, second = 0;
    if (handlers) {
        const Cell* r = node_buffer(handlers)->cell_head();
        first = int32_t(r[0].data2), second = int32_t(r[1].data2);
    }
    if (compact) {
        svarint(int32_t(obj->data2));
        if (handlers) svarint(first), svarint(second);
    } else {
        int32(obj->data2);
        if (handlers) int32(uint32_t(first)), int32(uint32_t(second));
    }
    context_record(obj->data1);
}

void Writer::function_record(const Cell* fn, uint32_t h, bool ref) {
    if (compact) header(TYPE_FUNCTION, false); else int32(h);
    if (ref) return;
    Cell body_cell = function::more(fn)[function::MORE_BODY];
    if (type_of(&body_cell) != TYPE_BLOCK) no_codec(fn);
    uint32_t spec_count = node_buffer(fn->data2)->length();
    SeriesBuffer* bb = node_buffer(body_cell.data2);
    uint32_t body_count = bb->length() > body_cell.data1 ? bb->length() - body_cell.data1 : 0;
    if (compact) uvarint(spec_count), uvarint(body_count); else int32(spec_count), int32(body_count);
    context_record(fn->data1);
    uint32_t saved = current;
    Cell spec{TYPE_BLOCK, 0, fn->data2, 0};
    current = 0;
    value(&spec);
    current = 1;
    body_cell.header = TYPE_BLOCK;
    value(&body_cell);
    current = saved;
}

// A word bound to an object or a function carries that owner after it (or
// a path to where it was written); every other word is read back global.
void Writer::word(const Cell* v, int t, bool nl) {
    Node ctx = word::ctx_of(v);
    uint32_t s = symbol_index(word::symbol_of(v));
    if (boot) {
        // A literal's context by its number; the context of a function or
        // object inside a literal by a path to it; any other word global.
        auto it = boot_contexts.find(ctx);
        if (it != boot_contexts.end()) {
            header(t, true), uvarint(s), uvarint(it->second), svarint(word::index_of(v));
            return;
        }
        auto ref = owned_binding(ctx) ? refs.find(ctx) : refs.end();
        if (ref == refs.end()) {
            header(t, false), uvarint(s);
            return;
        }
        byte(CP_REFERENCE), header(t, true), uvarint(s), svarint(word::index_of(v));
        emit_path(ref->second);
        return;
    }
    if (!owned_binding(ctx)) {
        if (compact) header(t, false), uvarint(s);
        else int32(uint32_t(t) | FX_GLOBAL | (nl ? FX_NEW_LINE : 0)), int32(s), int32(v->data3);
        return;
    }
    bool ref = false;
    uint32_t at = 0;
    auto it = refs.find(ctx);
    if (it != refs.end()) {
        ref = true;
        at = it->second;
    } else {
        push_path();
        record_path(ctx);
    }
    if (compact) {
        if (ref) byte(CP_REFERENCE);
        header(t, true), uvarint(s), svarint(word::index_of(v));
    } else {
        int32(uint32_t(t) | (nl ? FX_NEW_LINE : 0) | (ref ? FX_REF : 0)), int32(s), int32(v->data3);
    }
    if (ref) {
        emit_path(at);
        return;
    }
    // The owner is written in place, at the word's own level.
    Cell owner = *context::owner_of(ctx);
    if (type_of(&owner) == TYPE_OBJECT) object_record(&owner, TYPE_OBJECT, false);
    else function_record(&owner, TYPE_FUNCTION, false);
    pop_path();
}

void Writer::native(const Cell* v, int t, uint32_t h) {
    if (compact) header(t, false), uvarint(v->data1); else int32(h), int32(v->data1);
    Cell spec{TYPE_BLOCK, 0, v->data2, 0};
    value(&spec);
    current--;
}

void Writer::op(const Cell* v, uint32_t h) {
    int source = op::source_type(v);
    if (source != TYPE_FUNCTION && source != TYPE_NATIVE && source != TYPE_ACTION) no_codec(v);
    if (compact) header(TYPE_OP, false); else int32(h | uint32_t(source) << op::SOURCE_SHIFT);
    Cell inner = op::source_of(v);
    value(&inner);
    current--;
}

void Writer::error(const Cell* v, uint32_t h) {
    Node ctx = v->data1;
    push_path();
    record_path(ctx);
    uint32_t code = error::field(v, error::F_CODE)->data2;
    if (compact) header(TYPE_ERROR, false), uvarint(code); else int32(h), int32(code);
    for (uint32_t f = error::F_ARG1; f <= error::F_STACK; f++) value(context::value_at(ctx, f));
    pop_path();
}

namespace {

// The binary: header, symbol section, records.
Cell* assemble(Writer& w, uint8_t version, uint32_t roots, bool symbols, Cell* target) {
    std::vector<uint8_t> out;
    auto put32 = [&out](uint32_t v) {
        uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        out.insert(out.end(), b, b + 4);
    };
    auto putv = [&out](uint32_t v) {
        while (v >= 0x80) {
            out.push_back(uint8_t(v | 0x80));
            v >>= 7;
        }
        out.push_back(uint8_t(v));
    };
    out.reserve(24 + 4 * w.symbols.size() + w.names.size() + w.rec.size());
    out.insert(out.end(), MAGIC, MAGIC + 6);
    out.push_back(version);
    if (w.compact) {
        out.push_back(uint8_t(FLAG_COMPACT | (symbols ? FLAG_SYMBOLS : 0)));
        putv(roots), putv(uint32_t(w.rec.size()));
        if (symbols) putv(uint32_t(w.symbols.size())), putv(uint32_t(w.names.size()));
    } else {
        out.push_back(symbols ? FLAG_SYMBOLS : 0);
        put32(roots), put32(uint32_t(w.rec.size()));
        if (symbols) put32(uint32_t(w.symbols.size())), put32(uint32_t(w.names.size()));
    }
    if (symbols) {
        for (uint32_t o : w.offsets) put32(o);
        out.insert(out.end(), w.names.begin(), w.names.end());
    }
    out.insert(out.end(), w.rec.begin(), w.rec.end());
    return binary::make_from(target, out.data(), uint32_t(out.size()));
}

}  // namespace

Cell* encode(const Cell* value, bool compact, Cell* target) {
    codec = true;
    Writer w(compact);
    w.rec.reserve(64);
    w.value(value);
    return assemble(w, 2, 1, !w.symbols.empty(), target);
}

BootWriter::BootWriter() : writer_(new Writer(true)) { writer_->boot = true; }
BootWriter::~BootWriter() { delete writer_; }

uint32_t BootWriter::literal(const Cell* value) {
    Writer& w = *writer_;
    uint32_t n = w.current;
    int t = type_of(value);
    // Words inside the literal may already name its own context.
    if (t == TYPE_OBJECT || t == TYPE_FUNCTION || t == TYPE_ERROR) w.boot_contexts.emplace(value->data1, n);
    w.value(value);
    return n;
}

void BootWriter::set(const Cell* word, const Cell* value) {
    Writer& w = *writer_;
    uint32_t saved = w.current;
    std::vector<Node> recorded;
    w.scoped = &recorded;
    w.byte(CP_SET_PAIR);
    w.value(word);
    w.value(value);
    w.scoped = nullptr;
    for (Node n : recorded) w.refs.erase(n);
    w.current = saved;
}

Cell* BootWriter::finish(Cell* target) { return assemble(*writer_, 1, writer_->current, true, target); }

}  // namespace vyx::vyxbin
