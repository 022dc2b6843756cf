// Growable arrays: the runtime's internal lists, kept in ordinary series
// buffers so the collector moves and reclaims them like any other series. The
// buffer's unit is the item width (1 for bytes, 4 for 32-bit items). Items count
// from the head to the tail. Item numbers are 1-based; offsets are 0-based bytes.
// Stored 32-bit items are plain words the collector does not follow.
#pragma once
#include <cstdint>

#include "runtime/memory.h"

namespace vyx {

Node new_array(uint32_t count, uint32_t width);
uint32_t array_length(Node array);
// Keeps n - 1 items (n below 1 keeps none).
void set_array_tail(Node array, int32_t n);
Node copy_array(Node array);
void array_append_byte(Node array, uint8_t byte);
void array_append_bytes(Node array, const uint8_t* source, uint32_t length);
void array_append_int(Node array, uint32_t value);
// Byte offset from the head of the first equal 32-bit item, or -1.
int32_t find_array_int(Node array, uint32_t value);
uint32_t array_int_at(Node array, uint32_t item);
void set_array_int_at(Node array, uint32_t item, uint32_t value);
void remove_array_at(Node array, uint32_t offset, uint32_t count);
void remove_array_pointer(Node array, uint32_t value);

}  // namespace vyx
