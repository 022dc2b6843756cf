#include "datatypes/word.h"

#include <cstring>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/raise.h"
#include "runtime/unicode.h"

namespace vyx::word {

bool collecting = true;

namespace {

Cell bound_global(int32_t symbol, int type) {
    int32_t pos = context::add(context::global, symbol);
    return make_cell(type, context::global, symbol, pos);
}

// Decodes UTF-8; false on a malformed sequence.
bool decode_utf8(std::string_view s, std::vector<uint32_t>& out) {
    out.clear();
    const uint8_t* p = reinterpret_cast<const uint8_t*>(s.data());
    size_t n = s.size(), i = 0;
    while (i < n) {
        uint8_t c = p[i];
        uint32_t cp;
        size_t extra;
        if (c < 0x80) { cp = c; extra = 0; }
        else if (c >= 0xC2 && c < 0xE0) { cp = c & 0x1F; extra = 1; }
        else if (c >= 0xE0 && c < 0xF0) { cp = c & 0x0F; extra = 2; }
        else if (c >= 0xF0 && c < 0xF5) { cp = c & 0x07; extra = 3; }
        else return false;
        if (extra && i + extra >= n) return false;
        for (size_t k = 1; k <= extra; k++) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        out.push_back(cp);
        i += extra + 1;
    }
    return true;
}

bool is_unicode_space(uint32_t c) {
    switch (c) {
    case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
    case 0x180E: case 0x200B:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

inline bool is_digit(uint32_t c) { return c >= '0' && c <= '9'; }

// Characters that end a token or start another kind of value, and so can
// never be part of a name.
bool is_delimiter(uint32_t c) {
    if (c <= 0x20 || c == 0x7F) return true;
    switch (c) {
    case '[': case ']': case '(': case ')': case '{': case '}': case '"': case ';': case ',': case '@':
    case '/': case '\\': case ':': case '%': case '$': case '#':
        return true;
    default:
        return is_unicode_space(c);
    }
}

// The characters of a refinement or issue name: anything but delimiters.
bool valid_plain_name(const std::vector<uint32_t>& cps) {
    if (cps.empty()) return false;
    for (uint32_t c : cps)
        if (is_delimiter(c)) return false;
    return true;
}

// The word-name rule: what the lexer accepts as the name of a word, set-word,
// get-word or lit-word (sigils already removed).
bool valid_word_name(const std::vector<uint32_t>& cps) {
    if (!valid_plain_name(cps)) return false;
    uint32_t c0 = cps[0];
    uint32_t c1 = cps.size() > 1 ? cps[1] : 0;
    uint32_t c2 = cps.size() > 2 ? cps[2] : 0;
    if (is_digit(c0)) return false;                                  // a number
    if ((c0 == '+' || c0 == '-') && (is_digit(c1) || (c1 == '.' && is_digit(c2)))) return false;
    if (c0 == '.' && is_digit(c1)) return false;                     // a float
    if (c0 == '\'') return false;                                    // '' is no word
    if (c0 == '<') {
        // <, <=, <>, << ... are words; < followed by anything else opens a tag.
        for (uint32_t c : cps)
            if (c != '<' && c != '>' && c != '=') return false;
    } else {
        // Inside any other name a < ends the word (a<b reads as a word and a tag).
        for (uint32_t c : cps)
            if (c == '<') return false;
    }
    // Upper-case hexadecimal digits followed by h form a hexadecimal integer
    // (or an invalid one), never a word.
    if (cps.size() >= 2 && cps.back() == 'h') {
        bool hex = true;
        for (size_t i = 0; i + 1 < cps.size(); i++)
            if (!(is_digit(cps[i]) || (cps[i] >= 'A' && cps[i] <= 'F'))) hex = false;
        if (hex) return false;
    }
    return true;
}

}  // namespace

std::optional<ScannedWord> scan_word_token(std::string_view s) {
    if (s.empty()) return std::nullopt;
    size_t start = 0, end = s.size();
    int type = TYPE_WORD;
    switch (s[0]) {
    case '/':
        if (s == "/" || s == "//") return ScannedWord{TYPE_WORD, 0, s.size()};
        type = TYPE_REFINEMENT;
        start = 1;
        break;
    case '#': type = TYPE_ISSUE; start = 1; break;
    case '\'': type = TYPE_LIT_WORD; start = 1; break;
    case ':': type = TYPE_GET_WORD; start = 1; break;
    default: break;
    }
    if ((type == TYPE_WORD || type == TYPE_GET_WORD || type == TYPE_LIT_WORD) && end > start && s[end - 1] == ':') {
        if (type == TYPE_LIT_WORD) return std::nullopt;
        if (type == TYPE_WORD) type = TYPE_SET_WORD;
        end--;
    }
    std::vector<uint32_t> cps;
    if (end <= start || !decode_utf8(s.substr(start, end - start), cps)) return std::nullopt;
    bool ok = (type == TYPE_REFINEMENT || type == TYPE_ISSUE) ? valid_plain_name(cps) : valid_word_name(cps);
    if (!ok) return std::nullopt;
    return ScannedWord{type, start, end - start};
}

Cell* make_at(int32_t symbol, Cell* cell, int type) {
    *cell = bound_global(symbol, type);
    return cell;
}

Cell* push_new(int32_t symbol, int type) {
    Cell w = bound_global(symbol, type);
    return stack::push(&w);
}

Cell load(std::string_view name) {
    int32_t symbol = symbol::make(name);
    Cell w = *context::add_word(symbol, true, true);
    if (collecting) context::keep_in_root(&w);
    return w;
}

Cell* load_in(std::string_view name, Cell* block) {
    Cell w = load(name);
    Cell* c = append_cell(block);
    *c = w;
    return c;
}

Cell from_symbol_in(Node ctx, int32_t symbol) {
    int32_t pos = context::find_word(ctx, symbol, false);
    if (pos >= 0) return *context::key_word(ctx, uint32_t(pos));
    return bound_global(symbol, TYPE_WORD);
}

Cell* get(const Cell* word) {
    Cell* value = context::get(word);
    if (type_of(value) == TYPE_UNSET) raise_error(err::script_no_value, word);
    return stack::push(value);
}

// ---- text writers ---------------------------------------------------------

namespace {

bool is_ascii(std::string_view s) {
    for (char c : s)
        if (uint8_t(c) >= 0x80) return false;
    return true;
}

// Writes a name, no more characters than the budget allows; returns the
// budget less the name's length in characters.
int write_text(Cell* buffer, const std::string& utf8, int part) {
    if (is_ascii(utf8)) return string::concatenate_literal(buffer, utf8, part);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8.data());
    const uint8_t* end = p + utf8.size();
    std::vector<uint32_t> ignored;
    bool bom = utf8.size() >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF;
    if (bom || !decode_utf8(utf8, ignored)) {
        // Not UTF-8: the name reads byte for byte, as its string form does.
        return string::concatenate_literal(buffer, utf8, part);
    }
    uint32_t chars = unicode::count_utf8_chars(p, end);
    uint32_t room = part < 0 ? 0 : uint32_t(part);
    const uint8_t* cut = chars > room ? unicode::skip_utf8_chars(p, end, room) : end;
    if (cut > p) unicode::load_utf8_string(p, uint32_t(cut - p), buffer->data2, nullptr, false);
    return part - int(chars);
}

}  // namespace

int write_name(const Cell* value, Cell* buffer, std::string_view prefix, std::string_view suffix, int part) {
    if (!prefix.empty()) part = string::concatenate_literal(buffer, prefix, part);
    std::string name = symbol::name(symbol_of(value));
    part = write_text(buffer, name, part);
    if (!suffix.empty()) part = string::concatenate_literal(buffer, suffix, part);
    return part;
}

int form(Cell* value, Cell* buffer, int part) { return write_name(value, buffer, "", "", part); }

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    switch (type_of(value)) {
    case TYPE_SET_WORD: return write_name(value, buffer, "", ":", part);
    case TYPE_LIT_WORD: return write_name(value, buffer, "'", "", part);
    case TYPE_GET_WORD: return write_name(value, buffer, ":", "", part);
    case TYPE_REFINEMENT: return write_name(value, buffer, "/", "", part);
    case TYPE_ISSUE: return write_name(value, buffer, "#", "", part);
    default: return write_name(value, buffer, "", "", part);
    }
}

// ---- comparison -----------------------------------------------------------

int compare(Cell* a, Cell* b, int op) {
    int ta = type_of(a), tb = type_of(b);
    if (!is_any_word_type(tb) || (tb == TYPE_ISSUE && ta != TYPE_ISSUE)) return NOT_COMPARABLE;
    int32_t sa = symbol_of(a), sb = symbol_of(b);
    auto canonical_equal = [&] { return symbol::resolve(sa) == symbol::resolve(sb); };
    bool word_vs_lit = (ta == TYPE_WORD && tb == TYPE_LIT_WORD) || (ta == TYPE_LIT_WORD && tb == TYPE_WORD);
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_FIND:
        return canonical_equal() ? 0 : 1;
    case COMP_STRICT_EQUAL:
        return ta == tb && sa == sb ? 0 : 1;
    case COMP_SAME:
        return ta == tb && sa == sb && a->data1 == b->data1 ? 0 : 1;
    case COMP_LIT_STRICT_EQUAL:
        if (word_vs_lit) return sa == sb ? 0 : 1;
        return ta == tb && sa == sb ? 0 : 1;
    case COMP_LIT_EQUAL:
        if (word_vs_lit) return canonical_equal() ? 0 : 1;
        return ta == tb && canonical_equal() ? 0 : 1;
    default:
        return symbol::compare_names(sa, sb, op);
    }
}

// ---- make and to ----------------------------------------------------------

namespace {

[[noreturn]] void bad_to_arg(int type, const Cell* spec) {
    Cell datatype{TYPE_DATATYPE, uint32_t(type), 0, 0};
    raise_error(err::script_bad_to_arg, &datatype, spec);
}

// A word of the symbol bound to the global context when it holds it, else
// left unbound there (index -1).
Cell global_or_unbound(int32_t symbol, int type) {
    Cell w = make_cell(type, context::global, symbol, -1);
    context::bind_word(context::global, &w);
    return w;
}

// The one character of a char! as UTF-8.
std::string char_utf8(uint32_t c) {
    uint8_t bytes[4];
    int n = unicode::write_utf8_char(c, bytes);
    return std::string(reinterpret_cast<const char*>(bytes), size_t(n > 0 ? n : 0));
}

int target_type(const Cell* proto, int type) {
    if (is_any_word_type(type)) return type;
    if (type_of(proto) == TYPE_DATATYPE) return int(proto->data1);
    return type_of(proto);
}

// The result goes into the spec's own cell: an argument slot of the call,
// which the handler may overwrite, so the stack does not grow.
Cell* result_in(Cell* spec, const Cell& value) {
    *spec = value;
    return spec;
}

}  // namespace

const Cell* make(Cell* proto, Cell* spec, int type) {
    int target = target_type(proto, type);
    switch (type_of(spec)) {
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: {
        Cell w = *spec;
        set_cell_type(&w, target);
        return result_in(spec, w);
    }
    case TYPE_ISSUE: case TYPE_REFINEMENT: {
        std::string name = symbol::name(symbol_of(spec));
        auto scanned = scan_word_token(name);
        if (!scanned || scanned->type == TYPE_REFINEMENT || scanned->type == TYPE_ISSUE) bad_to_arg(target, spec);
        int32_t symbol = symbol::make(std::string_view(name).substr(scanned->name_start, scanned->name_length));
        return result_in(spec, global_or_unbound(symbol, target));
    }
    case TYPE_STRING: case TYPE_CHAR: {
        std::string text = type_of(spec) == TYPE_CHAR ? char_utf8(spec->data2) : string::to_utf8(spec);
        auto scanned = scan_word_token(text);
        // A refinement's name follows the looser rule of its own token (/a<
        // reads back); the other word types must read back as words.
        if (!scanned && target == TYPE_REFINEMENT && !text.empty() && !std::strchr("/#':", text[0]) && text.back() != ':') {
            text.insert(0, 1, '/');
            scanned = scan_word_token(text);
        }
        if (!scanned) raise_error(err::script_invalid_chars, spec);
        std::string_view name = std::string_view(text).substr(scanned->name_start, scanned->name_length);
        if (target != TYPE_REFINEMENT && (scanned->type == TYPE_REFINEMENT || scanned->type == TYPE_ISSUE)) {
            std::vector<uint32_t> cps;
            if (!decode_utf8(name, cps) || !valid_word_name(cps)) raise_error(err::script_invalid_chars, spec);
        }
        int32_t symbol = symbol::make(name);
        return result_in(spec, global_or_unbound(symbol, target));
    }
    case TYPE_DATATYPE: {
        int id = int(spec->data1);
        if (id < 1 || id > max_type_id || !type_names[id].name) bad_to_arg(target, spec);
        int32_t symbol = type_names[id].word ? int32_t(type_names[id].word) : symbol::make(type_names[id].name);
        return result_in(spec, bound_global(symbol, target));
    }
    case TYPE_LOGIC:
        return result_in(spec, bound_global(symbol::make(spec->data1 ? "true" : "false"), target));
    default:
        bad_to_arg(target, spec);
    }
}

namespace {

void index_q() {
    const Cell* w = stack::arguments;
    int32_t index = index_of(w);
    if (index < 0) {
        none::box();
        return;
    }
    *stack::arguments = Cell{TYPE_INTEGER, 0, uint32_t(index + 1), 0};
}

}  // namespace

namespace {

// A word keeps the context it is bound to.
void mark_cell(const Cell* c) {
    if (c->data1) collector::mark_context_node(c->data1);
}

// Words hash by canonical symbol: words equal but for case hash alike.
uint32_t hash_cell(const Cell* cell, bool) { return hash_pointer(uint32_t(symbol::resolve(int32_t(cell->data2)))); }

}  // namespace

void register_type() {
    Registration(TYPE_WORD, TYPE_SYMBOL, "word!")
        .marker(mark_cell)
        .hasher(hash_cell)
        .on<A_MAKE>(make)
        .on<A_TO>(make)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(compare)
        .on<A_INDEX_Q>(index_q)
        .commit();
}

}  // namespace vyx::word
