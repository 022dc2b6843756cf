#include "boot/init.h"

#include <cstdlib>
#include <optional>

#include "boot/boot_routines.h"
#include "boot/startup_split.h"
#include "boot/system_object.h"

#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/image.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/parse.h"
#include "evaluator/random.h"
#include "evaluator/lexer.h"
#include "runtime/stack.h"
#include "boot/library_modules.h"
#include "evaluator/routine_registry.h"
#include "evaluator/stack_routines.h"
#include "evaluator/system_routines.h"
#include "io/checksum.h"
#include "io/deflate.h"
#include "io/vyxbin.h"
#include "runtime/case_map.h"
#include "runtime/collector.h"
#include "runtime/cycle_stack.h"
#include "runtime/handles.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "datatypes/ownership.h"
#include "runtime/platform/platform.h"

namespace vyx {

void init_core() {
    // Words interned from here to the end of boot are kept in the root block.
    word::collecting = true;
    init_output_hooks();
    platform::init();
    random_gen::init_random();
    init_memory();
    collector::init();
    handles::init_handle_table();
    register_all_datatypes();
    actions::build_action_table();
    // The first node frame and series frame, before anything allocates.
    new_node_frame(NODES_PER_FRAME);
    memory.current_frame = new_series_frame();
    init_root_block();
    stack::init();
    init_cycle_stack();
    symbol::init();
    context::init_global();
    // After the symbol table and the global context, before the symbol hash index.
    init_case_tables();
    set_type_words();
    init_runtime_words();
    init_refinement_words();
    checksum::init_checksum_words();
    deflate::init_compression_words();
    natives::init();
    ownership::make_table();
    lexer::init_lexer_tables();
    // The error catalog and the error! prototype, where the boot data would bring them.
    error::init();
    interp::init();
    parse::init();
    // The routines: the registry, and the boot-only words the library makes the others with.
    routines::define_system_routines();
    boot_routines::define();
    image::define_codec_routines();
    routines::define_stack_routines();
    routines::bind_boot_words();
    // Last: the value slots and the collector's counters.
    value_slots::init_value_slots();
    collector::init_collector_stats();
    system_object::init();
}

void init_runtime() {
    init_core();
    startup_split::lap(startup_split::INIT);
    // The library's boot data, then its modules as library code: constants,
    // typesets, colours, ops, the system object and its codecs, the command
    // line. Under the stress build a collection at every allocation of this
    // start-up would cost every process over a second; it is stressed when
    // VYX_GC_STRESS_BOOT=1 asks (a test does).
    const char* stress_boot = std::getenv("VYX_GC_STRESS_BOOT");
    std::optional<collector::StressPause> pause;
    if (!(stress_boot && stress_boot[0] == '1')) pause.emplace();
    library::define_modules();
}

void shutdown_runtime() {
    handles::free_handle_table();
    free_all_frames();
}

}  // namespace vyx
