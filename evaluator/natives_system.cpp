// The natives that drive the collector and report memory: recycle and stats.
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/simple.h"
#include "evaluator/native_table.h"
#include "evaluator/natives.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/raise.h"
#include "runtime/stats.h"

namespace vyx::natives {

namespace {

// A byte count: an integer!, or a float! once it passes the integer range.
void box_bytes(double bytes) {
    if (bytes > 2147483647.0)
        float_::box(bytes);
    else
        integer::box(int32_t(bytes));
}

}  // namespace

// recycle /on /off: switches the collector, or runs one whole collection and
// answers what stats answers.
VYX_NATIVE(recycle_, 105, "recycle",
           R"~("runs the garbage collector or switches it on or off" /on /off return: [integer! unset!])~");
void recycle_(int, const int* refs) {
    if (refs[native_recycle_.refinement("on")] >= 0 || refs[native_recycle_.refinement("off")] >= 0) {
        collector::active = refs[native_recycle_.refinement("on")] >= 0;
        unset::box();
        return;
    }
    box_bytes(collector::recycle());
}

// stats /show /info: the memory in use, or the detailed block.
VYX_NATIVE(stats_, 37, "stats",
           R"~("memory statistics" /show /info return: [integer! block!])~");
void stats_(int, const int* refs) {
    if (refs[native_stats_.refinement("show")] >= 0)
        raise_error(err::internal_not_done);  // printing needs the library's show-memory-stats
    if (refs[native_stats_.refinement("info")] >= 0) {
        stack::keep_result_only();
        stats::memory_stats_block(stack::arguments, 2);
        return;
    }
    box_bytes(stats::memory_in_use());
}

}  // namespace vyx::natives
