#include "io/vyxbin_records.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/image.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "runtime/collector.h"
#include "runtime/error_catalog.h"
#include "runtime/hash_index.h"
#include "runtime/raise.h"

namespace vyx::vyxbin {

namespace {

bool is_spec_holder(int t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION || t == TYPE_OP || t == TYPE_ROUTINE;
}

uint32_t series_length(Node node) { return node_buffer(node)->length(); }

}  // namespace

void RecordBuilder::no_codec(int type) {
    Cell dt{TYPE_DATATYPE, uint32_t(type), 0, 0};
    raise_error(err::access_no_codec, &dt);
}

bool RecordBuilder::valid_float(const Cell& c) const {
    return type_of(&c) != TYPE_TIME || std::isfinite(cell_float(&c));
}

bool RecordBuilder::series_size(const SeriesSpec& spec, size_t left, size_t& bytes) const {
    switch (spec.type) {
    case TYPE_VECTOR:
        switch (spec.element) {
        case TYPE_CHAR: case TYPE_INTEGER:
            if (spec.log2 > 2) return false;
            break;
        case TYPE_FLOAT:
            if (spec.log2 < 2) return false;
            break;
        case TYPE_PERCENT:
            if (spec.log2 != 3) return false;
            break;
        default:
            return false;
        }
        break;
    case TYPE_BINARY: case TYPE_BITSET:
        if (spec.log2) return false;
        break;
    case TYPE_IMAGE:
        // width x height x 4 within 31 bits, and the count is pixels.
        if (spec.width > 0xFFFF || spec.height > 0xFFFF || uint64_t(spec.width) * spec.height * 4 >= 0x80000000u)
            return false;
        break;
    default:
        if (spec.log2 > 2) return false;
    }
    if (spec.count > (left >> spec.log2) || spec.head > spec.count) return false;
    bytes = size_t(spec.count) << spec.log2;
    return true;
}

Cell RecordBuilder::make_series(const SeriesSpec& spec, const uint8_t* bytes, const uint8_t* at) {
    uint32_t unit = 1u << spec.log2;
    size_t n = size_t(spec.count) << spec.log2;
    if (spec.type == TYPE_IMAGE) {
        uint8_t* pixels = n ? static_cast<uint8_t*>(std::malloc(n)) : nullptr;
        if (n && !pixels) s.invalid(at);
        if (n) std::memcpy(pixels, bytes, n);
        collector::Rooted<1> img;
        image::make_from_pixels(&img[0], spec.width, spec.height, pixels);
        img[0].data1 = spec.head;
        return img[0];
    }
    if (unit == 4 && spec.type != TYPE_VECTOR)
        for (size_t i = 0; i < n; i += 4)
            if (load_le32(bytes + i) > 0x10FFFF) s.invalid(at);
    Node node = new_series(spec.count ? spec.count : 1, unit, 0);
    SeriesBuffer* b = node_buffer(node);
    std::memcpy(b->head(), bytes, n);
    b->tail = b->offset + uint32_t(n);
    if (spec.type == TYPE_BITSET) {
        if (spec.complemented) set_series_flags(node, series_flag::COMPLEMENTED);
        return Cell{TYPE_BITSET, 0, node, 0};
    }
    return Cell{uint32_t(spec.type), spec.head, node, spec.type == TYPE_VECTOR ? spec.element : 0};
}

Cell RecordBuilder::shared_series(const Cell& reached, int t, uint32_t head, const uint8_t* at) {
    int rt = type_of(&reached);
    bool fits = is_any_string(t) ? is_any_string(rt) : rt == t;
    if (!fits) s.invalid(at);
    Cell c = reached;
    c.header = uint32_t(t);
    if (is_any_string(t)) c.data3 = 0;
    if (t == TYPE_IMAGE) {
        if (head > image::pixel_count(&c)) s.invalid(at);
        c.data1 = head;
    } else if (t != TYPE_BITSET) {
        if (head > series_length(c.data2)) s.invalid(at);
        c.data1 = head;
    }
    return c;
}

Cell RecordBuilder::shared_block(const Cell& reached, int t, uint32_t head, const uint8_t* at) {
    int rt = type_of(&reached);
    if (t == TYPE_HASH || t == TYPE_MAP) {
        if (rt != t) s.invalid(at);
        Cell c = reached;
        c.header = uint32_t(t);
        if (head > series_length(c.data2)) s.invalid(at);
        c.data1 = head;
        return c;
    }
    // A block record may share the series of any block-like value but
    // hash! and map! (whose index would go stale), or of a spec.
    if (!((is_any_block(rt) && rt != TYPE_HASH) || is_spec_holder(rt))) s.invalid(at);
    if (head > series_length(reached.data2)) s.invalid(at);
    return Cell{uint32_t(t), head, reached.data2, 0};
}

bool RecordBuilder::finish_block(Out out, uint32_t at) {
    Cell* c = placed(out, at);
    int t = type_of(c);
    if (t == TYPE_HASH) {
        Node node = c->data2;
        uint32_t n = series_length(node);
        Node index = make_hash_index(n ? n : 1, node, HASH_KIND_HASH);
        placed(out, at)->data3 = index;
    } else if (t == TYPE_MAP) {
        SeriesBuffer* b = node_buffer(c->data2);
        const Cell* cells = b->cell_head();
        for (uint32_t i = 0; i < b->length(); i += 2)
            if (!map::is_valid_key_type(type_of(cells + i))) return false;
        Cell m = map::make_from_block(c);
        *placed(out, at) = m;
    }
    return true;
}

Cell RecordBuilder::owner_value(const Cell& reached, int type, const uint8_t* at) {
    Node ctx = binding_context(&reached);
    if (!ctx || type_of(context::owner_of(ctx)) != type) s.invalid(at);
    Cell c = *context::owner_of(ctx);
    c.header &= ~FLAG_NEW_LINE;
    return c;
}

Node RecordBuilder::standalone_context(const std::vector<int32_t>& symbols, uint32_t kind, bool stack, bool self,
                                       const uint8_t* at) {
    // Only a context whose values it holds itself can stand as an object.
    if (stack || (kind != context::KIND_OBJECT && kind != context::KIND_FUNCTION)) s.invalid(at);
    Node ctx = make_context(symbols, kind, false, self);
    if (!ctx) s.invalid(at);
    *context::owner_of(ctx) = Cell{TYPE_OBJECT, ctx, object::next_class_id(), 0};
    return ctx;
}

Node RecordBuilder::new_object(const std::vector<int32_t>& symbols, bool self, int32_t class_id, Out out,
                               uint32_t& idx, const Bind* bind, const uint8_t* at, Cell& keep) {
    Node ctx = make_context(symbols, context::KIND_OBJECT, false, self);
    if (!ctx) s.invalid(at);
    keep = Cell{TYPE_CONTEXT_REF, ctx, 0, 0};
    // Through the codec an object starts a class of its own.
    uint32_t id = s.codec ? object::next_class_id() : uint32_t(class_id);
    Cell obj{TYPE_OBJECT, ctx, id, 0};
    *context::owner_of(ctx) = obj;
    if (bind) {
        if (!bind_to(placed(bind->out, bind->at), ctx, bind->index)) s.invalid(at);
    } else {
        idx = place(out, obj);
    }
    return ctx;
}

Node RecordBuilder::new_function(const std::vector<int32_t>& symbols, bool self, uint32_t spec_count,
                                 uint32_t body_count, Out out, uint32_t& idx, const Bind* bind, const uint8_t* at,
                                 Cell& keep) {
    Node ctx = make_context(symbols, context::KIND_FUNCTION, true, self);
    if (!ctx) s.invalid(at);
    keep = Cell{TYPE_CONTEXT_REF, ctx, 0, 0};
    collector::Rooted<2> r;
    Node spec = new_cell_series(spec_count ? spec_count : 1);
    r[0] = Cell{TYPE_BLOCK, 0, spec, 0};
    Node body = new_cell_series(body_count ? body_count : 1);
    r[1] = Cell{TYPE_BLOCK, 0, body, 0};
    Node more = new_cell_series(5);
    SeriesBuffer* b = node_buffer(more);
    for (int k = 0; k < 5; k++) *append_cell_to_buffer(b) = Cell{TYPE_UNSET, 0, 0, 0};
    b->cell_head()[function::MORE_BODY] = Cell{TYPE_BLOCK, 0, body, 0};
    Cell fn{TYPE_FUNCTION, ctx, spec, more};
    *context::owner_of(ctx) = fn;
    if (bind) {
        if (!bind_to(placed(bind->out, bind->at), ctx, bind->index)) s.invalid(at);
    } else {
        idx = place(out, fn);
    }
    return ctx;
}

Node RecordBuilder::function_block_node(Node ctx, int which) {
    const Cell* fn = context::owner_of(ctx);
    return which == 0 ? fn->data2 : function::more(fn)[function::MORE_BODY].data2;
}

void RecordBuilder::share_function_block(Node ctx, int which, Node series) {
    Cell* fn = context::owner_of(ctx);
    if (which == 0) fn->data2 = series;
    else function::more(fn)[function::MORE_BODY] = Cell{TYPE_BLOCK, 0, series, 0};
}

bool RecordBuilder::restore_handlers(Node ctx, Out out, uint32_t at) {
    collector::Rooted<1> obj;
    obj[0] = *context::owner_of(ctx);
    static const char* const names[2] = {"on-change*", "on-deep-change*"};
    for (const char* name : names) {
        int32_t i = context::find_word(ctx, symbol::make(name), true);
        if (i < 0) continue;
        int t = type_of(context::value_at(ctx, uint32_t(i)));
        if (t != TYPE_FUNCTION && t != TYPE_ROUTINE) return false;
    }
    object::set_on_set(&obj[0]);
    if (out.series) placed(out, at)->data3 = obj[0].data3;
    return true;
}

bool RecordBuilder::make_op(Cell* inner) {
    int t = type_of(inner);
    if (t != TYPE_FUNCTION && t != TYPE_NATIVE && t != TYPE_ACTION) return false;
    inner->header = (inner->header & FLAG_NEW_LINE) | op::header_for(t);
    return true;
}

Node RecordBuilder::make_error(uint32_t code, Out out, uint32_t& idx, const uint8_t* at) {
    if (code / 100 >= uint32_t(err::CATEGORY_COUNT) || !error::ready()) s.invalid(at);
    err::Id id{uint8_t(code / 100), uint8_t(code % 100 + err::FIRST_ENTRY)};
    if (!err::entry_info(id)) s.invalid(at);
    collector::Rooted<1> e;
    error::create(id, nullptr, nullptr, nullptr, &e[0]);
    idx = place(out, e[0]);
    return e[0].data1;
}

Cell RecordBuilder::boot_word(int t, int32_t symbol, uint32_t root, int32_t index, const uint8_t* at) {
    uint64_t i = uint64_t(s.first) + root;
    Node series = s.target->data2;
    if (i >= series_length(series)) s.invalid(at);
    const Cell* holder = blk::at(series, i);
    int ht = type_of(holder);
    Node ctx = 0;
    if (ht == TYPE_OBJECT || ht == TYPE_FUNCTION || ht == TYPE_ERROR || (is_any_word(ht) && ht != TYPE_ISSUE))
        ctx = holder->data1;
    Cell w = word::make_cell(t, ctx, symbol, -1);
    if (!ctx || !bind_to(&w, ctx, index)) s.invalid(at);
    return w;
}

bool RecordBuilder::set_pair(Out out, uint32_t at) {
    SeriesBuffer* b = node_buffer(out.series);
    if (b->length() != at + 2) return false;
    collector::Rooted<2> r;
    r[0] = b->cell_head()[at];
    r[1] = b->cell_head()[at + 1];
    Node ctx = word::ctx_of(&r[0]);
    if (ctx && context::on_stack(ctx)) return false;
    r[0].header = (r[0].header & ~(TYPE_MASK | FLAG_NEW_LINE)) | TYPE_WORD;
    clear_new_line_flag(&r[1]);
    context::set(&r[0], &r[1]);
    b = node_buffer(out.series);
    b->tail -= 2 * sizeof(Cell);
    return true;
}

}  // namespace vyx::vyxbin
