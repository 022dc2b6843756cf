#include "evaluator/arg_frame.h"

#include <cstring>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "evaluator/native_table.h"
#include "runtime/cells.h"
#include "runtime/raise.h"

namespace vyx::interp {

namespace {

inline const Cell* spec_at(Node spec, uint32_t i) { return node_buffer(spec)->cell_head() + i; }
inline uint32_t spec_size(Node spec) { return node_buffer(spec)->length(); }

// Reads the spec into the description's bytes and keeps them with the callable.
Node build(const Cell* callable) {
    Cell fn = *callable;
    Node spec = fn.data2;
    std::vector<ArgSlot> slots;
    uint32_t width = 0, refinement = 0, locals = 0;
    int32_t local = symbol::resolve(int32_t(words::local.data2));
    int32_t ret = symbol::resolve(sym::return_);
    uint32_t n = spec_size(spec);
    for (uint32_t i = 0; i < n; i++) {
        Cell c = *spec_at(spec, i);
        uint8_t kind;
        switch (type_of(&c)) {
        case TYPE_WORD: kind = ARG_NORMAL; break;
        case TYPE_GET_WORD: kind = ARG_GET; break;
        case TYPE_LIT_WORD: kind = ARG_LITERAL; break;
        case TYPE_SET_WORD:
            // return: documents the result's types; it takes no cell.
            if (symbol::resolve(int32_t(c.data2)) != ret) raise_error(err::script_bad_func_def, &c);
            continue;
        case TYPE_REFINEMENT:
            if (symbol::resolve(int32_t(c.data2)) == local) {
                int t = type_of(&fn);
                if (t == TYPE_FUNCTION || t == TYPE_ROUTINE) {
                    Cell s{TYPE_BLOCK, 0, spec, 0};
                    locals = uint32_t(function::count_locals(&s, 0, false));
                }
                i = n;
                continue;
            }
            slots.push_back(ArgSlot{typeset::empty(), c.data2, uint16_t(width++), ARG_REFINEMENT,
                                    uint8_t(++refinement), uint32_t(symbol::resolve(int32_t(c.data2)))});
            continue;
        default: continue;
        }
        Cell types = typeset::all_but_unset();
        if (i + 1 < n) {
            Cell next = *spec_at(spec, i + 1);
            if (type_of(&next) == TYPE_BLOCK && blk::length(&next) > 0) types = typeset::from_block(&next);
        }
        slots.push_back(ArgSlot{types, c.data2, uint16_t(width++), kind, uint8_t(refinement),
                                uint32_t(symbol::resolve(int32_t(c.data2)))});
    }
    if (refinement > 255 || width > 0xFFFF) raise_error(err::script_bad_func_def, callable);
    // The description is read from the spec at the first call, but the
    // context was made from it with the function: a spec block changed in
    // between (it is the caller's block, shared) no longer tells where the
    // arguments and locals lie. Refuse it rather than call with a layout the
    // context does not have.
    if (type_of(&fn) == TYPE_FUNCTION && context::word_count(fn.data1) != width + locals) {
        Cell s{TYPE_BLOCK, 0, spec, 0};
        raise_error(err::script_bad_func_def, &s);
    }
    uint32_t mandatory = 0, lean = 1;
    for (const ArgSlot& s : slots) {
        if (s.refinement) break;
        mandatory++;
        if (s.kind != ARG_NORMAL) lean = 0;
    }
    size_t bytes = offsetof(ArgFrame, slots) + slots.size() * sizeof(ArgSlot);
    Node node = new_byte_series(uint32_t(bytes));
    SeriesBuffer* b = node_buffer(node);
    ArgFrame* f = reinterpret_cast<ArgFrame*>(b->head());
    f->count = uint16_t(slots.size());
    f->mandatory = uint16_t(mandatory);
    f->refinements = uint16_t(refinement);
    f->width = uint16_t(width);
    f->locals = locals;
    f->lean = lean;
    if (!slots.empty()) std::memcpy(f->slots, slots.data(), slots.size() * sizeof(ArgSlot));
    b->tail = b->offset + uint32_t(bytes);
    // The callable's private storage keeps the description (and so the
    // collector sees it from there).
    node_buffer(fn.data3)->cell_head()[function::MORE_CACHE] = Cell{TYPE_BINARY, 0, node, 0};
    return node;
}

// The callable whose spec describes a call of `callable`: its own, but for
// a native or an action made later (`make native! [[] 40]`), which runs its
// number's entry: that entry reads the arguments its number's spec admits,
// so the call takes them by that spec, whatever spec the value was made with
// (the value keeps its own for mold and reflect).
const Cell* describing(const Cell* callable) {
    int t = type_of(callable);
    if (t != TYPE_NATIVE && t != TYPE_ACTION) return callable;
    const Cell* own = native_table::own_callable(t, callable->data1);
    return own && own->data2 != callable->data2 ? own : callable;
}

}  // namespace

Node build_arg_frame(const Cell* callable) {
    static_assert(function::MORE_CACHE == 1);
    const Cell* own = describing(callable);
    if (own == callable) return build(callable);
    // The made value shares its number's description.
    Node more = callable->data3;
    Node desc = arg_frame_node(own);
    node_buffer(more)->cell_head()[function::MORE_CACHE] = Cell{TYPE_BINARY, 0, desc, 0};
    return desc;
}

Cell argument_word(const Cell* callable, int k) {
    Node spec = describing(callable)->data2;
    uint32_t n = spec_size(spec);
    for (uint32_t i = 0; i < n; i++) {
        const Cell* c = spec_at(spec, i);
        int t = type_of(c);
        if (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD) {
            if (k-- == 0) {
                Cell w = *c;
                w.header = TYPE_WORD;
                return w;
            }
        }
    }
    return Cell{TYPE_NONE, 0, 0, 0};
}

}  // namespace vyx::interp
