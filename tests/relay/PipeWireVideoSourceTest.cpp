// The PipeWire video source against a real daemon and WirePlumber, seen by a real client:
// gst-launch-1.0's pipewiresrc.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>

#include "gpu/CommandBuffer.h"
#include "platform/QtRunLoop.h"
#include "receiver/TextureReceiver.h"
#include "relay/PipeWireRelayFactory.h"
#include "tests/relay/RelayTestSupport.h"
#include "tests/support/Fakes.h"
#include "tests/support/OpenDescriptors.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

using namespace relaytest;

namespace {

// Runs a program to its end (pw-cli and pw-dump need the daemon alone, so the relay's loop may
// wait); its standard output, or none when it failed or ran for over 30 s.
std::optional<std::string> runTool(const QString& program, const QStringList& arguments) {
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(30000) || tool.exitStatus() != QProcess::NormalExit) return {};
    return tool.exitCode() == 0 ? std::optional(tool.readAllStandardOutput().toStdString())
                                : std::nullopt;
}

// How many PipeWire nodes bear the relay's name; SIZE_MAX when pw-dump cannot tell.
size_t relayNodes() {
    const auto dump = runTool("pw-dump", {QString::fromStdString(serverName)});
    return dump ? size_t(QString::fromStdString(*dump).count("\"PipeWire:Interface:Node\""))
                : SIZE_MAX;
}

// The tightly packed rows a consumer must receive for `region` of the test picture at `width` x
// `height`; `flipped` keeps the texture's row order (the relay's callers' meaning).
QByteArray expectedFrame(uint32_t width, uint32_t height, std::optional<PixelRegion> region = {},
                         bool flipped = true) {
    const PixelRegion r = region.value_or(PixelRegion{0, 0, width, height});
    const auto picture = TestPattern::quadrants(width, height, width * 4);
    QByteArray rows;
    for (uint32_t y = 0; y < r.height; ++y) {
        const uint32_t from = r.y + (flipped ? y : r.height - 1 - y);
        rows.append(reinterpret_cast<const char*>(&picture[(from * width + r.x) * 4]), r.width * 4);
    }
    return rows;
}

// Publishes `texture` about every 5 ms for a while; true when `source` copied none of it.
bool nothingCopiedWhilePublishing(PipeWireVideoSource& source,
                                  const std::shared_ptr<gpu::Texture>& texture) {
    const uint64_t copied = source.copiedFrames();
    for (int i = 0; i < 30; ++i) publish(source, texture), spinFor(5ms);
    return source.copiedFrames() == copied;
}

// Starts a gst-launch-1.0 client: pipewiresrc linked to the relay by name for `frames` frames (-1:
// until it ends), then `sink`. The caps filter right after the source matters: the session manager
// never links a consumer whose caps are not video.
void startGst(QProcess& gst, int frames, const QStringList& sink) {
    gst.start("gst-launch-1.0",
              QStringList{"pipewiresrc", QString::fromStdString("target-object=" + serverName),
                          QString("num-buffers=%1").arg(frames), "!", "video/x-raw", "!"} +
                  sink);
}

// Runs a fresh client for `frames` frames, converting to BGRA, and calls `feed` with the bytes it
// has received so far about every 10 ms: "" when it ended well with the frames `expected`, in
// turn, each at least once (a frame of another size differs: the test picture is not symmetric).
std::string gstMismatch(const std::function<void(qint64 received)>& feed,
                        const std::vector<QByteArray>& expected, int frames = 3) {
    QTemporaryFile file;
    if (!file.open()) return "no file";
    QProcess gst;
    startGst(gst, frames,
             {"videoconvert", "!", "video/x-raw,format=BGRA", "!", "filesink",
              "location=" + file.fileName()});
    const auto ended = [&] {
        feed(QFileInfo(file.fileName()).size());
        spinFor(10ms);
        return gst.state() == QProcess::NotRunning;
    };
    if (!spinUntil(ended)) gst.kill();
    gst.waitForFinished();
    const QByteArray bytes = file.readAll();
    QByteArrayView rest(bytes);
    bool inTurn = gst.exitStatus() == QProcess::NormalExit && gst.exitCode() == 0;
    for (const QByteArray& frame : expected) {
        inTurn = inTurn && !frame.isEmpty() && rest.startsWith(frame);
        while (inTurn && rest.startsWith(frame)) rest = rest.sliced(frame.size());
    }
    if (inTurn && rest.isEmpty()) return "";
    return std::to_string(bytes.size()) + " bytes, " + std::to_string(rest.size()) +
           " of them not in turn\n" + gst.readAllStandardError().toStdString();
}

class RelayTest : public ::testing::Test {
  protected:
    std::unique_ptr<PipeWireVideoSource> announcedSource() {
        auto made =
            PipeWireRelayFactory(log, std::make_shared<QtRunLoop>()).createSource(serverName);
        EXPECT_TRUE(made.source && made.failure.empty()) << made.failure;
        EXPECT_TRUE(spinUntil([] { return relayNodes() == 1; }));
        return std::move(made.source);
    }

    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>(journal);
    std::shared_ptr<gpu::Device> device = gpu::Device::create();
};

class RelayDaemonTest : public RelayTest, public ::testing::WithParamInterface<bool> {};

}  // namespace

// One fresh gst client after another gets exact size, colours and row order of a region of a 637
// x 481 texture (rows of 2548 bytes: a width not a multiple of 4); nothing is copied while no one
// streams, and a healthy server is quiet.
TEST_F(RelayTest, GstClientsReceiveExactlyThePublishedRegion) {
    const auto source = announcedSource();
    ASSERT_TRUE(source);
    const auto texture = patternTexture(*device, 637, 481);
    EXPECT_TRUE(nothingCopiedWhilePublishing(*source, texture)) << "copied before any consumer";
    for (const auto& [region, flipped] : {std::pair{PixelRegion{0, 0, 637, 481}, true},
                                          std::pair{PixelRegion{0, 0, 637, 481}, false},
                                          std::pair{PixelRegion{250, 200, 201, 151}, true}}) {
        SCOPED_TRACE(testing::Message() << region.x << "," << region.y << " flipped " << flipped);
        EXPECT_EQ(gstMismatch([&](qint64) { publish(*source, texture, region, flipped); },
                              {expectedFrame(637, 481, region, flipped)}),
                  "");
        ASSERT_TRUE(spinUntil([&] { return !source->isStreaming(); }));
        EXPECT_TRUE(nothingCopiedWhilePublishing(*source, texture)) << "copied with no client";
    }
    EXPECT_EQ(journal->logLines(), std::vector<std::string>{});
}

// Two rounds, each with a server: a size change mid-stream, both ways, reaches a client; a frame
// leaves when its command buffer is committed; stop() (first round) or destruction (second)
// withdraws the node while a client streams, and a frame encoded before that is harmless. Loop,
// connection, stream and every buffer's memfd leave with the server.
TEST_F(RelayTest, SizeChangeCommitAndWithdrawalLeaveNoDescriptorOpen) {
    const auto large = patternTexture(*device, 320, 240), small = patternTexture(*device, 201, 113);
    const QByteArray largeFrame = expectedFrame(320, 240), smallFrame = expectedFrame(201, 113);
    const auto round = [&](bool stop) {
        auto source = announcedSource();
        ASSERT_TRUE(source);
        // Small frames until the client holds two, then large ones, then small again.
        const auto feed = [&](qint64 received) {
            const qint64 twoSmall = 2 * smallFrame.size(), last = twoSmall + 2 * largeFrame.size();
            publish(*source, received < twoSmall || received >= last ? small : large);
        };
        EXPECT_EQ(gstMismatch(feed, {smallFrame, largeFrame, smallFrame}, 12), "");

        QProcess client;  // streams until the node goes
        startGst(client, -1, {"fakesink"});
        ASSERT_TRUE(spinUntil([&] { return publish(*source, small), source->isStreaming(); }));
        const uint64_t copied = source->copiedFrames();
        gpu::CommandBuffer pending, late;
        source->publishFrameTexture(small, pending, gpu::Rect{0, 0, 201, 113}, true);
        EXPECT_FALSE(spinUntil([&] { return source->copiedFrames() > copied; }, 100ms));
        pending.commit();
        EXPECT_TRUE(spinUntil([&] { return source->copiedFrames() == copied + 1; }));
        EXPECT_TRUE(spinUntil([&] { return small.use_count() == 1; })) << "the relay kept it";
        source->publishFrameTexture(small, late, gpu::Rect{0, 0, 201, 113}, true);
        stop ? source->stop() : source.reset();
        late.commit();
        EXPECT_EQ(small.use_count(), 1);
        EXPECT_TRUE(spinUntil([] { return relayNodes() == 0; }));
        client.kill();
        client.waitForFinished();
    };
    round(true);  // whatever PipeWire opens once per process is open from here on
    const size_t before = openDescriptorCount();
    round(false);
    EXPECT_TRUE(spinUntil([&] { return openDescriptorCount() <= before; }, 5s))
        << openDescriptorCount() << " descriptors open, " << before << " before";
}

// The whole road of a frame while the daemon comes and goes: the host writes rows with padding,
// the receiver takes each frame into a texture and relays it, and a real client gets tightly
// packed rows. With no daemon at first (these run under with-daemons.sh --no-pipewire) the
// application runs on and says why; the daemon comes, goes (by SIGTERM or, with the parameter,
// SIGKILL) and comes back, and the relay follows, logging each change once.
TEST_P(RelayDaemonTest, PaddedHostFramesReachAGstClientWhileTheDaemonComesAndGoes) {
    TempDirectory container;
    FakePlatform fakes{container.path()};
    std::string failure;
    auto writer = SharedFrameWriter::create(container.path(), {}, failure);
    ASSERT_TRUE(writer) << failure;
    auto platform = fakes.platform();
    platform.relay = std::make_shared<PipeWireRelayFactory>(log, std::make_shared<QtRunLoop>());
    auto receiver = TextureReceiver::create(device, platform);
    ASSERT_TRUE(receiver) << "the application runs on without PipeWire";
    EXPECT_TRUE(fakes.journal->logLines().at(0).starts_with(
        "❌ Failed to create Syphon server 'Lumetra Vuzadivirur': "));
    const uint32_t width = 637, height = 481, bytesPerRow = width * 4 + 12;
    const auto hostRows = TestPattern::quadrants(width, height, bytesPerRow);
    uint32_t frameNumber = 0;
    const auto feed = [&](qint64 = 0) {
        writer->writeFrame(++frameNumber, width, height, bytesPerRow, hostRows.data());
        receiver->checkForNewFrame();
    };
    // Frames keep coming while the relay waits for its log line `count`.
    const auto relayLogged = [&](size_t count) {
        return spinUntil([&] { return feed(), journal->logLines().size() >= count; });
    };
    // WirePlumber joins once PipeWire answers (it links what is there when it joins); they end in
    // the reverse order.
    QProcess pipewire, wireplumber;
    const auto daemonsCome = [&] {
        pipewire.start("pipewire", {});
        ASSERT_TRUE(spinUntil([] { return runTool("pw-cli", {"info", "0"}).has_value(); }));
        wireplumber.start("wireplumber", {});
    };
    const auto daemonsGo = [&](bool kill) {
        for (QProcess* daemon : {&wireplumber, &pipewire}) {
            kill ? daemon->kill() : daemon->terminate();
            daemon->waitForFinished();
        }
    };
    ASSERT_NO_FATAL_FAILURE(daemonsCome());
    ASSERT_TRUE(relayLogged(1)) << "no connection";
    EXPECT_EQ(gstMismatch(feed, {expectedFrame(width, height)}), "");
    daemonsGo(GetParam());
    ASSERT_TRUE(relayLogged(2)) << "the loss went unnoticed";
    spinFor(1200ms);  // more than one reconnection attempt against no daemon: none to wait on
    ASSERT_NO_FATAL_FAILURE(daemonsCome());
    ASSERT_TRUE(relayLogged(3)) << "no reconnection";
    EXPECT_EQ(gstMismatch(feed, {expectedFrame(width, height)}), "");
    const std::string connected = "✅ Syphon server 'Lumetra Vuzadivirur' connected to PipeWire";
    const auto lines = journal->logLines();
    ASSERT_EQ(lines.size(), 3u) << "the caller reports the failure; one line for the loss";
    EXPECT_EQ(lines[0], connected);
    EXPECT_TRUE(lines[1].starts_with("❌ Syphon server 'Lumetra Vuzadivirur' lost PipeWire: "))
        << lines[1];
    EXPECT_EQ(lines[2], connected);
    receiver.reset();
    EXPECT_TRUE(spinUntil([] { return relayNodes() == 0; }));
    daemonsGo(false);
}

INSTANTIATE_TEST_SUITE_P(Endings, RelayDaemonTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Killed" : "Terminated"; });

// The relay runs on the Qt event loop of the main thread, as in the application.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
