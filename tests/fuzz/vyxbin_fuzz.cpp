// Fuzz target for the VYXBIN reader: any bytes, decoded through the codec,
// must end in values or in one of the reader's errors (vb-invalid-record,
// invalid-data, no-codec, too-deep), never in a crash, a hang, a read out of
// bounds or an allocation the data could not describe. What decodes is molded
// and collected, so values the reader made must be whole.
// Built and run by scripts/fuzz-vyxbin (clang, libFuzzer, AddressSanitizer).
#include <cstdlib>

#include "boot/init.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "evaluator/helpers.h"
#include "runtime/stack.h"
#include "io/vyxbin.h"
#include "runtime/collector.h"
#include "runtime/raise.h"

namespace {

int runs = 0;

bool allowed(vyx::err::Id id) {
    using namespace vyx::err;
    for (Id ok : {script_vb_invalid_record, script_invalid_data, access_no_codec, internal_too_deep})
        if (id.category == ok.category && id.entry == ok.entry) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vyx;
    if (size > 65536) return 0;
    if (runs++ % 2000 == 0) {
        if (runs > 1) shutdown_runtime();
        init_runtime();
    }
    stack::reset();
    collector::Rooted<2> r;
    blk::make_at(&r[0], 1);
    try {
        vyxbin::decode(data, size, &r[0], true);
    } catch (const VyxError& e) {
        if (!allowed(e.id)) std::abort();
    }
    try {
        string::make_at(&r[1], 64);
        block::mold(&r[0], &r[1], false, true, false, 1 << 20, 0);
    } catch (const VyxError&) {
        // Molding may refuse what it cannot show (a cycle too deep ...).
    }
    collector::recycle();
    return 0;
}
