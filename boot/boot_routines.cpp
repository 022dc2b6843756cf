#include "boot/boot_routines.h"

#include "boot/library_modules.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "evaluator/routine_registry.h"
#include "runtime/stack.h"
#include "io/vyxbin.h"
#include "datatypes/simple.h"
#include "runtime/collector.h"
#include "runtime/console_output.h"
#include "runtime/platform/platform.h"

namespace vyx::boot_routines {

namespace {

std::vector<std::string> arguments;

Cell* push_text(const std::string& text) {
    return string::load_push(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0);
}

void give_text(const std::string& text) {
    Cell v = *push_text(text);
    stack::store_result_only(&v);
}

// Shifts by 32 or more are spelled out: in C++ they are undefined; a
// negative count shifts by nothing.
int32_t shift_right(int32_t data, int32_t bits) {
    return bits >= 32 ? (data < 0 ? -1 : 0) : data >> (bits < 0 ? 0 : bits);
}
int32_t shift_left(int32_t data, int32_t bits) {
    return bits >= 32 ? 0 : int32_t(uint32_t(data) << (bits < 0 ? 0 : bits));
}
int32_t shift_logical(int32_t data, int32_t bits) {
    return bits >= 32 ? 0 : int32_t(uint32_t(data) >> (bits < 0 ? 0 : bits));
}

// The directory as the system writes it, ending in a slash.
void get_current_dir() {
    uint32_t length;
    std::string dir = platform::get_current_dir(length);
    if (dir.empty() || dir.back() != '/') dir += '/';
    give_text(dir);
}

// The whole command line as one string: the arguments joined by spaces, an
// argument that is empty or holds a blank written between double quotes.
void command_line_string() {
    std::string line;
    for (size_t i = 0; i < arguments.size(); i++) {
        const std::string& a = arguments[i];
        if (i) line += ' ';
        if (a.empty() || a.find_first_of(" \t") != std::string::npos)
            line += '"' + a + '"';
        else
            line += a;
    }
    give_text(line);
}

// The arguments exactly as the process received them, as a block of strings.
void boot_argv() {
    collector::Rooted<1> r;
    blk::make_at(&r[0], arguments.size());
    for (const std::string& a : arguments) {
        Cell* top = stack::top;
        Cell s = *push_text(a);
        blk::append(&r[0], &s);
        stack::top = top;
    }
    stack::store_result_only(&r[0]);
}

// _routine name spec body: the registered routine of that name, with the
// spec and body given here (the body is kept for reflection only). A name
// the registry lacks stops the boot.
void make_routine() {
    Cell* args = stack::arguments;
    std::string name = string::to_utf8(&args[0]);
    const routines::Entry* e = routines::find(name);
    if (!e) {
        flush_output();
        std::fprintf(stderr, "*** Boot error: no routine named %s in the runtime\n", name.c_str());
        std::fflush(stderr);
        std::exit(254);
    }
    Cell spec = args[1], body = args[2];
    Cell v = *routine::push_new(&spec, &body, routine::register_code(e->code), false);
    stack::store_result_only(&v);
}

// The global context as an object: system/words.
void system_words() {
    Cell v = *object::wrap_context(context::global, uint32_t(-1));
    stack::store_result_only(&v);
}

// The error catalog object the runtime built: system/catalog/errors.
void error_catalog() {
    Cell v = *error::catalog();
    stack::store_result_only(&v);
}

// The VYXBIN codec's entries.
void vyxbin_encode() {
    const Cell* flag = stack::arguments + 1;
    vyxbin::encode_value(stack::arguments, logic::truth(flag));
}
void vyxbin_decode() { vyxbin::decode_value(stack::arguments); }

// The version string and the build values that follow the modules in the
// boot data.
void boot_after_modules(unsigned n) {
    Cell v = *library::boot_literal(1 + blk::length(library::boot_literal(0)) + n);
    stack::store_result_only(&v);
}
void boot_version() { boot_after_modules(0); }
void boot_build() { boot_after_modules(1); }

const char* const BOOT_WORDS[] = {"_routine", "_boot-argv", "_system-words", "_error-catalog", "_boot-version",
                                  "_boot-build"};

}  // namespace

void set_command_line(int argc, char** argv) {
    arguments.assign(argv, argv + argc);
}

void define() {
    using routines::add;
    add("shift-right", R"~(data [integer!] bits [integer!])~", routines::typed<shift_right>);
    add("shift-left", R"~(data [integer!] bits [integer!])~", routines::typed<shift_left>);
    add("shift-logical", R"~(data [integer!] bits [integer!])~", routines::typed<shift_logical>);
    add("get-current-dir", "", get_current_dir);
    add("command-line-string", "", command_line_string);
    add("_boot-argv", "", boot_argv);
    add("codecs/vyxbin/encode*", "data [any-type!] compact? [logic!]", vyxbin_encode);
    add("codecs/vyxbin/decode", "payload [any-type!]", vyxbin_decode);
    add("_boot-version", "", boot_version);
    add("_boot-build", "", boot_build);
    add("_system-words", "", system_words);
    add("_error-catalog", "", error_catalog);
    add("_routine", "name [string!] spec [block!] body [string!]", make_routine);
}

void unset_boot_words() {
    for (const char* name : BOOT_WORDS) {
        Cell w = word::load(name);
        Cell unset{TYPE_UNSET, 0, 0, 0};
        context::set(&w, &unset);
    }
}

}  // namespace vyx::boot_routines
