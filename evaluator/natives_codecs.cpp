// The natives over the codecs and the text: checksum, compress, decompress,
// uppercase and lowercase, and the new-line markers of lists.
#include <cstdio>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "evaluator/native_table.h"
#include "runtime/stack.h"
#include "io/checksum.h"
#include "io/deflate.h"
#include "io/file_io.h"
#include "runtime/case_map.h"
#include "runtime/raise.h"

namespace vyx::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

// The bytes a data argument stands for: a binary's own bytes from its index
// (`owned` stays empty; re-read them through the cell after an allocation),
// or the UTF-8 form of a string-like value in `owned`.
struct DataBytes {
    std::vector<uint8_t> owned;
    const Cell* binary = nullptr;
    const uint8_t* data() { return binary ? binary::rs_head(const_cast<Cell*>(binary)) : owned.data(); }
    uint32_t size() const { return binary ? binary::rs_length(binary) : uint32_t(owned.size()); }
};

void data_bytes(const Cell* value, DataBytes& out) {
    if (type_of(value) == TYPE_BINARY)
        out.binary = value;
    else
        binary::text_utf8(value, -1, out.owned);
}

// The method a word argument names (looked up by `lookup`); anything else
// raises script/invalid-arg.
int method_arg(const Cell* word, int (*lookup)(int32_t)) {
    int t = type_of(word);
    int m = t == TYPE_WORD || t == TYPE_LIT_WORD ? lookup(word::symbol_of(word)) : -1;
    if (m < 0) raise_error(err::script_invalid_arg, word);
    return m;
}

// The result binary with its tail at `size` bytes.
void set_binary_tail(Cell* bin, int32_t size) {
    SeriesBuffer* b = node_buffer(bin->data2);
    b->tail = b->offset + uint32_t(size);
}

}  // namespace

// checksum -----------------------------------------------------------------------------

VYX_NATIVE(checksum_, 87, "checksum",
           R"~("checksum, CRC, digest, HMAC or hash of data" data [binary! string! file!] method [word!] /with spec [any-string! binary! integer!] return: [integer! binary!])~");
void checksum_(int check, const int* refs) {
    if (check) native_checksum_.check(refs);
    const int with = refs[native_checksum_.refinement("with")];
    Cell* data = arg(0);
    Cell* method_word = arg(1);
    int t = type_of(data);
    if (t != TYPE_BINARY && t != TYPE_STRING && t != TYPE_FILE) raise_error(err::script_invalid_arg, data);
    int method = method_arg(method_word, checksum::method_of);
    Cell with_word = series::named_word("with");
    Cell* spec = with >= 0 ? arg(with) : nullptr;
    int id = checksum::method_id(method);
    bool plain = method == checksum::M_CRC32 || method == checksum::M_TCP || method == checksum::M_ADLER32;

    // Every refusal comes before the data is read.
    if (!spec) {
        if (method == checksum::M_HASH) raise_error(err::script_invalid_refine_arg, &with_word, method_word);
    } else {
        int st = type_of(spec);
        if (plain) raise_error(err::script_invalid_refine_arg, &with_word, spec);
        if (st == TYPE_INTEGER) {
            // A hash table's size: only the hash method takes one, and it is not built.
            if (method != checksum::M_HASH) raise_error(err::script_invalid_refine_arg, &with_word, spec);
            raise_error(err::internal_not_done);
        }
        if (st != TYPE_BINARY && !is_any_string(st)) raise_error(err::script_invalid_arg, spec);
        if (method == checksum::M_HASH) raise_error(err::script_invalid_refine_arg, &with_word, spec);
    }

    DataBytes bytes;
    if (t == TYPE_FILE)
        simple_io::read_bytes(data, bytes.owned);
    else
        data_bytes(data, bytes);

    if (plain) {
        uint32_t v = method == checksum::M_CRC32   ? checksum::crc32(bytes.data(), bytes.size())
                     : method == checksum::M_TCP   ? checksum::tcp_checksum(bytes.data(), bytes.size())
                                                   : checksum::adler32(bytes.data(), bytes.size());
        integer::box(int32_t(v));
        stack::keep_result_only();
        return;
    }
    uint8_t out[checksum::MAX_DIGEST];
    bool ok;
    if (spec) {
        DataBytes key;
        data_bytes(spec, key);
        ok = checksum::hmac(id, bytes.data(), bytes.size(), key.data(), key.size(), out);
    } else {
        ok = checksum::digest(id, bytes.data(), bytes.size(), out);
    }
    if (!ok) raise_error(err::internal_feature_na);
    Cell result;
    binary::make_from(&result, out, checksum::hash_size(id));
    stack::store_result_only(&result);
}

// compress and decompress --------------------------------------------------------------

VYX_NATIVE(compress_, 103, "compress",
           R"~("compresses data (zlib, deflate, gzip)" data [any-string! binary!] method [word!] return: [binary!])~");
void compress_(int check, const int* refs) {
    if (check) native_compress_.check(refs);
    Cell* method_word = arg(1);
    int method = method_arg(method_word, deflate::method_of);
    DataBytes in;
    data_bytes(arg(0), in);
    uint64_t guess = uint64_t(in.size()) + in.size() / 2048 + 32;
    if (guess > uint64_t(INT32_MAX)) raise_error(err::script_too_long);
    int32_t size = int32_t(guess);
    Cell* result = stack::push_slot();
    int32_t status = deflate::TOO_SMALL;
    for (int attempt = 0; attempt < 2 && status == deflate::TOO_SMALL; attempt++) {
        binary::make_at(result, uint32_t(size));
        // Both buffers are read after the allocation, which may have moved them.
        status = deflate::compress(method, binary::rs_head(result), &size, in.data(), in.size());
    }
    if (status != deflate::OK) raise_error(err::script_invalid_data, method_word);
    set_binary_tail(result, size);
    stack::store_result_only(result);
}

VYX_NATIVE(decompress_, 104, "decompress",
           R"~("decompresses data (zlib, deflate, gzip)" data [binary!] method [word!] /size sz [integer!] return: [binary!])~");
void decompress_(int check, const int* refs) {
    if (check) native_decompress_.check(refs);
    const int size_ref = refs[native_decompress_.refinement("size")];
    Cell* data = arg(0);
    Cell* method_word = arg(1);
    int method = method_arg(method_word, deflate::method_of);
    if (type_of(data) != TYPE_BINARY) raise_error(err::script_invalid_arg, data);
    uint32_t n = binary::rs_length(data);
    int32_t size = 0;
    int32_t status = deflate::TOO_SMALL;
    // A stated size is taken as it is only when the data could expand to it;
    // otherwise, and for gzip (whose trailer states it), the result is measured.
    if (size_ref >= 0 && method != deflate::GZIP) {
        int64_t sz = int32_t(arg(size_ref)->data2);
        if (sz > int64_t(n) && uint64_t(sz) <= deflate::max_expansion(n)) size = int32_t(sz);
    }
    if (size == 0) status = deflate::decompress(method, nullptr, &size, binary::rs_head(data), n);
    Cell* result = stack::push_slot();
    *result = NONE_CELL;
    if (status == deflate::OK) binary::make_at(result, 0);  // measured, and empty
    for (int attempt = 0; attempt < 2 && status == deflate::TOO_SMALL; attempt++) {
        binary::make_at(result, uint32_t(size));
        status = deflate::decompress(method, binary::rs_head(result), &size, binary::rs_head(data), n);
    }
    if (status != deflate::OK) raise_error(err::script_invalid_data, method_word);
    set_binary_tail(result, size);
    stack::store_result_only(result);
}

// uppercase and lowercase --------------------------------------------------------------

namespace {

template <const native_table::Declaration& N>
void change_case_native(int direction, int check, const int* refs) {
    if (check) N.check(refs);
    Cell value = *arg(0);
    const Cell* part = nullptr;
    Cell count;
    if (int at = refs[N.refinement("part")]; at >= 0) {
        part = arg(at);
        if (type_of(part) == TYPE_FLOAT) {
            integer::make_at(&count, helpers::check_float_to_integer(part));
            part = &count;
        }
    }
    change_case(&value, direction, part);
    stack::store_result_only(&value);
}

}  // namespace

VYX_NATIVE(uppercase_, 71, "uppercase",
           R"~("converts a string or char to upper case" string [any-string! char!] /part limit [number! any-string!] return: [any-string! char!])~");
void uppercase_(int check, const int* refs) { change_case_native<native_uppercase_>(CASE_UPPER, check, refs); }
VYX_NATIVE(lowercase_, 72, "lowercase",
           R"~("converts a string or char to lower case" string [any-string! char!] /part limit [number! any-string!] return: [any-string! char!])~");
void lowercase_(int check, const int* refs) { change_case_native<native_lowercase_>(CASE_LOWER, check, refs); }

// new-line and new-line? ---------------------------------------------------------------

VYX_NATIVE(new_line_, 89, "new-line",
           R"~("sets or clears new-line markers of a list" position [any-list!] value [logic!] /all /skip size [integer!] return: [any-list!])~");
void new_line_(int check, const int* refs) {
    if (check) native_new_line_.check(refs);
    const int all = refs[native_new_line_.refinement("all")], skip = refs[native_new_line_.refinement("skip")];
    Cell position = *arg(0);
    bool mark = logic::truth(arg(1));
    Node node = position.data2;
    uint32_t n = blk::size(node);
    uint32_t period = 0;
    if (skip >= 0) {
        int32_t size = integer::get(arg(skip));
        if (size <= 0) raise_error(err::script_out_of_range, arg(skip));
        period = uint32_t(size);
    } else if (all >= 0) {
        period = 1;
    }
    auto set = [](Cell* c, bool on) {
        if (on)
            c->header |= FLAG_NEW_LINE;
        else
            clear_new_line_flag(c);
    };
    if (period == 0) {
        if (position.data1 < n) set(blk::at(node, position.data1), mark);
    } else {
        for (uint32_t i = position.data1, k = 0; i < n; i++, k++) {
            bool on_period = period == 1 || k % period == 0;
            set(blk::at(node, i), on_period == mark);
        }
    }
    stack::store_result_only(&position);
}

VYX_NATIVE(new_line_q, 90, "new-line?",
           R"~("reads the new-line marker of a list position" position [any-list!] return: [logic!])~");
void new_line_q(int check, const int* refs) {
    if (check) native_new_line_q.check(refs);
    Cell* position = arg(0);
    bool marked = position->data1 < blk::size(position->data2) &&
                  (blk::at(position->data2, position->data1)->header & FLAG_NEW_LINE);
    logic::box(marked);
    stack::keep_result_only();
}

}  // namespace vyx::natives
