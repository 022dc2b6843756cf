// The lexer's constant tables: byte classes with token flags, the transition
// table of the scanning automaton, and what each state means.
//
// Every input byte maps to one of 40 classes; the automaton has 65 running
// states (0-64) and 36 final states (66-101), one per token kind. The driver
// moves state := transition[state][class] until a final state names the token.
#pragma once
#include <array>
#include <cstdint>

namespace vyx::lexer {

constexpr int CLASS_COUNT = 40;
constexpr int RUNNING_STATES = 65;
constexpr int FIRST_FINAL = 66;
constexpr int STATE_COUNT = 102;

// Byte classes that code refers to by name.
enum Class : uint8_t {
    C_BLANK = 0, C_LINE = 1, C_DIGIT = 2, C_ZERO = 3, C_BLOCK_OPEN = 4, C_BLOCK_CLOSE = 5,
    C_PAREN_OPEN = 6, C_PAREN_CLOSE = 7, C_BRACE_OPEN = 8, C_BRACE_CLOSE = 9, C_QUOTE = 10,
    C_SHARP = 11, C_APOSTROPHE = 12, C_COLON = 13, C_X = 14, C_T = 15, C_H = 16, C_E_SMALL = 17,
    C_E_CAPITAL = 18, C_HEX_SMALL = 19, C_HEX_CAPITAL = 20, C_SLASH = 21, C_BACKSLASH = 22,
    C_LESS = 23, C_GREATER = 24, C_EQUAL = 25, C_PERCENT = 26, C_COMMA = 27, C_SEMICOLON = 28,
    C_AT = 29, C_DOT = 30, C_DOLLAR = 31, C_PLUS = 32, C_MINUS = 33, C_CARET = 34, C_CONTROL = 35,
    C_CONTINUATION = 36, C_LETTER = 37, C_BAD = 38, C_END = 39
};

// Token flags: ORed over the bytes of a token (upper 24 bits of a class entry).
namespace flag {
constexpr uint32_t PERCENT = 0x00040000;
constexpr uint32_t GREATER = 0x00080000;
constexpr uint32_t LESS = 0x00100000;
constexpr uint32_t SIGN = 0x00200000;
constexpr uint32_t NUL = 0x00400000;
constexpr uint32_t SHARP = 0x00800000;
constexpr uint32_t EXPONENT = 0x01000000;
constexpr uint32_t SEPARATOR = 0x02000000;  // ' between digits
constexpr uint32_t COLON = 0x04000000;
constexpr uint32_t COMMA = 0x08000000;
constexpr uint32_t DOT = 0x10000000;
constexpr uint32_t CARET = 0x20000000;
constexpr uint32_t LEAD_2_3 = 0x40000000;  // lead byte of a 2- or 3-byte UTF-8 sequence
constexpr uint32_t LEAD_4 = 0x80000000;    // lead byte of a 4-byte sequence
}  // namespace flag

// Final states, one per token kind.
enum Kind : uint8_t {
    K_END = 66, K_INVALID, K_BLOCK_OPEN, K_BLOCK_CLOSE, K_PAREN_OPEN, K_PAREN_CLOSE, K_BRACE_OPEN,
    K_BRACE_CLOSE, K_MAP_OPEN, K_PATH_OPEN, K_CONSTRUCT, K_COMMENT, K_COMMA, K_STRING, K_WORD,
    K_ISSUE, K_INTEGER, K_REFINEMENT, K_CHAR, K_FILE, K_BINARY, K_PERCENT, K_FLOAT,
    K_FLOAT_SPECIAL, K_TUPLE, K_DATE, K_PAIR, K_POINT, K_TIME, K_MONEY, K_TAG, K_URL, K_EMAIL,
    K_HEX, K_RAW_STRING, K_REF
};
static_assert(K_REF == 101);

// Running states the driver and scanners enter directly.
constexpr uint8_t S_BETWEEN = 0;
constexpr uint8_t S_BRACED = 4;
constexpr uint8_t S_POINT = 35;
constexpr uint8_t S_PATH_ELEMENT = 59;

extern const std::array<uint32_t, 256> class_table;  // class in the low byte, flags above
extern const std::array<std::array<uint8_t, CLASS_COUNT>, RUNNING_STATES> transition_table;
extern const std::array<uint8_t, STATE_COUNT> type_table;  // datatype of a final or running state
extern const std::array<uint8_t, RUNNING_STATES> skip_table;
extern const std::array<uint8_t, CLASS_COUNT> line_table;

// A class entry: the class in the low byte, the token flags above it.
constexpr uint32_t CLASS_MASK = 0xFF;
inline int class_of(uint8_t byte) { return int(class_table[byte] & CLASS_MASK); }

// Unit width of a string's characters chosen from the token flags: 1, 2 or 4.
inline uint32_t unit_from_flags(uint32_t flags) {
    uint32_t w = 1u << (flags >> 30);
    return w > 4 ? 4 : w;
}

// The 21 code points that end words and are skipped between tokens although
// their lead bytes are letters for the class table.
bool is_unicode_space(uint32_t cp);

// Builds the run-time parts of the tables (the Unicode space bitmap).
void init_tables();

}  // namespace vyx::lexer
