#include "runtime/platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "runtime/console_output.h"

extern char** environ;

namespace vyx::platform {

int open_file(const char* path, int mode) {
    int flags = O_CLOEXEC;
    if (mode & (OPEN_WRITE | OPEN_APPEND | OPEN_SEEK)) {
        flags |= O_WRONLY | O_CREAT;
        if (mode & OPEN_APPEND) flags |= O_APPEND;
        else if (!(mode & OPEN_SEEK)) flags |= O_TRUNC;
    } else {
        flags |= O_RDONLY;
    }
    int fd;
    do fd = ::open(path, flags, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

void close_file(int fd) {
    if (fd >= 0) ::close(fd);
}

int64_t file_size(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return -1;
    return S_ISREG(st.st_mode) ? int64_t(st.st_size) : 0;
}

int64_t path_size(const char* path) {
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    int64_t n = is_directory_fd(fd) ? -1 : file_size(fd);
    ::close(fd);
    return n;
}

bool is_directory_fd(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

bool seek_to(int fd, int64_t offset) { return ::lseek(fd, off_t(offset), SEEK_SET) >= 0; }

bool write_fully(int fd, const void* data, size_t n) { return write_all(fd, data, n); }

namespace {

// One read that goes on after EINTR: the bytes read, 0 at the end, -1 on failure.
ssize_t read_some(int fd, uint8_t* into, size_t n) {
    ssize_t k;
    do k = ::read(fd, into, n);
    while (k < 0 && errno == EINTR);
    return k;
}

}  // namespace

bool Bytes::reserve(size_t n) {
    if (n <= capacity_) return true;
    void* p = std::realloc(data_, n);
    if (!p) return false;
    data_ = static_cast<uint8_t*>(p);
    capacity_ = n;
    return true;
}

int64_t read_up_to(int fd, uint8_t* into, size_t n) {
    size_t filled = 0;
    while (filled < n) {
        ssize_t k = read_some(fd, into + filled, n - filled);
        if (k < 0) return -1;
        if (k == 0) break;
        filled += size_t(k);
    }
    return int64_t(filled);
}

ReadStatus read_from(int fd, int64_t seek, int64_t limit, uint64_t max_bytes, Bytes& out) {
    out.clear();
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return ReadStatus::failed;
    bool regular = S_ISREG(st.st_mode);
    if (seek > 0) {
        if (regular && st.st_size > 0 && seek >= st.st_size) return ReadStatus::ok;
        if (::lseek(fd, off_t(seek), SEEK_SET) < 0) {
            // Not seekable (a pipe): read the bytes before the position and drop them.
            uint8_t skip[65536];
            for (int64_t left = seek; left > 0;) {
                ssize_t k = read_some(fd, skip, size_t(std::min<int64_t>(left, sizeof skip)));
                if (k < 0) return ReadStatus::failed;
                if (k == 0) return ReadStatus::ok;
                left -= k;
            }
        }
    }
    if (limit == 0) return ReadStatus::ok;
    uint64_t wanted = limit > 0 ? uint64_t(limit) : UINT64_MAX;
    // The size the file tells (it may still grow or shrink while it is read).
    uint64_t first = 65536;
    if (regular && st.st_size > 0) {
        uint64_t remaining = uint64_t(st.st_size) - uint64_t(std::max<int64_t>(seek, 0));
        if (std::min(remaining, wanted) > max_bytes) return ReadStatus::too_long;
        first = remaining + 1;  // one byte more sees the end in the same read
    }
    first = std::min({first, wanted, max_bytes + 1});
    if (!out.reserve(size_t(first))) return ReadStatus::too_long;
    size_t filled = 0;
    for (;;) {
        if (filled == out.capacity()) {
            if (filled >= wanted || filled > max_bytes) break;
            if (!out.reserve(size_t(std::min<uint64_t>(uint64_t(filled) * 2, max_bytes + 1))))
                return ReadStatus::too_long;
        }
        size_t room = size_t(std::min<uint64_t>(out.capacity() - filled, wanted - filled));
        ssize_t k = read_some(fd, out.data() + filled, room);
        if (k < 0) return ReadStatus::failed;
        if (k == 0) break;
        filled += size_t(k);
        if (filled >= wanted) break;
    }
    if (filled > max_bytes) return ReadStatus::too_long;
    out.set_size(filled);
    return ReadStatus::ok;
}

bool make_dir(const char* path) { return ::mkdir(path, 0777) == 0; }

bool path_exists(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0;
}

bool remove_dir(const char* path) { return ::rmdir(path) == 0; }

bool remove_file(const char* path) {
    struct stat st;
    // unlink would refuse a directory anyway; asking first keeps the answer plain.
    if (::lstat(path, &st) == 0 && S_ISDIR(st.st_mode)) return false;
    return ::unlink(path) == 0;
}

bool rename_no_replace(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: link the new name (which fails when it
    // exists), then drop the old one; a directory cannot be linked.
    struct stat st;
    if (::lstat(to, &st) == 0) return false;
    if (::link(from, to) == 0) return ::unlink(from) == 0;
    if (::lstat(to, &st) == 0) return false;
    return ::rename(from, to) == 0;
}

bool list_dir(const char* path, std::vector<DirEntry>& out) {
    int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return false;
    }
    while (dirent* e = ::readdir(d)) {
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
        bool dir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st;
            dir = ::fstatat(fd, n, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        out.push_back({n, dir});
    }
    ::closedir(d);
    return true;
}

bool modified_time(const char* path, int64_t& seconds, int32_t& millis) {
    struct stat st;
    if (::stat(path, &st) != 0) return false;
    seconds = int64_t(st.st_mtim.tv_sec);
    millis = int32_t(st.st_mtim.tv_nsec / 1000000);
    return true;
}

std::vector<std::pair<std::string, std::string>> environment() {
    std::vector<std::pair<std::string, std::string>> out;
    for (char** e = environ; e && *e; e++) {
        const char* entry = *e;
        // The name ends at the first "=" that is not its first character.
        const char* eq = std::strchr(entry + (entry[0] == '=' ? 1 : 0), '=');
        if (!eq) out.emplace_back(entry, "");
        else out.emplace_back(std::string(entry, size_t(eq - entry)), std::string(eq + 1));
    }
    return out;
}

const char* arch_name(const char* m) {
    if (std::strcmp(m, "x86_64") == 0) return "x86-64";
    if (std::strcmp(m, "aarch64") == 0 || std::strcmp(m, "arm64") == 0) return "ARM64";
    if (m[0] == 'i' && m[1] >= '3' && m[1] <= '6' && std::strcmp(m + 2, "86") == 0) return "x86-32";
    if (std::strncmp(m, "arm", 3) == 0) return "ARM";
    return "Unknown";
}

namespace {

// PRETTY_NAME of os-release, its quotes removed; empty when not found.
std::string pretty_name() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        FILE* f = std::fopen(path, "re");
        if (!f) continue;
        char line[1024];
        std::string found;
        while (std::fgets(line, sizeof line, f)) {
            if (std::strncmp(line, "PRETTY_NAME=", 12) != 0) continue;
            std::string v(line + 12);
            while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
            if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
            found = v;
            break;
        }
        std::fclose(f);
        return found;
    }
    return std::string();
}

}  // namespace

OsInfo os_info() {
    OsInfo info{"Linux", "Unknown", {0, 0, 0}};
    std::string pretty = pretty_name();
    if (!pretty.empty()) info.name += " " + pretty;
    utsname u;
    if (::uname(&u) == 0) {
        info.arch = arch_name(u.machine);
        // The release starts with major.minor.patch; anything after them is the vendor's.
        const char* p = u.release;
        for (int i = 0; i < 3 && *p >= '0' && *p <= '9'; i++) {
            info.version[i] = int(std::strtol(p, const_cast<char**>(&p), 10));
            if (*p == '.') p++;
            else break;
        }
    }
    return info;
}

}  // namespace vyx::platform
