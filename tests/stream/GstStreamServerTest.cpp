// The network stream seen by real clients on this machine: ffmpeg and GStreamer's srtsrc.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "platform/QtRunLoop.h"
#include "stream/GstStreamServer.h"
#include "tests/relay/RelayTestSupport.h"
#include "tests/support/Fakes.h"

using namespace relaytest;

namespace {

int freeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Whether a decoded BGRA frame is the test picture at `width` x `height`: each quadrant's centre
// within the codec's tolerance.
bool showsPicture(const QByteArray& frame, uint32_t width, uint32_t height) {
    if (frame.size() != qsizetype(width) * height * 4) return false;
    for (const uint32_t y : {height / 4, height * 3 / 4}) {
        for (const uint32_t x : {width / 4, width * 3 / 4}) {
            const auto want = TestPattern::quadrantColour(x, y, width, height);
            const auto* got = reinterpret_cast<const uint8_t*>(frame.data()) + (y * width + x) * 4;
            for (const auto& [a, b] :
                 {std::pair{got[0], want.b}, {got[1], want.g}, {got[2], want.r}})
                if (std::abs(int(a) - int(b)) > 24) return false;
        }
    }
    return true;
}

struct Stream {
    explicit Stream(const std::string& uri) {
        std::string failure;
        server = GstStreamServer::create(StreamSettings{uri}, log, std::make_shared<QtRunLoop>(),
                                         failure);
        EXPECT_TRUE(server) << failure;
    }
    // Sends the test picture at `width` x `height` about every 10 ms until `done` holds.
    bool sendUntil(uint32_t width, uint32_t height, const std::function<bool()>& done) {
        const auto texture = patternTexture(*gpu::Device::create(), width, height);
        return spinUntil([&] { return publish(*server, texture), done(); }, 60s);
    }
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>(journal);
    std::unique_ptr<GstStreamServer> server;
};

const QString key = "passphrase=lumetra-secret";

}  // namespace

// A listener with a passphrase: ffmpeg with it decodes the host's picture, one with another gets
// nothing. Each client's arrival and departure is one line.
TEST(StreamTest, ListenerServesFfmpegWithTheRightPassphraseOnly) {
    const QString address = QString("srt://127.0.0.1:%1").arg(freeUdpPort());
    Stream stream(address.toStdString() + "?mode=listener&" + key.toStdString());
    QTemporaryDir folder;
    for (const auto& [passphrase, decodes] :
         {std::pair{key, true}, {"passphrase=someone-else", false}}) {
        QProcess ffmpeg;
        const QString out = folder.filePath("frame.raw");
        QFile::remove(out);
        ffmpeg.start("ffmpeg", {"-nostdin", "-loglevel", "error", "-i",
                                address + "?mode=caller&" + passphrase, "-frames:v", "1", "-f",
                                "rawvideo", "-pix_fmt", "bgra", out});
        ASSERT_TRUE(
            stream.sendUntil(640, 360, [&] { return ffmpeg.state() == QProcess::NotRunning; }));
        QFile file(out);
        EXPECT_EQ(file.open(QIODevice::ReadOnly) && showsPicture(file.readAll(), 640, 360), decodes)
            << ffmpeg.readAllStandardError().toStdString();
    }
    ASSERT_TRUE(spinUntil([&] { return stream.journal->entries.size() >= 2; }));
    EXPECT_EQ(stream.journal->entries[0].rfind("📡 Stream client connected: 127.0.0.1:", 0), 0u);
    EXPECT_EQ(stream.journal->entries[1].rfind("📡 Stream client left: 127.0.0.1:", 0), 0u);
}

// A caller that finds no listener yet keeps calling; GStreamer's srtsrc as the listener keeps
// playing across a change of the host's size.
TEST(StreamTest, CallerReachesAGstListenerAndKeepsPlayingAcrossASizeChange) {
    const QString address = QString("srt://127.0.0.1:%1").arg(freeUdpPort());
    Stream stream(address.toStdString() + "?mode=caller");
    QTemporaryDir folder;
    QProcess gst;
    gst.start("gst-launch-1.0",
              {"-q", "srtsrc", "uri=" + address + "?mode=listener", "!", "tsdemux", "!",
               "h264parse", "!", "avdec_h264", "!", "videoconvert", "!", "video/x-raw,format=BGRA",
               "!", "multifilesink", "location=" + folder.filePath("%06d.raw")});
    for (const auto& [width, height] : {std::pair{640u, 360u}, {480u, 272u}}) {
        const auto shown = [&, width = width, height = height] {
            const auto files = QDir(folder.path()).entryList(QDir::Files, QDir::Name);
            QFile file(folder.filePath(files.value(files.size() - 2)));  // the last may be partial
            return files.size() > 1 && file.open(QIODevice::ReadOnly) &&
                   showsPicture(file.readAll(), width, height);
        };
        EXPECT_TRUE(stream.sendUntil(width, height, shown))
            << gst.readAllStandardError().toStdString();
    }
    gst.kill();
    gst.waitForFinished();
}

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
