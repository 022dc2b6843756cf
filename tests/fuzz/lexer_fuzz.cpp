// Fuzz target for the lexer: every input, in every scan mode, must end in
// values or a syntax error, never in a crash, a hang or a read out of bounds.
// Built and run by scripts/fuzz-lexer (clang, libFuzzer, AddressSanitizer).
#include "boot/init.h"
#include "datatypes/money.h"
#include "runtime/collector.h"
#include "tests/fuzz/lexer_fuzz_body.h"

namespace {
int runs = 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    // A fresh runtime now and then, so the words of earlier inputs do not
    // pile up in the symbol table.
    if (runs++ % 2000 == 0) {
        if (runs > 1) vyx::shutdown_runtime();
        vyx::init_runtime();
        vyx::money::currencies = {"USD", "EUR"};
    }
    vyx::lexer_fuzz::run_once(data, size);
    // What the scans made is garbage now; collecting it checks that the lexer
    // left nothing behind the collector cannot walk.
    vyx::collector::recycle();
    return 0;
}
