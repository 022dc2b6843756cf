// VYXBIN container: the header, packed payloads, reference paths, the entry
// points of the codec and the boot load.
#include "io/vyxbin.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/money.h"
#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/helpers.h"
#include "evaluator/native_table.h"
#include "runtime/stack.h"
#include "io/file_io.h"
#include "io/http.h"
#include "io/lz_block.h"
#include "io/vyxbin_internal.h"
#include "runtime/collector.h"
#include "runtime/raise.h"

namespace vyx::vyxbin {

bool codec = true;
uint32_t literal_base = 0;

uint32_t place(Out out, const Cell& cell) {
    SeriesBuffer* b = node_buffer(out.series);
    if (out.slot >= 0) {
        b->cell_head()[out.slot] = cell;
        return uint32_t(out.slot);
    }
    if (b->tail + sizeof(Cell) > b->size) {
        collector::Rooted<1> keep;
        keep[0] = cell;
        b = grow_series(b, 0);
        uint32_t at = b->length();
        *append_cell_to_buffer(b) = keep[0];
        return at;
    }
    uint32_t at = b->length();
    *append_cell_to_buffer(b) = cell;
    return at;
}

void DecodeState::invalid(const uint8_t* at) const {
    Cell position{TYPE_INTEGER, 0, uint32_t(at - base + 1), 0};
    raise_error(err::script_vb_invalid_record, &position);
}

void DecodeState::enter(const uint8_t* at) {
    if (++depth > DEPTH_LIMIT) raise_error(err::internal_too_deep);
}

namespace {

inline bool is_block_like(int t) { return is_any_block(t) || t == TYPE_MAP; }

// The cell at position i of a cell series, or nothing.
bool cell_at(Node series, uint32_t i, Cell& out) {
    SeriesBuffer* b = node_buffer(series);
    if (i >= b->length()) return false;
    out = b->cell_head()[i];
    return true;
}

bool context_value(Node ctx, int64_t i, Cell& out) {
    if (context::on_stack(ctx) || i < 0) return false;
    return cell_at(values_of(ctx), uint32_t(i), out);
}

}  // namespace

Cell DecodeState::resolve(const uint32_t* p, uint32_t n, const uint8_t* at) const {
    Cell cur = *target;
    cur.header = TYPE_BLOCK;
    for (uint32_t k = 0; k < n; k++) {
        uint32_t i = p[k];
        if (k == 0) {
            if (uint64_t(i) + first > 0xFFFFFFFFu) invalid(at);
            i += first;
            if (!cell_at(cur.data2, i, cur)) invalid(at);
            continue;
        }
        int t = type_of(&cur);
        Cell next;
        bool ok = false;
        bool function_step = false;
        if (is_block_like(t)) {
            ok = cell_at(cur.data2, i, next);
        } else if (t == TYPE_OBJECT) {
            ok = context_value(cur.data1, i, next);
        } else if (t == TYPE_ERROR) {
            ok = context_value(cur.data1, int64_t(int32_t(i)) + 3, next);
        } else if (is_any_word(t) && t != TYPE_ISSUE) {
            Node ctx = cur.data1;
            if (!ctx) invalid(at);
            if (context::on_stack(ctx)) {
                cur = *context::owner_of(ctx);
                if (type_of(&cur) != TYPE_FUNCTION) invalid(at);
                function_step = true;
            } else {
                ok = context_value(ctx, i, next);
            }
        } else if (t == TYPE_NATIVE || t == TYPE_ACTION) {
            ok = cell_at(cur.data2, i, next);
        } else if (t == TYPE_FUNCTION || t == TYPE_OP) {
            function_step = true;
        }
        if (function_step) {
            t = type_of(&cur);
            bool from_function = t == TYPE_FUNCTION || (t == TYPE_OP && op::source_type(&cur) == TYPE_FUNCTION);
            if (i == 0) {
                if (k + 1 == n) {
                    next = Cell{TYPE_BLOCK, 0, cur.data2, 0};
                    ok = true;
                } else {
                    ok = cell_at(cur.data2, p[++k], next);
                }
            } else if (i == 1 && from_function) {
                next = function::more(&cur)[function::MORE_BODY];
                ok = type_of(&next) == TYPE_BLOCK;
            }
        }
        if (!ok) invalid(at);
        cur = next;
    }
    return cur;
}

Node make_context(const std::vector<int32_t>& symbols, uint32_t kind, bool stack_values, bool self) {
    uint32_t n = uint32_t(symbols.size());
    Node ctx = context::create(n, stack_values, self, 0, kind);
    collector::Rooted<1> keep;
    keep[0] = Cell{TYPE_CONTEXT_REF, ctx, 0, 0};
    for (int32_t s : symbols) context::add(ctx, s);
    return context::word_count(ctx) == n ? ctx : 0;
}

int32_t intern_name(const uint8_t* name, uint32_t length) {
    if (length == 0) return 0;
    // Well-formed UTF-8 only (no overlong forms, surrogates or code points
    // beyond 0x10FFFF).
    for (uint32_t i = 0; i < length;) {
        uint8_t c = name[i];
        if (c < 0x80) {
            if (c == 0) return 0;
            i++;
            continue;
        }
        uint32_t extra = c >= 0xC2 && c < 0xE0 ? 1 : c >= 0xE0 && c < 0xF0 ? 2 : c >= 0xF0 && c < 0xF5 ? 3 : 0;
        if (extra == 0 || i + extra >= length) return 0;
        uint32_t cp = c & (0x3F >> extra);
        for (uint32_t k = 1; k <= extra; k++) {
            uint8_t d = name[i + k];
            if ((d & 0xC0) != 0x80) return 0;
            cp = cp << 6 | (d & 0x3F);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000))) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return 0;
        i += extra + 1;
    }
    return symbol::make(std::string_view(reinterpret_cast<const char*>(name), length));
}

bool valid_money(const uint8_t bytes[12]) {
    if (bytes[0] && !money::currency_symbol(bytes[0])) return false;
    for (int i = 1; i < 12; i++)
        if ((bytes[i] >> 4) > 9 || (bytes[i] & 15) > 9) return false;
    return true;
}

bool valid_date(uint32_t packed, uint32_t lo, uint32_t hi, bool has_time) {
    int32_t month = date::month_of(packed), day = date::day_of(packed);
    if (month < 1 || month > 12 || day < 1) return false;
    if (((packed >> 2) & 15) > 15) return false;
    if (!has_time) return true;
    uint64_t bits = uint64_t(hi) << 32 | lo;
    double t;
    std::memcpy(&t, &bits, 8);
    return std::isfinite(t);
}

Node binding_context(const Cell* holder) {
    int t = type_of(holder);
    Node ctx = 0;
    if (t == TYPE_OBJECT || t == TYPE_FUNCTION) ctx = holder->data1;
    else if (t == TYPE_OP && op::source_type(holder) == TYPE_FUNCTION) ctx = holder->data1;
    else if (is_any_word(t) && t != TYPE_ISSUE) ctx = holder->data1;
    if (!ctx || ctx == context::global) return 0;
    int owner = type_of(context::owner_of(ctx));
    return owner == TYPE_OBJECT || owner == TYPE_FUNCTION ? ctx : 0;
}

bool bind_to(Cell* word, Node ctx, int32_t index) {
    uint32_t n = context::word_count(ctx);
    if (index == -1) index = context::find_word(ctx, word::symbol_of(word), true);
    if (index < 0 || uint32_t(index) >= n) return false;
    word->data1 = ctx;
    word->data3 = uint32_t(index);
    return true;
}

bool make_native_value(int type, uint32_t number, Cell* target) {
    if (type == TYPE_NATIVE) {
        if (number < 1 || number > native_table::COUNT) return false;
        native_table::make_native(number, target);
        return true;
    }
    if (number < 1 || number > ACTION_COUNT || !actions::spec_text(int(number))) return false;
    collector::Rooted<1> spec;
    helpers::spec_from_text(actions::spec_text(int(number)), &spec[0]);
    native::make_at(target, &spec[0], number, TYPE_ACTION);
    return true;
}

namespace {

[[noreturn]] void boot_failure(const char* line) {
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    std::exit(1);
}

const uint8_t MAGIC[6] = {'V', 'Y', 'X', 'B', 'I', 'N'};

}  // namespace

uint32_t decode(const uint8_t* data, size_t length, Cell* target, bool codec_mode) {
    if (length < 6 || std::memcmp(data, MAGIC, 6) != 0 || length < HEADER_BYTES) {
        if (!codec_mode) boot_failure("Error: Not a Vyxbin file!");
        raise_error(err::script_invalid_data, stack::arguments);
    }
    uint8_t flags = data[7];
    DecodeState s{data, target, blk::size(target->data2), codec_mode, 0, {}};
    const uint8_t* p = data + HEADER_BYTES;
    const uint8_t* end = data + length;
    std::vector<uint8_t> unpacked;
    if (flags & FLAG_PACKED) {
        if (!lz::decompress(p, length - HEADER_BYTES, unpacked)) {
            if (!codec_mode) boot_failure("Error: Vyxbin compressed data corrupted!");
            raise_error(err::script_invalid_data, stack::arguments);
        }
        p = unpacked.data();
        end = p + unpacked.size();
        // Positions count as if the payload were stored unpacked.
        s.base = p - HEADER_BYTES;
    }
    if (flags & FLAG_COMPACT) decode_compact(s, p, end, flags & FLAG_SYMBOLS);
    else decode_fixed(s, p, end, flags & FLAG_SYMBOLS);
    return s.first;
}

void load_boot(const uint8_t* data, size_t length, bool keep_base) {
    codec = false;
    collector::Pause pause;
    // Words the decoding makes (the spec of a native read back, say) are not
    // kept in the root block as start-up words are: the loaded roots are
    // counted there, and nothing may come between them.
    bool collecting = word::collecting;
    word::collecting = false;
    struct Restore {
        bool value;
        ~Restore() { word::collecting = value; }
    } restore{collecting};
    uint32_t saved = literal_base;
    uint32_t first = decode(data, length, &root_block, false);
    literal_base = keep_base ? saved : first;
    codec = true;
}

void encode_value(const Cell* value, bool compact) {
    collector::Rooted<1> v;
    v[0] = *value;
    Cell result;
    encode(&v[0], compact, &result);
    *stack::arguments = result;
}

void decode_value(const Cell* payload) {
    int t = type_of(payload);
    // The reader works on a copy: the binary's buffer may move while values
    // are made. A file! is read whole first, a url! fetched.
    std::vector<uint8_t> bytes;
    if (t == TYPE_FILE) {
        simple_io::read_bytes(payload, bytes);
    } else if (t == TYPE_URL) {
        Cell get = word::make_cell(TYPE_WORD, 0, sym::get, -1);
        Cell* top = stack::top;
        Cell reply = *simple_io::request_http(&get, payload, nullptr, nullptr, true, false, false);
        stack::top = top;
        if (type_of(&reply) != TYPE_BINARY) raise_error(err::access_no_connect, payload);
        bytes.assign(binary::rs_head(&reply), binary::rs_head(&reply) + binary::rs_length(&reply));
    } else if (t == TYPE_BINARY) {
        Cell bin = *payload;
        bytes.assign(binary::rs_head(&bin), binary::rs_head(&bin) + binary::rs_length(&bin));
    }
    if ((t != TYPE_FILE && t != TYPE_URL && t != TYPE_BINARY) || bytes.size() <= 10) raise_error(err::script_invalid_data, payload);
    collector::Rooted<1> roots;
    blk::make_at(&roots[0], 1);
    codec = true;
    decode(bytes.data(), bytes.size(), &roots[0], true);
    if (blk::size(roots[0].data2) == 1) *stack::arguments = *blk::at(roots[0].data2, 0);
    else *stack::arguments = roots[0];
}

}  // namespace vyx::vyxbin
