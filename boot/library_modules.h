// The library's modules as start-up defines them: Vyx source, embedded at
// build time in the manifest's order (library/manifest.txt), each evaluated
// as library code.
#pragma once

namespace vyx::library {

struct Module {
    const char* name;
    const char* text;
};
extern const Module modules[];
extern const unsigned module_count;

// Evaluates every module as library code; then, when the environment names
// one (VYX_LIBRARY_FIXTURE, for tests), a file of fixtures as library code too.
void define_modules();

}  // namespace vyx::library
