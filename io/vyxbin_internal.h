// What the VYXBIN writer and the two record readers share: the record
// constants, the malformed-record error, placing decoded cells and the
// resolution of reference paths.
#pragma once
#include <cstdint>
#include <vector>

#include "io/vyxbin.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx::vyxbin {

// Flags byte.
constexpr uint8_t FLAG_COMPACT = 1, FLAG_PACKED = 2, FLAG_SYMBOLS = 4;
constexpr uint32_t HEADER_BYTES = 8;  // magic, version, flags
constexpr uint32_t MAX_PATH = 65536;

// Compact record bytes.
constexpr uint8_t CP_NEW_LINE = 0xC0, CP_REFERENCE = 0xC1, CP_TRUE = 0xC2, CP_FALSE = 0xC3,
                  CP_SET_PAIR = 0xC4, CP_BARE_REFERENCE = 0xFF, CP_FLAG = 0x40, CP_SMALL_INT = 0x80;

// Fixed record header bits.
constexpr uint32_t FX_REFERENCE_TYPE = 255;
constexpr uint32_t FX_REF = 1u << 19, FX_NEGATIVE = 1u << 22, FX_COMPLEMENT = 1u << 23,
                   FX_HANDLERS = 1u << 24, FX_GLOBAL = 1u << 25, FX_NEW_LINE = 1u << 31;
// Context records: kind in bits 26-27, self 28, on stack 29, values follow 30.
constexpr uint32_t FX_CTX_SELF = 1u << 28, FX_CTX_STACK = 1u << 29, FX_CTX_VALUES = 1u << 30;

// Types that have no record: writing one, or meeting its id, is no-codec.
inline bool is_unwritable(int t) {
    return t == TYPE_ROUTINE || t == TYPE_TRIPLE || t == TYPE_HANDLE || t == TYPE_PORT || t == TYPE_EVENT;
}

// Where a decoded value goes: appended to a cell series (slot < 0) or into
// cell `slot` of it (a context's values, an error's fields).
struct Out {
    Node series;
    int32_t slot;
};

// Writes the cell and answers its position in the series. The cell may name
// a series that nothing else holds yet: it stays reachable while the target
// grows.
uint32_t place(Out out, const Cell& cell);
inline Cell* placed(Out out, uint32_t at) { return node_buffer(out.series)->cell_head() + at; }

// The state of one decode, shared by both readers.
struct DecodeState {
    const uint8_t* base;  // byte 0 of the binary (error positions count from it)
    Cell* target;         // the block that receives the roots
    uint32_t first;       // index of this decode's first root in the target
    bool codec;
    uint32_t depth = 0;
    std::vector<uint32_t> path;  // scratch for reference paths

    [[noreturn]] void invalid(const uint8_t* at) const;
    // The cell a path leads to (a copy).
    Cell resolve(const uint32_t* path, uint32_t n, const uint8_t* at) const;
    void enter(const uint8_t* at);
    void leave() { depth--; }
};

// Makes a context of `n` words from the symbols; answers 0 when the words
// are not all distinct. The caller roots the context before anything else
// allocates.
Node make_context(const std::vector<int32_t>& symbols, uint32_t kind, bool stack_values, bool self);
// The values series of a context.
inline Node values_of(Node ctx) { return node_buffer(ctx)->cell_head()->data2; }

// Checks a name of the symbol section (non-empty UTF-8) and interns it; 0
// when the name is unusable.
int32_t intern_name(const uint8_t* name, uint32_t length);

// Checks of plain payloads the rest of the system trusts.
bool valid_money(const uint8_t bytes[12]);
bool valid_date(uint32_t packed, uint32_t lo, uint32_t hi, bool has_time);

// The context a word may be bound to through the value `holder` (an object,
// a function, an op made from one, or a word bound to such a context); 0 when
// it has none.
Node binding_context(const Cell* holder);
// Binds the word cell (in place) to the context at the index (or the index
// looked up by its symbol when -1); false when it cannot be.
bool bind_to(Cell* word, Node ctx, int32_t index);

// The native! or action! of a number as the runtime defines it; false when
// the number names none.
bool make_native_value(int type, uint32_t number, Cell* target);


// Readers of the payloads.
const uint8_t* decode_compact(DecodeState& s, const uint8_t* p, const uint8_t* end, bool symbols);
const uint8_t* decode_fixed(DecodeState& s, const uint8_t* p, const uint8_t* end, bool symbols);


}  // namespace vyx::vyxbin
