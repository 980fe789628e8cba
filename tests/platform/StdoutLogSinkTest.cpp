#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "platform/StdoutLogSink.h"

namespace {

// What is in `fd` now (timeout 0) or until its write end is gone (timeout -1).
std::string drain(int fd, int timeout) {
    std::string bytes;
    char buffer[65536];
    for (pollfd ready{fd, POLLIN, 0}; ::poll(&ready, 1, timeout) == 1;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        bytes.append(buffer, static_cast<size_t>(got));
    }
    return bytes;
}

// Standard output goes into pipes here, and so would failure reports: the checks come last.
TEST(StdoutLogSink, WholeLinesAreInThePipeWhenTheCallReturnsAndAGoneReaderCostsOnlyTheLine) {
    int pipe[2], gone[2];
    ASSERT_TRUE(::pipe2(pipe, O_CLOEXEC) == 0 && ::pipe2(gone, O_CLOEXEC) == 0);
    ::close(gone[0]);
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(pipe[1], STDOUT_FILENO);
    ::close(pipe[1]);
    StdoutLogSink sink;
    sink.line("✅ Syphon server created: 'Lumetra Vuzadivirur'");
    const std::string first = drain(pipe[0], 0);
    sink.line("⏱️ Polling timer started (60Hz)");
    sink.line("");
    const std::string next = drain(pipe[0], 0);
    // Far longer than the pipe holds, through a non-blocking descriptor: write(2) then takes
    // part of the line or none of it.
    ::fcntl(STDOUT_FILENO, F_SETFL, ::fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK);
    std::string line;
    for (int i = 0; line.size() < 1'000'000; ++i) line += "⚠️ frame " + std::to_string(i) + " ";
    std::string received;
    std::thread reader([&] { received = drain(pipe[0], -1); });
    sink.line(line);
    ::dup2(gone[1], STDOUT_FILENO);  // the pipe ends for the reader even if bytes went missing
    reader.join();
    sink.line("🛑 Syphon server stopped");  // SIGPIPE's default action would end the program
    sigset_t pending;
    sigpending(&pending);
    ::dup2(saved, STDOUT_FILENO);
    for (const int fd : {saved, pipe[0], gone[1]}) ::close(fd);

    EXPECT_EQ(first, "✅ Syphon server created: 'Lumetra Vuzadivirur'\n");
    EXPECT_EQ(next, "⏱️ Polling timer started (60Hz)\n\n");
    EXPECT_EQ(received.size(), line.size() + 1);
    EXPECT_TRUE(received == line + "\n");
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "the write's SIGPIPE was left pending";
}

}  // namespace
