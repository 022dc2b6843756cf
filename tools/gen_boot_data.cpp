// The boot data generator: runs the runtime without the library and writes
// the library's boot data, a compact VYXBIN blob that `vyx` embeds.
//
// Set-pairs first define the words of the datatypes;
// then come the literals: the manifest (the modules' names in the order the
// boot defines them), one block per module (lexed, its header dropped, new
// lines kept, words global), the version string and the build values. The
// output depends on nothing but these sources: two runs write the same bytes.
//
// usage: gen_boot_data LIBRARY_DIR OUTPUT
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "boot/init.h"
#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "evaluator/lexer.h"
#include "runtime/stack.h"
#include "io/vyxbin.h"
#include "runtime/collector.h"

using namespace vyx;

// This program makes the boot data; it runs without any.
extern "C" {
extern const uint8_t vyx_boot_data[] = {0};
extern const uint8_t vyx_boot_data_end[] = {0};
}

namespace {

constexpr const char* VERSION = "0.1.0";

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "gen_boot_data: cannot read %s\n", path.c_str());
        std::exit(1);
    }
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The module names of the manifest, in order ("#" starts a comment line).
std::vector<std::string> manifest(const std::string& dir) {
    std::vector<std::string> names;
    std::istringstream lines(read_file(dir + "/manifest.txt"));
    for (std::string line; std::getline(lines, line);) {
        size_t a = line.find_first_not_of(" \t\r"), b = line.find_last_not_of(" \t\r");
        if (a == std::string::npos || line[a] == '#') continue;
        names.push_back(line.substr(a, b - a + 1));
    }
    return names;
}

// The module's code: its cells after the `Vyx [...]` header.
void module_block(const std::string& name, const std::string& text, Cell* out) {
    collector::Rooted<1> code;
    lexer::load_block(&code[0], text);
    Node n = code[0].data2;
    uint32_t size = blk::size(n), from = 0;
    if (size >= 2 && type_of(blk::at(n, 0)) == TYPE_WORD &&
        symbol::resolve(word::symbol_of(blk::at(n, 0))) == symbol::resolve(symbol::make("Vyx")) &&
        type_of(blk::at(n, 1)) == TYPE_BLOCK)
        from = 2;
    else {
        std::fprintf(stderr, "gen_boot_data: %s has no Vyx header\n", name.c_str());
        std::exit(1);
    }
    blk::make_at(out, size - from);
    for (uint32_t i = from; i < size; i++) {
        Cell c = *blk::at(code[0].data2, i);
        blk::append(out, &c);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: gen_boot_data LIBRARY_DIR OUTPUT\n");
        return 2;
    }
    std::string dir = argv[1];
    init_core();
    collector::Pause no_collection;
    std::vector<uint8_t> bytes;
    {
        vyxbin::BootWriter boot;
        // The words of the datatypes, actions and natives, in the global
        // context's order.
        for (uint32_t i = 0; i < context::word_count(context::global); i++) {
            Cell w = *context::key_word(context::global, i);
            const Cell* v = context::get_value_ptr(word::symbol_of(&w), context::global);
            if (!v) continue;
            int t = type_of(v);
            if (t != TYPE_DATATYPE && t != TYPE_NATIVE && t != TYPE_ACTION) continue;
            Cell value = *v;
            boot.set(&w, &value);
        }
        collector::Rooted<3> r;
        std::vector<std::string> names = manifest(dir);
        std::string listing = "[";
        for (const std::string& name : names) listing += " %" + name;
        lexer::load_block(&r[0], listing + " ]");
        r[2] = *blk::at(r[0].data2, 0);
        boot.literal(&r[2]);
        for (const std::string& name : names) {
            module_block(name, read_file(dir + "/" + name), &r[0]);
            boot.literal(&r[0]);
        }
        lexer::load_block(&r[0], std::string("\"") + VERSION + "\"");
        r[2] = *blk::at(r[0].data2, 0);
        boot.literal(&r[2]);
        lexer::load_block(&r[0], "[OS: 'Linux format: 'ELF cpu: 'x86-64 GUI-engine: 'terminal modules: [JSON CSV View]]");
        r[2] = *blk::at(r[0].data2, 0);
        boot.literal(&r[2]);
        boot.finish(&r[1]);
        const uint8_t* head = binary::rs_head(&r[1]);
        bytes.assign(head, head + binary::rs_length(&r[1]));
    }
    stack::reset();
    shutdown_runtime();
    std::string out = argv[2];
    std::ofstream file(out + ".tmp", std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    file.close();
    if (!file || std::rename((out + ".tmp").c_str(), out.c_str()) != 0) {
        std::fprintf(stderr, "gen_boot_data: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
