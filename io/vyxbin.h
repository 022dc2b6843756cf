// VYXBIN: any value to bytes and back.
//
// A binary is "VYXBIN", a version byte (2 from the encoders, 1 in the boot
// data, never checked), a flags byte (bit 0 compact form, bit 1 LZ-packed
// payload, bit 2 symbol section), the root count and the payload size, the
// symbol section, then the records of the roots. Two record forms exist: the
// fixed form, all 32-bit words, and the compact form, variable-length
// integers and one-byte headers. A series or context met a second time is
// written as a path of indexes to where it was first written, so sharing
// (and self-containment) survives the round trip.
//
// The reader takes untrusted bytes: every count is checked against the bytes
// left before anything is allocated, and every malformed record raises
// script/vb-invalid-record with the 1-based byte position of the fault.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::vyxbin {

// True while a value is encoded and while the codec decodes; false while the
// boot data loads. The record readers take their choices from it.
extern bool codec;

// Nesting limit shared by the writer and the reader: beyond it both raise
// internal/too-deep. Both recurse on the C stack; at this depth the deepest
// of them stays far below the interpreter's stack even in sanitized builds,
// while mold stops at a thirtieth of it.
constexpr uint32_t DEPTH_LIMIT = 30000;

// Writes the value as the one root of a new binary! in `target` (compact or
// fixed form). Values that have no record raise access/no-codec.
Cell* encode(const Cell* value, bool compact, Cell* target);

// Decodes `length` bytes, appending every root to the block in `target`
// (which the caller keeps reachable). With `codec_mode` false the data is
// boot data: its faults print their line and end the process with status 1.
// Answers the index in the target block of the first cell this decode
// appended.
uint32_t decode(const uint8_t* data, size_t length, Cell* target, bool codec_mode);

// The boot load: decodes the boot data into the root block with the
// collector off. Words of set-pair records are set and leave nothing behind,
// so the cells appended are exactly the boot literals. With keep_base the
// literal base in force before is kept.
void load_boot(const uint8_t* data, size_t length, bool keep_base);
// Index in the root block of boot literal 0.
extern uint32_t literal_base;

// The writer of boot data: a compact binary of version 1 whose roots are the
// boot literals, in the order added, and whose set-pair records set words as
// the data loads and leave no literal behind. A word bound to the context of
// a literal (an object, a function or an error added before it, or the one
// being added) is written as a flagged boot word naming that literal and its
// index in the context; a word bound to an object or function inside a
// literal (or inside the value being set) as a reference to where that was
// written; every other word is read back global. Sharing works as through
// the codec, except that nothing refers into an earlier set-pair's value.
struct Writer;
class BootWriter {
public:
    BootWriter();
    ~BootWriter();
    BootWriter(const BootWriter&) = delete;
    BootWriter& operator=(const BootWriter&) = delete;
    // Appends a literal; answers its number (boot literal n).
    uint32_t literal(const Cell* value);
    // Appends a set-pair: the word is set to the value when the data loads.
    void set(const Cell* word, const Cell* value);
    // The boot data, a new binary! in `target`.
    Cell* finish(Cell* target);

private:
    Writer* writer_;
};

// The codec's two entries as the library calls them: the result in the
// current call's result slot. decode_value answers the block of roots, or
// its only value when it holds exactly one.
void encode_value(const Cell* value, bool compact);
void decode_value(const Cell* payload);

}  // namespace vyx::vyxbin
