// Library routines over the file system and the platform: create-dir,
// exists?, write-stdout, os-info and the clipboard. Each is routine code: it reads its
// arguments at stack::arguments and writes the result slot.
#pragma once

namespace vyx::routines {

// create-dir path [file!]: makes one directory; access/no-create with the
// path when the system refuses (a missing parent, an existing name).
void create_dir();
// exists? path [file!]: whether a file or directory of that name exists.
void exists_q();
// write-stdout data: writes the data to standard output as write does to a
// file (a string! as its text, a binary! as its bytes, any other value molded).
void write_stdout();
// os-info: an object! with name (string!), arch (word!), version (tuple! of
// the kernel's major.minor.patch) and build (integer!).
void os_info();

// read-clipboard: the clipboard's text, files or image; none when empty,
// false when the system clipboard could not be read.
void read_clipboard();
// write-clipboard data: puts a string!, a block of files, an image! or none
// (emptying it) on the clipboard; whether it worked.
void write_clipboard();

// Registers create-dir, exists?, write-stdout, os-info, read-clipboard and
// write-clipboard in the routine registry.
void define_system_routines();

}  // namespace vyx::routines
