// The POSIX layer below files and processes: command splitting, architecture
// names, reads that meet short reads and a pipe's end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "runtime/platform/files.h"
#include "runtime/platform/process.h"

using namespace vyx;

TEST(PlatformIo, CommandsSplitAtBlanksOutsideQuotes) {
    using V = std::vector<std::string>;
    EXPECT_EQ(platform::split_command("ls -l  /tmp"), (V{"ls", "-l", "/tmp"}));
    EXPECT_EQ(platform::split_command("  echo \"two words\" x"), (V{"echo", "two words", "x"}));
    EXPECT_EQ(platform::split_command("a\"b c\"d"), (V{"ab cd"}));
    EXPECT_EQ(platform::split_command("say \"\""), (V{"say", ""}));
    EXPECT_EQ(platform::split_command("echo $HOME *"), (V{"echo", "$HOME", "*"}));
    EXPECT_TRUE(platform::split_command(" \t ").empty());
}

TEST(PlatformIo, ArchitectureNamesFromTheMachine) {
    const char* cases[][2] = {{"x86_64", "x86-64"}, {"aarch64", "ARM64"}, {"i686", "x86-32"}, {"i386", "x86-32"},
                              {"armv7l", "ARM"},    {"riscv64", "Unknown"}, {"i86", "Unknown"}};
    for (auto& c : cases) EXPECT_STREQ(platform::arch_name(c[0]), c[1]) << c[0];
}

TEST(PlatformIo, PipeReadsAreWholeWhateverTheWriterDoes) {
    // A writer that sends small pieces with pauses: every short read is
    // followed by another until the end; a limit stops early.
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    std::thread writer([&] {
        for (int i = 0; i < 50; i++) {
            std::string piece(1000 + i, char('a' + i % 26));
            ASSERT_EQ(write(p[1], piece.data(), piece.size()), ssize_t(piece.size()));
            if (i % 10 == 0) usleep(2000);
        }
        close(p[1]);
    });
    platform::Bytes out;
    EXPECT_EQ(platform::read_from(p[0], 1500, -1, 1 << 20, out), platform::ReadStatus::ok);
    writer.join();
    close(p[0]);
    size_t total = 0;
    for (int i = 0; i < 50; i++) total += 1000 + i;
    EXPECT_EQ(out.size(), total - 1500);
    EXPECT_EQ(out.data()[0], 'b');  // the seek skipped the first piece and 500 bytes of the second

    ASSERT_EQ(pipe(p), 0);
    ASSERT_EQ(write(p[1], "0123456789", 10), 10);
    close(p[1]);
    EXPECT_EQ(platform::read_from(p[0], 0, -1, 5, out), platform::ReadStatus::too_long);
    close(p[0]);
}
