#include "evaluator/routine_registry.h"

#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "runtime/collector.h"

namespace vyx::routines {

namespace {
std::vector<Entry>& table() {
    static std::vector<Entry> t;
    return t;
}
}  // namespace

void add(std::string_view name, std::string_view spec, routine::Code code) {
    for (Entry& e : table()) {
        if (e.name == name) {
            e = Entry{std::string(name), std::string(spec), code};
            return;
        }
    }
    table().push_back(Entry{std::string(name), std::string(spec), code});
}

const Entry* find(std::string_view name) {
    for (const Entry& e : table())
        if (e.name == name) return &e;
    return nullptr;
}

Cell* push_routine(const Entry& entry) {
    collector::Rooted<1> spec;
    helpers::spec_from_text(entry.spec.c_str(), &spec[0]);
    return routine::push_new(&spec[0], nullptr, routine::register_code(entry.code), false);
}

void bind_boot_words() {
    Cell* base = stack::top;
    for (const Entry& e : table()) {
        if (e.name.empty() || e.name[0] != '_') continue;
        Cell value = *push_routine(e);
        Cell w = word::load(e.name);
        context::set(&w, &value);
        stack::top = base;
    }
}

namespace detail {

void give(bool value) {
    logic::box(value);
    stack::keep_result_only();
}

void give(int32_t value) {
    *stack::arguments = Cell{TYPE_INTEGER, 0, uint32_t(value), 0};
    stack::keep_result_only();
}

void give(double value) {
    *stack::arguments = Cell{TYPE_FLOAT, 0, 0, 0};
    float_::make_at(stack::arguments, value);
    stack::keep_result_only();
}

void give(const Cell& value) { stack::store_result_only(&value); }

void give_unset() {
    const Cell unset{TYPE_UNSET, 0, 0, 0};
    stack::store_result_only(&unset);
}

}  // namespace detail

}  // namespace vyx::routines
