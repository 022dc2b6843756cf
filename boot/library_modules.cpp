#include "boot/library_modules.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "boot/boot_routines.h"
#include "boot/startup_split.h"
#include "datatypes/error.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/protect.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "runtime/collector.h"
#include "runtime/console_output.h"

namespace vyx::library {

namespace {

// Loads the text, steps over its `Vyx [...]` header, marks every series of
// it as library code and evaluates it. An error stops the start: its report
// is printed and the process ends with status 254.
void define_module(const char* name, std::string_view text) {
    stack::reset();
    protect::Guard guard;
    bool ok = guard.run([&] {
        Cell* code = stack::push_slot();
        *code = Cell{TYPE_UNSET, 0, 0, 0};
        lexer::load_block(code, text);
        startup_split::lap(startup_split::DECODE);
        SeriesBuffer* b = node_buffer(code->data2);
        if (b->length() >= 2 && type_of(b->cell_head()) == TYPE_WORD &&
            symbol::resolve(int32_t(b->cell_head()->data2)) == symbol::resolve(symbol::make("Vyx")) &&
            type_of(b->cell_head() + 1) == TYPE_BLOCK)
            code->data1 = 2;
        trace::mark_library(code);
        interp::eval_whole_block(code, false);
        startup_split::lap(startup_split::MODULES);
    });
    if (!ok) {
        std::string report = error::report(guard.error());
        flush_output();
        std::fprintf(stdout, "%s\n*** In library module: %s\n", report.c_str(), name);
        std::fflush(stdout);
        std::exit(254);
    }
    stack::reset();
}

}  // namespace

void define_modules() {
    for (unsigned i = 0; i < module_count; i++) define_module(modules[i].name, modules[i].text);
    if (const char* fixture = std::getenv("VYX_LIBRARY_FIXTURE")) {
        std::ifstream in(fixture, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read library fixture %s\n", fixture);
            std::exit(254);
        }
        std::stringstream text;
        text << in.rdbuf();
        define_module(fixture, text.str());
    }
    boot_routines::unset_boot_words();
}

}  // namespace vyx::library
