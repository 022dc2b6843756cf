// Files and directories over POSIX: opening, sizes, whole reads that survive
// short reads and files that report no size, directory listings, and the
// small questions and changes (exists, make, delete, rename, modified time).
// Paths are NUL-terminated UTF-8. Failures are answered by value (-1, false),
// never raised; every descriptor is close-on-exec.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace vyx::platform {

// Open modes, as bits.
enum OpenMode : int {
    OPEN_READ = 1,
    OPEN_WRITE = 2,   // creates; truncates unless APPEND or SEEK is set
    OPEN_APPEND = 4,  // writes go to the end
    OPEN_SEEK = 8,    // keeps the content: the writer moves to a position
};
int open_file(const char* path, int mode);
// The size of the file at a path, as file_size tells it after opening it for
// reading (without waiting for a FIFO's writer); -1 for a directory or a file
// that cannot be opened.
int64_t path_size(const char* path);
void close_file(int fd);
// The size in bytes; 0 for what is not a regular file (pipes, devices); -1
// when it cannot be asked.
int64_t file_size(int fd);
bool is_directory_fd(int fd);

// A growable byte buffer whose new room is not cleared (a 100 MB read should
// not write 100 MB of zeros first).
class Bytes {
public:
    Bytes() = default;
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    ~Bytes() { std::free(data_); }
    uint8_t* data() { return data_; }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    // Room for at least n bytes in all; false when memory runs out.
    bool reserve(size_t n);
    void set_size(size_t n) { size_ = n; }
    void clear() { size_ = 0; }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0, capacity_ = 0;
};

// Why a read stopped short of what was asked.
enum class ReadStatus { ok, failed, too_long };
// Skips `seek` bytes from the start (a seek past the end leaves nothing to
// read), then reads up to `limit` bytes (all when limit < 0) to the end of
// the file into `out`, looping on short reads and growing the buffer for
// files whose size is unknown. More than `max_bytes` answers too_long.
ReadStatus read_from(int fd, int64_t seek, int64_t limit, uint64_t max_bytes, Bytes& out);

// Reads up to n bytes into `into` (fewer only at the end of the file),
// looping on short reads; -1 on failure.
int64_t read_up_to(int fd, uint8_t* into, size_t n);
// Moves the file position to `offset` from the start; false on failure.
bool seek_to(int fd, int64_t offset);
// Writes all bytes (going on after short writes and EINTR); false on failure.
bool write_fully(int fd, const void* data, size_t n);

bool make_dir(const char* path);
bool path_exists(const char* path);
// Removes a directory (which must be empty) or a file.
bool remove_dir(const char* path);
bool remove_file(const char* path);
// Renames without ever replacing: false when `to` exists, both left as they are.
bool rename_no_replace(const char* from, const char* to);

struct DirEntry {
    std::string name;  // raw bytes of the entry's name
    bool directory;    // a directory, or a link to one
};
// The entries of a directory except "." and "..", in the order the system
// gives them; false when it cannot be opened.
bool list_dir(const char* path, std::vector<DirEntry>& out);

// The last modification time in whole seconds since 1970 (UTC) and the
// milliseconds of that second; false when the path cannot be queried.
bool modified_time(const char* path, int64_t& seconds, int32_t& millis);

// The environment as name/value pairs, in the order of the process's block.
std::vector<std::pair<std::string, std::string>> environment();

struct OsInfo {
    std::string name;  // "Linux", and the distribution's pretty name when known
    std::string arch;  // x86-64, ARM64, x86-32, ARM or Unknown
    int version[3];    // the kernel's major.minor.patch
};
OsInfo os_info();
// Maps the machine name of uname to an architecture name.
const char* arch_name(const char* machine);

}  // namespace vyx::platform
