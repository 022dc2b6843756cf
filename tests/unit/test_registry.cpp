#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/hash_index.h"
#include "runtime_fixture.h"

using namespace vyx;

namespace {
void handler_a() {}
void handler_b() {}

// A handler is registered under its action, and only a handler of that
// action's type is taken: these must fail to compile, not misbehave at a call.
const Cell* copy_ok(Cell*, Cell*, Cell*, bool, Cell*) { return nullptr; }
const Cell* copy_missing_flag(Cell*, Cell*, Cell*, Cell*) { return nullptr; }
int form_ok(Cell*, Cell*, int) { return 0; }
void form_wrong_result(Cell*, Cell*, int) {}
template <int A, typename F>
constexpr bool registers = requires(Registration& r, F f) { r.on<A>(f); };
static_assert(registers<A_COPY, decltype(&copy_ok)>);
static_assert(!registers<A_COPY, decltype(&copy_missing_flag)>);
static_assert(!registers<A_FORM, decltype(&copy_ok)>);
static_assert(registers<A_FORM, decltype(&form_ok)>);
static_assert(!registers<A_FORM, decltype(&form_wrong_result)>);
static_assert(!registers<A_HEAD, decltype(&form_ok)>);
static_assert(registers<A_HEAD, decltype(&handler_a)>);
}  // namespace

TEST_F(RuntimeTest, TypeIdsAndNamesInRegistrationOrder) {
    struct { int id; const char* name; int length; } cases[] = {
        {1, "datatype!", 8}, {2, "unset!", 5}, {5, "block!", 5}, {7, "string!", 6},
        {10, "char!", 4}, {12, "float!", 5}, {26, "lit-path!", 8}, {42, "series!", 6},
        {51, "point2D!", 7}, {53, "image!", 5},
    };
    for (auto& c : cases) {
        EXPECT_STREQ(type_names[c.id].name, c.name);
        EXPECT_EQ(type_names[c.id].length, c.length);
    }
    EXPECT_EQ(max_type_id, int(TYPE_IMAGE));  // event! registers later, with the view engine
}

TEST_F(RuntimeTest, InheritanceResolvesAtRegistration) {
    // Three levels: a handler of the grandparent reaches the grandchild through
    // a parent whose own slot only inherits.
    Registration(TYPE_SERIES, 0, "series!").on<A_HEAD>(handler_a).on<A_TAIL>(handler_b).commit();
    Registration(TYPE_BLOCK, TYPE_SERIES, "block!").inherit({A_HEAD, A_NEXT}).commit();
    Registration(TYPE_PATH, TYPE_BLOCK, "path!").inherit(A_HEAD).commit();
    Registration(TYPE_LIT_PATH, TYPE_PATH, "lit-path!").inherit({A_HEAD, A_TAIL}).commit();
    EXPECT_EQ(get_handler(TYPE_LIT_PATH, A_HEAD), handler_a);
    // The parent marked the slot unsupported: the child's inherit stays unsupported.
    EXPECT_EQ(get_handler(TYPE_BLOCK, A_NEXT), nullptr);
    EXPECT_EQ(get_handler(TYPE_LIT_PATH, A_TAIL), nullptr);
    // Later changes to a parent do not reach children.
    Registration(TYPE_SERIES, 0, "series!").on<A_HEAD>(handler_b).commit();
    EXPECT_EQ(get_handler(TYPE_LIT_PATH, A_HEAD), handler_a);
}

// A datatype brings its marker and hasher in its row; the collector and the
// hash indexes use them with no change of their own. A child takes its
// parent's unless it gives its own.
TEST_F(RuntimeTest, RowsCarryMarkersAndHashers) {
    // event! registers later: it stands in for a datatype being added.
    int saved_max = max_type_id;
    TypeName saved_name = type_names[TYPE_EVENT];
    Registration(TYPE_EVENT, 0, "event!").marker(collector::mark_flat_series).hasher(hash_payload_word<2>).commit();
    auto freed = [](Node n) { return node_slots[n] < uintptr_t(memory.node_frame_count) * NODES_PER_FRAME + 1; };
    Node kept = new_byte_series(8), dropped = new_byte_series(8), unmarked = new_byte_series(8);
    {
        collector::Rooted<2> roots;
        roots[0] = Cell{TYPE_EVENT, 0, kept, 0};
        roots[1] = Cell{TYPE_TYPESET, unmarked, unmarked, unmarked};  // typeset! marks nothing
        collector::active = true;
        collector::collect_garbage();
        collector::active = false;
        EXPECT_FALSE(freed(kept));
        EXPECT_TRUE(freed(dropped));
        EXPECT_TRUE(freed(unmarked));
        EXPECT_EQ(hash_value(&roots[0], true), hash_pointer(kept));
    }
    max_type_id = saved_max;
    type_names[TYPE_EVENT] = saved_name;

    // Inherited and overridden services.
    EXPECT_EQ(type_services[TYPE_PAREN].marker, type_services[TYPE_BLOCK].marker);
    EXPECT_EQ(type_services[TYPE_FILE].hasher, type_services[TYPE_STRING].hasher);
    EXPECT_NE(type_services[TYPE_BINARY].marker, type_services[TYPE_STRING].marker);
    EXPECT_EQ(type_services[TYPE_VECTOR].hasher, nullptr);
    Cell text, file;
    string::make_at(&text, 4);
    string::concatenate_literal(&text, "Abc", 3);
    file = text;
    file.header = TYPE_FILE;
    EXPECT_EQ(hash_value(&text, false), hash_value(&file, false));
    Cell vec = text;
    vec.header = TYPE_VECTOR;
    EXPECT_EQ(hash_value(&vec, false), 0u);
}

TEST(Registry, WrongActionCountStopsWithNonZeroStatus) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        intptr_t list[64] = {TYPE_TRIPLE, 0, reinterpret_cast<intptr_t>("triple!")};
        register_datatype(64, list);
        _exit(0);
    }
    close(out[1]);
    std::string text;
    char buf[256];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(text,
              "*** Datatype Error: invalid actions count for type: 31\n"
              "*** Found: 61\n"
              "*** Expected: 62\n");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
}
