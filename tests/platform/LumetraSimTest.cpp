// lumetra-sim as a host: options, the files it leaves, the frames in them, its signals and its
// way of stopping.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QDBusMessage>
#include <QProcess>
#include <QStringList>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/DBusNotificationCenter.h"
#include "receiver/Configuration.h"
#include "receiver/SharedFrameHeader.h"
#include "tests/platform/EventLoopWait.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/TestPattern.h"

namespace {

namespace fs = std::filesystem;

const QString simPath = QStringLiteral(LUMETRA_SIM_PATH);

struct Outcome {
    int exitCode = -1;
    bool normalExit = false;
    std::string out;
    std::string err;
};

Outcome runSim(const QStringList& arguments) {
    QProcess sim;
    sim.start(simPath, arguments);
    Outcome outcome;
    if (!sim.waitForFinished(30'000)) {
        sim.kill();
        sim.waitForFinished();
        return outcome;
    }
    outcome.exitCode = sim.exitCode();
    outcome.normalExit = sim.exitStatus() == QProcess::NormalExit;
    outcome.out = sim.readAllStandardOutput().toStdString();
    outcome.err = sim.readAllStandardError().toStdString();
    return outcome;
}

struct SlotContents {
    SharedFrameHeader header;
    std::vector<uint8_t> pixels;
};

// The frame file's header and the pixel bytes it announces.
std::optional<SlotContents> readSlot(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    uint8_t header[SharedFrameHeader::headerSize];
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return std::nullopt;
    SlotContents slot{SharedFrameHeader::load(header), {}};
    slot.pixels.resize(slot.header.dataSize);
    if (!in.read(reinterpret_cast<char*>(slot.pixels.data()), slot.header.dataSize)) {
        return std::nullopt;
    }
    return slot;
}

std::vector<uint8_t> expectedPixels(uint32_t frame, uint32_t width, uint32_t height,
                                    uint32_t bytesPerRow) {
    auto pixels = TestPattern::quadrants(width, height, bytesPerRow);
    TestPattern::moveBar(pixels.data(), width, height, bytesPerRow, frame, frame);
    return pixels;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        result.push_back(text.substr(start, end - start));
    }
    return result;
}

TEST(LumetraSim, HelpExitsZeroWithUsage) {
    const auto outcome = runSim({"--help"});
    EXPECT_TRUE(outcome.normalExit);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.out.rfind("Usage: lumetra-sim", 0), 0u) << outcome.out;
    EXPECT_NE(outcome.out.find("--no-lock-file"), std::string::npos);
    EXPECT_EQ(outcome.err, "");
}

TEST(LumetraSim, BadOptionsGiveUsageOnStandardErrorAndStatusTwo) {
    TempDirectory folder;
    const QString dir = QString::fromStdString((folder.path() / "g").string());
    const std::vector<QStringList> bad = {
        {"--bogus"},
        {"--frames"},
        {"--frames", "ten"},
        {"--frames", "-1"},
        {"--first", "0"},
        {"--size", "0x10"},
        {"--size", "64"},
        {"--size", "16385x1"},
        {"--size", "3841x2160"},  // more bytes than the slot holds
        {"--size", "64x32", "--bytes-per-row", "255"},
        {"--rate", "0"},
        {"--rate", "nan"},
        {"--first", "4294967295", "--frames", "2"},  // numbers would wrap
    };
    for (QStringList arguments : bad) {
        arguments << "--dir" << dir;
        const auto outcome = runSim(arguments);
        EXPECT_EQ(outcome.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_NE(outcome.err.find("Usage: lumetra-sim"), std::string::npos);
        EXPECT_EQ(outcome.out, "");
    }
    EXPECT_FALSE(fs::exists(folder.path() / "g")) << "a refused run made files";
}

TEST(LumetraSim, WritesTheFramesUnderTheRulesAndSaysWhatAndWhere) {
    TempDirectory folder;
    const fs::path group = folder.path() / "group";
    const auto outcome =
        runSim({"--frames", "3", "--first", "7", "--size", "64x32", "--rate", "200", "--no-signal",
                "--dir", QString::fromStdString(group.string())});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    const auto said = lines(outcome.out);
    ASSERT_EQ(said.size(), 2u) << outcome.out;
    EXPECT_NE(said[0].find("64x32"), std::string::npos) << said[0];
    EXPECT_NE(said[0].find((group / "shared_texture.bin").string()), std::string::npos);
    EXPECT_EQ(said[1], "lumetra-sim: stopped after 3 frames, last #9");

    struct stat status {};
    ASSERT_EQ(::stat(group.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    EXPECT_EQ(fs::file_size(group / "shared_texture.bin"), 33'177'632u);
    EXPECT_TRUE(fs::exists(group / "shared_texture.lock"));
    const auto slot = readSlot(group / "shared_texture.bin");
    ASSERT_TRUE(slot);
    EXPECT_EQ(slot->header.width, 64u);
    EXPECT_EQ(slot->header.height, 32u);
    EXPECT_EQ(slot->header.frameNumber, 9u);
    EXPECT_EQ(slot->header.bytesPerRow, 256u);
    EXPECT_EQ(slot->header.dataSize, 8192u);
    // Only the bar moved since the first frame, and it stands where frame 9 puts it.
    EXPECT_TRUE(slot->pixels == expectedPixels(9, 64, 32, 256));
}

TEST(LumetraSim, PaddedRowsWithoutALockFile) {
    TempDirectory folder;
    const auto outcome = runSim({"--frames", "2", "--size", "64x32", "--bytes-per-row", "300",
                                 "--rate", "200", "--no-lock-file", "--no-signal", "--dir",
                                 QString::fromStdString(folder.path().string())});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_FALSE(fs::exists(folder.path() / "shared_texture.lock"));
    const auto slot = readSlot(folder.path() / "shared_texture.bin");
    ASSERT_TRUE(slot);
    EXPECT_EQ(slot->header.bytesPerRow, 300u);
    EXPECT_EQ(slot->header.dataSize, 9600u);
    EXPECT_TRUE(slot->pixels == expectedPixels(2, 64, 32, 300));
}

TEST(LumetraSim, FindsTheGroupFolderLikeTheReceiver) {
    TempDirectory runtime;
    QProcess sim;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.path().string()));
    sim.setProcessEnvironment(environment);
    sim.start(simPath, {"--frames", "1", "--size", "8x8", "--no-signal"});
    ASSERT_TRUE(sim.waitForFinished(30'000));
    EXPECT_EQ(sim.exitCode(), 0);
    const fs::path group = runtime.path() / "group.com.lumetra.visualizer";
    EXPECT_EQ(fs::file_size(group / "shared_texture.bin"), 33'177'632u);

    // Without a runtime directory there is no folder to write into.
    environment.remove("XDG_RUNTIME_DIR");
    sim.setProcessEnvironment(environment);
    sim.start(simPath, {"--frames", "1", "--size", "8x8", "--no-signal"});
    ASSERT_TRUE(sim.waitForFinished(30'000));
    EXPECT_EQ(sim.exitCode(), 1);
    EXPECT_NE(sim.readAllStandardError().indexOf("XDG_RUNTIME_DIR"), -1);
}

class StopSignal : public testing::TestWithParam<int> {};

TEST_P(StopSignal, StopsCleanlyAndLeavesTheFiles) {
    TempDirectory folder;
    QProcess sim;
    sim.start(simPath, {"--size", "64x32", "--no-signal", "--dir",
                        QString::fromStdString(folder.path().string())});
    ASSERT_TRUE(sim.waitForStarted());
    // Running: its first line is out and it has written more than one frame.
    ASSERT_TRUE(sim.waitForReadyRead(30'000));
    const fs::path file = folder.path() / "shared_texture.bin";
    ASSERT_TRUE(runEventLoopUntil([&] {
        const auto slot = readSlot(file);
        return slot && slot->header.frameNumber >= 3;
    }));
    ::kill(static_cast<pid_t>(sim.processId()), GetParam());
    ASSERT_TRUE(sim.waitForFinished(30'000));
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.exitCode(), 0);

    EXPECT_EQ(fs::file_size(file), 33'177'632u);
    EXPECT_TRUE(fs::exists(folder.path() / "shared_texture.lock"));
    const auto said = lines(sim.readAllStandardOutput().toStdString());
    const auto slot = readSlot(file);
    ASSERT_TRUE(slot);
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.back(), "lumetra-sim: stopped after " +
                               std::to_string(slot->header.frameNumber) + " frames, last #" +
                               std::to_string(slot->header.frameNumber));
    EXPECT_TRUE(slot->pixels == expectedPixels(slot->header.frameNumber, 64, 32, 256));
}

INSTANTIATE_TEST_SUITE_P(LumetraSim, StopSignal, testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) {
                             return std::string(info.param == SIGTERM ? "SIGTERM" : "SIGINT");
                         });

// Counts the sim's newFrame signals, then a signal this test sends after the sim has ended:
// the bus delivers in the order it routes, so when that arrives every signal of the sim has.
int countSignals(const QStringList& arguments) {
    DBusNotificationCenter center;
    int frames = 0;
    bool done = false;
    std::string failure;
    const int observer = 0;
    if (!center.addObserver(
            &observer, std::string(config::newFrameNotificationName), [&frames] { ++frames; },
            failure) ||
        !center.addObserver(
            &observer, "org.lumetra.test.done", [&done] { done = true; }, failure)) {
        ADD_FAILURE() << failure;
        return -1;
    }
    const auto outcome = runSim(arguments);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    QDBusConnection::sessionBus().send(
        QDBusMessage::createSignal("/test", "org.lumetra.test", "done"));
    EXPECT_TRUE(runEventLoopUntil([&done] { return done; }));
    return frames;
}

TEST(LumetraSim, PostsOneSignalPerFrame) {
    TempDirectory folder;
    const QString dir = QString::fromStdString(folder.path().string());
    EXPECT_EQ(countSignals({"--frames", "12", "--size", "8x8", "--rate", "500", "--dir", dir}), 12);
    EXPECT_EQ(countSignals(
                  {"--frames", "4", "--size", "8x8", "--rate", "500", "--no-signal", "--dir", dir}),
              0);
}

}  // namespace
