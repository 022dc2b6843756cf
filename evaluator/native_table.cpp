// The native table, assembled from the declarations beside the natives'
// bodies, and the native! values made from it.
#include "evaluator/native_table.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/registry.h"
#include "datatypes/simple.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "evaluator/arg_frame.h"
#include "evaluator/interpreter.h"
#include "evaluator/parse.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/raise.h"

namespace vyx::native_table {

Info entries[COUNT];

namespace {
// A number declared twice, kept for install() to report.
uint32_t declared_twice = 0;
}  // namespace

Row::Row(const Declaration& d, natives::Entry entry) {
    if (d.number < 1 || d.number > COUNT || entries[d.number - 1].number) {
        declared_twice = d.number;
        return;
    }
    entries[d.number - 1] = Info{d.number, d.word, d.spec, entry};
}

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
// The action! values by number, kept in the root block (none where the start
// made no action).
Node actions_node = 0;
}  // namespace

const Cell* value_of(uint32_t number) { return blk::at(values_node, number - 1); }

void keep_action(uint32_t number, const Cell* value) {
    if (number < 1 || number > uint32_t(ACTION_COUNT)) return;
    if (!actions_node) {
        collector::Pause no_collection;
        collector::Rooted<1> r;
        blk::make_at(&r[0], ACTION_COUNT);
        for (int a = 0; a < ACTION_COUNT; a++) blk::append(&r[0], &NONE_CELL);
        context::keep_in_root(&r[0]);
        actions_node = r[0].data2;
    }
    *blk::at(actions_node, number - 1) = *value;
}

const Cell* own_callable(int type, uint32_t number) {
    if (type == TYPE_NATIVE) return values_node && number >= 1 && number <= COUNT ? value_of(number) : nullptr;
    if (type != TYPE_ACTION || !actions_node || number < 1 || number > uint32_t(ACTION_COUNT)) return nullptr;
    const Cell* v = blk::at(actions_node, number - 1);
    return type_of(v) == TYPE_ACTION ? v : nullptr;
}

void check_arguments(uint32_t number, const int* refinements) {
    const interp::ArgFrame* af = interp::arg_frame(value_of(number));
    int argk = 0;     // argument number in the spec
    uint32_t k = 0;   // cell from where the current group's arguments start
    for (const interp::ArgSlot& c : *af) {
        if (c.kind == interp::ARG_REFINEMENT) {
            k = 0;
            continue;
        }
        // An absent refinement's argument cells are never read.
        int group = int(c.refinement) - 1;  // -1: the mandatory arguments
        if (group < 0 || refinements[group] >= 0) {
            uint32_t at = group < 0 ? k : uint32_t(refinements[group]) + k;
            helpers::typecheck_argument(argk, &c.types, stack::arguments + at);
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
    // A declaration missing or made twice ends the start here rather than
    // shifting a number.
    for (uint32_t n = 1; n <= COUNT; n++) {
        if (entries[n - 1].number == n && !declared_twice) continue;
        std::fprintf(stderr, "native %u is %s\n", declared_twice ? declared_twice : n,
                     declared_twice ? "declared twice" : "not declared");
        std::abort();
    }
    for (const Info& info : entries) {
        natives::Entry& slot = natives::table[info.number - 1];
        if (info.entry)
            slot = info.entry;
        else if (!slot)
            slot = not_done;
    }
    natives::make_print_buffer();
    actions_node = 0;  // kept again by natives::init (a new start after a tear-down)
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
