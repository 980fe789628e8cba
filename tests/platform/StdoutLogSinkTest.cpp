#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "platform/StdoutLogSink.h"

namespace {

// Standard output (descriptor 1) turned into the write end of a pipe for a test's scope; the
// test reads what arrives at the other end.
class StdoutPipe {
  public:
    StdoutPipe() {
        std::fflush(stdout);
        if (::pipe2(ends_, O_CLOEXEC) != 0) return;
        saved_ = ::dup(STDOUT_FILENO);
        ::dup2(ends_[1], STDOUT_FILENO);
        ::close(ends_[1]);
        ends_[1] = -1;
    }
    ~StdoutPipe() {
        restore();
        if (ends_[0] >= 0) ::close(ends_[0]);
    }
    StdoutPipe(const StdoutPipe&) = delete;
    StdoutPipe& operator=(const StdoutPipe&) = delete;

    bool ready() const { return saved_ >= 0; }
    int readEnd() const { return ends_[0]; }
    void restore() {
        if (saved_ < 0) return;
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
    void closeReadEnd() {
        ::close(ends_[0]);
        ends_[0] = -1;
    }
    // Everything in the pipe right now, without waiting for more.
    std::string takeAvailable() {
        std::string bytes;
        const int flags = ::fcntl(ends_[0], F_GETFL);
        ::fcntl(ends_[0], F_SETFL, flags | O_NONBLOCK);
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(ends_[0], buffer, sizeof buffer);
            if (got <= 0) break;
            bytes.append(buffer, static_cast<size_t>(got));
        }
        ::fcntl(ends_[0], F_SETFL, flags);
        return bytes;
    }

  private:
    int ends_[2] = {-1, -1};
    int saved_ = -1;
};

TEST(StdoutLogSink, EachLineIsInThePipeWhenTheCallReturns) {
    StdoutPipe pipe;
    ASSERT_TRUE(pipe.ready());
    StdoutLogSink sink;
    sink.line("✅ Syphon server created: 'Lumetra Vuzadivirur'");
    const std::string first = pipe.takeAvailable();
    sink.line("⏱️ Polling timer started (60Hz)");
    sink.line("");
    const std::string rest = pipe.takeAvailable();
    pipe.restore();
    EXPECT_EQ(first, "✅ Syphon server created: 'Lumetra Vuzadivirur'\n");
    EXPECT_EQ(rest, "⏱️ Polling timer started (60Hz)\n\n");
}

TEST(StdoutLogSink, ALineLongerThanThePipeArrivesWholeThroughANonBlockingPipe) {
    StdoutPipe pipe;
    ASSERT_TRUE(pipe.ready());
    // A full non-blocking pipe makes write(2) take part of the line or none of it.
    ::fcntl(STDOUT_FILENO, F_SETFL, ::fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK);
    std::string line;
    for (int i = 0; line.size() < 1'000'000; ++i) line += "⚠️ frame " + std::to_string(i) + " ";

    std::string received;
    std::thread reader([&received, fd = pipe.readEnd()] {
        char buffer[65536];
        for (;;) {  // to the end of the pipe
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0) break;
            received.append(buffer, static_cast<size_t>(got));
        }
    });
    StdoutLogSink().line(line);
    // Closing the write end lets the reader see the end even if bytes went missing.
    pipe.restore();
    reader.join();
    EXPECT_EQ(received.size(), line.size() + 1);
    EXPECT_TRUE(received == line + "\n");
}

TEST(StdoutLogSink, AReaderThatHasGoneCostsTheLineNotTheProcess) {
    StdoutPipe pipe;
    ASSERT_TRUE(pipe.ready());
    pipe.closeReadEnd();
    // SIGPIPE's default action would end this test program here.
    StdoutLogSink().line("🛑 Syphon server stopped");
    sigset_t pending;
    sigpending(&pending);
    pipe.restore();
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "the write's SIGPIPE was left pending";
}

}  // namespace
