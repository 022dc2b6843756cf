// The datatype registry: one row of 62 action handlers per type id, and the
// table of type names.
//
// Each datatype hands in a registration list of 65 entries: its type id, its
// parent's id (0 for none), its name (with the "!"), then 62 entries in action
// order, each a handler, INHERIT (take the parent's handler in that slot) or 0
// (unsupported). Inheritance is resolved at registration, so parents register
// before their children and dispatch is a single indexed load.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <type_traits>

#include "datatypes/actions.h"
#include "runtime/cell.h"
#include "runtime/collector.h"
#include "runtime/hash_index.h"

namespace vyx {

constexpr intptr_t INHERIT = -1;
constexpr int REGISTRATION_ENTRIES = 3 + ACTION_COUNT;
constexpr int ROW_SLOTS = 64;

struct TypeName {
    const char* name;  // with the "!"
    int length;        // without the "!"
    uint32_t word;     // symbol of the full name, once words exist (0 before)
};

// The non-action part of a row.
struct TypeServices {
    collector::CellMarker marker;  // null: marks nothing
    bool word2_series;             // payload word 2 names a series (a prefetch hint for marking)
    CellHasher hasher;             // null: hashes to 0
};

extern act::Any action_handlers[(TYPE_MAX + 1) * ROW_SLOTS];
extern TypeName type_names[TYPE_MAX + 1];
extern TypeServices type_services[TYPE_MAX + 1];
extern int max_type_id;

// Stores a type's name record and its row of handlers. A list whose handler
// count is not 62 prints the datatype error and ends the process.
void register_datatype(int count, const intptr_t* list);
// Stores the services of a type's row and hands them to the collector and the
// hash indexes; with `inherit` the parent's services stand in for the ones
// not given.
void register_type_services(int type, int parent, TypeServices services, bool inherit_marker, bool inherit_hasher);

inline act::Any get_handler(int type, int action) { return action_handlers[type * ROW_SLOTS + action - 1]; }

// Builds a registration list for one datatype: every slot starts unsupported.
struct Registration {
    intptr_t list[REGISTRATION_ENTRIES];
    Registration(int type, int parent, const char* name);
    // The handler of action A; its type must be the action's handler type
    // exactly (an overloaded or templated name resolves to it), so a handler
    // with another signature does not compile.
    template <int A>
    Registration& on(std::type_identity_t<handler_of<A>> handler) {
        list[2 + A] = reinterpret_cast<intptr_t>(handler);
        return *this;
    }
    Registration& inherit(int action) {
        list[2 + action] = INHERIT;
        return *this;
    }
    Registration& inherit(std::initializer_list<int> actions) {
        for (int a : actions) inherit(a);
        return *this;
    }
    // What a cell keeps alive; `word2_series` when payload word 2 names a series.
    Registration& marker(collector::CellMarker m, bool word2_series = false) {
        services.marker = m;
        services.word2_series = word2_series;
        own_marker = true;
        return *this;
    }
    Registration& hasher(CellHasher h) {
        services.hasher = h;
        own_hasher = true;
        return *this;
    }
    void commit() {
        register_datatype(REGISTRATION_ENTRIES, list);
        register_type_services(int(list[0]), int(list[1]), services, !own_marker, !own_hasher);
    }

private:
    TypeServices services{};
    bool own_marker = false;
    bool own_hasher = false;
};

// Registers every datatype in the fixed order: parents before children.
void register_all_datatypes();

}  // namespace vyx
