// The native table: every native's number, word and spec, and the entry
// points this file's neighbours provide.
#include "evaluator/native_table.h"

#include <string>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives_math.h"
#include "evaluator/parse.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/raise.h"

namespace vyx::native_table {

// Each spec starts with the native's doc string; the argument doc strings are
// given where help has something to say beyond the argument's name.
const Info entries[COUNT] = {
    {1, "if", R"~("evaluates a block when a condition is truthy, else returns none" cond [any-type!] then-blk [block!])~", nullptr},
    {2, "unless", R"~("evaluates a block when a condition is falsy, else returns none" cond [any-type!] then-blk [block!])~", nullptr},
    {3, "either", R"~("evaluates one of two blocks by the truth of a condition" cond [any-type!] true-blk [block!] false-blk [block!])~", nullptr},
    {4, "any", R"~("returns the first truthy result of the expressions of a block, else none" conds [block!])~", nullptr},
    {5, "all", R"~("returns the last result when every expression of a block is truthy, else none" conds [block!])~", nullptr},
    {6, "while", R"~("evaluates a body while a condition block yields a truthy value" cond [block!] body [block!])~", nullptr},
    {7, "until", R"~("evaluates a body until it yields a truthy value" body [block!])~", nullptr},
    {8, "loop", R"~("evaluates a body a number of times" count [integer! float!] body [block!])~", nullptr},
    {9, "repeat", R"~("evaluates a body a number of times, setting a word to the iteration count" 'word [word!] value [integer! float!] body [block!])~", nullptr},
    {10, "forever", R"~("evaluates a body until a break" body [block!])~", nullptr},
    {11, "foreach", R"~("evaluates a body for each value (or group of values) of a series or map" 'word [word! block!] series [series! map!] body [block!])~", natives::foreach_},
    {12, "forall", R"~("evaluates a body for each position of a series held by a word" 'word [word!] body [block!])~", natives::forall_},
    {13, "remove-each", R"~("removes the values (or groups) of a series for which a body yields a truthy value" 'word [word! block!] data [series!] body [block!])~", natives::remove_each},
    {14, "func", R"~("makes a function from a spec and a body" spec [block!] body [block!])~", nullptr},
    {15, "function", R"~("makes a function whose set-words in the body become locals" spec [block!] body [block!] /extern)~", nullptr},
    {16, "does", R"~("makes a function without arguments" body [block!])~", nullptr},
    {17, "has", R"~("makes a function with locals and no arguments" vars [block!] body [block!])~", nullptr},
    {18, "switch", R"~("evaluates the block that follows the first case matching a value" value [any-type!] cases [block!] /default case [block!])~", nullptr},
    {19, "case", R"~("evaluates the block that follows the first (or every) truthy condition" cases [block!] /all)~", nullptr},
    {20, "do", R"~("evaluates a value: block, paren, string, file, url, path, error or single value" value [any-type!] /expand /args arg /next position [word!] /trace callback [function! [event [word!] code [any-block! none!] offset [integer!] value [any-type!] ref [any-type!] frame [pair!]]])~", natives::do_native},
    {21, "get", R"~("returns the value of a word, path or object" word [any-word! any-path! object!] /any /case return: [any-type!])~", natives::get_},
    {22, "set", R"~("sets a word, path, object or block of words" word [any-word! block! object! any-path!] value [any-type!] /any /case /only /some return: [any-type!])~", natives::set_},
    {23, "print", R"~("forms (a block reduced first) and outputs a value with a line end" value [any-type!])~", natives::print_},
    {24, "prin", R"~("forms (a block reduced first) and outputs a value without a line end" value [any-type!])~", natives::prin_},
    {25, "equal?", R"~("equality test" value1 [any-type!] value2 [any-type!])~", nullptr},
    {26, "not-equal?", R"~("inequality test" value1 [any-type!] value2 [any-type!])~", nullptr},
    {27, "strict-equal?", R"~("equality test that also requires the same datatype" value1 [any-type!] value2 [any-type!])~", nullptr},
    {28, "lesser?", R"~("ordering test" value1 [any-type!] value2 [any-type!])~", nullptr},
    {29, "greater?", R"~("ordering test" value1 [any-type!] value2 [any-type!])~", nullptr},
    {30, "lesser-or-equal?", R"~("ordering test" value1 [any-type!] value2 [any-type!])~", nullptr},
    {31, "greater-or-equal?", R"~("ordering test" value1 [any-type!] value2 [any-type!])~", nullptr},
    {32, "same?", R"~("identity test" value1 [any-type!] value2 [any-type!])~", nullptr},
    {33, "not", R"~("logical complement of a value's truth" value [any-type!])~", nullptr},
    {34, "type?", R"~("datatype of a value, or its word" value [any-type!] /word)~", nullptr},
    {35, "reduce", R"~("evaluates every expression of a block into a new block (or into a given one)" value [any-type!] /into out [any-block!])~", natives::reduce_},
    {36, "compose", R"~("copies a block, evaluating only its parens" value [block!] /deep /only /into out [any-block!])~", natives::compose_},
    {37, "stats", R"~("memory statistics" /show /info return: [integer! block!])~", nullptr},
    {38, "bind", R"~("binds words to a context" word [block! any-word!] context [any-word! any-object! function!] /copy return: [block! any-word!])~", natives::bind_},
    {39, "in", R"~("returns a word bound to an object's or function's context" object [any-object! any-function!] word [any-word! refinement!])~", natives::in_},
    {40, "parse", R"~("runs the parse dialect over a series" input [binary! any-block! any-string!] rules [block!] /case /part length [number! series!] /trace callback [function! [event [word!] match? [logic!] rule [block!] input [series!] stack [block!] return: [logic!]]] return: [logic! block!])~", parse::parse_native},
    {41, "union", R"~("set union of two data sets" set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!])~", natives::union_},
    {42, "intersect", R"~("set intersection" set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!])~", natives::intersect_},
    {43, "unique", R"~("removes duplicates" set [block! hash! string!] /case /skip size [integer!] return: [block! hash! string!])~", natives::unique_},
    {44, "difference", R"~("symmetric difference (dates: the time between them)" set1 [block! hash! string! bitset! typeset! date!] set2 [block! hash! string! bitset! typeset! date!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset! time!])~", natives::difference_},
    {45, "exclude", R"~("first set less the second" set1 [block! hash! string! bitset! typeset!] set2 [block! hash! string! bitset! typeset!] /case /skip size [integer!] return: [block! hash! string! bitset! typeset!])~", natives::exclude_},
    {46, "complement?", R"~("whether a bitset is complemented" bits [bitset!])~", natives::complement_q},
    {47, "dehex", R"~("decodes %xx escapes of a string" value [any-string!] return: [string!])~", natives::dehex_},
    {48, "enhex", R"~("encodes a string with %xx escapes" value [any-string!] return: [string!])~", natives::enhex_},
    {49, "negative?", R"~("sign test" number [number! money! time!] return: [logic!])~", natives::negative_q},
    {50, "positive?", R"~("sign test" number [number! money! time!] return: [logic!])~", natives::positive_q},
    {51, "max", R"~("greater of two values" value1 [scalar! series!] value2 [scalar! series!])~", natives::max_},
    {52, "min", R"~("lesser of two values" value1 [scalar! series!] value2 [scalar! series!])~", natives::min_},
    {53, "shift", R"~("arithmetic or logical bit shift of an integer" data [integer!] bits [integer!] /left /logical return: [integer!])~", natives::shift_},
    {54, "to-hex", R"~("integer as a hexadecimal issue!" value [integer!] /size length [integer!] return: [issue!])~", natives::to_hex},
    {55, "sine", R"~("sine of an angle in degrees (or radians)" angle [float! integer!] /radians "DEPRECATED: use `sin` native instead" return: [float!])~", natives::sine_},
    {56, "cosine", R"~("cosine" angle [float! integer!] /radians "DEPRECATED: use `cos` native instead" return: [float!])~", natives::cosine_},
    {57, "tangent", R"~("tangent" angle [float! integer!] /radians "DEPRECATED: use `tan` native instead" return: [float!])~", natives::tangent_},
    {58, "arcsine", R"~("arcsine in degrees (or radians)" sine [float! integer!] /radians "DEPRECATED: use `asin` native instead" return: [float!])~", natives::arcsine_},
    {59, "arccosine", R"~("arccosine" cosine [float! integer!] /radians "DEPRECATED: use `acos` native instead" return: [float!])~", natives::arccosine_},
    {60, "arctangent", R"~("arctangent" tangent [float! integer!] /radians "DEPRECATED: use `atan` native instead" return: [float!])~", natives::arctangent_},
    {61, "arctangent2", R"~("angle of the vector (x, y)" y [float! integer!] x [float! integer!] /radians "DEPRECATED: use `atan2` native instead" return: [float!])~", natives::arctangent2_},
    {62, "NaN?", R"~("whether a number is not-a-number" value [number!] return: [logic!])~", natives::nan_q},
    {63, "log-2", R"~("base-2 logarithm" value [float! integer! percent!] return: [float!])~", natives::log_2},
    {64, "log-10", R"~("base-10 logarithm" value [float! integer! percent!] return: [float!])~", natives::log_10},
    {65, "log-e", R"~("natural logarithm" value [float! integer! percent!] return: [float!])~", natives::log_e},
    {66, "exp", R"~("e raised to a power" value [float! integer! percent!] return: [float!])~", natives::exp_},
    {67, "square-root", R"~("square root" value [float! integer! percent!] return: [float!])~", natives::square_root},
    {68, "construct", R"~("makes an object from an unevaluated spec" block [block!] /with object [object!] /only)~", natives::construct_},
    {69, "value?", R"~("whether a word has a value" value [word!] return: [logic!])~", natives::value_q},
    {70, "try", R"~("evaluates a block and returns its value or the error raised" block [block!] /all /keep)~", nullptr},
    {71, "uppercase", R"~("converts a string or char to upper case" string [any-string! char!] /part limit [number! any-string!] return: [any-string! char!])~", natives::uppercase_},
    {72, "lowercase", R"~("converts a string or char to lower case" string [any-string! char!] /part limit [number! any-string!] return: [any-string! char!])~", natives::lowercase_},
    {73, "as-pair", R"~("pair! from two numbers" x [integer! float!] y [integer! float!])~", natives::as_pair},
    {74, "as-point2D", R"~("point2D! from two numbers" x [integer! float!] y [integer! float!])~", natives::as_point2d},
    {75, "as-point3D", R"~("point3D! from three numbers" x [integer! float!] y [integer! float!] z [integer! float!])~", natives::as_point3d},
    {76, "as-money", R"~("money! from a currency word and an amount" currency [word!] amount [integer! float!] return: [money!])~", natives::as_money},
    {77, "break", R"~("leaves the innermost loop" /return value [any-type!])~", nullptr},
    {78, "continue", R"~("goes on with the next round of the innermost loop")~", nullptr},
    {79, "exit", R"~("leaves the innermost function, returning unset")~", nullptr},
    {80, "return", R"~("leaves the innermost function with a value" value [any-type!])~", nullptr},
    {81, "throw", R"~("throws a value to the nearest (or a named) catch" value [any-type!] /name word [word!])~", nullptr},
    {82, "catch", R"~("evaluates a block and returns the value thrown to it" block [block!] /name word [word! block!])~", nullptr},
    {83, "extend", R"~("adds key and value pairs to a map" obj [object! map!] spec [block! hash! map!] /case)~", natives::extend_},
    {84, "debase", R"~("decodes a base-64, 58, 16 or 2 string to binary" value [string!] /base base-value [integer!])~", natives::debase_},
    {85, "to-local-file", R"~("converts a file path to the platform's form" path [file! string!] /full return: [string!])~", natives::to_local_file},
    {86, "wait", R"~("waits for a duration while processing GUI events" value [number! time! block! none!] /all)~", natives::wait_},
    {87, "checksum", R"~("checksum, CRC, digest, HMAC or hash of data" data [binary! string! file!] method [word!] /with spec [any-string! binary! integer!] return: [integer! binary!])~", natives::checksum_},
    {88, "unset", R"~("unsets a word or the words of a block" word [word! block!])~", natives::unset_},
    {89, "new-line", R"~("sets or clears new-line markers of a list" position [any-list!] value [logic!] /all /skip size [integer!] return: [any-list!])~", natives::new_line_},
    {90, "new-line?", R"~("reads the new-line marker of a list position" position [any-list!] return: [logic!])~", natives::new_line_q},
    {91, "enbase", R"~("encodes binary or UTF-8 text in base 64, 58, 16 or 2" value [binary! string!] /base base-value [integer!])~", natives::enbase_},
    {92, "context?", R"~("context to which a word is bound" word [any-word!] return: [object! function! none!])~", natives::context_q},
    {93, "set-env", R"~("sets or removes an environment variable" var [any-string! any-word!] value [string! none!])~", natives::set_env},
    {94, "get-env", R"~("reads an environment variable" var [any-string! any-word!] return: [string! none!])~", natives::get_env},
    {95, "list-env", R"~("map of all environment variables" return: [map!])~", natives::list_env},
    {96, "now", R"~("current date and time, or one of its parts" /year /month /day /time /zone /date /weekday /yearday /precise /utc return: [date! time! integer!])~", natives::now_},
    {97, "sign?", R"~("sign as 1, 0 or -1" number [number! money! time!] return: [integer!])~", natives::sign_q},
    {98, "as", R"~("coerces a series to a related datatype without copying" type [datatype! block! paren! any-path! any-string!] spec [block! paren! any-path! any-string!])~", natives::as_},
    {99, "call", R"~("runs an external process" cmd [string! file!] /wait /show /console /shell /input in [string! file! binary!] /output out [string! file! binary!] /error err [string! file! binary!] return: [integer!])~", natives::call_},
    {100, "zero?", R"~("whether a value is zero" value [number! money! pair! time! char! tuple! any-point!] return: [logic!])~", natives::zero_q},
    {101, "size?", R"~("size of a file" file [file!] return: [integer! float! none!])~", natives::size_q},
    {102, "browse", R"~("opens a URL or file with its associated application" url [url! file!])~", natives::browse_},
    {103, "compress", R"~("compresses data (zlib, deflate, gzip)" data [any-string! binary!] method [word!] return: [binary!])~", natives::compress_},
    {104, "decompress", R"~("decompresses data (zlib, deflate, gzip)" data [binary!] method [word!] /size sz [integer!] return: [binary!])~", natives::decompress_},
    {105, "recycle", R"~("runs the garbage collector or switches it on or off" /on /off return: [integer! unset!])~", nullptr},
    {106, "transcode", R"~("turns UTF-8 source into values" src [binary! string!] /next /one /prescan /scan /part length [integer! binary!] /into dst [block!] /trace callback [function! [event [word!] input [binary! string!] type [word! datatype!] line [integer!] token return: [logic!]] routine! [event [word!] input [binary! string!] type [word! datatype!] line [integer!] token return: [logic!]]] return: [block!])~", natives::transcode_},
    {107, "apply", R"~("calls a function with a block of reduced arguments" func [word! path! any-function!] args [block!] /all /safer)~", natives::apply_},
};

void not_done(int, const int*) { raise_error(err::internal_not_done); }

namespace {

// The typesets the library defines at start-up that the native specs name;
// the specs hold them as values so that checks do not depend on the words.
bool library_typeset(std::string_view name, Cell* out) {
    static const int any_point[] = {TYPE_POINT2D, TYPE_POINT3D};
    static const int scalar[] = {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT, TYPE_POINT2D, TYPE_POINT3D, TYPE_MONEY,
                                 TYPE_CHAR,    TYPE_PAIR,  TYPE_TUPLE,   TYPE_TIME,    TYPE_DATE};
    *out = typeset::empty();
    if (name == "any-point!") {
        for (int t : any_point) typeset::add(out, t);
        return true;
    }
    if (name == "scalar!") {
        for (int t : scalar) typeset::add(out, t);
        return true;
    }
    return false;
}

// The compact spec reader gives plain words inside type blocks: there it
// turns the library typeset names into typesets and, in the specs of
// callbacks nested in a type block, `return:` into a set-word.
void fix_types(Node block, bool nested) {
    uint32_t n = blk::size(block);
    for (uint32_t i = 0; i < n; i++) {
        Cell c = *blk::at(block, i);
        if (type_of(&c) == TYPE_BLOCK) {
            fix_types(c.data2, true);
            continue;
        }
        if (type_of(&c) == TYPE_DATATYPE && c.data1 == TYPE_SERIES) {
            // series! in a spec is the typeset of every series type, not the
            // abstract parent datatype of the same name.
            typeset::by_name("series!", blk::at(block, i));
            continue;
        }
        if (type_of(&c) != TYPE_WORD) continue;
        std::string name = symbol::name(word::symbol_of(&c));
        Cell ts;
        if (library_typeset(name, &ts)) {
            *blk::at(block, i) = ts;
        } else if (nested && name.size() > 1 && name.back() == ':') {
            Cell sw = word::load(std::string_view(name).substr(0, name.size() - 1));
            sw.header = TYPE_SET_WORD;
            *blk::at(block, i) = sw;
        }
    }
}

Cell* spec_of(const Info& info, Cell* target) {
    helpers::spec_from_text(info.spec, target);
    uint32_t n = blk::size(target->data2);
    for (uint32_t i = 0; i < n; i++) {
        Cell c = *blk::at(target->data2, i);
        if (type_of(&c) == TYPE_BLOCK) fix_types(c.data2, false);
    }
    return target;
}

}  // namespace

namespace {
// A block of the native! values by number, kept in the root block.
Node values_node = 0;
}  // namespace

const Cell* value_of(uint32_t number) { return blk::at(values_node, number - 1); }

void check_arguments(uint32_t number, const int* refinements) {
    Cell fn = *value_of(number);
    Node cache = interp::argument_cache(&fn);
    int argk = 0;     // argument number in the spec
    uint32_t k = 0;   // cell from where the current group's arguments start
    int group = -1;   // -1: the mandatory arguments, else the refinement number
    for (uint32_t i = 0; i < blk::size(cache); i++) {
        Cell c = *blk::at(cache, i);
        if (type_of(&c) == TYPE_ARG_REFINEMENT) {
            group++;
            k = 0;
            continue;
        }
        if (type_of(&c) != TYPE_TYPESET || interp::arg_kind(&c) == interp::ARG_RETURN) continue;
        // An absent refinement's argument cells are never read.
        if (group < 0 || refinements[group] >= 0) {
            uint32_t at = group < 0 ? k : uint32_t(refinements[group]) + k;
            helpers::typecheck_argument(argk, &c, stack::arguments + at);
        }
        k++;
        argk++;
    }
}

Cell* make_native(uint32_t number, Cell* target) {
    collector::Pause no_collection;
    collector::Rooted<1> r;
    spec_of(entries[number - 1], &r[0]);
    return native::make_at(target, &r[0], number, TYPE_NATIVE);
}

void install() {
    // Start-up work, done with the collector off as the boot does.
    collector::Pause no_collection;
    collector::Rooted<2> r;
    for (const Info& info : entries) {
        natives::Entry& slot = natives::table[info.number - 1];
        if (info.entry)
            slot = info.entry;
        else if (!slot)
            slot = not_done;
    }
    natives::make_print_buffer();
    blk::make_at(&r[1], COUNT);
    context::keep_in_root(&r[1]);
    values_node = r[1].data2;
    for (const Info& info : entries) {
        make_native(info.number, &r[0]);
        blk::append(&r[1], &r[0]);
        Cell w = word::load(info.word);
        context::set(&w, &r[0]);
    }
}

}  // namespace vyx::native_table
