// The natives that reach the operating system: wait, call, browse, size?,
// to-local-file, the environment (get-env, set-env, list-env), and the
// percent-encoding natives dehex and enhex.
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "evaluator/helpers.h"
#include "evaluator/native_table.h"
#include "runtime/stack.h"
#include "io/external.h"
#include "io/file_io.h"
#include "runtime/platform/files.h"
#include "runtime/platform/platform.h"
#include "runtime/raise.h"

namespace vyx::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

// The result slot becomes a new string! of UTF-8 text.
void result_text(const std::string& text) {
    Cell* s = string::load_push(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0);
    Cell v = *s;
    stack::store_result_only(&v);
}

// A byte count: an integer!, or a float! from 2 GiB on.
void box_size(int64_t bytes) {
    if (bytes > 2147483647) float_::box(double(bytes));
    else integer::box(int32_t(bytes));
}

}  // namespace

// now /year /month /day /time /zone /date /weekday /yearday /precise /utc:
// the current date and time, or one of its parts.
VYX_NATIVE(now_, 96, "now",
           R"~("current date and time, or one of its parts" /year /month /day /time /zone /date /weekday /yearday /precise /utc return: [date! time! integer!])~");
void now_(int check, const int* refs) {
    if (check) native_now_.check(refs);
    enum { YEAR, MONTH, DAY, TIME, ZONE, DATE, WEEKDAY, YEARDAY, PRECISE, UTC };
    int given = 0;
    for (int k = YEAR; k <= PRECISE; k++) given += refs[k] >= 0;
    if (given >= 2 && !(refs[TIME] >= 0 && refs[PRECISE] >= 0)) raise_error(err::script_bad_refines);
    double seconds;
    int32_t offset;
    platform::read_epoch(refs[PRECISE] >= 0, refs[UTC] >= 0, seconds, offset);
    Cell d{TYPE_UNSET, 0, 0, 0};
    date::make_from_epoch(&d, seconds, offset);
    if (refs[DATE] >= 0) {
        d.data1 &= ~(date::HAS_TIME | date::ZONE_MASK);
        set_cell_float(&d, 0.0);
        stack::store_result_only(&d);
        return;
    }
    // The field numbers of the date's field access.
    static const struct { int refinement, field; } FIELDS[] = {
        {YEAR, 2}, {MONTH, 3}, {DAY, 4}, {ZONE, 5}, {TIME, 6}, {WEEKDAY, 10}, {YEARDAY, 11}};
    for (auto f : FIELDS) {
        if (refs[f.refinement] < 0) continue;
        Cell field = date::get_field(&d, f.field);
        stack::store_result_only(&field);
        return;
    }
    stack::store_result_only(&d);
}

// wait value /all: sleeps for an integer! or float! of seconds, or a time!.
VYX_NATIVE(wait_, 86, "wait",
           R"~("waits for a duration while processing GUI events" value [number! time! block! none!] /all)~");
void wait_(int check, const int* refs) {
    if (check) native_wait_.check(refs);
    Cell* v = arg(0);
    double seconds;
    switch (type_of(v)) {
    case TYPE_INTEGER: seconds = int32_t(v->data2); break;
    case TYPE_FLOAT: case TYPE_TIME: seconds = cell_float(v); break;
    default: raise_error(err::script_invalid_arg, v);
    }
    platform::wait(seconds);
    none::box();
    stack::keep_result_only();
}

// call cmd /wait /show /console /shell /input in /output out /error err
VYX_NATIVE(call_, 99, "call",
           R"~("runs an external process" cmd [string! file!] /wait /show /console /shell /input in [string! file! binary!] /output out [string! file! binary!] /error err [string! file! binary!] return: [integer!])~");
void call_(int check, const int* refs) {
    if (check) native_call_.check(refs);
    auto opt = [&](int k) -> const Cell* { return refs[k] >= 0 ? arg(refs[k]) : nullptr; };
    int64_t r = external::call_run(arg(0), refs[native_call_.refinement("wait")] >= 0,
                                   refs[native_call_.refinement("console")] >= 0,
                                   refs[native_call_.refinement("shell")] >= 0, opt(4), opt(5), opt(6));
    integer::box(int32_t(r));
    stack::keep_result_only();
}

// browse url: the desktop's handler opens it; the result is unset.
VYX_NATIVE(browse_, 102, "browse",
           R"~("opens a URL or file with its associated application" url [url! file!])~");
void browse_(int check, const int* refs) {
    if (check) native_browse_.check(refs);
    external::browse(arg(0));
    unset::box();
    stack::keep_result_only();
}

// size? file: the size in bytes, none for a directory or a file that cannot be opened.
VYX_NATIVE(size_q, 101, "size?",
           R"~("size of a file" file [file!] return: [integer! float! none!])~");
void size_q(int check, const int* refs) {
    if (check) native_size_q.check(refs);
    int64_t n = simple_io::size(arg(0));
    if (n < 0) none::box();
    else box_size(n);
    stack::keep_result_only();
}

// to-local-file path /full: the path as the system writes it (the same text
// on Linux); /full puts the current directory before a relative path.
VYX_NATIVE(to_local_file, 85, "to-local-file",
           R"~("converts a file path to the platform's form" path [file! string!] /full return: [string!])~");
void to_local_file(int check, const int* refs) {
    if (check) native_to_local_file.check(refs);
    std::string path = string::to_utf8(arg(0));
    if (refs[native_to_local_file.refinement("full")] >= 0 && (path.empty() || path[0] != '/')) {
        uint32_t length;
        std::string dir = platform::get_current_dir(length);
        if (dir.empty() || dir.back() != '/') dir += '/';
        path = dir + path;
    }
    result_text(path);
}

// get-env var: the variable's value, none when it is not set or empty.
VYX_NATIVE(get_env, 94, "get-env",
           R"~("reads an environment variable" var [any-string! any-word!] return: [string! none!])~");
void get_env(int check, const int* refs) {
    if (check) native_get_env.check(refs);
    std::string name = simple_io::text_of(arg(0));
    const char* v = name.find('\0') == std::string::npos ? std::getenv(name.c_str()) : nullptr;
    if (!v || !*v) {
        none::box();
        stack::keep_result_only();
        return;
    }
    result_text(v);
}

// set-env var value: sets the variable, or removes it for none; answers value.
// A name the system cannot hold (empty, with "=" or NUL) changes nothing.
VYX_NATIVE(set_env, 93, "set-env",
           R"~("sets or removes an environment variable" var [any-string! any-word!] value [string! none!])~");
void set_env(int check, const int* refs) {
    if (check) native_set_env.check(refs);
    std::string name = simple_io::text_of(arg(0));
    Cell value = *arg(1);
    bool valid = !name.empty() && name.find('=') == std::string::npos && name.find('\0') == std::string::npos;
    if (valid) {
        if (type_of(&value) == TYPE_NONE) {
            platform::set_env(name.c_str(), nullptr);
        } else {
            std::string text = string::to_utf8(&value);
            if (text.find('\0') == std::string::npos) platform::set_env(name.c_str(), text.c_str());
        }
    }
    stack::store_result_only(&value);
}

// list-env: a map! of every environment variable, names to values.
VYX_NATIVE(list_env, 95, "list-env",
           R"~("map of all environment variables" return: [map!])~");
void list_env(int check, const int* refs) {
    if (check) native_list_env.check(refs);
    auto env = platform::environment();
    Cell* block = stack::push_slot();
    *block = Cell{TYPE_UNSET, 0, 0, 0};
    blk::make_at(block, uint32_t(env.size() * 2));
    for (auto& [name, value] : env) {
        string::load_in(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()), 0, block);
        string::load_in(reinterpret_cast<const uint8_t*>(value.data()), uint32_t(value.size()), 0, block);
    }
    Cell m = map::make_from_block(block);
    stack::store_result_only(&m);
}

// dehex value: the text with its %xx escapes decoded.
VYX_NATIVE(dehex_, 47, "dehex",
           R"~("decodes %xx escapes of a string" value [any-string!] return: [string!])~");
void dehex_(int check, const int* refs) {
    if (check) native_dehex_.check(refs);
    Cell v = *arg(0);
    Cell* out = string::push(16);
    url::decode(&v, out);
    Cell r = *out;
    stack::store_result_only(&r);
}

// enhex value: the UTF-8 bytes percent-encoded; a string! keeps only the
// unreserved characters, the other string types the whole URL set.
VYX_NATIVE(enhex_, 48, "enhex",
           R"~("encodes a string with %xx escapes" value [any-string!] return: [string!])~");
void enhex_(int check, const int* refs) {
    if (check) native_enhex_.check(refs);
    Cell v = *arg(0);
    std::string bytes = string::to_utf8(&v), text;
    url::encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                type_of(&v) == TYPE_STRING ? url::CharSet::unreserved : url::CharSet::url, text);
    result_text(text);
}

}  // namespace vyx::natives
