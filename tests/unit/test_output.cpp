#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "datatypes/string.h"
#include "runtime/console_output.h"
#include "runtime/output.h"
#include "runtime/unicode.h"
#include "runtime_fixture.h"

using namespace vyx;

namespace {

// Points the console writer at a pipe and collects what arrives; the reader
// can be slowed down to force short writes and full pipes.
struct PipeCapture {
    int fds[2];
    int saved;
    std::string got;
    std::thread reader;

    explicit PipeCapture(bool slow = false) {
        EXPECT_EQ(pipe(fds), 0);
        saved = output_fd();
        set_output_fd(fds[1]);
        reader = std::thread([this, slow] {
            char buf[4096];
            for (;;) {
                ssize_t n = read(fds[0], buf, slow ? 1000 : sizeof buf);
                if (n <= 0) break;
                got.append(buf, size_t(n));
                if (slow && got.size() % 200000 < 1000) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    std::string finish() {
        flush_output();
        set_output_fd(saved);
        close(fds[1]);
        reader.join();
        close(fds[0]);
        return got;
    }
};

Cell make_string(std::initializer_list<uint32_t> cps, uint32_t unit) {
    Cell c;
    string::make_at(&c, uint32_t(cps.size()), unit);
    for (uint32_t cp : cps) unicode::append_char(c.data2, cp);
    return c;
}

std::vector<std::string> seen;
void recording_print_hook(const Cell*, bool newline) { seen.push_back(newline ? "line" : "text"); }
void recording_write_hook(const void* text, uint32_t length, uint32_t) {
    seen.emplace_back(static_cast<const char*>(text), length);
}

}  // namespace

TEST_F(RuntimeTest, DefaultPrintHookWritesUtf8WithLf) {
    struct {
        Cell value;
        bool newline;
        std::string bytes;
    } cases[] = {
        {make_string({'=', '=', ' ', '3'}, 1), true, "== 3\n"},
        {make_string({0x20AC}, 2), false, "\xE2\x82\xAC"},
        {make_string({0xE9, 0x1F600}, 4), true, "\xC3\xA9\xF0\x9F\x98\x80\n"},
        {make_string({0x1B, '[', '3', '1', 'm', 'x'}, 1), false, "\x1B[31mx"},  // escapes pass through
    };
    for (auto& c : cases) {
        PipeCapture cap;
        run_print_hooks(&c.value, c.newline);
        EXPECT_EQ(cap.finish(), c.bytes);
    }
}

TEST_F(RuntimeTest, PrintFromIndexPastTailWritesNothing) {
    Cell s = make_string({'a', 'b'}, 2);
    PipeCapture cap;
    s.data1 = 1;
    default_print_hook(&s, false);
    s.data1 = 7;  // beyond the tail: no negative length
    default_print_hook(&s, true);
    EXPECT_EQ(cap.finish(), "b\n");
}

TEST_F(RuntimeTest, UcsTwoSurrogatePairsAndUnits) {
    PipeCapture cap;
    uint16_t pair[] = {0xD83D, 0xDE00, 'z'};
    write_ucs2(pair, sizeof pair);
    uint8_t latin[] = {0xE9};
    write_latin1_line(latin, 1);
    write_byte_string("raw\xFF");
    print_integer(-42);
    print_hex(0xBEEF);
    print_hex_byte(0x0A);
    print_float(0.1);
    EXPECT_EQ(cap.finish(), "\xF0\x9F\x98\x80z\xC3\xA9\nraw\xFF-420000BEEF0A0.1");
}

TEST_F(RuntimeTest, HookListsGrowByFiveAndKeepOrder) {
    EXPECT_EQ(print_hook_count(), 1u);
    EXPECT_EQ(print_hook_at(0), &default_print_hook);
    EXPECT_EQ(print_hook_capacity(), 5u);
    for (int i = 0; i < 5; i++) add_output_hooks(recording_print_hook, nullptr);
    EXPECT_EQ(print_hook_count(), 6u);
    EXPECT_EQ(print_hook_capacity(), 10u);
    EXPECT_EQ(print_hook_at(0), &default_print_hook);
    EXPECT_EQ(print_hook_at(5), &recording_print_hook);
    add_output_hooks(nullptr, recording_write_hook);
    EXPECT_EQ(print_hook_count(), 6u);
    EXPECT_EQ(write_hook_count(), 1u);

    seen.clear();
    Cell s = make_string({'h', 'i'}, 1);
    PipeCapture cap;
    run_print_hooks(&s, true);
    write_byte_string("diag");
    print_integer(7);
    EXPECT_EQ(cap.finish(), "hi\ndiag7");
    EXPECT_EQ(seen, (std::vector<std::string>{"line", "line", "line", "line", "line", "diag", "7"}));
}

TEST_F(RuntimeTest, TenMegabytesThroughASlowPipeArriveWhole) {
    std::string text(10 * 1024 * 1024, 'x');
    for (size_t i = 0; i < text.size(); i += 97) text[i] = char('a' + i % 26);
    PipeCapture cap(true);
    write_latin1(text.data(), uint32_t(text.size()));
    std::string got = cap.finish();
    EXPECT_EQ(got.size(), text.size());
    EXPECT_TRUE(got == text);
    EXPECT_FALSE(output_failed());
}

TEST_F(RuntimeTest, ClosedReaderIsAFailureNotACrash) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);  // nobody reads: writing raises SIGPIPE unless it is ignored
    int saved = output_fd();
    set_output_fd(fds[1]);
    clear_output_failure();
    write_byte_string("lost");
    write_latin1("also lost", 9);
    EXPECT_TRUE(output_failed());
    set_output_fd(saved);
    close(fds[1]);
    clear_output_failure();
}

TEST(ConsoleOutput, WriteAllHandlesNonBlockingPipes) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    std::string got;
    std::thread reader([&] {
        char buf[8192];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, size_t(n));
    });
    std::string data(1 << 20, 'q');  // far more than a pipe holds: EAGAIN on the way
    EXPECT_TRUE(write_all(fds[1], data.data(), data.size()));
    close(fds[1]);
    reader.join();
    close(fds[0]);
    EXPECT_EQ(got.size(), data.size());
}
