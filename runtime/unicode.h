// Text conversion between the runtime's fixed-width strings (1, 2 or 4 bytes
// per character) and the byte encodings of the outside world: UTF-8 and
// UTF-16LE.
//
// Loading picks the narrowest unit that holds the text and widens the buffer in
// place while it reads. Converting out goes into a scratch byte series whose
// node is kept in payload word 3 of the string value's cell, so repeated
// conversions of one value reuse one buffer.
//
// Functions that take a `Cell*` string value and may allocate write into that
// cell: pass a cell that does not live inside a movable series (a stack cell or
// a local copy).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx::unicode {

// ------------------------------------------------------------ decoding UTF-8

// Decodes one character of well-formed UTF-8 starting at `p`, never reading at
// or past `end` (at the end already: -1, nothing used). Returns the position after the bytes
// used; `cp` is the code point, or -1 for an ill-formed or cut-off sequence. An
// ill-formed lead byte uses one byte; a bad continuation byte is used up with
// the sequence; a sequence cut off by `end` uses everything up to `end`.
const uint8_t* fast_decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t& cp);

// Characters decoded from start until the position reaches end (an ill-formed
// sequence counts as one character).
uint32_t count_utf8_chars(const uint8_t* start, const uint8_t* end);
// The position after n characters, or end when the text runs out first.
const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, uint32_t n);
// 4, 3 or 2 from the top bits of a lead byte; 0 for anything else (ASCII too).
int utf8_lead_length(uint8_t byte);

// Decodes one character of strictly well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above 0x10FFFF). `available` is the number of bytes that
// may be read; on success it is set to the bytes used. Returns -1 and consumes
// nothing when the input ends inside a sequence whose bytes so far are valid.
// Raises access/invalid-utf8 (the bytes at the failing position as a binary!)
// for an ill-formed sequence.
int32_t read_utf8_char_checked(const uint8_t* p, uint32_t& available);

// `bytes` must not live in a series that a collection could move while this
// runs. Loads UTF-8 into the narrowest unit, appending to `target`'s buffer (or to a
// new unit-1 series when target is 0); returns the series' node. A leading BOM
// is skipped. With `unconsumed`, an incomplete sequence at the end stops the
// load and its byte count is stored there (0 when everything was used);
// without it, an incomplete tail raises invalid-utf8. With `crlf`, CR LF
// becomes LF and a lone CR becomes LF.
Node load_utf8_string(const uint8_t* bytes, uint32_t count, Node target, int32_t* unconsumed, bool crlf);
// The bytes with each ill-formed or cut-off sequence replaced by U+FFFD (for
// text from outside that must not be refused: names, process output).
std::string repair_utf8(const uint8_t* bytes, size_t count);
// Loads into the buffer of a string value (CR LF kept).
Node load_utf8_into_value(const uint8_t* bytes, uint32_t count, const Cell* value, int32_t* unconsumed);
// Loads into a new series.
Node load_utf8_new(const uint8_t* bytes, uint32_t count);

// ------------------------------------------------------------ encoding UTF-8

// 1-4; raises script/invalid-char above 0x10FFFF.
int utf8_length_of(uint32_t cp);
// Writes one character; returns the bytes written. Surrogate values are
// written as three-byte sequences like any other BMP value.
int write_utf8_char(uint32_t cp, uint8_t* out);
// Writes the character only when its whole sequence fits in `room` bytes;
// returns the bytes written (0 when it does not fit).
int write_utf8_char_bounded(uint32_t cp, uint8_t* out, uint32_t room);
// Appends the UTF-8 form of a character held by a series; no range check:
// from 0x10000 on, every value takes the four-byte form.
void append_utf8(std::string& out, uint32_t cp);

// Encodes the value from its index (at most `limit` characters, -1 for no
// limit) into the value's scratch buffer, NUL-terminated; with `crlf` each LF
// is preceded by CR. `limit_then_bytes` comes back as the byte count (NUL not
// counted). The pointer is valid until the next allocation.
uint8_t* string_to_utf8(Cell* value, int32_t& limit_then_bytes, bool crlf);
uint8_t* to_utf8_buffer(Cell* value, uint32_t& bytes);
uint8_t* to_utf8_buffer_limited(Cell* value, int32_t& limit_then_bytes, bool crlf);
// Encodes into the caller's buffer (which has room for the whole encoding, plus
// the NUL when asked); returns the byte count without the NUL.
uint32_t encode_utf8_into(const Cell* value, uint8_t* dest, int32_t limit, bool nul);
// Writes at most `room` bytes into dest, the NUL included when asked, and only
// whole UTF-8 sequences; `limit` of 0 or less means no limit. Returns the bytes
// written without the NUL.
uint32_t encode_utf8_into_bounded(const Cell* value, uint8_t* dest, uint32_t room, int32_t limit, bool nul);

// ------------------------------------------------------------ UTF-16LE
// UTF-16 input and output are little-endian byte sequences; `count` counts units.

// 1 when every unit's high byte is 0, 2 when some is not, 4 as soon as a
// unit's high byte is 0xD8-0xDF.
uint32_t utf16_unit_needed(const uint8_t* units, uint32_t count);
// Loads UTF-16LE into a string of the unit utf16_unit_needed picks, appended to
// `target`'s buffer (or into a new series when target is null); returns the
// node. With `cr` every CR unit is dropped. A high surrogate not followed by a
// low surrogate raises script/invalid-char with the unit's value.
Node load_utf16_string(const uint8_t* units, uint32_t count, const Cell* target, bool cr);
// Extra bytes the UTF-16 form needs beyond 2 per character: 2 per LF (room for
// a CR) and 2 per character from 0x10000.
uint64_t utf16_size_of_buffer(const uint8_t* start, uint32_t count, uint32_t unit);
// Units written: 1 below 0x10000, 2 up to 0x10FFFF, 0 above.
int write_utf16_char(uint32_t cp, uint16_t* out);
// NUL-terminated UTF-16 in the scratch buffer; `limit_then_units` comes back as
// the units written. Null when a character is above 0x10FFFF.
uint16_t* to_utf16_buffer(Cell* value, int32_t& limit_then_units, bool crlf);

// The scratch buffer of a string value with at least `size` bytes.
uint8_t* reserve_output(Cell* value, uint32_t size);

// ------------------------------------------------------------ widening in place
// Each grows the buffer first when needed and returns the (possibly new) buffer.
SeriesBuffer* widen_latin1_to_ucs2(Node node);
SeriesBuffer* widen_latin1_to_ucs4(Node node);
SeriesBuffer* widen_ucs2_to_ucs4(Node node);
// Widens to the unit a code point needs (no change when it fits).
SeriesBuffer* widen_for(Node node, uint32_t cp);

// Characters from the value's index to the tail (0 when the index lies past it).
uint32_t chars_from_index(const Cell* value);
// Writes code point `cp` at element `index` (counted from the head) of a
// string series, widening the buffer when it needs a wider unit.
void poke_char(Node node, uint32_t index, uint32_t cp);
// Appends one character, widening as needed.
void append_char(Node node, uint32_t cp);

// A binary! value holding a copy of the bytes.
Cell* make_binary_at(Cell* target, const uint8_t* bytes, uint32_t count);

}  // namespace vyx::unicode
