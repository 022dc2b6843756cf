#include "runtime/output.h"

#include <cstdlib>
#include <cstring>

#include "runtime/console_output.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"

namespace vyx {

void (*pause_for_print)() = nullptr;
void (*resume_after_print)() = nullptr;

namespace {

constexpr uint32_t HOOK_STEP = 5;

template <typename Fn>
struct HookList {
    Fn* entries = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;

    void reset() {
        std::free(entries);
        entries = static_cast<Fn*>(std::calloc(HOOK_STEP, sizeof(Fn)));
        if (!entries) fatal_error(FATAL_NO_MEMORY);
        count = 0;
        capacity = HOOK_STEP;
    }
    void add(Fn fn) {
        if (!entries) reset();
        if (count == capacity) {
            auto* grown = static_cast<Fn*>(std::calloc(capacity + HOOK_STEP, sizeof(Fn)));
            if (!grown) fatal_error(FATAL_NO_MEMORY);
            std::memcpy(grown, entries, sizeof(Fn) * count);
            std::free(entries);
            entries = grown;
            capacity += HOOK_STEP;
        }
        entries[count++] = fn;
    }
};

HookList<PrintHook> print_hooks;
HookList<WriteHook> write_hooks;

}  // namespace

void init_output_hooks() {
    print_hooks.reset();
    write_hooks.reset();
    print_hooks.add(default_print_hook);
}

void add_output_hooks(PrintHook print, WriteHook write) {
    if (print) print_hooks.add(print);
    if (write) write_hooks.add(write);
}

void run_print_hooks(const Cell* value, bool newline) {
    // A hook may add hooks: read the list afresh on every step.
    for (uint32_t i = 0; i < print_hooks.count; i++) print_hooks.entries[i](value, newline);
}

void run_write_hooks(const void* text, uint32_t length, uint32_t flags) {
    for (uint32_t i = 0; i < write_hooks.count; i++) write_hooks.entries[i](text, length, flags);
}

void default_print_hook(const Cell* value, bool newline) {
    if (pause_for_print) pause_for_print();
    SeriesBuffer* b = node_buffer(value->data2);
    uint32_t unit = b->unit();
    if (unit == 1 || unit == 2 || unit == 4) {
        uint64_t start = uint64_t(b->offset) + uint64_t(value->data1) * unit;
        uint32_t bytes = start < b->tail ? uint32_t(b->tail - start) : 0;
        const uint8_t* text = b->data() + (start < b->tail ? start : b->tail);
        switch (unit) {
        case 1: newline ? write_latin1_line(text, bytes) : write_latin1(text, bytes); break;
        case 2: newline ? write_ucs2_line(text, bytes) : write_ucs2(text, bytes); break;
        default: newline ? write_ucs4_line(text, bytes) : write_ucs4(text, bytes); break;
        }
    } else {
        write_byte_string("Error: unknown string encoding: ");
        print_integer(int32_t(unit));
        write_byte_string("\n");
    }
    flush_output();
    if (resume_after_print) resume_after_print();
}

uint32_t print_hook_count() { return print_hooks.count; }
uint32_t print_hook_capacity() { return print_hooks.capacity; }
uint32_t write_hook_count() { return write_hooks.count; }
PrintHook print_hook_at(uint32_t i) { return i < print_hooks.count ? print_hooks.entries[i] : nullptr; }

}  // namespace vyx
