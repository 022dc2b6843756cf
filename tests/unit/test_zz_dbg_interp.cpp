#include "interp_fixture.h"
#include "runtime/collector.h"
using namespace vyx;
TEST_F(InterpTest, DbgGc) {
  for (const char* s : {"n: make native! [[cond then-blk] 1]", "n true [5]", "n: make native! [[cond then-blk] 1] n true [5]", "if true [5]", "m: :if m true [5]"}) {
    std::printf("%s => %s\n", s, result_of(s).c_str());
  }
}
