// Console output on Linux: every character the runtime prints passes here.
//
// Text arrives as character buffers of 1, 2 or 4 bytes per character (the
// default print hook) or as NUL-terminated byte strings and numbers (the
// runtime's own diagnostics). Output is UTF-8 on a terminal and when
// redirected alike; escape sequences pass straight through (a terminal
// interprets them itself) and line ends are LF. Writes go out in batches of at
// most 1020 bytes, each cut at a character boundary; every write operation
// flushes before it returns.
//
// A write that fails (broken pipe, full disk) ends that write: what already got
// through stays as it was, the rest of that text is dropped, and the failure
// is remembered for output_failed(). SIGPIPE is ignored by the platform layer;
// but when standard output is a pipe whose reader has gone, the process ends
// at once as a filter does (killed by SIGPIPE, status 141), and when another
// write to standard output fails the process ends with status 1. A terminal
// loses text silently.
#pragma once
#include <cstddef>
#include <cstdint>

namespace vyx {

// Records whether standard output is a terminal and points the writer at it.
void init_console_output();
// True when standard output was a terminal at start-up.
bool console_flag();
// The descriptor written to (1 unless redirected inside the process).
int output_fd();
void set_output_fd(int fd);
// True once a write has failed since the last call to clear_output_failure.
bool output_failed();
void clear_output_failure();
// Flushes, then answers whether text for standard output (not a terminal) was
// lost since start-up: the process must then end with status 1.
bool standard_output_lost();

// Writes `bytes` bytes of text of `unit` bytes per character (1 Latin-1, 2
// UCS-2, 4 code points; a UCS-2 surrogate pair is joined into one character),
// then LF when `newline` is set.
void write_output(const void* text, uint32_t bytes, uint32_t unit, bool newline);
void write_latin1(const void* text, uint32_t bytes);
void write_latin1_line(const void* text, uint32_t bytes);
void write_ucs2(const void* text, uint32_t bytes);
void write_ucs2_line(const void* text, uint32_t bytes);
void write_ucs4(const void* text, uint32_t bytes);
void write_ucs4_line(const void* text, uint32_t bytes);
// The bytes unchanged, then the write hooks with (text, length, 0).
void write_byte_string(const char* text);
// Numbers formatted as "%i", "%02X", "%08X", "%.16g" and "%.7g", written and
// announced to the write hooks.
void print_integer(int32_t value);
void print_hex_byte(uint8_t value);
void print_hex(uint32_t value);
void print_float(double value);
// Writes what is pending (the writers already do before they return).
void flush_output();
// SIGINT, SIGTERM and SIGHUP write out what is waiting to be printed, then
// end the process by the signal.
void install_stop_signals();

// Writes all n bytes to fd, going on after short writes, EINTR and (for a
// non-blocking descriptor) EAGAIN. False when the system refuses; the bytes
// written before the failure stay written.
bool write_all(int fd, const void* data, size_t n);

}  // namespace vyx
