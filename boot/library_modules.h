// The library's modules as start-up defines them: the boot data that the
// build generates from library/ (tools/gen_boot_data.cpp) is embedded in the
// executable; start-up decodes it and evaluates each module's block, in the
// manifest's order, as library code.
#pragma once
#include "runtime/cell.h"

namespace vyx::library {

// Decodes the boot data (the embedded blob, or the file that VYX_BOOT_DATA
// names) and evaluates every module as library code; then, when the
// environment names one (VYX_LIBRARY_FIXTURE, for tests), a file of fixtures
// as library code too.
void define_modules();

// Boot literal n: the manifest is 0, module i is 1 + i; after the modules
// come the version string and the build values.
const Cell* boot_literal(unsigned n);

}  // namespace vyx::library
