// Shared between the lexer's driver (lexer.cpp) and its loaders
// (lexer_loaders.cpp); not for other modules.
#pragma once
#include <cstdint>

#include "evaluator/lexer.h"
#include "evaluator/lexer_tables.h"
#include "runtime/cell.h"

namespace vyx::lexer {

// Marker cells in the value buffer stand for a block that is still open.
constexpr int TYPE_MARKER = TYPE_TRIPLE;

// Error kinds below 0 passed to lexer_raise_error.
constexpr int ERR_BAD_CHAR = -1;
constexpr int ERR_MALCONSTRUCT = -2;
constexpr int ERR_MISSING = -3;      // the closer at the position is not expected
constexpr int ERR_MISSING_END = -4;  // the input ended with a block still open

// A scan stops quietly (no error raised): errors of scans that do not raise,
// and false answers of the callback to open, close and error events.
struct QuietStop {
    bool error;  // stopped by a syntax error (the scan reports error!)
};

struct State {
    State* next = nullptr;    // the scan nested in this one
    State* parent = nullptr;  // the scan this one is nested in
    uint32_t head = 0;         // first cell of this scan in the value buffer
    uint32_t block_start = 0;  // first cell after the innermost open marker
    uint32_t tail = 0;         // next free cell
    const uint8_t* input_start = nullptr;
    const uint8_t* input_end = nullptr;
    const uint8_t* pos = nullptr;        // where the next token starts
    const uint8_t* token_end = nullptr;  // where the automaton stopped
    int32_t line = 1;
    int32_t token_line = 1;  // the line when the current token began (before its blanks)
    int type_hint = -1;      // set by scanners (path heads load as word!)
    int type = 0;            // the current token's datatype
    int entry = S_BETWEEN;   // entry state of the next token
    int prev_state = 0;      // the running state before the final one
    int missing = 0;         // pending missing-delimiter kind
    int last_type = 0;       // datatype of the last complete token
    const uint8_t* brace_start = nullptr;
    int32_t brace_line = 1;
    int brace_depth = 0;
    uint32_t brace_flags = 0;
    const Tracer* tracer = nullptr;
    uint32_t mask = 0;
    Cell input{};                 // the input value the callback sees
    bool input_is_string = false;
    uint32_t input_base = 0;      // the input value's index at the scan start
    const uint8_t* char_cache_pos = nullptr;  // byte position whose character index is known
    uint32_t char_cache_index = 0;
    bool load = false;            // store values and raise errors
    const uint8_t* point_start = nullptr;
};

// The value buffer, shared by all nested scans; indexes stay valid when it grows.
Cell* cell_at(uint32_t index);
// Appends an unset! cell (new-line flag when a line break came since the
// previous token) and returns it; valid until the next append.
Cell* new_value(State& s);
// Appends a copy of `value`, keeping the new-line flag of the fresh cell.
Cell* emit(State& s, const Cell& value);

// Raises the syntax error of `kind` (a datatype id, or an ERR_ kind) for the
// text from `start`. Never returns: throws the error, or QuietStop.
[[noreturn]] void lexer_raise_error(State& s, const uint8_t* start, const uint8_t* end, int kind);

// Sends a trace event (when the callback listens to it) and returns its answer.
bool trace(State& s, uint32_t event, int type, const uint8_t* start, const uint8_t* end, int kind);

// Every loader: validates the token [start, end), appends its value when
// `load`, and sets s.pos where the next token starts.
using Loader = void (*)(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
Loader loader_of(int kind);

void load_word(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_braced_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_integer(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_float(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_point(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);

// Strict UTF-8: one character from p (p < end); returns the position after it,
// or nullptr for an ill-formed or cut-off sequence (overlong forms, surrogates
// and values above 0x10FFFF included).
const uint8_t* decode_utf8(const uint8_t* p, const uint8_t* end, uint32_t& cp);

// A caret escape from p (just after the ^): the code point and the position
// after the escape, or nullptr when it is invalid. `digits` receives the count
// of hexadecimal digits of a ^(...) form (0 otherwise).
const uint8_t* decode_char_escape(const uint8_t* p, const uint8_t* end, uint32_t& cp, int& digits);

// Float syntax automaton: whether the text is a decimal number as the lexer
// accepts it.
bool float_syntax_ok(const uint8_t* start, const uint8_t* end);

}  // namespace vyx::lexer
