#include "boot/library_modules.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "boot/boot_routines.h"
#include "boot/startup_split.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/protect.h"
#include "runtime/stack.h"
#include "evaluator/trace.h"
#include "io/vyxbin.h"
#include "runtime/collector.h"
#include "runtime/console_output.h"

// The boot data the build embeds (tools/boot_data.cpp).
extern "C" {
extern const uint8_t vyx_boot_data[];
extern const uint8_t vyx_boot_data_end[];
}

namespace vyx::library {

namespace {

[[noreturn]] void boot_failure(const std::string& message) {
    flush_output();
    std::fprintf(stdout, "%s\n", message.c_str());
    std::fflush(stdout);
    std::exit(1);
}

// Marks the code as library code and evaluates it. An error stops the start:
// its report is printed and the process ends with status 254.
void define_module(const std::string& name, const Cell* block) {
    stack::reset();
    protect::Guard guard;
    bool ok = guard.run([&] {
        Cell* code = stack::push_slot();
        *code = *block;
        trace::mark_library(code);
        interp::eval_whole_block(code, false);
        startup_split::lap(startup_split::MODULES);
    });
    if (!ok) {
        std::string report = error::report(guard.error());
        flush_output();
        std::fprintf(stdout, "%s\n*** In library module: %s\n", report.c_str(), name.c_str());
        std::fflush(stdout);
        std::exit(254);
    }
    stack::reset();
}

// A fixture file: lexed here, its `Vyx [...]` header stepped over.
void define_fixture(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read library fixture %s\n", path);
        std::exit(254);
    }
    std::stringstream text;
    text << in.rdbuf();
    collector::Rooted<1> code;
    lexer::load_block(&code[0], text.str());
    SeriesBuffer* b = node_buffer(code[0].data2);
    if (b->length() >= 2 && type_of(b->cell_head()) == TYPE_WORD &&
        symbol::resolve(int32_t(b->cell_head()->data2)) == symbol::resolve(symbol::make("Vyx")) &&
        type_of(b->cell_head() + 1) == TYPE_BLOCK)
        code[0].data1 = 2;
    define_module(path, &code[0]);
}

}  // namespace

const Cell* boot_literal(unsigned n) { return blk::at(root_block.data2, vyxbin::literal_base + n); }

void define_modules() {
    std::vector<uint8_t> file;
    const uint8_t* data = vyx_boot_data;
    size_t length = size_t(vyx_boot_data_end - vyx_boot_data);
    if (const char* path = std::getenv("VYX_BOOT_DATA")) {
        std::ifstream in(path, std::ios::binary);
        if (!in) boot_failure(std::string("Error: cannot read the boot data ") + path);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        file.push_back(0);  // never empty: the data is its bytes before this one
        data = file.data();
        length = file.size() - 1;
    }
    // Malformed boot data ends the process with its report and status 1.
    {
        protect::Guard guard;
        if (!guard.run([&] { vyxbin::load_boot(data, length, false); }))
            boot_failure(error::report(guard.error()));
    }
    startup_split::lap(startup_split::DECODE);
    // From here on the words made are not kept in the root block.
    word::collecting = false;
    const Cell* manifest = boot_literal(0);
    if (type_of(manifest) != TYPE_BLOCK) boot_failure("Error: the boot data holds no manifest");
    uint32_t count = blk::length(manifest);
    for (uint32_t i = 0; i < count; i++) {
        std::string name = string::to_utf8(blk::at(boot_literal(0)->data2, i));
        Cell module = *boot_literal(1 + i);
        if (type_of(&module) != TYPE_BLOCK) boot_failure("Error: the boot data lacks the module " + name);
        define_module(name, &module);
    }
    if (const char* fixture = std::getenv("VYX_LIBRARY_FIXTURE")) define_fixture(fixture);
    boot_routines::unset_boot_words();
}

}  // namespace vyx::library
