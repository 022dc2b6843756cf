// The routines of the boot's own steps: bit shifts, the current directory,
// the command line, and the boot-only word that makes routines from the
// registry.
#pragma once

namespace vyx::boot_routines {

// Keeps the process's arguments for command-line-string and the boot.
void set_command_line(int argc, char** argv);
// Registers the routines.
void define();
// Unsets the words that only the boot may use.
void unset_boot_words();

}  // namespace vyx::boot_routines
