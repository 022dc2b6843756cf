// The value-making half of the two VYXBIN record readers: each reader parses
// its own record layout and hands the fields to these builders, which check
// what the rest of the system trusts and make the cells.
#pragma once
#include <cstdint>
#include <vector>

#include "io/vyxbin_internal.h"
#include "runtime/bytes.h"
#include "runtime/cell.h"

namespace vyx::vyxbin {

// A word read before its owner: the owner's context binds it once made.
struct Bind {
    Out out;
    uint32_t at;
    int32_t index;
};

// The fields of a byte-series record.
struct SeriesSpec {
    int type;
    uint32_t head;
    uint32_t count = 0;    // elements (bytes for binary! and bitset!)
    uint32_t log2 = 0;     // log2 of the element size
    uint32_t element = 0;  // vector!: the element type id
    bool complemented = false;
    uint32_t width = 0, height = 0;
};

struct RecordBuilder {
    DecodeState& s;
    explicit RecordBuilder(DecodeState& state) : s(state) {}

    [[noreturn]] void no_codec(int type);
    bool valid_float(const Cell& c) const;

    // Size in bytes of the series' content, when it fits in `left`.
    bool series_size(const SeriesSpec& spec, size_t left, size_t& bytes) const;
    Cell make_series(const SeriesSpec& spec, const uint8_t* bytes, const uint8_t* at);
    // A record of type t (with its own head) sharing the series of `reached`.
    Cell shared_series(const Cell& reached, int t, uint32_t head, const uint8_t* at);
    Cell shared_block(const Cell& reached, int t, uint32_t head, const uint8_t* at);
    // After a block's elements: hash! and map! get their index.
    bool finish_block(Out out, uint32_t at);

    // The object or function owning the context `reached` gives a word.
    Cell owner_value(const Cell& reached, int type, const uint8_t* at);
    Node standalone_context(const std::vector<int32_t>& symbols, uint32_t kind, bool stack, bool self,
                            const uint8_t* at);
    Node new_object(const std::vector<int32_t>& symbols, bool self, int32_t class_id, Out out, uint32_t& idx,
                    const Bind* bind, const uint8_t* at, Cell& keep);
    Node new_function(const std::vector<int32_t>& symbols, bool self, uint32_t spec_count, uint32_t body_count,
                      Out out, uint32_t& idx, const Bind* bind, const uint8_t* at, Cell& keep);
    Node function_block_node(Node ctx, int which);
    void share_function_block(Node ctx, int which, Node series);
    bool restore_handlers(Node ctx, Out out, uint32_t at);
    bool make_op(Cell* inner);
    Node make_error(uint32_t code, Out out, uint32_t& idx, const uint8_t* at);
    // Boot mode: a word bound to the context of root r of this load.
    Cell boot_word(int t, int32_t symbol, uint32_t root, int32_t index, const uint8_t* at);
    // Boot mode: the word at `at` is set to the value after it; both go.
    bool set_pair(Out out, uint32_t at);
};

}  // namespace vyx::vyxbin
