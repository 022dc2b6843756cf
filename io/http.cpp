#include "io/http.h"

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/map.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "runtime/stack.h"
#include "io/file_io.h"
#include "runtime/platform/http.h"
#include "runtime/raise.h"
#include "runtime/unicode.h"

namespace vyx::simple_io {

namespace {

// The most bytes a reply body may bring into one series.
constexpr uint64_t MAX_BODY_BYTES = 0x7FFF0000;

std::string method_text(const Cell* method) {
    int32_t canon = symbol::resolve(word::symbol_of(method));
    if (canon == symbol::resolve(sym::get)) return "GET";
    if (canon == symbol::resolve(sym::head)) return "HEAD";
    if (canon == symbol::resolve(sym::post)) return "POST";
    std::string name = symbol::name(word::symbol_of(method));
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return name;
}

// A header name goes out only as a token; a value never holds a line break
// or a NUL (either would end the line and start another header).
bool is_token(std::string_view s) {
    if (s.empty()) return false;
    for (unsigned char c : s)
        if (c <= ' ' || c >= 0x7F || c == ':' || c == ';') return false;
    return true;
}

bool is_field_value(std::string_view s) {
    for (unsigned char c : s)
        if (c == '\r' || c == '\n' || c == 0) return false;
    return true;
}

// The request's header lines from a block of name/value pairs.
void header_lines(const Cell* headers, std::vector<std::string>& out) {
    Cell block = *headers;
    uint32_t n = series::rs_length(&block);
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        Cell name = *blk::at(block.data2, block.data1 + i);
        Cell value = *blk::at(block.data2, block.data1 + i + 1);
        int t = type_of(&name);
        bool word_name = t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD;
        std::string name_text = word_name ? symbol::name(word::symbol_of(&name)) : text_of(&name);
        if (!is_token(name_text)) raise_error(err::script_invalid_arg, &name);
        std::string value_text = text_of(&value);
        if (!is_field_value(value_text)) raise_error(err::script_invalid_arg, &value);
        // "Name;" is libcurl's way to send a header with an empty value.
        out.push_back(value_text.empty() ? name_text + ";" : name_text + ": " + value_text);
    }
}

}  // namespace

const Cell* request_http(const Cell* method, const Cell* url_cell, const Cell* headers, const Cell* data,
                         bool binary, bool lines, bool info) {
    platform::HttpRequest r;
    r.method = method_text(method);
    std::string text = string::to_utf8(url_cell);
    url::encode(reinterpret_cast<const uint8_t*>(text.data()), text.size(), url::CharSet::url, r.url);
    if (headers) {
        header_lines(headers, r.headers);
    } else {
        r.headers = {"Content-Type: application/x-www-form-urlencoded", "Accept-Charset: UTF-8",
                     "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)"};
    }
    std::vector<uint8_t> body;
    if (data && r.method != "GET" && r.method != "HEAD") {
        if (type_of(data) == TYPE_BINARY) {
            Cell b = *data;
            const uint8_t* p = binary::rs_head(&b);
            body.assign(p, p + binary::rs_length(&b));
        } else {
            binary::text_utf8(data, -1, body);
        }
        r.has_body = true;
        r.body = body.data();
        r.body_size = body.size();
    }
    r.max_body = MAX_BODY_BYTES;

    platform::HttpReply reply;
    // Bytes go straight into the new binary!, which the stack holds while
    // libcurl fills it (a collection may move its buffer between calls). An
    // error raised while it grows waits until libcurl has returned.
    Cell* bin = nullptr;
    std::exception_ptr failure;
    if (binary) {
        bin = binary::push(64);
        reply.sink = [&](const uint8_t* p, size_t n, int64_t announced) {
            try {
                if (announced > 0 && uint64_t(announced) <= MAX_BODY_BYTES && binary::rs_length(bin) == 0)
                    binary::make_at(bin, uint32_t(announced));
                binary::rs_append(bin, p, uint32_t(n));
                return true;
            } catch (...) {
                failure = std::current_exception();
                return false;
            }
        };
    }
    platform::HttpStatus st = platform::http_request(r, reply);
    if (failure) std::rethrow_exception(failure);
    if (st == platform::HttpStatus::too_long) raise_error(err::script_too_long);
    if (st != platform::HttpStatus::ok) {
        if (bin) stack::top = bin;
        return &NONE_CELL;
    }
    if (!bin) {
        uint8_t* bytes = reply.body.data();
        size_t n = reply.body.size();
        static uint8_t nothing = 0;
        if (!bytes) bytes = &nothing;
        if (lines) lines_to_block(bytes, n);
        else push_text(bytes, n);
    }
    Cell* result = stack::top - 1;
    if (!info) return result;
    Cell* block = stack::push_slot();
    *block = Cell{TYPE_UNSET, 0, 0, 0};
    blk::make_at(block, 3);
    Cell status{TYPE_INTEGER, 0, uint32_t(int32_t(reply.status)), 0};
    blk::append(block, &status);
    parse_headers(reply.headers.data(), reply.headers.size());
    blk::append(block, stack::top - 1);
    stack::top--;
    blk::append(block, result);
    *result = *block;
    stack::top = result + 1;
    return result;
}

const Cell* parse_headers(const char* text, size_t n) {
    struct Field {
        std::string name;
        std::vector<std::string> values;
    };
    std::vector<Field> fields;
    size_t line = 0;
    while (line < n) {
        size_t end = line;
        while (end < n && text[end] != '\r' && text[end] != '\n') end++;
        std::string_view l(text + line, end - line);
        size_t colon = l.find(':');
        if (colon != std::string_view::npos && colon > 0) {
            size_t v = colon + 1;
            while (v < l.size() && (l[v] == ' ' || l[v] == '\t')) v++;
            std::string name(l.substr(0, colon)), value(l.substr(v));
            Field* f = nullptr;
            for (auto& existing : fields)
                if (symbol::equal_ascii_fold(existing.name, name)) f = &existing;
            if (!f) f = &fields.emplace_back(Field{name, {}});
            f->values.push_back(value);
        }
        line = end;
        if (line < n && text[line] == '\r') line++;
        if (line < n && text[line] == '\n') line++;
    }
    Cell* block = stack::push_slot();
    *block = Cell{TYPE_UNSET, 0, 0, 0};
    blk::make_at(block, uint32_t(2 * fields.size() + 1));
    auto load_text = [](const std::string& s, Cell* into) {
        std::string t = unicode::repair_utf8(reinterpret_cast<const uint8_t*>(s.data()), s.size());
        string::load_in(reinterpret_cast<const uint8_t*>(t.data()), uint32_t(t.size()), 0, into);
    };
    for (auto& f : fields) {
        word::load_in(unicode::repair_utf8(reinterpret_cast<const uint8_t*>(f.name.data()), f.name.size()), block);
        if (f.values.size() == 1) {
            load_text(f.values[0], block);
            continue;
        }
        Cell* values = stack::push_slot();
        *values = Cell{TYPE_UNSET, 0, 0, 0};
        blk::make_at(values, uint32_t(f.values.size()));
        for (auto& v : f.values) load_text(v, values);
        blk::append(block, values);
        stack::top--;
    }
    Cell m = map::make_from_block(block);
    *block = m;
    return block;
}

}  // namespace vyx::simple_io
