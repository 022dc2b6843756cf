// Pages of virtual memory from the operating system.
#pragma once
#include <cstddef>

namespace vyx::platform {

// Reserves and commits `size` bytes, read-write (read-write-execute when asked).
// Returns null when the system refuses.
void* alloc_pages(size_t size, bool executable);
// Releases a region taken by alloc_pages. Returns false when the system refuses.
bool free_pages(void* address, size_t size);
// Reserves address space without committing it (pages are committed on first touch).
void* reserve_lazy_pages(size_t size);
// Makes a region taken by alloc_pages unreadable (access false) or read-write
// again; its pages stay committed. Returns false when the system refuses.
bool protect_pages(void* address, size_t size, bool access);

}  // namespace vyx::platform
