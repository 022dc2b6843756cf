#include "runtime/platform/pages.h"

#include <sys/mman.h>

namespace vyx::platform {

void* alloc_pages(size_t size, bool executable) {
    int prot = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* p = mmap(nullptr, size, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool free_pages(void* address, size_t size) { return munmap(address, size) == 0; }

void* reserve_lazy_pages(size_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool protect_pages(void* address, size_t size, bool access) {
    return mprotect(address, size, access ? PROT_READ | PROT_WRITE : PROT_NONE) == 0;
}

}  // namespace vyx::platform
