// The lexer: UTF-8 source text to values.
//
// One table-driven automaton (lexer_tables.h) cuts the input into tokens;
// structure tokens (brackets, paths, braces, construction forms) are handled
// by scanners, value tokens by loaders. Nesting lives in marker cells of one
// process-wide value buffer, so a closed block is copied out in one piece.
// Scans nest (a trace callback or a loader may scan again): each scan has its
// own state, its own range of the value buffer and its own scratch memory.
//
// Syntax errors are raised as syntax/invalid, missing, malconstruct or
// bad-char with the line text "(line N)" first and the text near the error last.
#pragma once
#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace vyx::lexer {

// Trace events, one bit each; a callback listens to the events of its mask.
enum Event : uint32_t {
    EV_PRESCAN = 1, EV_SCAN = 2, EV_LOAD = 4, EV_OPEN = 8, EV_CLOSE = 16, EV_ERROR = 32,
    EV_ALL = 63
};
const char* event_name(uint32_t event);

// One call of a trace callback: `event input type line token`.
struct TraceCall {
    uint32_t event;
    // The input value (string! or binary!) with its index at the token end, or
    // at the token start for open events and for prescan events of kinds
    // without a datatype; in characters for a string!, bytes for a binary!.
    // The callback may move the index: the scan goes on from there (kept
    // within the scan's own range).
    Cell* input;
    Cell type;     // datatype!, or the exit-states item for kinds without one
    int32_t line;
    Cell token;    // the stored value for load events, else a pair! of 1-based positions
    int kind;      // the token kind (final state, lexer_tables.h)
};

// A callback answers with a truth that steers the scan: false skips the token
// (prescan, scan), drops the stored value (load) or stops the scan quietly
// (open, close, error). The interpreter adapts function! and routine! values.
struct Tracer {
    bool (*call)(void* context, TraceCall& call);
    void* context;
    uint32_t mask = EV_ALL;
};

// A trace callback that is a function! or routine! value (transcode/trace,
// load/trap): called as `event input type line token`, its result's truth
// is the answer. The event mask comes from the head of its body. `fn` must
// stay where the collector sees it for the whole scan.
struct FunctionTracer {
    Tracer tracer;
    const Cell* fn;
};
void make_function_tracer(const Cell* fn, FunctionTracer& out);

// The event mask of a callback whose body starts with a block of words: the
// OR of the bits of the event names among them (other names add nothing). A
// body that does not start with a block listens to everything (EV_ALL).
uint32_t event_mask_of_names(const std::string_view* names, int count);

// The single entry of every scan. Flags as the callers need them:
//   one_value   stop after the first complete value
//   full_scan   0 selects prescan mode
//   load        store values (and raise errors when full_scan is set too)
//   keep_block  with one_value, still give a block
// `bytes` must not move during the scan (never a collected buffer: the string
// and binary entries below copy into the scan's own scratch). With load, the
// values go out: with one_value and without keep_block the first value alone
// (appended to `target` when given, else written to `result`); otherwise all
// of them, appended to `target`, or as a new block! in `result` (an empty
// scan gives an empty block); a scan that stopped on an error it does not
// raise leaves none. `result` and `target` must be cells the collector sees.
// `consumed` receives characters when `input` is a string!, bytes otherwise.
// Returns the type of the last token (error! when an error stopped a scan
// that does not raise). `input` is the value a trace callback sees.
int scan_utf8_source(Cell* result, const uint8_t* bytes, uint32_t length, bool one_value, bool full_scan,
                     bool load, bool keep_block, uint32_t* consumed, const Tracer* tracer,
                     const Cell* input, Cell* target);

// The same over a string! from its index (`count` characters, -1 to the tail)
// or a binary! (`count` bytes). The text is copied to UTF-8 in scratch memory
// owned by this scan.
int scan_string_value(Cell* result, const Cell* str, int32_t count, bool one_value, bool full_scan,
                      bool load, bool keep_block, uint32_t* consumed, const Tracer* tracer, Cell* target);

// Loads all of a UTF-8 text into a new block! written to `result` (the plain
// transcode); errors are raised.
void load_block(Cell* result, std::string_view utf8);

// The type the text scans to as one value, without storing anything (the
// name check of words made from issues, refinements and strings): 0 when the
// text is empty, error! when it is not valid. `consumed` tells whether the
// whole text was that one value.
int scan_single_token_type(std::string_view utf8, uint32_t* consumed = nullptr);
// True when the text is exactly one word token of any word kind.
bool is_word_text(std::string_view utf8);

// Conversion readers for `to` and `make` from strings: they read `count`
// characters of a string! (any unit width) from `pos` (counted from the
// value's head) and report failure through `code` (0 when the text read)
// instead of raising.
//   integer: optional sign, digits, ' skipped; -1 for any other character,
//            -2 for an overflow (-2147483648 itself reads).
//   float:   at most 312 characters, a comma read as the decimal mark; -1
//            (and NaN) for a longer or malformed text.
//   tuple:   3 to 12 dot-separated parts 0-255, written into `result`.
//   money:   optional sign, optional three-letter currency code and $, the
//            amount with ' separators and at most one dot; into `result`.
int32_t load_integer_syntax(const Cell* str, uint32_t pos, uint32_t count, int& code);
double load_float_syntax(const Cell* str, uint32_t pos, uint32_t count, int& code);
void load_tuple_syntax(const Cell* str, uint32_t pos, uint32_t count, int& code, Cell* result);
void load_money_syntax(const Cell* str, uint32_t pos, uint32_t count, int& code, Cell* result);

// Start-up: the value buffer, the Unicode space set.
void init_lexer_tables();

// Collector root: calls `mark` for every live cell of every running scan.
void mark_lexer_buffers(void (*mark)(Cell*));

}  // namespace vyx::lexer
