// The PipeWire video source against real daemons, seen by a real client: gst-launch-1.0.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>

#include "platform/QtRunLoop.h"
#include "relay/CameraName.h"
#include "relay/PipeWireRelayFactory.h"
#include "tests/receiver/ReceiverHarness.h"
#include "tests/relay/RelayTestSupport.h"

using namespace relaytest;

namespace {

const std::string nodeName = cameraName::nodeName(serverName);

// A program's standard output; none when it failed or ran over 30 s (the relay's loop may wait).
std::optional<QString> runTool(const QString& program, const QStringList& arguments) {
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(30000) || tool.exitStatus() || tool.exitCode()) return {};
    return QString(tool.readAllStandardOutput());
}

// How many PipeWire nodes bear the relay's name; SIZE_MAX when pw-dump cannot tell.
size_t relayNodes() {
    const auto dump = runTool("pw-dump", {QString::fromStdString(nodeName)});
    return dump ? size_t(dump->count("\"PipeWire:Interface:Node\"")) : SIZE_MAX;
}

// What a client taking `format` gets for the test picture: BGRA packed; YUV (BT.601, limited
// range) rows 4-byte aligned, padding 0, a chroma sample per 2 x 2 (I420, NV12) or 2 x 1.
QByteArray expectedFrame(uint32_t width, uint32_t height, const QString& format = "BGRA") {
    const auto picture = TestPattern::quadrants(width, height, width * 4);
    QByteArray bgra(reinterpret_cast<const char*>(picture.data()), qsizetype(picture.size()));
    QByteArray out;
    const uint32_t w = width, stride = (w + 3) / 4 * 4, half = (w + 1) / 2;
    const auto at = [&](uint32_t x, uint32_t y, int k) {  // Y, U or V (k 0, 1, 2) of a pixel
        const int m[] = {25, 129, 66, 112, -74, -38, -18, -94, 112}, *c = m + 3 * k;  // B, G, R
        const auto* p = reinterpret_cast<const uint8_t*>(&bgra[(y * w + x) * 4]);
        return char((k ? 128 : 16) + std::lround((c[0] * p[0] + c[1] * p[1] + c[2] * p[2]) / 256.));
    };
    const auto plane = [&](uint32_t rows, uint32_t step, const auto& value) {
        for (uint32_t i = 0; i < rows * step; ++i) out += value(i % step, i / step);
    };
    if (format.startsWith("YUY2")) {  // Y0 U Y1 V for each pair of pixels, Y1 0 past an odd width
        plane(height, 4 * half, [&](uint32_t i, uint32_t y) {
            return i % 2 ? at(i / 4 * 2, y, 1 + i / 2 % 2) : i / 2 < w ? at(i / 2, y, 0) : '\0';
        });
    } else if (!format.startsWith("BGR")) {
        plane(height, stride, [&](uint32_t x, uint32_t y) { return x < w ? at(x, y, 0) : '\0'; });
        const bool nv12 = format.startsWith("NV12");  // U and V interleaved in one plane
        for (const int k : nv12 ? std::vector{1} : std::vector{1, 2})
            plane((height + 1) / 2, nv12 ? stride : stride / 2, [&](uint32_t i, uint32_t y) {
                return (i >> nv12) < half ? at(2 * (i >> nv12), 2 * y, nv12 ? 1 + i % 2 : k) : '\0';
            });
    }
    return format.startsWith("BGR") ? bgra : out;
}

// gst-launch-1.0 taking `frames` (-1: until the node goes) in `format` from the relay into `file`.
void startGst(QProcess& gst, int frames, const QString& file, const QString& format = "BGRA") {
    gst.start("gst-launch-1.0",
              {"pipewiresrc", QString::fromStdString("target-object=" + nodeName),
               QString("num-buffers=%1").arg(frames), "!", "video/x-raw,format=" + format, "!",
               "filesink", "location=" + file});
}

// A fresh client takes 4 frames per one `expected`, `feed` seeing its byte count every 5 ms: ""
// when it ended well with each of `expected` in turn, at least once, bytes exact (YUV: within 2).
std::string gstMismatch(const std::function<void(qint64 received)>& feed,
                        const std::vector<QByteArray>& expected, const QString& format = "BGRA") {
    QTemporaryFile file;
    if (!file.open()) return "no file";
    QProcess gst;
    startGst(gst, int(expected.size()) * 4, file.fileName(), format);
    const auto ended = [&] {
        return feed(QFileInfo(file.fileName()).size()), gst.state() == QProcess::NotRunning;
    };
    if (!spinUntil(ended)) gst.kill();
    gst.waitForFinished();
    const QByteArray bytes = file.readAll();
    QByteArrayView rest(bytes);
    const int slack = format.startsWith("BGR") ? 0 : 2;
    const auto near = [&](char a, char b) { return std::abs(uint8_t(a) - uint8_t(b)) <= slack; };
    const auto next = [&](const QByteArray& frame) {  // whether `rest` begins with `frame`
        return !frame.isEmpty() && rest.size() >= frame.size() &&
               std::equal(frame.begin(), frame.end(), rest.begin(), near);
    };
    bool inTurn = gst.exitStatus() == QProcess::NormalExit && gst.exitCode() == 0;
    for (const QByteArray& frame : expected) {
        inTurn = inTurn && next(frame);
        while (inTurn && next(frame)) rest = rest.sliced(frame.size());
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
        if (made.source) made.source->lendBuffersTo(*frameStore);
        EXPECT_TRUE(spinUntil([] { return relayNodes() == 1; }));
        return std::move(made.source);
    }

    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>(journal);
    std::shared_ptr<gpu::FrameStore> frameStore = gpu::FrameStore::create();
};

}  // namespace

// Fresh clients in turn get a texture in their format, rows padded or not, the quadrant seams on
// even pixels so that a chroma sample covers one colour; one asks for a range of frame rates, as
// browsers do. Whole BGRA frames leave from the buffer they were written into.
// Nothing is copied while no one streams; no log lines.
TEST_F(RelayTest, GstClientsReceiveExactlyThePublishedFrame) {
    const auto source = announcedSource();
    ASSERT_TRUE(source);
    const auto texture = patternTexture(*frameStore, 637, 481);
    const auto nothingCopied = [&] {  // while it is published about every 5 ms for a while
        const uint64_t copied = source->copiedFrames();
        for (int i = 0; i < 30; ++i) publish(*source, texture), spinFor(5ms);
        return source->copiedFrames() == copied;
    };
    EXPECT_TRUE(nothingCopied()) << "copied before any consumer";
    using Case = std::tuple<QString, uint32_t, uint32_t>;
    // clang-format off
    for (const auto& [format, width, height] : std::initializer_list<Case>{
             {"BGRA", 637, 481}, {"BGRx", 201, 151}, {"I420", 637, 480}, {"I420", 317, 280},
             {"NV12", 317, 280}, {"YUY2", 637, 480}, {"BGRA,framerate=[1/1,30/1]", 637, 481}}) {
        // clang-format on
        SCOPED_TRACE((format + " %1 x %2").arg(width).arg(height).toStdString());
        const auto feed = [&](qint64) {
            publish(*source, patternTexture(*frameStore, width, height));
        };
        EXPECT_EQ(gstMismatch(feed, {expectedFrame(width, height, format)}, format), "");
        ASSERT_TRUE(spinUntil([&] { return !source->isStreaming(); }));
        EXPECT_TRUE(nothingCopied()) << "copied with no client";
    }
    EXPECT_EQ(journal->logLines(), std::vector<std::string>{});
}

// A size change mid-stream, both ways, reaches a client; stop() (first round) or destruction
// (second) withdraws the node while a client streams, a frame published after stop() harmless.
// Loop, connection, stream and buffers leave with the server.
TEST_F(RelayTest, SizeChangeAndWithdrawalLeaveNoDescriptorOpen) {
    const auto large = patternTexture(*frameStore, 320, 240),
               small = patternTexture(*frameStore, 205, 116);
    const QByteArray largeFrame = expectedFrame(320, 240), smallFrame = expectedFrame(205, 116);
    const auto round = [&](bool stop) {
        auto source = announcedSource();
        ASSERT_TRUE(source);
        const auto feed = [&](qint64 received) {  // small until the client holds two, then large
            const qint64 twoSmall = 2 * smallFrame.size(), last = twoSmall + 2 * largeFrame.size();
            publish(*source, received < twoSmall || received >= last ? small : large);
        };
        EXPECT_EQ(gstMismatch(feed, {smallFrame, largeFrame, smallFrame}), "");
        QProcess client;  // streams until the node goes
        startGst(client, -1, "/dev/null");
        ASSERT_TRUE(spinUntil([&] { return publish(*source, small), source->isStreaming(); }));
        const uint64_t copied = source->copiedFrames();
        publish(*source, small);
        EXPECT_TRUE(spinUntil([&] { return source->copiedFrames() == copied + 1; }));
        EXPECT_TRUE(spinUntil([&] { return small.use_count() == 1; })) << "the relay kept it";
        stop ? source->stop() : source.reset();
        if (source) publish(*source, small);
        EXPECT_EQ(small.use_count(), 1);
        EXPECT_TRUE(spinUntil([] { return relayNodes() == 0; }));
    };
    round(true);  // whatever PipeWire opens once per process is open from here on
    const size_t before = openDescriptorCount();
    round(false);
    EXPECT_TRUE(spinUntil([&] { return openDescriptorCount() <= before; }, 5s))
        << openDescriptorCount() << " descriptors open, " << before << " before";
}

// Padded host rows reach a client packed through the receiver and relay. With no daemon at first
// (with-daemons.sh --no-pipewire) the application runs on and says why; the daemon comes, goes (by
// SIGTERM, then SIGKILL) and comes back, and the relay follows, logging each change once.
TEST_F(RelayTest, DaemonComingAndGoingIsFollowedWhilePaddedHostFramesReachAGstClient) {
    ReceiverHarness h({}, Start::files);
    auto platform = h.fakes.platform();
    platform.relay = std::make_shared<PipeWireRelayFactory>(log, std::make_shared<QtRunLoop>());
    auto receiver = TextureReceiver::create(frameStore, platform);
    ASSERT_TRUE(receiver) << "the application runs on without PipeWire";
    EXPECT_TRUE(
        h.logLines().at(0).starts_with("❌ Failed to create Syphon server 'Lumetra Vuzadivirur': "));
    const uint32_t width = 637, height = 481, bytesPerRow = width * 4 + 12;
    const auto hostRows = TestPattern::quadrants(width, height, bytesPerRow);
    uint32_t frameNumber = 0;
    const auto feed = [&](qint64 = 0) {
        h.writer->writeFrame(++frameNumber, width, height, bytesPerRow, hostRows.data());
        receiver->checkForNewFrame();
    };
    // Frames keep coming while the relay waits for its log line `count`.
    const auto relayLogged = [&](size_t count) {
        return spinUntil([&] { return feed(), journal->logLines().size() >= count; });
    };
    // WirePlumber joins once PipeWire answers (it links what is there then); they end in reverse.
    QProcess pipewire, wireplumber;
    const auto daemonsCome = [&] {
        pipewire.start("pipewire", {});
        ASSERT_TRUE(spinUntil([] { return runTool("pw-cli", {"info", "0"}).has_value(); }));
        wireplumber.start("wireplumber", {});
    };
    const auto daemonsGo = [&](bool kill) {
        for (QProcess* daemon : {&wireplumber, &pipewire})
            (kill ? daemon->kill() : daemon->terminate()), daemon->waitForFinished();
    };
    ASSERT_NO_FATAL_FAILURE(daemonsCome());
    ASSERT_TRUE(relayLogged(1)) << "no connection";
    for (const bool kill : {false, true}) {
        EXPECT_EQ(gstMismatch(feed, {expectedFrame(width, height)}), "") << kill;
        daemonsGo(kill);
        ASSERT_TRUE(relayLogged(2 + 2 * kill)) << "the loss went unnoticed";
        spinFor(1200ms);  // more than one reconnection attempt against no daemon: none to wait on
        ASSERT_NO_FATAL_FAILURE(daemonsCome());
        ASSERT_TRUE(relayLogged(3 + 2 * kill)) << "no reconnection";
    }
    EXPECT_EQ(gstMismatch(feed, {expectedFrame(width, height)}), "");
    const std::string connected = "✅ Syphon server 'Lumetra Vuzadivirur' connected to PipeWire",
                      lost = "❌ Syphon server 'Lumetra Vuzadivirur' lost PipeWire: ";
    auto lines = journal->logLines();  // the caller reports the failure; one line for each loss
    for (auto& line : lines) line = line.starts_with(lost) ? lost : line;
    EXPECT_EQ(lines, (Lines{connected, lost, connected, lost, connected}));
    daemonsGo(false);
}

// The relay runs on the Qt event loop of the main thread, as in the application.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
