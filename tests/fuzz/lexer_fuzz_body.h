// One fuzzing round of the lexer, shared by the libFuzzer target and the
// unit test that replays the inputs kept in tests/data/lexer-crashes/.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "datatypes/string.h"
#include "evaluator/lexer.h"
#include "runtime/memory.h"
#include "runtime/raise.h"

namespace vyx::lexer_fuzz {

// Answers by the bits of the input's last byte, and scans again from inside
// the callback now and then, as a console or a load/trap would.
struct Steering {
    uint8_t bits;
    int calls = 0;
};

inline bool steer(void* context, lexer::TraceCall& call) {
    auto* s = static_cast<Steering*>(context);
    int n = s->calls++;
    if (n > 200) return false;
    if (n % 7 == 3) {
        Cell inner{};
        try {
            lexer::load_block(&inner, "[nested 1 \"scan\"]");
        } catch (VyxError&) {
        }
    }
    if ((s->bits & 0x80) && n % 5 == 1) call.input->data1 += (s->bits & 7);
    return ((s->bits >> (n % 6)) & 1) != 0;
}

inline void scan_with(const uint8_t* data, uint32_t size, bool one, bool full, bool load, bool keep) {
    Cell result{};
    uint32_t consumed = 0;
    try {
        lexer::scan_utf8_source(&result, data, size, one, full, load, keep, &consumed, nullptr, nullptr, nullptr);
    } catch (VyxError&) {
    }
    if (consumed > size) __builtin_trap();
}

// Scans the input in every mode, plainly and traced; the runtime must be up.
inline void run_once(const uint8_t* data, size_t size) {
    // A copy of exactly the input's size, so any read past the end is caught.
    std::vector<uint8_t> copy(data, data + size);
    const uint8_t* bytes = copy.empty() ? nullptr : copy.data();
    uint32_t n = uint32_t(size);
    scan_with(bytes, n, false, true, true, false);
    scan_with(bytes, n, true, true, true, true);
    scan_with(bytes, n, true, true, false, false);
    scan_with(bytes, n, false, false, true, false);

    // Traced, through a string! value as transcode passes it.
    Cell input{};
    string::make_at(&input, n + 1, 1);
    SeriesBuffer* b = node_buffer(input.data2);
    if (n) std::memcpy(b->data(), bytes, n);
    b->tail = n;
    // Raw bytes through a binary! too: the string! form re-encodes them.
    if (size && (data[size - 1] & 0x40)) set_cell_type(&input, TYPE_BINARY);
    Steering steering{size ? data[size - 1] : uint8_t(0)};
    lexer::Tracer tracer{steer, &steering, lexer::EV_ALL};
    Cell result{};
    uint32_t consumed = 0;
    try {
        lexer::scan_string_value(&result, &input, -1, false, true, true, false, &consumed, &tracer, nullptr);
    } catch (VyxError&) {
    }
}

}  // namespace vyx::lexer_fuzz
