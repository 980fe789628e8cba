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
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <filesystem>

#include "format/Configuration.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
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
    ~Child() override { kill(), waitForFinished(5000); }

    // Waits until `times` lines containing `text` have been printed; false after `timeoutMs`.
    bool waitForLine(const std::string& text, size_t times = 1, int timeoutMs = patience) {
        const QDeadlineTimer deadline(timeoutMs);
        while (linesWith(text).size() < times && state() != NotRunning && !deadline.hasExpired()) {
            waitForReadyRead(100);
        }
        return linesWith(text).size() >= times;
    }
    // The lines printed so far that contain `text` (all of them for "").
    Lines linesWith(const std::string& text) {
        partial_ += readAllStandardOutput().toStdString();
        for (size_t end; (end = partial_.find('\n')) != partial_.npos; partial_.erase(0, end + 1)) {
            lines_.push_back(partial_.substr(0, end));
        }
        Lines found;
        std::ranges::copy_if(lines_, std::back_inserter(found),
                             [&](const auto& line) { return line.find(text) != line.npos; });
        return found;
    }
    std::string transcript() {
        std::string all;
        for (const auto& line : linesWith("")) all += line + "\n";
        return all + readAllStandardError().toStdString();
    }

  private:
    std::string partial_;
    Lines lines_;
};

class HostFaults : public testing::Test {
  protected:
    std::unique_ptr<Child> startApplication() {
        auto app = std::make_unique<Child>(LM_VUZADIVIRUR_PATH, QStringList{}, runtime_.path());
        EXPECT_TRUE(app->waitForLine("⏱️ Polling timer started (60Hz)")) << app->transcript();
        return app;
    }
    // Starts a host and, unless it runs until stopped, waits for it to write its last frame.
    std::unique_ptr<Child> runHost(QStringList arguments, bool wait = true) {
        arguments += QStringList{"--size", "320x180"};
        auto host = std::make_unique<Child>(LUMETRA_SIM_PATH, arguments, runtime_.path());
        EXPECT_TRUE(!wait || host->waitForFinished(patience * 2)) << host->transcript();
        return host;
    }
    fs::path groupFolder() const { return runtime_.path() / config::sharedFolderName; }

    // Quits the application the way a desktop session does and checks that it went cleanly.
    void quitCleanly(Child& app, int timeoutMs = patience, int signal = SIGTERM) {
        ASSERT_EQ(app.state(), QProcess::Running) << app.transcript();  // or the pid is 0
        ::kill(static_cast<pid_t>(app.processId()), signal);
        ASSERT_TRUE(app.waitForFinished(timeoutMs)) << "still running\n" << app.transcript();
        EXPECT_TRUE(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0);
        EXPECT_TRUE(app.linesWith("").back() == "🛑 Syphon server stopped") << app.transcript();
    }

    TempDirectory runtime_;
};

TEST_F(HostFaults, HostHungHoldingItsLockKeepsNoQuitWaiting) {
    auto app = startApplication();
    auto host = runHost({"--rate", "20", "--hang-in-frame", "30", "--pause-seconds", "10"}, false);
    ASSERT_TRUE(host->waitForLine("with the lock held")) << host->transcript();
    // Meanwhile the application's checks meet the held lock, until after a second it says that
    // no frames come: a check that waited would hold up the quit.
    ASSERT_TRUE(app->waitForLine("⚠️ No frames from Lumetra for 1 s")) << app->transcript();
    quitCleanly(*app, 5000);
    EXPECT_EQ(host->linesWith("released the lock").size(), 0u) << "the host let go first";
}

// A host killed mid-frame with its lock held starts again from 1 on the same file, later on files
// made anew: each is followed at once, and the half-written frame is never taken.
TEST_F(HostFaults, HostThatDiesAndStartsAgainIsFollowed) {
    auto app = startApplication();
    EXPECT_EQ(runHost({"--rate", "20", "--die-mid-frame", "61"})->exitStatus(),
              QProcess::CrashExit);
    ASSERT_TRUE(app->waitForLine("✅ Received frame #60 (320x180)")) << app->transcript();
    runHost({"--rate", "30", "--frames", "60"});
    ASSERT_TRUE(app->waitForLine("✅ Received frame #60 ", 2)) << app->transcript();
    const Lines over = app->linesWith("🔄 Lumetra started over at frame #");
    ASSERT_EQ(over.size(), 1u) << app->transcript();
    EXPECT_LE(std::stoul(over[0].substr(over[0].rfind('#') + 1)), 30u) << "not at its first frames";
    fs::remove(groupFolder() / config::frameFileName);
    fs::remove(groupFolder() / config::lockFileName);
    runHost({"--rate", "20", "--first", "61", "--frames", "60"});
    EXPECT_TRUE(app->waitForLine("✅ Received frame #120 ")) << app->transcript();
    EXPECT_EQ(app->linesWith("🔄 Lumetra replaced its shared file; attaching the new one").size(),
              1u);
    // No warning but that frames stopped between hosts.
    EXPECT_EQ(app->linesWith("⚠️").size(), app->linesWith("⚠️ No frames from").size())
        << app->transcript();
    quitCleanly(*app);
}

// Standard output into a pipe nobody reads, filled by a line at every check: the window goes on
// regardless, so a SIGTERM still ends it at once, cleanly.
TEST_F(HostFaults, OutputNobodyReadsHoldsNothingUp) {
    const std::string fifo = runtime_.path() / "stdout";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_TRUE(reader >= 0 && ::fcntl(reader, F_SETPIPE_SZ, 4096) == 4096);
    std::string failure;
    auto host = SharedFrameWriter::create(groupFolder(), {}, failure);
    ASSERT_TRUE(host) << failure;
    Child app(LM_VUZADIVIRUR_PATH, {}, runtime_.path(), QString::fromStdString(fifo));
    // Full when no further line fits: a write of a line is never split.
    int queued = 0;
    for (uint32_t i = 1; i < patience / 10 && queued < 4096 - 64; ++i, QThread::msleep(10)) {
        host->writeHeader({320, 180, i, 1280, 0});  // a new "⚠️ Invalid data size: 0" each
        ::ioctl(reader, FIONREAD, &queued);
    }
    ASSERT_GE(queued, 4096 - 64) << "the pipe never filled";
    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    EXPECT_TRUE(app.waitForFinished(5000)) << "a full pipe held the window up";
    EXPECT_TRUE(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0);
    ::close(reader);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
