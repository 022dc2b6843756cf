#include "runtime/platform/process.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vyx::platform {

namespace {

// Children started without waiting: the SIGCHLD handler reaps those that have
// ended. A slot holds a process id or 0.
constexpr int BACKGROUND_SLOTS = 256;
std::atomic<pid_t> background[BACKGROUND_SLOTS];
bool reaper_installed = false;

void reap_background() {
    int saved = errno;
    for (auto& slot : background) {
        pid_t pid = slot.load(std::memory_order_relaxed);
        if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == pid) slot.store(0, std::memory_order_relaxed);
    }
    errno = saved;
}

void on_child(int) { reap_background(); }

void install_reaper() {
    if (reaper_installed) return;
    struct sigaction sa {};
    sa.sa_handler = on_child;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    ::sigaction(SIGCHLD, &sa, nullptr);
    reaper_installed = true;
}

void track_background(pid_t pid) {
    install_reaper();
    reap_background();  // ended children free their slots first
    for (auto& slot : background) {
        pid_t expected = 0;
        if (slot.compare_exchange_strong(expected, pid)) break;
    }
    // It may have ended before it was tracked: no signal comes again for it.
    reap_background();
}

int exit_status(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

int wait_child(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return exit_status(status);
}

int64_t now_ms() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Milliseconds left before the deadline (-1: none), at least 0.
int left_ms(int64_t deadline) {
    if (deadline < 0) return -1;
    return int(std::max<int64_t>(deadline - now_ms(), 0));
}

// Waits for the child until the deadline; false when it is still running then.
bool wait_child_until(pid_t pid, int64_t deadline, int& status) {
    for (;;) {
        int st = 0;
        pid_t got = ::waitpid(pid, &st, WNOHANG);
        if (got == pid) {
            status = exit_status(st);
            return true;
        }
        if (got < 0 && errno != EINTR) {
            status = -1;
            return true;
        }
        if (left_ms(deadline) == 0) return false;
        ::usleep(2000);
    }
}

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

struct Fds {
    int child[3] = {-1, -1, -1};   // what the child gets as 0, 1, 2 (-1: the parent's own)
    int parent[3] = {-1, -1, -1};  // our ends of the pipes
    ~Fds() {
        for (int i = 0; i < 3; i++) {
            close_fd(child[i]);
            close_fd(parent[i]);
        }
    }
};

// Prepares the child's end of one stream; false when a file or pipe fails.
bool prepare(Stream& s, int which, Fds& fds) {
    bool input = which == 0;
    switch (s.kind) {
    case Stream::PARENT:
        return true;
    case Stream::NUL:
        fds.child[which] = ::open("/dev/null", (input ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
        return fds.child[which] >= 0;
    case Stream::FILE_PATH:
        fds.child[which] = input ? ::open(s.path.c_str(), O_RDONLY | O_CLOEXEC)
                                 : ::open(s.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        return fds.child[which] >= 0;
    case Stream::DATA: case Stream::CAPTURE: {
        int p[2];
        if (::pipe2(p, O_CLOEXEC) != 0) return false;
        fds.child[which] = input ? p[0] : p[1];
        fds.parent[which] = input ? p[1] : p[0];
        ::fcntl(fds.parent[which], F_SETFL, ::fcntl(fds.parent[which], F_GETFL) | O_NONBLOCK);
        // Larger pipes mean fewer rounds for big transfers (the system may refuse; that is fine).
        ::fcntl(p[0], F_SETPIPE_SZ, 1 << 20);
        return true;
    }
    }
    return false;
}

// Feeds the input and drains the outputs together until every pipe is closed;
// false when the deadline (-1: none) passed first.
bool serve(SpawnRequest& r, Fds& fds, int64_t deadline) {
    size_t sent = 0;
    if (fds.parent[0] >= 0 && r.in.size == 0) close_fd(fds.parent[0]);
    Stream* outs[3] = {nullptr, &r.out, &r.err};
    for (;;) {
        pollfd p[3];
        int n = 0, which[3];
        for (int i = 0; i < 3; i++) {
            if (fds.parent[i] < 0) continue;
            p[n] = {fds.parent[i], short(i == 0 ? POLLOUT : POLLIN), 0};
            which[n++] = i;
        }
        if (n == 0) return true;
        int ready = ::poll(p, nfds_t(n), left_ms(deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return true;
        }
        if (ready == 0) return false;
        for (int k = 0; k < n; k++) {
            int i = which[k];
            if (!p[k].revents) continue;
            if (i == 0) {
                // POLLERR: the child closed its end; the write below reports EPIPE.
                ssize_t w = ::write(fds.parent[0], r.in.data + sent, std::min<size_t>(r.in.size - sent, 1 << 16));
                if (w > 0) sent += size_t(w);
                else if (w < 0 && errno != EAGAIN && errno != EINTR) sent = r.in.size;  // EPIPE: it stopped reading
                if (sent >= r.in.size) close_fd(fds.parent[0]);
                continue;
            }
            Bytes& into = outs[i]->captured;
            size_t have = into.size();
            if (into.capacity() - have < (1 << 16) && !into.reserve(std::max<size_t>(have * 2, 1 << 20))) {
                close_fd(fds.parent[i]);  // out of memory: the child's further output is lost
                continue;
            }
            ssize_t got = ::read(fds.parent[i], into.data() + have, into.capacity() - have);
            if (got > 0) {
                into.set_size(have + size_t(got));
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                close_fd(fds.parent[i]);
            }
        }
    }
}

}  // namespace

std::vector<std::string> split_command(const std::string& command) {
    std::vector<std::string> out;
    std::string current;
    bool quoted = false, any = false;
    for (char c : command) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
            if (any) out.push_back(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any) out.push_back(current);
    return out;
}

int64_t spawn(SpawnRequest& r, bool& not_found) {
    not_found = false;
    if (r.argv.empty()) return -1;
    Fds fds;
    if (!prepare(r.in, 0, fds) || !prepare(r.out, 1, fds) || !prepare(r.err, 2, fds)) return -1;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int i = 0; i < 3; i++)
        if (fds.child[i] >= 0) posix_spawn_file_actions_adddup2(&actions, fds.child[i], i);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    // A child that may be killed leads a process group of its own, so that
    // what it started goes with it.
    bool bounded = r.wait && r.timeout_ms >= 0;
    if (bounded) {
        posix_spawnattr_setpgroup(&attr, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attr, flags);

    std::vector<char*> argv;
    for (auto& a : r.argv) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        not_found = rc == ENOENT;
        return -1;
    }
    for (int i = 0; i < 3; i++) close_fd(fds.child[i]);
    int64_t deadline = bounded ? now_ms() + r.timeout_ms : -1;
    bool served = serve(r, fds, deadline);
    if (!r.wait) {
        track_background(pid);
        return pid;
    }
    if (!bounded) return wait_child(pid);
    int status = -1;
    if (served && wait_child_until(pid, deadline, status)) return status;
    ::kill(-pid, SIGKILL);
    wait_child(pid);
    return TIMED_OUT;
}

bool spawn_detached(const std::vector<std::string>& argv) {
    SpawnRequest r;
    r.argv = argv;
    r.in.kind = Stream::NUL;
    r.out.kind = Stream::NUL;
    r.err.kind = Stream::NUL;
    bool not_found;
    return spawn(r, not_found) > 0;
}

}  // namespace vyx::platform
