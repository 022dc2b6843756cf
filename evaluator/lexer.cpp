#include "evaluator/lexer.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/map.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/lexer_internal.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/raise.h"
#include "runtime/unicode.h"

namespace vyx::lexer {

namespace {

// The value buffer: plain process memory, addressed by index, so growing it
// never invalidates a scan's head, block start or tail.
constexpr uint32_t INITIAL_CELLS = 1000;
constexpr uint32_t MAX_CELLS = 1u << 26;
Cell* cells = nullptr;
uint32_t capacity = 0;

// The innermost running scan; each links to the scan it is nested in.
State* current = nullptr;

Cell exit_states{TYPE_NONE, 0, 0, 0};

void grow_cells(uint32_t needed) {
    uint32_t n = capacity ? capacity : INITIAL_CELLS;
    while (n < needed) {
        if (n >= MAX_CELLS) raise_error(err::internal_no_memory);
        n *= 2;
    }
    void* moved = std::realloc(cells, size_t(n) * sizeof(Cell));
    if (!moved) raise_error(err::internal_no_memory);
    cells = static_cast<Cell*>(moved);
    capacity = n;
}

bool is_path_kind(int kind) { return kind >= TYPE_PATH && kind <= TYPE_GET_PATH; }
int marker_kind(const Cell* m) { return int(m->data2 & 0xFFFF); }

// The innermost open marker, or nullptr.
Cell* innermost_marker(State& s) { return s.block_start > s.head ? cell_at(s.block_start - 1) : nullptr; }

bool inside_path(State& s) {
    Cell* m = innermost_marker(s);
    return m && is_path_kind(marker_kind(m));
}

int entry_after_close(State& s) { return inside_path(s) ? S_PATH_ELEMENT : S_BETWEEN; }

// ---------------------------------------------------------------- strings

// A string! of the code points, in the narrowest unit that holds them.
Cell text_cell(const std::u32string& text) {
    uint32_t unit = 1;
    for (char32_t c : text) {
        if (c > 0xFFFF) unit = 4;
        else if (c > 0xFF && unit < 2) unit = 2;
    }
    Cell c{};
    string::make_at(&c, uint32_t(text.size()), unit);
    SeriesBuffer* b = node_buffer(c.data2);
    uint8_t* at = reserve_tail_bytes(b, uint32_t(text.size() * unit));
    for (size_t i = 0; i < text.size(); i++) {
        switch (unit) {
        case 1: at[i] = uint8_t(text[i]); break;
        case 2: reinterpret_cast<uint16_t*>(at)[i] = uint16_t(text[i]); break;
        default: reinterpret_cast<uint32_t*>(at)[i] = uint32_t(text[i]); break;
        }
    }
    return c;
}

std::u32string ascii32(const std::string& s) { return std::u32string(s.begin(), s.end()); }

// ---------------------------------------------------------------- positions

// Character index (strings) or byte offset (binaries) of a position.
// Positions asked for move mostly forward, but a close event asks for its
// opener too: the count walks from the last known position either way, or from
// the input start when that is nearer.
uint32_t index_of(State& s, const uint8_t* p) {
    if (!s.input_is_string) return uint32_t(p - s.input_start);
    if (!s.char_cache_pos || p - s.input_start < s.char_cache_pos - p) {
        s.char_cache_pos = s.input_start;
        s.char_cache_index = 0;
    }
    uint32_t n = s.char_cache_index;
    for (const uint8_t* q = s.char_cache_pos; q < p; q++) n += (*q & 0xC0) != 0x80;
    for (const uint8_t* q = p; q < s.char_cache_pos; q++) n -= (*q & 0xC0) != 0x80;
    s.char_cache_pos = p;
    s.char_cache_index = n;
    return n;
}

const uint8_t* position_of(State& s, uint32_t index) {
    if (!s.input_is_string) return s.input_start + index;
    const uint8_t* q = s.input_start;
    uint32_t n = 0;
    if (s.char_cache_pos && index >= s.char_cache_index) {
        q = s.char_cache_pos;
        n = s.char_cache_index;
    }
    while (q < s.input_end) {
        if ((*q & 0xC0) != 0x80) {
            if (n == index) break;
            n++;
        }
        q++;
    }
    return q;
}

// ---------------------------------------------------------------- tracing

Cell type_cell(int type, int kind) {
    if (type > 0) return Cell{TYPE_DATATYPE, uint32_t(type), 0, 0};
    if (type_of(&exit_states) == TYPE_BLOCK && kind >= FIRST_FINAL) {
        SeriesBuffer* b = node_buffer(exit_states.data2);
        uint32_t i = uint32_t(kind - FIRST_FINAL);
        // Counted from the first item of the block's buffer.
        if ((i + 1) * sizeof(Cell) <= b->tail) return reinterpret_cast<Cell*>(b->data())[i];
    }
    return Cell{TYPE_NONE, 0, 0, 0};
}

// Set when a callback moved the input position; the driver restarts there.
struct Reposition {};

bool lexer_notify_tracer(State& s, uint32_t event, int type, const Cell* value, const uint8_t* start,
            const uint8_t* end, int kind) {
    if (!s.tracer || !(s.mask & event)) return true;
    bool at_start = event == EV_OPEN || (event == EV_PRESCAN && type <= 0);
    uint32_t at = s.input_base + index_of(s, at_start ? start : end);
    Cell input = s.input;
    input.data1 = at;
    TraceCall call{event, &input, type_cell(type, kind), s.line, {}, kind};
    if (value) call.token = *value;
    else pair::make_at(&call.token, int32_t(s.input_base + index_of(s, start) + 1),
                       int32_t(s.input_base + index_of(s, end) + 1));
    bool answer = s.tracer->call(s.tracer->context, call);
    if (input.data1 != at) {
        // The callback may only move within this scan's own input.
        int64_t wanted = int64_t(int32_t(input.data1)) - int64_t(s.input_base);
        uint32_t last = index_of(s, s.input_end);
        if (wanted < 0) wanted = 0;
        if (wanted > int64_t(last)) wanted = last;
        s.pos = position_of(s, uint32_t(wanted));
        throw Reposition{};
    }
    return answer;
}

// ---------------------------------------------------------------- blocks

// Writes the block value of the cells [first, first + count) into `result`
// (keeping its new-line flag), or appends them to `target`.
void lexer_store_block(Cell* result, uint32_t first, uint32_t count, int kind, Cell* target) {
    if (target) {
        for (uint32_t i = 0; i < count; i++) *append_cell(target) = *cell_at(first + i);
        return;
    }
    Node n = new_cell_series(count ? count : 1);
    SeriesBuffer* b = node_buffer(n);
    if (count) std::memcpy(b->data(), cell_at(first), size_t(count) * sizeof(Cell));
    b->tail = count * uint32_t(sizeof(Cell));
    result->header = (result->header & FLAG_NEW_LINE) | uint32_t(kind);
    result->data1 = 0;
    result->data2 = n;
    result->data3 = 0;
}

void lexer_open_block(State& s, int kind, const uint8_t* opener, const uint8_t* next) {
    if (!lexer_notify_tracer(s, EV_OPEN, kind, nullptr, opener, next, K_BLOCK_OPEN)) throw QuietStop{false};
    Cell* outer = innermost_marker(s);
    if (outer && marker_kind(outer) == TYPE_POINT2D) lexer_raise_error(s, opener, next, TYPE_POINT2D);
    uint32_t at = s.tail;
    Cell* m = new_value(s);
    m->header = (m->header & FLAG_NEW_LINE) | TYPE_MARKER;
    m->data1 = at - s.block_start;
    m->data2 = uint32_t(kind);
    m->data3 = uint32_t(opener - s.input_start);
    s.block_start = at + 1;
    s.pos = next;
    s.entry = is_path_kind(kind) ? S_PATH_ELEMENT : S_BETWEEN;
}

// Two or three numbers of a paren holding commas make a point.
void close_point(State& s, Cell* m, uint32_t first, uint32_t count, const uint8_t* at) {
    int commas = int(m->data2 >> 16);
    double v[3] = {};
    bool ok = count == uint32_t(commas + 1) && count >= 2 && count <= 3;
    for (uint32_t i = 0; ok && i < count; i++) {
        Cell* c = cell_at(first + i);
        if (type_of(c) == TYPE_INTEGER) v[i] = double(int32_t(c->data2));
        else if (type_of(c) == TYPE_FLOAT) v[i] = cell_float(c);
        else ok = false;
    }
    if (!ok) lexer_raise_error(s, s.input_start + m->data3, at, count == 3 ? TYPE_POINT3D : TYPE_POINT2D);
    uint32_t flags = m->header & FLAG_NEW_LINE;
    if (count == 2) point2d::make_at(m, float(v[0]), float(v[1]));
    else point3d::make_at(m, float(v[0]), float(v[1]), float(v[2]));
    m->header = (m->header & ~FLAG_NEW_LINE) | flags;
}

// Closes the innermost marker with a closer of `kind` (-1: whatever it is)
// found at `at`; returns the kind of the value made.
int lexer_close_block(State& s, const uint8_t* at, int kind, bool skip_event) {
    Cell* m = innermost_marker(s);
    if (!m) {
        s.missing = kind;
        lexer_raise_error(s, at, at + 1, ERR_MISSING);
    }
    int open = marker_kind(m);
    int made = open;
    bool fits;
    switch (kind) {
    case -1: fits = true; break;
    case TYPE_BLOCK: fits = open == TYPE_BLOCK || open == TYPE_MAP; break;
    case TYPE_PAREN: fits = open == TYPE_PAREN || open == TYPE_POINT2D; break;
    case TYPE_SET_PATH:
        fits = is_path_kind(open);
        if (fits && open != TYPE_PATH) lexer_raise_error(s, s.input_start + m->data3, at, open);
        made = TYPE_SET_PATH;
        break;
    default: fits = open == kind; break;
    }
    if (!fits) {
        s.missing = open;
        lexer_raise_error(s, at, at + 1, ERR_MISSING);
    }
    if (!skip_event && !lexer_notify_tracer(s, EV_CLOSE, made, nullptr, s.input_start + m->data3, kind == -1 ? at : at + 1, K_BLOCK_CLOSE))
        throw QuietStop{false};
    m = innermost_marker(s);
    uint32_t mi = s.block_start - 1;
    uint32_t first = mi + 1, count = s.tail - first;
    uint32_t outer_start = mi - m->data1;
    if (s.load) {
        if (open == TYPE_MAP) {
            bool ok = count % 2 == 0;
            for (uint32_t i = 0; ok && i < count; i += 2) ok = map::is_valid_key_type(type_of(cell_at(first + i)));
            if (!ok) lexer_raise_error(s, s.input_start + m->data3, at, TYPE_MAP);
            lexer_store_block(m, first, count, TYPE_BLOCK, nullptr);
            Cell built = map::make_from_block(cell_at(mi));
            *cell_at(mi) = built;
        } else if (open == TYPE_POINT2D) {
            close_point(s, m, first, count, at);
            made = type_of(cell_at(mi));
        } else {
            lexer_store_block(m, first, count, made, nullptr);
        }
    } else {
        // Nothing is stored: the marker stays as a placeholder for the value.
        m->header = (m->header & FLAG_NEW_LINE) | TYPE_UNSET;
    }
    s.tail = mi + 1;
    s.block_start = outer_start;
    s.entry = entry_after_close(s);
    s.last_type = made;
    return made;
}

// ---------------------------------------------------------------- scanners

bool ends_path(const uint8_t* p, const uint8_t* end) {
    if (p >= end) return true;
    switch (class_of(*p)) {
    case C_BLANK: case C_LINE: case C_BLOCK_OPEN: case C_BLOCK_CLOSE: case C_PAREN_OPEN:
    case C_PAREN_CLOSE: case C_BRACE_OPEN: case C_BRACE_CLOSE: case C_QUOTE: case C_SEMICOLON:
    case C_CONTROL: case C_END: case C_COMMA:
        return true;
    default:
        return false;
    }
}

const uint8_t* path_opener(State& s) {
    // The outermost path marker of the innermost run of path markers.
    Cell* m = innermost_marker(s);
    return m ? s.input_start + m->data3 : s.pos;
}

// After each element of a path: another element, the path's end, or an error.
void path_end(State& s) {
    const uint8_t* p = s.pos;
    const uint8_t* end = s.input_end;
    if (p < end && *p == '/') {
        // A / with no element after it.
        const uint8_t* q = p + 1;
        if (q >= end || (ends_path(q, end) && *q != '"' && *q != '(' && *q != '['))
            lexer_raise_error(s, path_opener(s), p + 1, TYPE_PATH);
        s.pos = p + 1;
        s.entry = S_PATH_ELEMENT;
        return;
    }
    if (p < end && *p == ':') {
        if (p + 1 < end && p[1] == '/') lexer_raise_error(s, path_opener(s), p + 2, TYPE_PATH);
        if (!ends_path(p + 1, end)) lexer_raise_error(s, path_opener(s), p + 1, TYPE_PATH);
        s.pos = p + 1;
        lexer_close_block(s, p, TYPE_SET_PATH, false);
        return;
    }
    if (!ends_path(p, end)) lexer_raise_error(s, path_opener(s), p, TYPE_PATH);
    lexer_close_block(s, p, -1, false);
}

void scan_invalid(State& s, const uint8_t* start, const uint8_t* end) {
    if (s.brace_depth > 0) lexer_raise_error(s, s.brace_start, end, TYPE_STRING);
    int prev = s.prev_state;
    if (prev == S_PATH_ELEMENT && inside_path(s)) lexer_raise_error(s, path_opener(s), end, marker_kind(innermost_marker(s)));
    if (prev == S_POINT && s.point_start) start = s.point_start;
    int type = prev < RUNNING_STATES ? type_table[prev] : 0;
    lexer_raise_error(s, start, end, type ? type : ERR_BAD_CHAR);
}

// A paren whose text up to a comma is only number characters starts a point.
bool starts_point(const uint8_t* p, const uint8_t* end) {
    if (end - p < 3) return false;
    for (; p < end; p++) {
        switch (*p) {
        case ',': return true;
        case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8':
        case '9': case '+': case '-': case '.': case 'E': case 'e': case 'I': case 'i': case 'N':
        case 'n': case 'F': case 'f': case 'a': case 'A': case '#': case ' ': case '\t':
            break;
        default:
            return false;
        }
    }
    return false;
}

void scan_paren_open(State& s, const uint8_t* start, const uint8_t* end) {
    if (starts_point(end + 1, s.input_end)) {
        s.point_start = start;
        s.pos = end + 1;
        s.entry = S_POINT;
        return;
    }
    lexer_open_block(s, TYPE_PAREN, start, end + 1);
}

void scan_comma(State& s, const uint8_t* start, const uint8_t* end) {
    Cell* m = innermost_marker(s);
    int kind = m ? marker_kind(m) : 0;
    if (kind == TYPE_PAREN) {
        m->data2 = TYPE_POINT2D | (1u << 16);
    } else if (kind == TYPE_POINT2D && (m->data2 >> 16) < 2) {
        m->data2 += 1u << 16;
    } else {
        lexer_raise_error(s, start, end + 1, kind == TYPE_POINT2D ? TYPE_POINT3D : TYPE_POINT2D);
    }
    s.pos = end + 1;
}

bool equal_fold(const uint8_t* a, size_t n, const char* b) {
    if (std::strlen(b) != n) return false;
    for (size_t i = 0; i < n; i++) {
        uint8_t x = a[i], y = uint8_t(b[i]);
        if (x >= 'A' && x <= 'Z') x = uint8_t(x + 32);
        if (y >= 'A' && y <= 'Z') y = uint8_t(y + 32);
        if (x != y) return false;
    }
    return true;
}

void scan_construct(State& s, const uint8_t* start, const uint8_t* end) {
    const uint8_t* name = start + 2;
    size_t n = size_t(end - name);
    Cell v{TYPE_NONE, 0, 0, 0};
    bool found = true;
    if (equal_fold(name, n, "true")) v = Cell{TYPE_LOGIC, 1, 0, 0};
    else if (equal_fold(name, n, "false")) v = Cell{TYPE_LOGIC, 0, 0, 0};
    else if (equal_fold(name, n, "none")) v = Cell{TYPE_NONE, 0, 0, 0};
    else if (equal_fold(name, n, "unset")) v = Cell{TYPE_UNSET, 0, 0, 0};
    else {
        found = false;
        for (int t = 1; t <= max_type_id && !found; t++) {
            if (type_names[t].name && equal_fold(name, n, type_names[t].name)) {
                v = Cell{TYPE_DATATYPE, uint32_t(t), 0, 0};
                found = true;
            }
        }
    }
    if (!found) lexer_raise_error(s, start, end + 1, ERR_MALCONSTRUCT);
    if (s.load) emit(s, v);
    s.type = type_of(&v);
    s.pos = end + 1;
}

void scan_path_open(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags) {
    int kind = *start == '\'' ? TYPE_LIT_PATH : *start == ':' ? TYPE_GET_PATH : TYPE_PATH;
    lexer_open_block(s, kind, start, end + 1);
    s.type_hint = TYPE_WORD;
    load_word(s, start, end, flags & ~flag::COLON, s.load);
    s.type_hint = -1;
    s.pos = end + 1;
    s.entry = S_PATH_ELEMENT;
    s.type = kind;
}

// Where the next token starts when a token is skipped without processing.
const uint8_t* after_token(int kind, const uint8_t* end, const uint8_t* input_end) {
    switch (kind) {
    case K_BLOCK_OPEN: case K_BLOCK_CLOSE: case K_PAREN_OPEN: case K_PAREN_CLOSE: case K_BRACE_OPEN:
    case K_BRACE_CLOSE: case K_MAP_OPEN: case K_PATH_OPEN: case K_CONSTRUCT: case K_COMMA:
    case K_STRING: case K_CHAR: case K_BINARY: case K_PERCENT: case K_POINT: case K_TAG:
        return end < input_end ? end + 1 : end;
    default:
        return end;
    }
}

// A value token: the validation pass and scan event, then the load and the
// load event.
void process_value(State& s, int kind, const uint8_t* start, const uint8_t* end, uint32_t flags,
                   Loader loader) {
    bool listen = s.tracer && (s.mask & EV_SCAN);
    bool go = true;
    int token_type = s.type;
    if (!s.load || listen) {
        loader(s, start, end, flags, false);
        if (listen) go = lexer_notify_tracer(s, EV_SCAN, s.type, nullptr, start, s.pos, kind);
    }
    if (go && s.load) {
        s.type = token_type;
        uint32_t before = s.tail;
        loader(s, start, end, flags, true);
        if (s.tracer && (s.mask & EV_LOAD) && s.tail > before &&
            !lexer_notify_tracer(s, EV_LOAD, s.type, cell_at(before), start, s.pos, kind))
            s.tail = before;
    }
    s.last_type = s.type;
}

void scan_curly(State& s, int kind, const uint8_t* start, const uint8_t* end, uint32_t flags) {
    s.brace_flags |= flags;
    s.pos = end + 1;
    if (kind == K_BRACE_OPEN) {
        if (s.brace_depth++ == 0) {
            s.brace_start = start;
            s.brace_line = s.token_line;
            s.brace_flags = flags;
            s.entry = S_BRACED;
            if (!lexer_notify_tracer(s, EV_OPEN, TYPE_STRING, nullptr, start, end + 1, K_BRACE_OPEN)) throw QuietStop{false};
        }
        return;
    }
    if (--s.brace_depth > 0) return;
    s.entry = entry_after_close(s);
    if (!lexer_notify_tracer(s, EV_CLOSE, TYPE_STRING, nullptr, s.brace_start, end + 1, K_BRACE_CLOSE))
        throw QuietStop{false};
    int32_t line = s.token_line;
    s.token_line = s.brace_line;
    s.type = TYPE_STRING;
    process_value(s, K_BRACE_CLOSE, s.brace_start, end, s.brace_flags, load_braced_string);
    s.token_line = line;
    s.pos = end + 1;
}

void run_scanner(State& s, int kind, const uint8_t* start, const uint8_t* end, uint32_t flags) {
    switch (kind) {
    case K_INVALID: scan_invalid(s, start, end); break;
    case K_BLOCK_OPEN: lexer_open_block(s, TYPE_BLOCK, start, end + 1); break;
    case K_PAREN_OPEN: scan_paren_open(s, start, end); break;
    case K_MAP_OPEN: lexer_open_block(s, TYPE_MAP, start, end + 1); break;
    case K_BLOCK_CLOSE:
    case K_PAREN_CLOSE:
        lexer_close_block(s, end, kind == K_BLOCK_CLOSE ? TYPE_BLOCK : TYPE_PAREN, false);
        s.pos = end + 1;
        break;
    case K_BRACE_OPEN:
    case K_BRACE_CLOSE: scan_curly(s, kind, start, end, flags); break;
    case K_PATH_OPEN: scan_path_open(s, start, end, flags); break;
    case K_CONSTRUCT: scan_construct(s, start, end); break;
    case K_COMMENT:
        if (s.tracer && (s.mask & EV_SCAN)) lexer_notify_tracer(s, EV_SCAN, 0, nullptr, start, end, kind);
        break;
    case K_COMMA: scan_comma(s, start, end); break;
    default: break;
    }
}

// The token loop.
void scan_tokens(State& s, bool one_value, bool prescan) {
    const uint8_t* end = s.input_end;
    const uint8_t* last_start = nullptr;
    int last_entry = -1;
    uint32_t last_tail = 0;
    while (s.pos < end || s.entry != S_BETWEEN) {
        // A token that changed nothing (a skipped token that ended where it
        // began, a callback that put the position back) must not loop forever.
        if (s.pos == last_start && s.entry == last_entry && s.tail == last_tail) {
            if (s.pos >= end) break;
            s.pos++;
        }
        last_start = s.pos;
        last_entry = s.entry;
        last_tail = s.tail;
        const uint8_t* start = s.pos;
        const uint8_t* p = start;
        int state = s.entry, prev = state;
        uint32_t flags = 0, skip = 0;
        int32_t line = s.line;
        s.token_line = line;
        // One class lookup and one transition per byte; the byte that ends a
        // token is not consumed. Blanks before the token are counted as skip.
        while (p < end) {
            uint32_t c = class_table[*p];
            flags |= c;
            prev = state;
            state = transition_table[state][c & CLASS_MASK];
            if (state >= FIRST_FINAL) break;
            skip += state == S_BETWEEN;            // skip_table
            line += (c & CLASS_MASK) == C_LINE;    // line_table
            p++;
        }
        if (p >= end) {
            prev = state;
            state = transition_table[state][C_END];
        }
        flags &= ~CLASS_MASK;
        const uint8_t* tstart = start + skip;
        int kind = state;
        s.pos = p;
        s.token_end = p;
        s.line = line;
        s.prev_state = prev;
        s.type_hint = -1;
        s.type = type_table[kind];
        if (kind == K_END) break;
        try {
            if (kind == K_WORD && *tstart >= 0xC2) {
                // Unicode spaces before a word are blanks.
                const uint8_t* q = tstart;
                while (q < p && *q >= 0x80) {
                    uint32_t cp;
                    const uint8_t* next = decode_utf8(q, p, cp);
                    if (!next) lexer_raise_error(s, q, p, TYPE_WORD);
                    if (!is_unicode_space(cp)) break;
                    q = next;
                }
                if (q == p) continue;
                tstart = q;
            }
            if (kind == K_POINT) tstart = s.point_start;
            if (s.tracer && (s.mask & EV_PRESCAN) && s.brace_depth == 0 &&
                !(kind == K_PAREN_OPEN && starts_point(p + 1, end))) {
                if (!lexer_notify_tracer(s, EV_PRESCAN, s.type, nullptr, tstart, p, kind)) {
                    const uint8_t* next = after_token(kind, p, end);
                    s.pos = next > start ? next : start < end ? start + 1 : end;
                    if (s.pos >= end) s.entry = S_BETWEEN;
                    continue;
                }
            }
            if (kind < K_STRING) {
                run_scanner(s, kind, tstart, p, flags);
            } else {
                process_value(s, kind, tstart, p, flags, loader_of(kind));
                if (kind == K_POINT) s.entry = entry_after_close(s);
            }
            if (s.entry == S_PATH_ELEMENT && kind != K_PATH_OPEN) path_end(s);
        } catch (Reposition&) {
            continue;
        }
        if ((one_value || prescan) && s.entry == S_BETWEEN && s.brace_depth == 0 && s.block_start == s.head &&
            (type_table[kind] != 0 || kind == K_BLOCK_CLOSE || kind == K_PAREN_CLOSE || kind == K_CONSTRUCT) &&
            s.tail - s.head <= 1)
            break;
    }
    if (s.block_start > s.head) {
        Cell* m = innermost_marker(s);
        int open = marker_kind(m);
        if (!s.load && is_path_kind(open)) {
            s.last_type = open;
            return;
        }
        s.missing = open;
        lexer_raise_error(s, s.input_start + m->data3, end, ERR_MISSING_END);
    }
}

// Drops every open marker and what follows it.
void drop_open_blocks(State& s) {
    while (s.block_start > s.head) {
        uint32_t mi = s.block_start - 1;
        s.block_start = mi - cell_at(mi)->data1;
        s.tail = mi;
    }
}

// Links a scan into the chain for its lifetime, also when an error leaves it.
struct ChainLink {
    State& s;
    explicit ChainLink(State& state) : s(state) {
        s.parent = current;
        if (current) current->next = &s;
        s.head = s.block_start = s.tail = current ? current->tail : 0;
        current = &s;
    }
    ~ChainLink() {
        current = s.parent;
        if (current) current->next = nullptr;
    }
};

}  // namespace

// ---------------------------------------------------------------- shared helpers

Cell* cell_at(uint32_t index) { return cells + index; }

Cell* new_value(State& s) {
    if (s.tail >= capacity) grow_cells(s.tail + 1);
    Cell* c = cells + s.tail++;
    bool new_line = s.line > s.token_line && !inside_path(s);
    *c = Cell{TYPE_UNSET | (new_line ? FLAG_NEW_LINE : 0u), 0, 0, 0};
    return c;
}

Cell* emit(State& s, const Cell& value) {
    Cell* c = new_value(s);
    uint32_t nl = c->header & FLAG_NEW_LINE;
    *c = value;
    c->header = (c->header & ~FLAG_NEW_LINE) | nl;
    return c;
}

[[noreturn]] void lexer_raise_error(State& s, const uint8_t* start, const uint8_t* end, int kind) {
    if (s.tracer && (s.mask & EV_ERROR)) {
        int type = kind > 0 ? kind : s.missing ? s.missing : s.type ? s.type : s.type_hint > 0 ? s.type_hint : TYPE_ERROR;
        s.type = TYPE_ERROR;
        bool go_on;
        try {
            go_on = lexer_notify_tracer(s, EV_ERROR, type, nullptr, start, end > start ? end : start, K_INVALID);
        } catch (Reposition&) {
            go_on = false;
        }
        if (!go_on) throw QuietStop{true};
    }
    if (!s.load) {
        s.type = TYPE_ERROR;
        throw QuietStop{true};
    }
    if (start < s.input_start) start = s.input_start;
    if (start > s.input_end) start = s.input_end;
    // The near text: from the error's start to the input end, the first LF or
    // the first character boundary 30 or more bytes on.
    std::u32string near;
    const uint8_t* q = start;
    while (q < s.input_end && *q != '\n' && q - start < 30) {
        uint32_t cp;
        const uint8_t* next = *q < 0x80 ? q + 1 : decode_utf8(q, s.input_end, cp);
        if (*q < 0x80) cp = *q;
        else if (!next) {
            cp = *q;
            next = q + 1;
        }
        near += char32_t(cp);
        q = next;
    }
    // The texts live in cells of this scan until raised, so a collection
    // while the next one is made keeps them.
    uint32_t kept = s.tail;
    *new_value(s) = text_cell(ascii32("(line " + std::to_string(s.line) + ")"));
    *new_value(s) = text_cell(near);
    if (kind == ERR_MISSING || kind == ERR_MISSING_END) {
        bool square = s.missing == TYPE_BLOCK || s.missing == TYPE_MAP;
        char closer = square ? ']' : ')';
        uint8_t current_byte = kind == ERR_MISSING && start < s.input_end ? *start : 0;
        if (current_byte == uint8_t(closer)) closer = square ? '[' : '(';
        *new_value(s) = text_cell(std::u32string(1, char32_t(closer)));
    }
    Cell line_text = *cell_at(kept), near_text = *cell_at(kept + 1);
    switch (kind) {
    case ERR_BAD_CHAR: raise_error(err::syntax_bad_char, &line_text, &near_text);
    case ERR_MALCONSTRUCT: raise_error(err::syntax_malconstruct, &line_text, &near_text);
    case ERR_MISSING:
    case ERR_MISSING_END: {
        Cell closer = *cell_at(kept + 2);
        raise_error(err::syntax_missing, &line_text, &closer, &near_text);
    }
    default: {
        Cell type{TYPE_DATATYPE, uint32_t(kind > 0 ? kind : TYPE_ERROR), 0, 0};
        raise_error(err::syntax_invalid, &line_text, &type, &near_text);
    }
    }
}

bool trace(State& s, uint32_t event, int type, const uint8_t* start, const uint8_t* end, int kind) {
    return lexer_notify_tracer(s, event, type, nullptr, start, end, kind);
}

// ---------------------------------------------------------------- entries

const char* event_name(uint32_t event) {
    switch (event) {
    case EV_PRESCAN: return "prescan";
    case EV_SCAN: return "scan";
    case EV_LOAD: return "load";
    case EV_OPEN: return "open";
    case EV_CLOSE: return "close";
    case EV_ERROR: return "error";
    default: return "";
    }
}

uint32_t event_mask_of_names(const std::string_view* names, int count) {
    uint32_t mask = 0;
    for (int i = 0; i < count; i++)
        for (uint32_t bit = 1; bit <= EV_ERROR; bit <<= 1)
            if (names[i] == event_name(bit)) mask |= bit;
    return mask;
}

int scan_utf8_source(Cell* result, const uint8_t* bytes, uint32_t length, bool one_value, bool full_scan,
                     bool load, bool keep_block, uint32_t* consumed, const Tracer* tracer,
                     const Cell* input, Cell* target) {
    if (!cells) grow_cells(INITIAL_CELLS);
    State s;
    ChainLink link(s);
    s.input_start = s.pos = bytes;
    s.input_end = bytes + length;
    s.load = full_scan && load;
    s.tracer = tracer && tracer->call ? tracer : nullptr;
    s.mask = s.tracer ? tracer->mask : 0;
    if (input) {
        s.input = *input;
        s.input_is_string = is_any_string(type_of(input));
        s.input_base = input->data1;
    } else {
        s.input = Cell{TYPE_NONE, 0, 0, 0};
    }
    bool stopped_by_error = false;
    try {
        scan_tokens(s, one_value, !full_scan);
    } catch (QuietStop& stop) {
        stopped_by_error = stop.error;
        drop_open_blocks(s);
    }
    if (s.pos > s.input_end) s.pos = s.input_end;
    if (consumed) *consumed = index_of(s, s.pos);
    if (load && result) {
        uint32_t n = s.tail - s.head;
        if (stopped_by_error && !s.load) {
            *result = Cell{TYPE_NONE, 0, 0, 0};
        } else if (one_value && !keep_block && n >= 1) {
            if (target) *append_cell(target) = *cell_at(s.head);
            else *result = *cell_at(s.head);
        } else {
            lexer_store_block(result, s.head, n, TYPE_BLOCK, target);
            if (!target) result->header &= ~FLAG_NEW_LINE;
        }
    }
    return stopped_by_error ? TYPE_ERROR : s.last_type;
}

namespace {

// Characters [first, last) of a string's or binary's buffer, as UTF-8.
void copy_source(std::string& out, const Cell* str, uint32_t first, uint32_t last) {
    SeriesBuffer* b = node_buffer(str->data2);
    out.clear();
    if (type_of(str) == TYPE_BINARY) {
        out.assign(reinterpret_cast<const char*>(b->data()) + first, last - first);
        return;
    }
    out.reserve(last - first);
    for (uint32_t i = first; i < last; i++) unicode::append_utf8(out, string::char_at(b, i));
}

}  // namespace

int scan_string_value(Cell* result, const Cell* str, int32_t count, bool one_value, bool full_scan,
                      bool load, bool keep_block, uint32_t* consumed, const Tracer* tracer, Cell* target) {
    // The scan's own copy: a callback or a nested scan may collect, move or
    // change the value's buffer while this scan reads it.
    std::string scratch;
    Cell input = *str;
    SeriesBuffer* b = node_buffer(str->data2);
    uint32_t unit = b->unit();
    uint32_t first = b->offset / unit + str->data1;
    uint32_t last = b->tail / unit;
    if (first > last) first = last;
    if (count >= 0 && uint32_t(count) < last - first) last = first + uint32_t(count);
    auto scan = [&](uint32_t* used) {
        return scan_utf8_source(result, reinterpret_cast<const uint8_t*>(scratch.data()), uint32_t(scratch.size()),
                                one_value, full_scan, load, keep_block, used, tracer, &input, target);
    };
    // One value out of a long text needs only the text it spans: a window of
    // the rest is checked first (nothing loaded), widened until the value ends
    // well inside it, so reading a text value by value stays linear. A tracer
    // sees the whole text, as its events must come once.
    if (one_value && full_scan && load && !tracer) {
        for (uint64_t window = 256; window < last - first; window *= 2) {
            copy_source(scratch, str, first, first + uint32_t(window));
            uint32_t used = 0;
            int type = scan_utf8_source(nullptr, reinterpret_cast<const uint8_t*>(scratch.data()),
                                        uint32_t(scratch.size()), true, true, false, false, &used, nullptr,
                                        &input, nullptr);
            if (type != TYPE_ERROR && used + 16 < window) return scan(consumed);
        }
    }
    copy_source(scratch, str, first, last);
    return scan(consumed);
}

void load_block(Cell* result, std::string_view utf8) {
    scan_utf8_source(result, reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()), false, true,
                     true, false, nullptr, nullptr, nullptr, nullptr);
}

int scan_single_token_type(std::string_view utf8, uint32_t* consumed) {
    return scan_utf8_source(nullptr, reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()), true,
                            true, false, false, consumed, nullptr, nullptr, nullptr);
}

bool is_word_text(std::string_view utf8) {
    uint32_t consumed = 0;
    int type = scan_single_token_type(utf8, &consumed);
    return type >= TYPE_WORD && type <= TYPE_ISSUE && consumed == utf8.size();
}

void init_lexer_tables() {
    init_tables();
    current = nullptr;
    exit_states = Cell{TYPE_NONE, 0, 0, 0};
    if (!cells) grow_cells(INITIAL_CELLS);
    collector::add_gc_root_callback([] { mark_lexer_buffers([](Cell* c) { collector::mark_cell(c); }); });
}

void mark_lexer_buffers(void (*mark)(Cell*)) {
    State* root = current;
    while (root && root->parent) root = root->parent;
    for (State* s = root; s; s = s->next)
        for (uint32_t i = s->head; i < s->tail; i++) mark(cells + i);
    if (type_of(&exit_states) == TYPE_BLOCK) mark(&exit_states);
}

}  // namespace vyx::lexer
