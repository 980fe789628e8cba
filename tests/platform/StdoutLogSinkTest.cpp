#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/StdoutLogSink.h"

namespace {

using namespace std::chrono_literals;

// Standard output goes into pipes here, and so would failure reports: the checks come last.
int redirectStdoutTo(int fd) {
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
    return saved;
}

void restoreStdout(int saved) {
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
}

std::string numbered(size_t i) { return std::to_string(i) + ' ' + std::string(96, '.'); }

TEST(StdoutLogSink, LinesNeverWaitForAStoppedReaderAndTheDroppedOnesAreCountedInTheirPlace) {
    constexpr size_t total = 5000;  // 500 kB: far more than the pipe and the queue hold
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    const int saved = redirectStdoutTo(pipe[1]);
    std::string received;
    bool flushedAll = false, flushedLast = false;
    {
        StdoutLogSink second;
        {
            StdoutLogSink first;  // two sinks, one order
            ::alarm(10);          // a call that waits for the reader ends the test here
            for (size_t i = 0; i < total; ++i) (i % 2 ? second : first).line(numbered(i));
        }  // nor does the end of a sink wait for long
        ::alarm(0);
        std::thread reader([&] {
            char buffer[65536];
            for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
                received.append(buffer, static_cast<size_t>(got));
        });
        flushedAll = StdoutLogSink::flush(10s);  // room again before the next line
        second.line("🛑 Syphon server stopped");
        flushedLast = StdoutLogSink::flush(10s);
        restoreStdout(saved);  // the pipe's last write end goes: the reader sees the end
        reader.join();
    }
    ::close(pipe[0]);

    EXPECT_TRUE(flushedAll && flushedLast);
    // What must have come out, given which numbered lines did: each once, in order, and before
    // each later one and before the last line the count of those left out.
    std::string expected;
    size_t next = 0;
    const auto countDroppedUpTo = [&](size_t number) {
        if (number > next) {
            expected += "⚠️ Log lines dropped while standard output was blocked: " +
                        std::to_string(number - next) + '\n';
        }
    };
    for (size_t start = 0, end; (end = received.find('\n', start)) != std::string::npos;
         start = end + 1) {
        size_t number = 0;
        if (std::from_chars(&received[start], &received[end], number).ec != std::errc{}) continue;
        number = std::max(number, next);  // a line written twice or late shows as a difference
        countDroppedUpTo(number);
        expected += numbered(number) + '\n';
        next = number + 1;
    }
    countDroppedUpTo(total);
    EXPECT_NE(expected.find("dropped"), std::string::npos) << "the pipe and the queue never filled";
    EXPECT_EQ(received, expected + "🛑 Syphon server stopped\n");
}

TEST(StdoutLogSink, AReaderThatHasGoneCostsTheLineNotTheProcess) {
    int gone[2];
    ASSERT_EQ(::pipe2(gone, O_CLOEXEC), 0);
    ::close(gone[0]);
    const int saved = redirectStdoutTo(gone[1]);
    StdoutLogSink sink;
    sink.line("🛑 Syphon server stopped");  // SIGPIPE's default action would end the program
    const bool flushed = StdoutLogSink::flush(10s);
    restoreStdout(saved);
    EXPECT_TRUE(flushed);
}

}  // namespace
