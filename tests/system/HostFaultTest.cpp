// The real application beside a real host process that misbehaves. It must survive each fault,
// keep taking frames and quit cleanly after. Tests wait only for a host's last frame, which stays
// in the slot: one the host has overwritten may rightly never be taken by a busy application.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <filesystem>

#include "format/Configuration.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

namespace {

namespace fs = std::filesystem;
constexpr int patience = 60'000;  // ms; generous for sanitizer builds on a busy machine

// A child process whose standard output is read line by line.
class Child : public QProcess {
  public:
    Child(const QString& program, const QStringList& arguments, const fs::path& runtimeDir,
          const QString& outputFile = {}) {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtimeDir.string()));
        if (!outputFile.isEmpty()) setStandardOutputFile(outputFile);
        // In sanitizer builds the GL driver's own allocations, freed by nobody at exit, would
        // turn every clean quit into a leak report; the in-process tests check our leaks.
        const QString asan = environment.value("ASAN_OPTIONS");
        environment.insert("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "detect_leaks=0");
        setProcessEnvironment(environment);
        start(program, arguments);
    }
    ~Child() override {
        kill();
        waitForFinished(5000);
    }

    // Waits until `times` lines containing `text` have been printed; false after `timeoutMs`.
    bool waitForLine(const std::string& text, size_t times = 1, int timeoutMs = patience) {
        QElapsedTimer clock;
        clock.start();
        while (count(text) < times && state() != NotRunning && clock.elapsed() < timeoutMs) {
            waitForReadyRead(100);
        }
        return count(text) >= times;
    }
    const std::vector<std::string>& lines() {
        partial_ += readAllStandardOutput().toStdString();
        for (size_t end; (end = partial_.find('\n')) != std::string::npos;) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
        return lines_;
    }
    size_t count(const std::string& text) {
        const auto& all = lines();
        return std::count_if(all.begin(), all.end(),
                             [&](const auto& line) { return line.find(text) != line.npos; });
    }
    // The first line containing `text`, or none.
    std::string line(const std::string& text) {
        for (const auto& line : lines()) {
            if (line.find(text) != line.npos) return line;
        }
        return {};
    }
    std::string transcript() {
        std::string all;
        for (const auto& line : lines()) all += line + "\n";
        return all + readAllStandardError().toStdString();
    }

  private:
    std::string partial_;
    std::vector<std::string> lines_;
};

class HostFaults : public testing::Test {
  protected:
    std::unique_ptr<Child> startApplication(const QString& outputFile = {}) {
        auto app = std::make_unique<Child>(LM_VUZADIVIRUR_PATH, QStringList{}, runtime_.path(),
                                           outputFile);
        if (outputFile.isEmpty()) {
            EXPECT_TRUE(app->waitForLine("⏱️ Polling timer started (60Hz)"))
                << app->transcript();
        }
        return app;
    }
    // Starts a host and, unless it runs until stopped, waits for it to write its last frame.
    std::unique_ptr<Child> runHost(QStringList arguments, bool wait = true) {
        arguments += QStringList{"--size", "320x180"};
        auto host = std::make_unique<Child>(LUMETRA_SIM_PATH, arguments, runtime_.path());
        EXPECT_TRUE(!wait || host->waitForFinished(patience * 2)) << host->transcript();
        return host;
    }
    fs::path groupFolder() const { return runtime_.path() / config::appGroupIdentifier; }

    // Quits the application the way a desktop session does and checks that it went cleanly.
    void quitCleanly(Child& app, int timeoutMs = patience) {
        ASSERT_EQ(app.state(), QProcess::Running) << app.transcript();
        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
        ASSERT_TRUE(app.waitForFinished(timeoutMs)) << "still running\n" << app.transcript();
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), 0);
        ASSERT_FALSE(app.lines().empty());
        EXPECT_EQ(app.lines().back(), "🛑 Syphon server stopped") << app.transcript();
    }

    TempDirectory runtime_;
};

TEST_F(HostFaults, HostHungHoldingItsLockKeepsNoQuitWaiting) {
    auto app = startApplication();
    auto host = runHost({"--rate", "20", "--hang-in-frame", "30", "--pause-seconds", "10"}, false);
    ASSERT_TRUE(host->waitForLine("with the lock held")) << host->transcript();
    // The application's checks, 60 a second, meet the held lock meanwhile; a check that waited
    // for it would keep the quit below waiting too.
    app->waitForLine("no such line", 1, 1000);
    quitCleanly(*app, 5000);
    EXPECT_EQ(host->count("released the lock"), 0u) << "the host let go first";
}

TEST_F(HostFaults, HostKilledWhileHoldingItsLockMidFrame) {
    auto app = startApplication();
    auto host = runHost({"--rate", "20", "--die-mid-frame", "61"});
    EXPECT_EQ(host->exitStatus(), QProcess::CrashExit);
    EXPECT_TRUE(app->waitForLine("✅ Received frame #60 (320x180)")) << app->transcript();
    // The half-written frame is never taken; a restarted host carries on and is followed.
    runHost({"--rate", "20", "--first", "62", "--frames", "59"});
    EXPECT_TRUE(app->waitForLine("✅ Received frame #120 (320x180)")) << app->transcript();
    EXPECT_EQ(app->count("⚠️"), 0u) << app->transcript();
    quitCleanly(*app);
}

TEST_F(HostFaults, HostThatMakesItsFilesAnewIsFollowed) {
    auto app = startApplication();
    runHost({"--rate", "20", "--frames", "60"});
    ASSERT_TRUE(app->waitForLine("✅ Received frame #60 ")) << app->transcript();
    fs::remove(groupFolder() / config::frameFileName);
    fs::remove(groupFolder() / config::lockFileName);
    runHost({"--rate", "20", "--first", "61", "--frames", "60"});
    EXPECT_TRUE(app->waitForLine("✅ Received frame #120 ")) << app->transcript();
    EXPECT_EQ(app->count("🔄 Lumetra replaced its shared file; attaching the new one"), 1u);
    quitCleanly(*app);
}

TEST_F(HostFaults, HostThatNumbersAgainFromOneIsFollowedAtOnce) {
    auto app = startApplication();
    runHost({"--rate", "30", "--frames", "120"});
    ASSERT_TRUE(app->waitForLine("✅ Received frame #120 ")) << app->transcript();
    runHost({"--rate", "30", "--frames", "60"});
    ASSERT_TRUE(app->waitForLine("✅ Received frame #60 ", 2)) << app->transcript();
    const std::string over = "🔄 Lumetra started over at frame #";
    ASSERT_EQ(app->count(over), 1u) << app->transcript();
    // At its first frames, not once past the old numbers.
    EXPECT_LE(std::stoul(app->line(over).substr(over.size())), 30u) << app->transcript();
    quitCleanly(*app);
}

TEST_F(HostFaults, FrameFileCutShortWithoutALockFile) {
    auto app = startApplication();
    std::string failure;
    auto host = SharedFrameWriter::create(groupFolder(), {.createLockFile = false}, failure);
    ASSERT_TRUE(host) << failure;
    const uint32_t width = 320, height = 180;
    const auto pixels = TestPattern::quadrants(width, height, width * 4);
    ASSERT_TRUE(host->writeFrame(60, width, height, width * 4, pixels.data()));
    ASSERT_TRUE(app->waitForLine("✅ Received frame #60 (320x180)")) << app->transcript();

    // The host cuts the file and then announces a frame the file no longer holds.
    ASSERT_TRUE(host->truncate(32 + 1000));
    host->writeHeader({width, height, 61, width * 4, width * height * 4});
    ASSERT_TRUE(app->waitForLine("⚠️ Frame #61 skipped")) << app->transcript();
    ASSERT_TRUE(host->truncate(SharedFrameHeader::mappingLength));
    ASSERT_TRUE(host->writeFrame(120, width, height, width * 4, pixels.data()));
    EXPECT_TRUE(app->waitForLine("✅ Received frame #120 (320x180)")) << app->transcript();
    EXPECT_EQ(app->count("⚠️ Frame #61 skipped"), 1u) << "one line per frame";
    quitCleanly(*app);
}

// Standard output into a pipe nobody reads, filled by a line at every check: the window goes on
// regardless, so a SIGTERM still ends it at once, cleanly.
TEST_F(HostFaults, OutputNobodyReadsHoldsNothingUp) {
    const QString fifo = QString::fromStdString((runtime_.path() / "stdout").string());
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const int reader = ::open(fifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(::fcntl(reader, F_SETPIPE_SZ, 4096), 4096);
    std::string failure;
    auto host = SharedFrameWriter::create(groupFolder(), {}, failure);
    ASSERT_TRUE(host) << failure;
    host->writeHeader({320, 180, 1, 1280, 0});  // "⚠️ Invalid data size: 0" at every check
    auto app = startApplication(fifo);
    // Full when no further line fits: a write of a line is never split.
    int queued = 0;
    for (int i = 0; i < patience / 10 && queued < 4096 - 64; ++i, QThread::msleep(10)) {
        ::ioctl(reader, FIONREAD, &queued);
    }
    ASSERT_GE(queued, 4096 - 64) << "the pipe never filled";
    ::kill(static_cast<pid_t>(app->processId()), SIGTERM);
    EXPECT_TRUE(app->waitForFinished(5000)) << "a full pipe held the window up";
    EXPECT_TRUE(app->exitStatus() == QProcess::NormalExit && app->exitCode() == 0);
    ::close(reader);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
