// Shared libraries loaded when first needed rather than at start-up: loading
// and relocating a library costs every start, whether or not it is used.
#pragma once

namespace vyx::platform {

// The library of that file name (its soname), loaded once; null when the
// system has none.
void* open_library(const char* soname);

// Fills `fn` with the library's function of that name; false when it has none.
bool find_symbol(void* library, const char* name, void** fn);

template <class Fn>
bool bind_function(void* library, const char* name, Fn& fn) {
    void* p = nullptr;
    bool found = find_symbol(library, name, &p);
    fn = reinterpret_cast<Fn>(p);
    return found;
}

}  // namespace vyx::platform
