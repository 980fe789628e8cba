// The PipeWire video source against real daemons, seen by a real client: gst-launch-1.0.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>
#include <csignal>

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

struct Yuv {
    uint8_t y, u, v;
};
// A BGRA pixel in BT.601, limited range, as the relay converts it.
Yuv toYuv(const uint8_t* bgra) {
    const int b = bgra[0], g = bgra[1], r = bgra[2];
    return {uint8_t(16 + std::lround((66 * r + 129 * g + 25 * b) / 256.)),
            uint8_t(128 + std::lround((-38 * r - 74 * g + 112 * b) / 256.)),
            uint8_t(128 + std::lround((112 * r - 94 * g - 18 * b) / 256.))};
}

// What a client taking `format` gets for the test picture: BGRA packed; YUV with each plane's
// rows 4-byte aligned, padded with 0, and one chroma sample, the top left pixel's, for each 2 x 2
// pixels (I420, NV12) or 2 x 1 (YUY2).
QByteArray expectedFrame(uint32_t width, uint32_t height, const QString& format = "BGRA") {
    const auto bgra = TestPattern::quadrants(width, height, width * 4);
    if (format.startsWith("BGR"))
        return QByteArray(reinterpret_cast<const char*>(bgra.data()), qsizetype(bgra.size()));
    const auto pixel = [&](uint32_t x, uint32_t y) { return toYuv(&bgra[(y * width + x) * 4]); };
    QByteArray frame;
    if (format.startsWith("YUY2")) {  // Y0 U Y1 V for each pair of pixels; Y1 0 past an odd width
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; x += 2) {
                const Yuv left = pixel(x, y);
                const char right = x + 1 < width ? char(pixel(x + 1, y).y) : '\0';
                for (const char byte : {char(left.y), char(left.u), right, char(left.v)})
                    frame += byte;
            }
        }
        return frame;
    }
    const uint32_t stride = (width + 3) / 4 * 4;
    const auto plane = [&](uint32_t step, std::initializer_list<uint8_t Yuv::*> parts,
                           uint32_t rowBytes) {
        for (uint32_t y = 0; y < height; y += step) {
            QByteArray row;
            for (uint32_t x = 0; x < width; x += step)
                for (const auto part : parts) row += char(pixel(x, y).*part);
            frame += row.leftJustified(rowBytes, '\0');
        }
    };
    plane(1, {&Yuv::y}, stride);
    if (format.startsWith("NV12")) {
        plane(2, {&Yuv::u, &Yuv::v}, stride);  // U and V interleaved in one plane
    } else {
        plane(2, {&Yuv::u}, stride / 2), plane(2, {&Yuv::v}, stride / 2);  // I420
    }
    return frame;
}

// gst-launch-1.0 taking `frames` (-1: until the node goes) in `format` from the relay into `file`.
void startGst(QProcess& gst, int frames, const QString& file, const QString& format = "BGRA") {
    gst.start("gst-launch-1.0",
              {"pipewiresrc", QString::fromStdString("target-object=" + nodeName),
               QString("num-buffers=%1").arg(frames), "!", "video/x-raw,format=" + format, "!",
               "filesink", "location=" + file});
}

// Whether `bytes` hold each of `expected` in turn, at least once, bytes exact (YUV: within
// `slack`): "whole" when they end with the last frame whole, "so far" when they may still come
// to, "wrong" at a byte that fits no frame in turn.
std::string inTurn(QByteArrayView bytes, const std::vector<QByteArray>& expected, int slack) {
    const auto near = [&](char a, char b) { return std::abs(uint8_t(a) - uint8_t(b)) <= slack; };
    size_t frame = 0;
    bool seen = false, cut = false;  // expected[frame] at least once; the last one cut short
    for (qsizetype at = 0; at < bytes.size();) {
        const auto part = bytes.sliced(at, std::min(expected[frame].size(), bytes.size() - at));
        if (std::equal(part.begin(), part.end(), expected[frame].begin(), near)) {
            at += part.size(), seen = true, cut = part.size() < expected[frame].size();
        } else if (!seen || ++frame == expected.size()) {
            return "wrong";
        } else {
            seen = false;
        }
    }
    return seen && !cut && frame + 1 == expected.size() ? "whole" : "so far";
}

// A fresh client takes 4 frames per one `expected`, `feed` seeing its byte count every 5 ms: ""
// when it ended well with each of `expected` in turn (see inTurn); it stops at a wrong byte.
std::string gstMismatch(const std::function<void(qint64 received)>& feed,
                        const std::vector<QByteArray>& expected, const QString& format = "BGRA") {
    QTemporaryFile file;
    if (!file.open()) return "no file";
    QProcess gst;
    startGst(gst, int(expected.size()) * 4, file.fileName(), format);
    const int slack = format.startsWith("BGR") ? 0 : 2;
    QByteArray bytes;
    bool wrong = false;
    const auto ended = [&] {
        const QByteArray more = file.readAll();
        wrong = wrong || (!more.isEmpty() && inTurn(bytes += more, expected, slack) == "wrong");
        return feed(bytes.size()), wrong || gst.state() == QProcess::NotRunning;
    };
    if (!spinUntil(ended)) gst.kill();
    gst.kill(), gst.waitForFinished();
    const std::string seen = inTurn(bytes += file.readAll(), expected, slack);
    if (gst.exitStatus() == QProcess::NormalExit && gst.exitCode() == 0 && seen == "whole")
        return "";
    return std::to_string(bytes.size()) + " bytes, " + seen + "\n" +
           gst.readAllStandardError().toStdString();
}

// The relay's frame memory held open in this process, as a consumer receives it: how many
// descriptors, and how many of them a consumer could still map for writing (not refused, EPERM).
std::pair<size_t, size_t> frameMemory() {
    size_t held = 0, writable = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (!std::filesystem::read_symlink(entry, error).string().starts_with("/memfd:lmv-relay"))
            continue;
        ++held;
        const int fd = std::stoi(entry.path().filename().string());
        void* mapped = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        writable += mapped != MAP_FAILED || errno != EPERM;
        if (mapped != MAP_FAILED) munmap(mapped, 4096);
    }
    return {held, writable};
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
// browsers do. Whole BGRA frames leave from the buffer they were written into, which no consumer
// can map for writing. Clients that ask for a smaller size get the host's frames (a whole
// multiple of theirs) scaled to it, and keep it when the host's size changes. No log lines.
TEST_F(RelayTest, GstClientsReceiveExactlyThePublishedFrame) {
    const auto source = announcedSource();
    ASSERT_TRUE(source);
    // The client's format and size, and the host's size in multiples of it, the next one once
    // the client holds a frame (of the 4 it takes).
    using Case = std::tuple<QString, uint32_t, uint32_t, std::vector<uint32_t>>;
    // clang-format off
    for (const auto& [format, width, height, hostScales] : std::initializer_list<Case>{
             {"BGRA", 637, 481, {1}}, {"BGRx", 201, 151, {1}}, {"I420", 637, 480, {1}},
             {"I420", 317, 280, {1}}, {"NV12", 317, 280, {1}}, {"YUY2", 637, 480, {1}},
             {"BGRA,framerate=[1/1,30/1]", 637, 481, {1}},
             {"I420,width=640,height=360", 640, 360, {2, 3}},
             {"BGRx,width=320,height=180", 320, 180, {2}}}) {
        // clang-format on
        SCOPED_TRACE((format + " %1 x %2").arg(width).arg(height).toStdString());
        const auto texture = patternTexture(*frameStore, width, height);
        const uint64_t copiedIdle = source->copiedFrames();
        for (int i = 0; i < 10; ++i) publish(*source, texture), spinFor(5ms);  // with no client
        std::optional<uint64_t> copiedOnConnection;  // by then the relay has handled those
        std::pair<size_t, size_t> memory;            // taken once the client has a frame
        const QByteArray frame = expectedFrame(width, height, format);
        const auto feed = [&](qint64 received) {
            if (!copiedOnConnection && source->isStreaming())
                copiedOnConnection = source->copiedFrames();
            const uint32_t scale =
                hostScales[std::min<size_t>(received / frame.size(), hostScales.size() - 1)];
            publish(*source, patternTexture(*frameStore, width * scale, height * scale));
            if (received > 0 && memory.first == 0) memory = frameMemory();
        };
        ASSERT_EQ(gstMismatch(feed, {frame}, format), "");
        EXPECT_EQ(copiedOnConnection, copiedIdle) << "copied with no client";
        EXPECT_TRUE(memory.first > 0 && memory.second == 0)
            << memory.second << " of " << memory.first << " buffers writable by consumers";
        ASSERT_TRUE(spinUntil([&] { return !source->isStreaming(); }));
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
        ASSERT_EQ(gstMismatch(feed, {smallFrame, largeFrame, smallFrame}), "");
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

// Frame memory that cannot be had (files may not pass 64 KiB here) fails the stream aloud.
TEST_F(RelayTest, FrameMemoryThatCannotBeHadFailsTheStreamAloud) {
    const auto source = announcedSource();
    ASSERT_TRUE(source);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit unlimited{};
    getrlimit(RLIMIT_FSIZE, &unlimited);
    const rlimit small{64 * 1024, unlimited.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    QProcess client;
    startGst(client, 1, "/dev/null");
    const auto frame = patternTexture(*frameStore, 320, 240);
    spinUntil([&] { return publish(*source, frame), !journal->logLines().empty(); });
    setrlimit(RLIMIT_FSIZE, &unlimited);
    EXPECT_EQ(journal->logLines(), Lines{"❌ Syphon server 'Lumetra Vuzadivirur' stream failed: no "
                                         "memory for a frame: ftruncate: File too large "
                                         "(announcing it again)"});
    EXPECT_TRUE(spinUntil([] { return relayNodes() == 1; }));
    client.kill(), client.waitForFinished();
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
