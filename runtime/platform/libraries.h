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

// VYX_LIBRARY(Name, "soname", LIST), where LIST(X) names each function the
// code calls as X(function), declares a struct Name with a member of the same
// name and type for each function of the library's header, and
// `const Name* load_Name()`: the table, loaded and bound at the first call,
// or null when the library or one of the functions is missing.
#define VYX_LIBRARY_MEMBER(f) decltype(&::f) f;
#define VYX_LIBRARY_BIND(f) &&::vyx::platform::bind_function(library, #f, api.f)
#define VYX_LIBRARY(Name, soname, LIST)                                   \
    struct Name {                                                         \
        LIST(VYX_LIBRARY_MEMBER)                                          \
    };                                                                    \
    [[maybe_unused]] const Name* load_##Name() {                          \
        static Name api{};                                                \
        static const bool loaded = [] {                                   \
            void* library = ::vyx::platform::open_library(soname);        \
            return library LIST(VYX_LIBRARY_BIND);                        \
        }();                                                              \
        return loaded ? &api : nullptr;                                   \
    }
