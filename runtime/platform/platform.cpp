#include "runtime/platform/platform.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/console_output.h"

namespace vyx::platform {

void init() {
    std::signal(SIGPIPE, SIG_IGN);
    init_console_output();
}

bool is_terminal(int fd) { return ::isatty(fd) == 1; }

std::string get_current_dir(uint32_t& length) {
    std::string path(256, '\0');
    for (;;) {
        if (::getcwd(path.data(), path.size())) break;
        if (errno != ERANGE) {
            length = 0;
            return std::string();
        }
        path.resize(path.size() * 2);
    }
    path.resize(std::strlen(path.c_str()));
    length = uint32_t(path.size());
    return path;
}

bool set_current_dir(const char* path) { return ::chdir(path) == 0; }

int64_t wait_milliseconds(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;  // also NaN
    if (ms >= double(INT32_MAX)) return INT32_MAX;
    return int64_t(ms);
}

void wait(double seconds) {
    int64_t ms = wait_milliseconds(seconds);
    timespec t{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

bool set_env(const char* name, const char* value) {
    if (!value) return ::unsetenv(name) == 0;
    return ::setenv(name, value, 1) == 0;
}

uint32_t get_env(const char* name, char* buffer, uint32_t size) {
    const char* v = std::getenv(name);
    if (!v) return 0;
    size_t n = std::strlen(v);
    if (n + 1 > size) return uint32_t(n + 1);
    std::memcpy(buffer, v, n + 1);
    return uint32_t(n);
}

uint32_t pack_zone(int32_t offset_minutes) {
    int32_t hours = offset_minutes / 60;  // truncated toward zero
    uint32_t h = hours < 0 ? (uint32_t(-hours) & 0x0F) | 0x10 : uint32_t(hours) & 0x0F;
    int32_t rest = offset_minutes % 60;
    if (rest < 0) rest += 60;
    uint32_t quarter = uint32_t(rest / 15) & 3;
    return (h << 2) | quarter;
}

uint32_t pack_date(int year, int month, int day, int32_t offset_minutes) {
    return (uint32_t(year) << 17) | (uint32_t(month) << 12) | (uint32_t(day) << 7) | pack_zone(offset_minutes);
}

ClockReading read_clock(bool utc, bool precise) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    ClockReading r{};
    time_t secs = now.tv_sec;
    tm u{};
    ::gmtime_r(&secs, &u);
    r.utc_seconds = double(u.tm_hour * 3600 + u.tm_min * 60 + u.tm_sec);
    if (precise) r.utc_seconds += double(now.tv_nsec / 100) / 1e7;
    if (utc) {
        r.date = pack_date(u.tm_year + 1900, u.tm_mon + 1, u.tm_mday, 0);
    } else {
        tm l{};
        ::tzset();  // TZ may have changed since the last reading
        ::localtime_r(&secs, &l);
        r.date = pack_date(l.tm_year + 1900, l.tm_mon + 1, l.tm_mday, int32_t(l.tm_gmtoff / 60));
    }
    return r;
}

void read_epoch(bool precise, bool utc, double& seconds, int32_t& zone_offset) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    seconds = double(now.tv_sec) + (precise ? double(now.tv_nsec) / 1e9 : 0.0);
    zone_offset = 0;
    if (!utc) {
        tm l{};
        ::tzset();  // TZ may have changed since the last reading
        time_t secs = now.tv_sec;
        ::localtime_r(&secs, &l);
        zone_offset = int32_t(l.tm_gmtoff);
    }
}

double get_utc_time(bool precise) { return read_clock(true, precise).utc_seconds; }

uint32_t get_local_time(bool utc) { return read_clock(utc, false).date; }

void end_on_broken_pipe() {
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
    std::raise(SIGPIPE);
    _exit(128 + SIGPIPE);
}

bool read_file(const char* path, std::string& out) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    char chunk[1 << 16];
    while (ok) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) out.append(chunk, size_t(n));
        else if (n == 0) break;
        else if (errno != EINTR) ok = false;
    }
    ::close(fd);
    return ok;
}

}  // namespace vyx::platform
