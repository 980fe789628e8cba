// The real application beside a real host process that misbehaves: killed while it holds its
// lock, numbering again from 1, cutting its file without a lock file, flooding the signal, and
// pausing. The application must survive each, keep taking frames, and quit cleanly after.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "format/Configuration.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

namespace {

namespace fs = std::filesystem;
constexpr int patience = 60'000;  // ms; generous for sanitizer builds on a busy machine

// A child process whose standard output is read line by line.
class Child {
  public:
    Child(const QString& program, const QStringList& arguments, const fs::path& runtimeDir) {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtimeDir.string()));
        // In sanitizer builds the GL driver's own allocations, freed by nobody at exit, would
        // turn every clean quit into a leak report; the in-process tests check our leaks.
        const QString asan = environment.value("ASAN_OPTIONS");
        environment.insert("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "detect_leaks=0");
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(program, arguments);
    }
    ~Child() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // Waits until a line containing `text` has been printed; false after `timeoutMs`.
    bool waitForLine(const std::string& text, int timeoutMs = patience) {
        QElapsedTimer clock;
        clock.start();
        while (true) {
            readLines();
            for (const auto& line : lines_) {
                if (line.find(text) != std::string::npos) return true;
            }
            if (process_.state() == QProcess::NotRunning || clock.elapsed() > timeoutMs) break;
            process_.waitForReadyRead(100);
        }
        readLines();
        for (const auto& line : lines_) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }
    bool waitForExit(int timeoutMs = patience) {
        const bool ended = process_.waitForFinished(timeoutMs);
        readLines();
        return ended;
    }
    void terminate() { ::kill(static_cast<pid_t>(process_.processId()), SIGTERM); }
    bool running() const { return process_.state() == QProcess::Running; }
    QProcess& process() { return process_; }
    const std::vector<std::string>& lines() {
        readLines();
        return lines_;
    }
    size_t count(const std::string& text) {
        size_t n = 0;
        for (const auto& line : lines()) n += line.find(text) != std::string::npos;
        return n;
    }
    std::string transcript() {
        std::string all;
        for (const auto& line : lines()) all += line + "\n";
        return all + process_.readAllStandardError().toStdString();
    }

  private:
    void readLines() {
        partial_ += process_.readAllStandardOutput().toStdString();
        size_t end;
        while ((end = partial_.find('\n')) != std::string::npos) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
    }

    QProcess process_;
    std::string partial_;
    std::vector<std::string> lines_;
};

class HostFaults : public testing::Test {
  protected:
    std::unique_ptr<Child> startApplication() {
        auto app = std::make_unique<Child>(LM_VUZADIVIRUR_PATH, QStringList{}, runtime_.path());
        EXPECT_TRUE(app->waitForLine("⏱️ Polling timer started (60Hz)")) << app->transcript();
        return app;
    }
    std::unique_ptr<Child> startHost(QStringList arguments) {
        arguments << "--size"
                  << "320x180";
        return std::make_unique<Child>(LUMETRA_SIM_PATH, arguments, runtime_.path());
    }
    fs::path groupFolder() const { return runtime_.path() / config::appGroupIdentifier; }

    // Quits the application the way a desktop session does and checks that it went cleanly.
    void quitCleanly(Child& app) {
        ASSERT_TRUE(app.running()) << app.transcript();
        app.terminate();
        ASSERT_TRUE(app.waitForExit()) << app.transcript();
        EXPECT_EQ(app.process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.process().exitCode(), 0);
        ASSERT_FALSE(app.lines().empty());
        EXPECT_EQ(app.lines().back(), "🛑 Syphon server stopped") << app.transcript();
    }

    TempDirectory runtime_;
};

TEST_F(HostFaults, HostKilledWhileHoldingItsLockMidFrame) {
    auto app = startApplication();
    auto host = startHost({"--rate", "20", "--die-mid-frame", "70"});
    ASSERT_TRUE(host->waitForExit()) << host->transcript();
    EXPECT_EQ(host->process().exitStatus(), QProcess::CrashExit);
    EXPECT_TRUE(app->waitForLine("✅ Received frame #60 (320x180)")) << app->transcript();

    // The half-written frame is never taken; a restarted host carries on and is followed.
    auto restarted = startHost({"--rate", "20", "--first", "71", "--frames", "60"});
    ASSERT_TRUE(restarted->waitForExit()) << restarted->transcript();
    EXPECT_TRUE(app->waitForLine("✅ Received frame #120 (320x180)")) << app->transcript();
    EXPECT_EQ(app->count("⚠️"), 0u) << app->transcript();
    quitCleanly(*app);
}

TEST_F(HostFaults, HostThatNumbersAgainFromOneIsFollowedOncePastItsOldNumbers) {
    auto app = startApplication();
    auto first = startHost({"--rate", "30", "--frames", "130"});
    ASSERT_TRUE(first->waitForExit()) << first->transcript();
    EXPECT_TRUE(app->waitForLine("✅ Received frame #120 ")) << app->transcript();

    auto again = startHost({"--rate", "30", "--frames", "190"});
    ASSERT_TRUE(again->waitForExit()) << again->transcript();
    EXPECT_TRUE(app->waitForLine("✅ Received frame #180 ")) << app->transcript();
    // Frames 1 to 130 of the second run are not taken, so 60 and 120 are not logged again.
    EXPECT_EQ(app->count("✅ Received frame #60 "), 1u) << app->transcript();
    EXPECT_EQ(app->count("✅ Received frame #120 "), 1u) << app->transcript();
    quitCleanly(*app);
}

TEST_F(HostFaults, FrameFileCutShortWithoutALockFile) {
    auto app = startApplication();
    std::string failure;
    SharedFrameWriter::Options options;
    options.createLockFile = false;
    auto host = SharedFrameWriter::create(groupFolder(), options, failure);
    ASSERT_TRUE(host) << failure;
    const uint32_t width = 320, height = 180;
    const auto pixels = TestPattern::quadrants(width, height, width * 4);
    ASSERT_TRUE(host->writeFrame(60, width, height, width * 4, pixels.data()));
    ASSERT_TRUE(app->waitForLine("✅ Received frame #60 (320x180)")) << app->transcript();

    // The host cuts the file and then announces a frame the file no longer holds.
    ASSERT_TRUE(host->truncate(32 + 1000));
    host->writeHeader({width, height, 61, width * 4, width * height * 4});
    ASSERT_TRUE(app->waitForLine("⚠️ Frame #61 skipped")) << app->transcript();

    // Cut below its own header, then whole again: the application carries on.
    ASSERT_TRUE(host->truncate(8));
    ASSERT_TRUE(app->waitForLine("⚠️ Shared file holds 8 bytes")) << app->transcript();
    ASSERT_TRUE(host->truncate(SharedFrameHeader::mappingLength));
    ASSERT_TRUE(host->writeFrame(120, width, height, width * 4, pixels.data()));
    EXPECT_TRUE(app->waitForLine("✅ Received frame #120 (320x180)")) << app->transcript();
    EXPECT_EQ(app->count("⚠️ Frame #61 skipped"), 1u) << "one line per frame";
    quitCleanly(*app);
}

TEST_F(HostFaults, FloodOfTenThousandSignalsLosesNoFrame) {
    auto app = startApplication();
    auto host = startHost({"--rate", "20", "--frames", "240", "--flood", "10000"});
    ASSERT_TRUE(host->waitForExit()) << host->transcript();
    ASSERT_TRUE(app->waitForLine("✅ Received frame #240 ")) << app->transcript();
    for (const char* frame : {"#60 ", "#120 ", "#180 "}) {
        EXPECT_EQ(app->count(std::string("✅ Received frame ") + frame), 1u) << frame;
    }
    quitCleanly(*app);
}

TEST_F(HostFaults, HostPausingForTenSecondsIsFollowedWhenItResumes) {
    auto app = startApplication();
    auto host = startHost(
        {"--rate", "30", "--frames", "180", "--pause-after", "100", "--pause-seconds", "10"});
    ASSERT_TRUE(host->waitForExit(patience * 2)) << host->transcript();
    ASSERT_TRUE(app->waitForLine("✅ Received frame #180 ")) << app->transcript();
    // At #120 the last 30 intervals hold the 10 s pause; at #180 they no longer do.
    auto rateAt = [&](const std::string& frame) {
        for (const auto& line : app->lines()) {
            if (line.find("✅ Received frame " + frame) == std::string::npos) continue;
            const auto dash = line.rfind(") - ");
            return std::stod(line.substr(dash + 4));
        }
        return -1.0;
    };
    const double duringPause = rateAt("#120 ");
    const double afterPause = rateAt("#180 ");
    EXPECT_GT(duringPause, 0.0);
    EXPECT_LT(duringPause, 5.0);
    EXPECT_GT(afterPause, 15.0);
    quitCleanly(*app);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
