#include "runtime/platform/libraries.h"

#include <dlfcn.h>

namespace vyx::platform {

void* open_library(const char* soname) { return dlopen(soname, RTLD_NOW | RTLD_LOCAL); }

bool find_symbol(void* library, const char* name, void** fn) {
    *fn = library ? dlsym(library, name) : nullptr;
    return *fn != nullptr;
}

}  // namespace vyx::platform
