#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "datatypes/registry.h"
#include "runtime_fixture.h"

using namespace vyx;

namespace {
void handler_a() {}
void handler_b() {}
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
    Registration(TYPE_SERIES, 0, "series!").on(A_HEAD, handler_a).on(A_TAIL, handler_b).commit();
    Registration(TYPE_BLOCK, TYPE_SERIES, "block!").inherit({A_HEAD, A_NEXT}).commit();
    Registration(TYPE_PATH, TYPE_BLOCK, "path!").inherit(A_HEAD).commit();
    Registration(TYPE_LIT_PATH, TYPE_PATH, "lit-path!").inherit({A_HEAD, A_TAIL}).commit();
    EXPECT_EQ(get_handler(TYPE_LIT_PATH, A_HEAD), handler_a);
    // The parent marked the slot unsupported: the child's inherit stays unsupported.
    EXPECT_EQ(get_handler(TYPE_BLOCK, A_NEXT), nullptr);
    EXPECT_EQ(get_handler(TYPE_LIT_PATH, A_TAIL), nullptr);
    // Later changes to a parent do not reach children.
    Registration(TYPE_SERIES, 0, "series!").on(A_HEAD, handler_b).commit();
    EXPECT_EQ(get_handler(TYPE_LIT_PATH, A_HEAD), handler_a);
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
