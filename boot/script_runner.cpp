// The script runner: reads the command line's switches and runs the script
// named after them, reporting what stops it.
#include "boot/script_runner.h"

#include <cctype>
#include <string>
#include <string_view>

#include "boot/print_line.h"
#include "boot/top_level.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/protect.h"
#include "runtime/stack.h"
#include "runtime/platform/platform.h"

namespace vyx::script_runner {

namespace {

// Where the header starts: "Vyx", optionally "/System", whitespace, then
// "["; npos when the text has none.
size_t find_header(const std::string& source) {
    for (size_t i = source.find("Vyx"); i != std::string::npos; i = source.find("Vyx", i + 1)) {
        size_t j = i + 3;
        if (source.compare(j, 7, "/System") == 0) j += 7;
        size_t k = j;
        while (k < source.size() && (source[k] == ' ' || source[k] == '\n' || source[k] == '\r' || source[k] == '\t'))
            k++;
        if (k < source.size() && source[k] == '[') return i;
    }
    return std::string::npos;
}

}  // namespace

Request read_command_line(int argc, char** argv) {
    Request request;
    int i = 1;
    while (i < argc && std::string_view(argv[i]).substr(0, 2) == "--" && std::string_view(argv[i - 1]) != "--") {
        if (std::string_view(argv[i]) == "--catch") request.catch_ = true;
        i++;
    }
    if (i < argc) request.script = argv[i];
    return request;
}

int run(const char* path) {
    std::string source;
    if (!platform::read_file(path, source)) {
        print_line("*** Access Error: cannot open: %" + std::string(path));
        return 1;
    }
    size_t at = find_header(source);
    if (at == std::string::npos) {
        print_line("*** Error: Vyx header not found!");
        return 0;
    }
    Cell* code = begin_top_level();
    protect::Guard guard;
    bool done = guard.run([&] {
        lexer::load_block(code, std::string_view(source).substr(at));
        Cell* items = blk::head(code);
        uint32_t n = blk::length(code);
        if (n < 2 || type_of(&items[0]) != TYPE_WORD || type_of(&items[1]) != TYPE_BLOCK) {
            std::string lower = source;
            for (char& ch : lower) ch = char(std::tolower(uint8_t(ch)));
            bool system = lower.find("vyx/system") != std::string::npos;
            print_line(system ? "*** Error: contains Vyx/System code which requires compilation!"
                              : "*** Error: not a Vyx program!");
            return;
        }
        code->data1 += 2;  // the body follows the header word and block
        interp::eval_whole_block(code, false);
    });
    if (done) return 0;
    print_line(error::report(guard.error()));
    return -2;
}

}  // namespace vyx::script_runner
