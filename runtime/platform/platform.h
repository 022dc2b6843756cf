// The thin layer over Linux that the runtime core stands on: start-up of the
// output layer, terminal detection, the current directory, environment
// variables, sleeping and the clock. Page allocation is in pages.h.
// Text crosses this layer as NUL-terminated UTF-8.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace vyx::platform {

// Ignores SIGPIPE (a closed reader must not kill the process: the write
// reports the failure instead) and starts the console output layer.
void init();

// True when the descriptor is a terminal.
bool is_terminal(int fd);

// The current directory; `length` receives its length in bytes.
std::string get_current_dir(uint32_t& length);
// True on success.
bool set_current_dir(const char* path);

// Sleep time in milliseconds for a duration in seconds: below 1 ms (NaN and
// negative values too) it is 1; above 0x7FFFFFFF ms it is clamped to that.
int64_t wait_milliseconds(double seconds);
void wait(double seconds);

// True on success. A null value removes the variable.
bool set_env(const char* name, const char* value);
// Copies the value (NUL-terminated) into buffer when it fits in `size` bytes
// and returns its length; when it does not fit, returns the size needed (NUL
// included) and writes nothing; 0 when the variable is not set.
uint32_t get_env(const char* name, char* buffer, uint32_t size);

// Packed date: year << 17 | month << 12 | day << 7 | zone. The zone is
// (hours << 2) | quarter: hours the whole hours of the UTC offset truncated
// toward zero, as a 4-bit magnitude with 0x10 added when negative; quarter the
// remaining minutes (non-negative remainder modulo 60) divided by 15.
uint32_t pack_date(int year, int month, int day, int32_t offset_minutes);
uint32_t pack_zone(int32_t offset_minutes);

// One reading of the clock, so the date and the time of day always belong
// together (two readings can straddle midnight).
struct ClockReading {
    uint32_t date;         // packed local date and zone, or the UTC date with zone 0
    double utc_seconds;    // seconds since midnight UTC
};
ClockReading read_clock(bool utc, bool precise);
// The moment as seconds since 1 January 1970 UTC (whole seconds, or to the
// nanosecond with `precise`) and the local zone's offset in seconds east of
// UTC at that moment (0 with `utc`), read together.
void read_epoch(bool precise, bool utc, double& seconds, int32_t& zone_offset);
// Seconds since midnight UTC; with `precise` the fraction of the second is
// added at 100 ns resolution.
double get_utc_time(bool precise);
// The packed date of today: local date and zone, or with `utc` the UTC date
// and zone 0.
uint32_t get_local_time(bool utc);

// Ends the process as a filter whose reader has gone: by SIGPIPE, which a
// shell reports as status 141.
[[noreturn]] void end_on_broken_pipe();

// Reads the whole file at `path` into `out`; false when it cannot be read
// (missing, a directory, no permission, a read error).
bool read_file(const char* path, std::string& out);

}  // namespace vyx::platform
