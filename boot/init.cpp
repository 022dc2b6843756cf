#include "boot/init.h"

#include "datatypes/registry.h"
#include "evaluator/stack.h"
#include "runtime/memory.h"

namespace vyx {

void init_runtime() {
    init_memory();
    register_all_datatypes();
    // The first node frame and series frame, before anything allocates.
    new_node_frame(NODES_PER_FRAME);
    memory.current_frame = new_series_frame();
    stack::init();
}

void shutdown_runtime() { free_all_frames(); }

}  // namespace vyx
