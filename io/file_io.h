// Files and directories at the level of values: what read, write, delete,
// query and rename of a file! do, and the questions the routines and natives
// ask (exists, make a directory, size). Each operation opens and closes its
// own descriptor. Errors are raised here (access/cannot-open and the refinement
// checks); the platform layer below answers by value.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace vyx::simple_io {

// The path of a file! (from its index) as UTF-8; false when it holds a NUL,
// which no system path can.
bool os_path(const Cell* file, std::string& out);
// Whether the path's text names a directory: it ends with "/", or is "." or
// "..", or ends with "/." or "/..".
bool is_dir_path(const Cell* file);

// Pushes a string! of UTF-8 bytes (a leading byte-order mark skipped) with
// each CR that stands before an LF dropped; the bytes are compacted in place.
Cell* push_text(uint8_t* bytes, size_t n);
// Pushes a block of the lines of the bytes as strings: each LF ends a line,
// one CR before it is dropped; text after the last LF is one more line.
Cell* lines_to_block(const uint8_t* bytes, size_t n);
// The text of a string-like value from its index, else the value formed.
std::string text_of(const Cell* value);

// read of a file!: a binary!, a string! (CR LF folded), a block of lines, or
// for a directory its listing; the result is pushed on the stack.
const Cell* read(Cell* file, Cell* part, Cell* seek, bool binary, bool lines);
// The file's bytes whole (checksum of a file!); raises cannot-open.
void read_bytes(const Cell* file, std::vector<uint8_t>& out);
// write of a value to a file!, or to standard output when file is null.
void write(Cell* file, Cell* value, Cell* part, Cell* seek, bool binary, bool append, bool lines);
// The listing of a directory: file! names, sub-directories ending with "/".
const Cell* read_dir(Cell* dir);

bool remove(const Cell* file);
bool rename(const Cell* from, const Cell* to);
bool make_dir(const Cell* dir);
bool exists(const Cell* file);
// The last-write time as a date! in UTC written into `out`; false (and out
// untouched) when the path cannot be queried or names a file with a trailing "/".
bool query(const Cell* file, Cell* out);
// The size in bytes of a file; -1 for a directory or a file that cannot be opened.
int64_t size(const Cell* file);

}  // namespace vyx::simple_io
