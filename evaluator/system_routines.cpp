#include "evaluator/system_routines.h"

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "evaluator/routine_registry.h"
#include "runtime/stack.h"
#include "io/clipboard.h"
#include "io/file_io.h"
#include "runtime/platform/files.h"
#include "runtime/collector.h"
#include "runtime/raise.h"

namespace vyx::routines {

void create_dir() {
    Cell path = stack::arguments[0];
    if (!simple_io::make_dir(&path)) raise_error(err::access_no_create, &path);
    unset::box();
    stack::keep_result_only();
}

void exists_q() {
    logic::box(simple_io::exists(stack::arguments));
    stack::keep_result_only();
}

void write_stdout() {
    Cell data = stack::arguments[0];
    simple_io::write(nullptr, &data, nullptr, nullptr, false, false, false);
    unset::box();
    stack::keep_result_only();
}

void os_info() {
    platform::OsInfo info = platform::os_info();
    Cell obj{TYPE_UNSET, 0, 0, 0};
    Cell* o = stack::push(&obj);
    object::make_at(o, 8);
    Cell* name = string::load_push(reinterpret_cast<const uint8_t*>(info.name.data()), uint32_t(info.name.size()), 0);
    object::put_field(o, symbol::make("name"), name);
    stack::top--;
    Cell arch = word::make_cell(TYPE_WORD, context::global, symbol::make(info.arch), -1);
    object::put_field(o, symbol::make("arch"), &arch);
    uint8_t v[3];
    for (int i = 0; i < 3; i++) v[i] = uint8_t(info.version[i] < 0 ? 0 : info.version[i] > 255 ? 255 : info.version[i]);
    Cell version{TYPE_UNSET, 0, 0, 0};
    tuple::make_at(&version, v, 3);
    object::put_field(o, symbol::make("version"), &version);
    Cell build{TYPE_INTEGER, 0, 0, 0};
    object::put_field(o, symbol::make("build"), &build);
    Cell result = *o;
    stack::store_result_only(&result);
}

void read_clipboard() {
    Cell result = *clipboard::read();
    stack::store_result_only(&result);
}

void write_clipboard() {
    bool ok = clipboard::write(stack::arguments);
    logic::box(ok);
    stack::keep_result_only();
}

void define_system_routines() {
    using routines::add;
    add("create-dir", R"~("creates a directory" path [file!])~", create_dir);
    add("exists?", R"~("whether a file or directory exists" path [file!] return: [logic!])~", exists_q);
    add("write-stdout", R"~("writes data to standard output" data)~", write_stdout);
    add("os-info", R"~("the operating system's name, architecture, version and build" return: [object!])~", os_info);
    add("read-clipboard", R"~("Return the contents of the system clipboard")~", read_clipboard);
    add("write-clipboard", R"~("Write content to the system clipboard" data return: [logic!])~", write_clipboard);
}

}  // namespace vyx::routines
