#include "datatypes/registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "datatypes/types.h"

namespace vyx {

act::Any action_handlers[(TYPE_MAX + 1) * ROW_SLOTS];
TypeName type_names[TYPE_MAX + 1];
TypeServices type_services[TYPE_MAX + 1];
int max_type_id = 0;

Registration::Registration(int type, int parent, const char* name) {
    std::memset(list, 0, sizeof list);
    list[0] = type;
    list[1] = parent;
    list[2] = reinterpret_cast<intptr_t>(name);
}

void register_datatype(int count, const intptr_t* list) {
    int type = int(list[0]);
    int parent = int(list[1]);
    const char* name = reinterpret_cast<const char*>(list[2]);
    if (type < 1 || type > TYPE_MAX) {
        std::fprintf(stdout, "*** Datatype Error: invalid type id: %d\n", type);
        std::fflush(stdout);
        std::exit(1);
    }
    if (type > max_type_id) max_type_id = type;
    type_names[type].name = name;
    type_names[type].length = int(std::strlen(name)) - 1;
    int handlers = count - 3;
    if (handlers != ACTION_COUNT) {
        // A wrong table would dispatch actions to the wrong handlers: stop here.
        std::fprintf(stdout, "*** Datatype Error: invalid actions count for type: %d\n", type);
        std::fprintf(stdout, "*** Found: %d\n", handlers);
        std::fprintf(stdout, "*** Expected: %d\n", ACTION_COUNT);
        std::fflush(stdout);
        std::exit(1);
    }
    act::Any* row = &action_handlers[type * ROW_SLOTS];
    const act::Any* parent_row = &action_handlers[parent * ROW_SLOTS];
    for (int k = 0; k < ACTION_COUNT; k++) {
        intptr_t e = list[3 + k];
        if (parent != 0 && e == INHERIT)
            row[k] = parent_row[k];
        else
            row[k] = e == INHERIT ? nullptr : reinterpret_cast<act::Any>(e);
    }
}

void register_type_services(int type, int parent, TypeServices services, bool inherit_marker, bool inherit_hasher) {
    const TypeServices& from = type_services[parent > 0 && parent <= TYPE_MAX ? parent : 0];
    if (inherit_marker) {
        services.marker = from.marker;
        services.word2_series = from.word2_series;
    }
    if (inherit_hasher) services.hasher = from.hasher;
    type_services[type] = services;
    collector::set_cell_marker(type, services.marker, services.word2_series);
    set_cell_hasher(type, services.hasher);
}

void register_all_datatypes() {
    collector::type_name = [](int type) { return type_names[type].name; };
    // Parents before children; `series!` comes before the series types.
    for (auto reg : {datatype::register_type, unset::register_type, none::register_type,
                     logic::register_type, series::register_type, block::register_type,
                     string::register_type, binary::register_type, integer::register_type,
                     symbol::register_type, context::register_type, word::register_type,
                     lit_word::register_type, set_word::register_type, get_word::register_type,
                     refinement::register_type, char_::register_type, native::register_type,
                     action::register_type, op::register_type, path::register_type,
                     lit_path::register_type, set_path::register_type, get_path::register_type,
                     function::register_type, routine::register_type, paren::register_type,
                     issue::register_type, url::register_type, file::register_type,
                     object::register_type, bitset::register_type, triple::register_type,
                     float_::register_type, typeset::register_type, error::register_type,
                     vector::register_type, map::register_type, hash::register_type,
                     pair::register_type, percent::register_type, tuple::register_type,
                     time::register_type, tag::register_type, email::register_type,
                     handle::register_type, date::register_type, port::register_type,
                     money::register_type, ref::register_type, point2d::register_type,
                     point3d::register_type, image::register_type})
        reg();
}

}  // namespace vyx
