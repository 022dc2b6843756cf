#include "evaluator/lexer_tables.h"

#include <string_view>

#include "runtime/cell.h"

namespace vyx::lexer {

namespace {

constexpr const char* KIND_NAMES[36] = {
    "end", "invalid", "block-open", "block-close", "paren-open", "paren-close", "brace-open",
    "brace-close", "map-open", "path-open", "construct", "comment", "comma", "string", "word",
    "issue", "integer", "refinement", "char", "file", "binary", "percent", "float",
    "float-special", "tuple", "date", "pair", "point", "time", "money", "tag", "url", "email",
    "hex", "raw-string", "ref"};

constexpr bool names_equal(std::string_view a, const char* b) { return a == std::string_view(b); }

// A target is a running state number or a kind name.
constexpr int parse_target(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (!text.empty() && text[0] >= '0' && text[0] <= '9') {
        int n = 0;
        for (char c : text) n = n * 10 + (c - '0');
        return n;
    }
    for (int i = 0; i < 36; i++)
        if (names_equal(text, KIND_NAMES[i])) return FIRST_FINAL + i;
    throw "unknown target";  // a compile-time error in a constant expression
}

constexpr int parse_number(std::string_view text, size_t& i) {
    int n = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') n = n * 10 + (text[i++] - '0');
    return n;
}

struct RowSpec {
    int state;
    const char* fallback;
    const char* exceptions;  // "classes: target; ..." where classes are "a-b,c"
};

// Written in the same compact form as the design notes: for each running state
// the target of every class not listed, then the exceptions.
constexpr RowSpec ROWS[RUNNING_STATES] = {
    {0, "52", "0-1,35: 0; 2-3: 23; 4: block-open; 5: block-close; 6: paren-open; 7: paren-close; 8: brace-open; 9,22,36,38: invalid; 10: 2; 11: 16; 12-13: 51; 18,20: 40; 21: 13; 23: 43; 25: 58; 26: 6; 27: comma; 28: 1; 29: 57; 30: 49; 31: 36; 32-33: 47; 39: end"},
    {1, "1", "1,39: comment; 38: invalid"},
    {2, "2", "1,38-39: invalid; 10: string; 34: 3"},
    {3, "2", "38-39: invalid"},
    {4, "4", "8: brace-open; 9: brace-close; 34: 5; 38-39: invalid"},
    {5, "4", "38-39: invalid"},
    {6, "7", "0-1,4-7,9,28-29,35,39: word; 8: 10; 10: 8; 13: 54; 26: 9; 38: invalid"},
    {7, "7", "0-1,4-9,13,28-29,39: file; 10,38: invalid"},
    {8, "8", "1,38-39: invalid; 10: file"},
    {9, "7", "0-1,4-7,9-10,22,28,35,39: word; 8: 10; 26: 9; 38: invalid"},
    {10, "10", "9: 11; 38-39: invalid"},
    {11, "10", "9: 11; 26: 12; 38-39: invalid"},
    {12, "invalid", "0-1,4-8,10,23,28,35,39: raw-string; 26: 12"},
    {13, "14", "0-1,4-11,28-29,35,39: word; 13: 53; 21: 15; 27,38: invalid"},
    {14, "14", "0-1,4-10,21,28-29,35,39: refinement; 13,27,38: invalid"},
    {15, "52", "0-1,4-11,28-29,35,39: word; 21: 15; 26-27,31,38: invalid"},
    {16, "22", "0-1,5,7,9,13,23-24,27,38: invalid; 4: map-open; 6: 21; 8: 17; 10: 19; 28-29,35,39: issue"},
    {17, "invalid", "0-3,14-21,25,32,37: 17; 9: binary; 28: 18"},
    {18, "18", "1: 17; 38-39: invalid"},
    {19, "19", "10: char; 34: 20; 38-39: invalid"},
    {20, "19", "38-39: invalid"},
    {21, "21", "7: construct; 38-39: invalid"},
    {22, "22", "0-1,4-10,28-29,35,39: issue; 13,21,38: invalid"},
    {23, "integer", "2-3,12: 23; 11: 16; 13: 31; 14: 33; 15,21,33: 30; 16: 42; 17: 26; 18: 27; 19,22,24-25,31-32,34,36-38: invalid; 20: 39; 26: percent; 29: 56; 30: 24"},
    {24, "invalid", "0-1,4-10,21,23,27-28,35,39: float; 2-3,12: 25; 11: 28; 14: 33; 17-18: 26; 26: percent"},
    {25, "float", "2-3,12: 25; 11,15-16,19-20,22,24-25,31-34,36-38: invalid; 14: 33; 17-18: 26; 26: percent; 29: 56; 30: 29"},
    {26, "invalid", "0-1,4-10,13,21,23,27-28,35,39: float; 2-3,32-33: 26; 29: 56"},
    {27, "float", "2-3: 27; 11-12,14-15,17,19,22,24-25,28,31,34,36-38: invalid; 16: 42; 18,20: 40; 26: percent; 29: 56; 30: 29; 32-33: 26"},
    {28, "float-special", "2: float; 11-13,26,29,31,34,38: invalid; 14-20,24-25,30,32-33,36-37: 28"},
    {29, "invalid", "0-1,4-10,13,21,23,28,35,39: tuple; 2-3,30: 29"},
    {30, "30", "0-1,4-10,23,28,31,35,39: date; 26-27,29,34,36,38: invalid"},
    {31, "invalid", "2-3: 32"},
    {32, "invalid", "0-1,4-10,21,23,28,35,39: time; 2-3,13,30: 32"},
    {33, "invalid", "2-3,32-33: 34; 29: 56"},
    {34, "invalid", "0-1,4-10,13,21,23,28,35,39: pair; 2-3,17-18,30: 34; 29: 56"},
    {35, "invalid", "0,2-3,5,11,17-20,27,30,32-33,37: 35; 7: point"},
    {36, "invalid", "2-3: 37"},
    {37, "invalid", "0-1,4-11,13,21,23,28,35,39: money; 2-3,12: 37; 30: 38"},
    {38, "invalid", "0-1,4-11,13,21,23,28,35,39: money; 2-3,12: 38"},
    {39, "invalid", "2-3,18,20: 39; 16: 41; 29: 56"},
    {40, "word", "2-3,18,20: 40; 12,14-15,17,19,23-25,30,32-34,36-37: 52; 13: 53; 16: 41; 21: path-open; 26-27,38: invalid; 29: 56; 31: 37"},
    {41, "52", "0-1,4-10,22,28,35,39: hex; 11,26-27,38: invalid; 13: 53; 21: path-open; 29: 56; 31: 37"},
    {42, "invalid", "0-1,4-10,22-23,28,35,39: hex; 21: path-open; 29: 56; 31: 37"},
    {43, "44", "0-1,4-10,28,35,39: word; 12: 46; 13: 53; 23: 43; 24-25,33: 52; 38: invalid"},
    {44, "44", "10: 45; 12: 46; 24: tag; 38-39: invalid"},
    {45, "45", "10: 44; 38-39: invalid"},
    {46, "46", "12: 44; 38-39: invalid"},
    {47, "52", "0-1,4-11,22,28,35,39: word; 2-3: 23; 12,26,34,38: invalid; 21: path-open; 30: 49; 31: 37"},
    {48, "52", "0-1,4-11,22,28,35,39: word; 12,26,31,34,38: invalid; 21: path-open"},
    {49, "52", "0-1,4-11,22,28,35,39: word; 2-3,32-33: 50; 13: 53; 21: path-open; 26-27,31,38: invalid; 29: 56"},
    {50, "invalid", "0-1,4-10,13,21,23,35,39: float; 2-3,17-18,32-33: 50; 14: 33; 26: percent; 29: 56"},
    {51, "invalid", "14-20,24,30,34,36-37: 52; 21: 13; 23: 43; 25: 58; 26: 54; 32-33: 48"},
    {52, "52", "0-1,4-11,22-23,28,35,39: word; 13: 53; 21: path-open; 26-27,38: invalid; 29: 56; 31: 36"},
    {53, "55", "0-1,4-10,22,28,35,39: word; 23,38: invalid"},
    {54, "invalid", "0-1,4-9,22,28,35,39: word; 26: 54"},
    {55, "55", "0-1,4-10,22-23,28,35,39: url; 24,34,38: invalid"},
    {56, "email", "2-3,14-20,26,30,32-33,36-37: 56; 11-13,24-25,27,29,31,34,38: invalid"},
    {57, "57", "0-1,4-10,23,28,35,39: ref; 11-12,22,24-25,27,29,31,34,38: invalid"},
    {58, "52", "0-1,4-10,13,22,28,35,39: word; 11,26-27,29,31,38: invalid; 21: path-open"},
    {59, "invalid", "2-3: 60; 6: paren-open; 7: paren-close; 10: 2; 11: 63; 12-13: 61; 14-20,24-25,30,36-37: 62; 23: 43; 29: 57; 31: 36; 32-33: 64"},
    {60, "invalid", "0-1,4-10,13,21,23,28,35,39: integer; 2-3,12: 60; 14: 33; 17-18: 26; 26: percent; 29: 56; 30: 24"},
    {61, "invalid", "14-20,23-25,30,32-33,36-37: 62"},
    {62, "62", "0-1,4-10,13,21-22,28,35,39: word; 11,26-27,38: invalid; 29: 56; 31: 36"},
    {63, "22", "0-1,5-9,13,21,23-25,27-29,35,38-39: invalid; 4: 21; 10: 19"},
    {64, "word", "2-3: 60; 11-12,23,26-27,34,38: invalid; 14-20,24-25,30,36-37: 62; 29: 56; 31: 36; 32-33: 64"},
};

constexpr std::array<std::array<uint8_t, CLASS_COUNT>, RUNNING_STATES> build_transitions() {
    std::array<std::array<uint8_t, CLASS_COUNT>, RUNNING_STATES> t{};
    for (int r = 0; r < RUNNING_STATES; r++) {
        const RowSpec& row = ROWS[r];
        if (row.state != r) throw "rows out of order";
        int fallback = parse_target(row.fallback);
        for (int c = 0; c < CLASS_COUNT; c++) t[r][c] = uint8_t(fallback);
        std::string_view ex(row.exceptions);
        while (!ex.empty()) {
            size_t semi = ex.find(';');
            std::string_view item = ex.substr(0, semi);
            ex = semi == std::string_view::npos ? std::string_view() : ex.substr(semi + 1);
            size_t colon = item.find(':');
            std::string_view classes = item.substr(0, colon);
            int target = parse_target(item.substr(colon + 1));
            size_t i = 0;
            while (i < classes.size()) {
                while (i < classes.size() && (classes[i] == ' ' || classes[i] == ',')) i++;
                if (i >= classes.size()) break;
                int from = parse_number(classes, i), to = from;
                if (i < classes.size() && classes[i] == '-') {
                    i++;
                    to = parse_number(classes, i);
                }
                for (int c = from; c <= to; c++) t[r][c] = uint8_t(target);
            }
        }
    }
    return t;
}

constexpr std::array<uint32_t, 256> build_classes() {
    std::array<uint32_t, 256> t{};
    for (int b = 0; b < 256; b++) {
        uint32_t c = C_LETTER;
        if (b == 0) c = C_END | flag::NUL;
        else if (b == '\t' || b == '\r' || b == ' ') c = C_BLANK;
        else if (b == '\n') c = C_LINE;
        else if (b < 0x20) c = C_CONTROL;
        else if (b >= '1' && b <= '9') c = C_DIGIT;
        else if (b == '0') c = C_ZERO;
        else if (b >= 0x7F && b <= 0xBF) c = C_CONTINUATION;
        else if (b == 0xC0 || b == 0xC1 || b >= 0xF8) c = C_BAD;
        else if (b >= 0xC2 && b <= 0xEF) c = C_LETTER | flag::LEAD_2_3;
        else if (b >= 0xF0 && b <= 0xF7) c = C_LETTER | flag::LEAD_4;
        else {
            switch (b) {
            case '[': c = C_BLOCK_OPEN; break;
            case ']': c = C_BLOCK_CLOSE; break;
            case '(': c = C_PAREN_OPEN; break;
            case ')': c = C_PAREN_CLOSE; break;
            case '{': c = C_BRACE_OPEN; break;
            case '}': c = C_BRACE_CLOSE; break;
            case '"': c = C_QUOTE; break;
            case '#': c = C_SHARP | flag::SHARP; break;
            case '\'': c = C_APOSTROPHE | flag::SEPARATOR; break;
            case ':': c = C_COLON | flag::COLON; break;
            case 'X': case 'x': c = C_X; break;
            case 'T': c = C_T; break;
            case 'h': c = C_H; break;
            case 'e': c = C_E_SMALL | flag::EXPONENT; break;
            case 'E': c = C_E_CAPITAL | flag::EXPONENT; break;
            case 'a': case 'b': case 'c': case 'd': case 'f': c = C_HEX_SMALL; break;
            case 'A': case 'B': case 'C': case 'D': case 'F': c = C_HEX_CAPITAL; break;
            case '/': c = C_SLASH; break;
            case '\\': c = C_BACKSLASH; break;
            case '<': c = C_LESS | flag::LESS; break;
            case '>': c = C_GREATER | flag::GREATER; break;
            case '=': c = C_EQUAL; break;
            case '%': c = C_PERCENT | flag::PERCENT; break;
            case ',': c = C_COMMA | flag::COMMA; break;
            case ';': c = C_SEMICOLON; break;
            case '@': c = C_AT; break;
            case '.': c = C_DOT | flag::DOT; break;
            case '$': c = C_DOLLAR; break;
            case '+': case '-': c = (b == '+' ? C_PLUS : C_MINUS) | flag::SIGN; break;
            case '^': c = C_CARET | flag::CARET; break;
            default: c = C_LETTER; break;
            }
        }
        t[b] = c;
    }
    return t;
}

constexpr std::array<uint8_t, STATE_COUNT> build_types() {
    std::array<uint8_t, STATE_COUNT> t{};
    auto set = [&](int from, int to, int type) {
        for (int s = from; s <= to; s++) t[s] = uint8_t(type);
    };
    // Running states: what an unfinished token at the input end would have been.
    set(2, 5, TYPE_STRING); set(10, 12, TYPE_STRING);
    set(6, 9, TYPE_FILE);
    for (int s : {13, 15, 41, 47, 48, 49, 51, 52, 54, 58, 61, 62, 64}) t[s] = TYPE_WORD;
    t[14] = TYPE_REFINEMENT;
    for (int s : {16, 22, 63}) t[s] = TYPE_ISSUE;
    t[17] = TYPE_BINARY;
    set(19, 20, TYPE_CHAR);
    for (int s : {23, 40, 42, 60}) t[s] = TYPE_INTEGER;
    set(24, 28, TYPE_FLOAT); t[50] = TYPE_FLOAT;
    t[29] = TYPE_TUPLE; t[30] = TYPE_DATE; set(31, 32, TYPE_TIME); set(33, 34, TYPE_PAIR);
    t[35] = TYPE_POINT2D; set(36, 38, TYPE_MONEY); set(43, 46, TYPE_TAG); t[53] = TYPE_SET_WORD;
    t[55] = TYPE_URL; t[56] = TYPE_EMAIL; t[57] = TYPE_REF; t[59] = TYPE_PATH;
    // Final states.
    t[K_INVALID] = TYPE_ERROR; t[K_BRACE_CLOSE] = TYPE_STRING; t[K_STRING] = TYPE_STRING;
    t[K_WORD] = TYPE_WORD; t[K_ISSUE] = TYPE_ISSUE; t[K_INTEGER] = TYPE_INTEGER;
    t[K_REFINEMENT] = TYPE_REFINEMENT; t[K_CHAR] = TYPE_CHAR; t[K_FILE] = TYPE_FILE;
    t[K_BINARY] = TYPE_BINARY; t[K_PERCENT] = TYPE_PERCENT; t[K_FLOAT] = TYPE_FLOAT;
    t[K_FLOAT_SPECIAL] = TYPE_FLOAT; t[K_TUPLE] = TYPE_TUPLE; t[K_DATE] = TYPE_DATE;
    t[K_PAIR] = TYPE_PAIR; t[K_POINT] = TYPE_POINT2D; t[K_TIME] = TYPE_TIME; t[K_MONEY] = TYPE_MONEY;
    t[K_TAG] = TYPE_TAG; t[K_URL] = TYPE_URL; t[K_EMAIL] = TYPE_EMAIL; t[K_HEX] = TYPE_INTEGER;
    t[K_RAW_STRING] = TYPE_STRING; t[K_REF] = TYPE_REF;
    return t;
}

constexpr std::array<uint8_t, RUNNING_STATES> build_skips() {
    std::array<uint8_t, RUNNING_STATES> t{};
    t[S_BETWEEN] = 1;
    return t;
}

constexpr std::array<uint8_t, CLASS_COUNT> build_lines() {
    std::array<uint8_t, CLASS_COUNT> t{};
    t[C_LINE] = 1;
    return t;
}

// 8290 bytes cover every code point up to U+3000, the highest of the spaces.
constexpr uint32_t SPACE_BITMAP_BYTES = 8290;
uint8_t unicode_space_set[SPACE_BITMAP_BYTES];

constexpr uint32_t UNICODE_SPACES[21] = {0x85,   0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003,
                                         0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A,
                                         0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0x180E, 0x200B};

}  // namespace

constexpr std::array<uint32_t, 256> class_table = build_classes();
constexpr std::array<std::array<uint8_t, CLASS_COUNT>, RUNNING_STATES> transition_table =
    build_transitions();
constexpr std::array<uint8_t, STATE_COUNT> type_table = build_types();
constexpr std::array<uint8_t, RUNNING_STATES> skip_table = build_skips();
constexpr std::array<uint8_t, CLASS_COUNT> line_table = build_lines();

bool is_unicode_space(uint32_t cp) {
    return cp < SPACE_BITMAP_BYTES * 8 && (unicode_space_set[cp >> 3] & (0x80 >> (cp & 7)));
}

void init_tables() {
    for (uint32_t cp : UNICODE_SPACES) unicode_space_set[cp >> 3] |= uint8_t(0x80 >> (cp & 7));
}

}  // namespace vyx::lexer

namespace vyx::lexer {
// The driver folds the skip and line tables into comparisons; keep them equal.
static_assert([] {
    for (int s = 0; s < RUNNING_STATES; s++)
        if (skip_table[s] != (s == S_BETWEEN)) return false;
    for (int c = 0; c < CLASS_COUNT; c++)
        if (line_table[c] != (c == C_LINE)) return false;
    return true;
}());
}  // namespace vyx::lexer
