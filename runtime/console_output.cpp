#include <csignal>
#include <unistd.h>
#include "runtime/console_output.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "runtime/fatal.h"
#include "runtime/output.h"
#include "runtime/platform/platform.h"
#include "runtime/unicode.h"

namespace vyx {

namespace {

constexpr uint32_t OUTPUT_BUFFER_SIZE = 1024;
constexpr uint32_t FLUSH_AT = 1020;

struct ConsoleState {
    bool console = false;
    bool failed = false;
    int fd = STDOUT_FILENO;
    uint32_t pending = 0;
    uint8_t buffer[OUTPUT_BUFFER_SIZE];
};
ConsoleState out;

// Standard output, when not a terminal, lost text: the process ends with status 1.
bool stdout_lost = false;

// A write that failed. Standard output to a pipe whose reader has gone ends
// the process as a filter; any other failure of standard output makes the
// final status 1; on a terminal the loss stays silent.
void write_failed() {
    int error = errno;
    out.failed = true;
    if (out.console || out.fd != STDOUT_FILENO) return;
    if (error == EPIPE) platform::end_on_broken_pipe();
    stdout_lost = true;
}

void flush_pending() {
    if (out.pending == 0) return;
    if (!write_all(out.fd, out.buffer, out.pending)) write_failed();
    out.pending = 0;
}

inline void put_code_point(uint32_t cp) {
    if (out.pending > FLUSH_AT) flush_pending();
    if (cp < 0x80) {
        out.buffer[out.pending++] = uint8_t(cp);
    } else if (cp < 0x110000) {
        out.pending += uint32_t(unicode::write_utf8_char(cp, out.buffer + out.pending));
    } else {
        // Not a character: shown as the replacement character rather than
        // failing in the middle of a print.
        out.pending += uint32_t(unicode::write_utf8_char(0xFFFD, out.buffer + out.pending));
    }
}

// The number prints: printf's text for one value, written like any output.
__attribute__((format(printf, 1, 2))) void print_formatted(const char* format, ...) {
    char text[64];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) return;
    write_output(text, uint32_t(n), 1, false);
    run_write_hooks(text, uint32_t(n), 0);
}

}  // namespace

bool write_all(int fd, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{fd, POLLOUT, 0};
            if (::poll(&pfd, 1, -1) < 0 && errno != EINTR) return false;
            continue;
        }
        return false;
    }
    return true;
}

void init_console_output() {
    out.console = ::isatty(STDOUT_FILENO) == 1;
    out.fd = STDOUT_FILENO;
    out.pending = 0;
    out.failed = false;
}

bool console_flag() { return out.console; }
int output_fd() { return out.fd; }
void set_output_fd(int fd) {
    flush_pending();
    out.fd = fd;
}
bool output_failed() { return out.failed; }
bool standard_output_lost() {
    flush_output();
    if (std::ferror(stdout) && !out.console) stdout_lost = true;
    return stdout_lost;
}
void clear_output_failure() { out.failed = false; }

void write_output(const void* text, uint32_t bytes, uint32_t unit, bool newline) {
    // Text that went through stdio must come out first.
    std::fflush(stdout);
    const auto* p = static_cast<const uint8_t*>(text);
    switch (unit) {
    case 1:
        for (uint32_t i = 0; i < bytes; i++) put_code_point(p[i]);
        break;
    case 2: {
        uint32_t n = bytes / 2;
        for (uint32_t i = 0; i < n; i++) {
            uint16_t u;
            std::memcpy(&u, p + 2 * i, 2);
            uint32_t cp = u;
            if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
                uint16_t low;
                std::memcpy(&low, p + 2 * i + 2, 2);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = (((u & 0x3FFu) << 10) | (low & 0x3FFu)) + 0x10000;
                    i++;
                }
            }
            put_code_point(cp);
        }
        break;
    }
    case 4: {
        uint32_t n = bytes / 4;
        for (uint32_t i = 0; i < n; i++) {
            uint32_t cp;
            std::memcpy(&cp, p + 4 * i, 4);
            put_code_point(cp);
        }
        break;
    }
    default:
        fatal_error(FATAL_NO_SWITCH);
    }
    if (newline) put_code_point('\n');
    flush_pending();
}

void write_latin1(const void* text, uint32_t bytes) { write_output(text, bytes, 1, false); }
void write_latin1_line(const void* text, uint32_t bytes) { write_output(text, bytes, 1, true); }
void write_ucs2(const void* text, uint32_t bytes) { write_output(text, bytes, 2, false); }
void write_ucs2_line(const void* text, uint32_t bytes) { write_output(text, bytes, 2, true); }
void write_ucs4(const void* text, uint32_t bytes) { write_output(text, bytes, 4, false); }
void write_ucs4_line(const void* text, uint32_t bytes) { write_output(text, bytes, 4, true); }

void write_byte_string(const char* text) {
    std::fflush(stdout);
    flush_pending();
    size_t n = std::strlen(text);
    if (!write_all(out.fd, text, n)) write_failed();
    run_write_hooks(text, uint32_t(n), 0);
}

void print_integer(int32_t value) { print_formatted("%i", value); }
void print_hex_byte(uint8_t value) { print_formatted("%02X", value); }
void print_hex(uint32_t value) { print_formatted("%08X", value); }
void print_float(double value) { print_formatted("%.16g", value); }

void flush_output() {
    flush_pending();
    std::fflush(stdout);
}

namespace {
// SIGINT, SIGTERM, SIGHUP: what was printed still reaches the output, then
// the process dies by the signal as any program would.
void on_stop(int sig) {
    uint32_t left = out.pending;
    const uint8_t* p = out.buffer;
    while (left > 0) {
        ssize_t n = ::write(out.fd, p, left);
        if (n <= 0) break;
        p += n;
        left -= uint32_t(n);
    }
    out.pending = 0;
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}
}  // namespace

void install_stop_signals() {
    struct sigaction sa {};
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

}  // namespace vyx
