// Output hooks: every print of a value (`print`, `prin`) goes through a list of
// print hooks, and the console writer announces raw writes to a list of write
// hooks, so other parts can take over or watch output.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx {

using PrintHook = void (*)(const Cell* value, bool newline);
// Called with the text written (bytes), its length and a flag word (0).
using WriteHook = void (*)(const void* text, uint32_t length, uint32_t flags);

// Makes both lists (capacity 5, growing by 5) and registers default_print_hook
// as the first print hook. First step of runtime initialisation.
void init_output_hooks();
// Appends each non-null hook to its list.
void add_output_hooks(PrintHook print, WriteHook write);
void run_print_hooks(const Cell* value, bool newline);
void run_write_hooks(const void* text, uint32_t length, uint32_t flags);

// Writes a string value from its index to its tail with the console writer of
// its unit, then a line end when asked. An index past the tail writes nothing.
void default_print_hook(const Cell* value, bool newline);

// The terminal view sets these so printed text does not land in its screen
// area: called before and after the default hook writes. Null: nothing to do.
extern void (*pause_for_print)();
extern void (*resume_after_print)();

// List sizes (for inspection).
uint32_t print_hook_count();
uint32_t print_hook_capacity();
uint32_t write_hook_count();
PrintHook print_hook_at(uint32_t i);

}  // namespace vyx
