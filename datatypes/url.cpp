// url!: a string that names a resource, molded percent-encoded.
#include "datatypes/url.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/simple.h"
#include "datatypes/types.h"
#include "runtime/cells.h"
#include "datatypes/runtime_words.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "io/http.h"
#include "runtime/raise.h"
#include "runtime/unicode.h"

namespace vyx::url {

bool keeps(CharSet set, uint8_t b) {
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9')) return true;
    if (b == '-' || b == '.' || b == '_' || b == '~') return true;
    return set == CharSet::url && b < 0x80 && std::strchr("!#$&'()*+,/:=?@", b) && b != 0;
}

void encode(const uint8_t* bytes, size_t n, CharSet set, std::string& out) {
    static const char HEX[] = "0123456789ABCDEF";
    for (size_t i = 0; i < n; i++) {
        uint8_t b = bytes[i];
        if (keeps(set, b)) {
            out += char(b);
        } else {
            out += '%';
            out += HEX[b >> 4];
            out += HEX[b & 15];
        }
    }
}

namespace {

int hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The byte of a "%" and two hexadecimal digits at p, or -1.
int escape_at(const std::string& s, size_t p) {
    if (p + 2 >= s.size() || s[p] != '%') return -1;
    int h = hex_digit(uint8_t(s[p + 1])), l = hex_digit(uint8_t(s[p + 2]));
    return h < 0 || l < 0 ? -1 : h * 16 + l;
}

}  // namespace

void decode(const Cell* src, Cell* out) {
    std::string s = string::to_utf8(src);
    size_t p = 0;
    while (p < s.size()) {
        int b = escape_at(s, p);
        if (b >= 0) {
            int n = b >= 0xC0 ? unicode::utf8_lead_length(uint8_t(b)) : 0;
            if (n == 0) {
                unicode::append_char(out->data2, uint32_t(b));
                p += 3;
                continue;
            }
            uint8_t seq[4] = {uint8_t(b)};
            bool whole = true;
            for (int k = 1; k < n && whole; k++) {
                int c = escape_at(s, p + 3 * size_t(k));
                if (c < 0) whole = false;
                else seq[k] = uint8_t(c);
            }
            if (whole) {
                uint32_t available = uint32_t(n);
                int32_t cp = unicode::read_utf8_char_checked(seq, available);
                if (cp < 0 || available != uint32_t(n)) {
                    Cell bytes;
                    unicode::make_binary_at(&bytes, seq, uint32_t(n));
                    raise_error(err::access_invalid_utf8, &bytes);
                }
                unicode::append_char(out->data2, uint32_t(cp));
                p += 3 * size_t(n);
                continue;
            }
        }
        // One character of the source as it is.
        int32_t cp;
        const uint8_t* start = reinterpret_cast<const uint8_t*>(s.data()) + p;
        const uint8_t* next = unicode::fast_decode_utf8_char(start, reinterpret_cast<const uint8_t*>(s.data()) + s.size(), cp);
        unicode::append_char(out->data2, cp < 0 ? 0xFFFD : uint32_t(cp));
        p += size_t(next - start);
    }
}

namespace {

Cell* new_result(uint32_t capacity, int type) {
    Cell* slot = stack::push_slot();
    slot->header = TYPE_UNSET;
    string::rs_make_at(slot, capacity);
    set_cell_type(slot, type);
    return slot;
}

// Appends the formed value to the string.
void append_formed(Cell* out, const Cell* value) {
    Cell v = *value;
    block::form_cell(&v, out, NO_LIMIT);
}

const Cell* to(Cell* proto, Cell* spec, int type) {
    int t = type_of(spec);
    if (t != TYPE_BLOCK && t != TYPE_PAREN && t != TYPE_HASH) {
        auto string_to = reinterpret_cast<act::Make>(get_handler(TYPE_STRING, A_TO));
        return string_to(proto, spec, type);
    }
    Cell block = *spec;
    uint32_t n = series::rs_length(&block);
    if (n == 0) {
        Cell dt{TYPE_DATATYPE, uint32_t(type), 0, 0};
        raise_error(err::script_bad_to_arg, &dt, spec);
    }
    Cell* out = new_result(32, type);
    auto item = [&](uint32_t i) {
        return *reinterpret_cast<Cell*>(series::element_at(series::buffer_of(&block), block.data1 + i));
    };
    Cell v = item(0);
    append_formed(out, &v);
    uint32_t i = 1;
    if (i < n) {
        string::concatenate_literal(out, "://", NO_LIMIT);
        v = item(i++);
        append_formed(out, &v);
    }
    if (i < n && type_of(&(v = item(i))) == TYPE_INTEGER) {
        string::concatenate_literal(out, ":", NO_LIMIT);
        append_formed(out, &v);
        i++;
    }
    for (bool first = true; i < n; i++, first = false) {
        v = item(i);
        string::concatenate_literal(out, !first && type_of(&v) == TYPE_ISSUE ? "#" : "/", NO_LIMIT);
        append_formed(out, &v);
    }
    return out;
}

const Cell* make(Cell* proto, Cell* spec, int type) {
    int t = type_of(spec);
    if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH) return to(proto, spec, type);
    return reinterpret_cast<act::Make>(get_handler(TYPE_STRING, A_MAKE))(proto, spec, type);
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, bool) {
    if (value) {
        Cell p = path ? *path : NONE_CELL;
        raise_error(err::script_bad_path_set, &p, element);
    }
    // The parent and the key may be temporaries nothing else keeps: they stay
    // on the stack while the new url is made.
    Cell* base_slot = stack::push(parent);
    Cell* key_slot = stack::push(element);
    Cell base = *base_slot;
    Cell key = *key_slot;
    Cell* out = new_result(series::rs_length(&base) + 16, type_of(&base));
    string::concatenate(out, &base, -1, 0, true, false);
    SeriesBuffer* b = node_buffer(out->data2);
    uint32_t count = (b->tail - b->offset) / b->unit();
    if (count == 0 || string::char_at(b, b->offset / b->unit() + count - 1) != '/')
        string::concatenate_literal(out, "/", NO_LIMIT);
    append_formed(out, &key);
    return out;
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) {
    std::string bytes = string::to_utf8(value), text;
    encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), CharSet::url, text);
    if (part < NO_LIMIT && text.size() > size_t(std::max(part, 0))) text.resize(size_t(std::max(part, 0)));
    return string::concatenate_literal(buffer, text, part);
}

// Whether the url's text begins with "http" (so https too): such urls are
// read and written by one HTTP request.
bool is_http(const Cell* u) {
    Cell v = *u;
    uint32_t n = series::rs_length(&v);
    if (n < 4) return false;
    for (uint32_t i = 0; i < 4; i++)
        if (string::char_at(&v, v.data1 + i) != uint32_t("http"[i])) return false;
    return true;
}

const Cell* http_result(const Cell* result, Cell* u) {
    if (type_of(result) == TYPE_NONE) raise_error(err::access_no_connect, u);
    return result;
}

const Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    // The port schemes come with their own module.
    if (!is_http(source) || part || seek || as) raise_error(err::internal_not_done);
    Cell get = word::make_cell(TYPE_WORD, 0, sym::get, -1);
    return http_result(simple_io::request_http(&get, source, nullptr, nullptr, binary, lines, info), source);
}

// write of an http url: a block is [method headers data] (each part
// optional), any other data is POSTed.
const Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool, Cell*, Cell* seek,
                  Cell* allow, Cell* as) {
    if (!is_http(destination) || seek || allow || as) raise_error(err::internal_not_done);
    Cell method = word::make_cell(TYPE_WORD, 0, sym::post, -1);
    const Cell* headers = nullptr;
    const Cell* body = data;
    Cell header_block, body_cell;
    int t = type_of(data);
    if (t == TYPE_BLOCK) {
        Cell block = *data;
        uint32_t n = series::rs_length(&block);
        auto item = [&](uint32_t i) { return *blk::at(block.data2, block.data1 + i); };
        method = word::make_cell(TYPE_WORD, 0, sym::get, -1);
        body = nullptr;
        if (n > 0) {
            method = item(0);
            if (type_of(&method) != TYPE_WORD) raise_error(err::script_invalid_arg, &method);
        }
        if (n > 1) {
            header_block = item(1);
            if (type_of(&header_block) != TYPE_BLOCK) raise_error(err::script_invalid_arg, &header_block);
            headers = &header_block;
        }
        if (n > 2) {
            body_cell = item(2);
            int bt = type_of(&body_cell);
            if (bt != TYPE_STRING && bt != TYPE_BINARY && bt != TYPE_NONE) raise_error(err::script_invalid_arg, &body_cell);
            if (bt != TYPE_NONE) body = &body_cell;
        }
    } else if (t != TYPE_STRING && t != TYPE_BINARY) {
        raise_error(err::script_invalid_arg, data);
    }
    return http_result(simple_io::request_http(&method, destination, headers, body, binary, lines, info), destination);
}

}  // namespace

void register_type() {
    Registration r(TYPE_URL, TYPE_STRING, "url!");
    for (int a = 1; a <= ACTION_COUNT; a++) r.inherit(a);
    r.on<A_MAKE>(make)
        .on<A_TO>(to)
        .on<A_MOLD>(mold)
        .on<A_EVAL_PATH>(eval_path)
        .on<A_READ>(read)
        .on<A_WRITE>(write)
        .commit();
}

}  // namespace vyx::url
