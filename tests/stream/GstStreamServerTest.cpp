// The network stream seen by real clients on this machine: ffmpeg and GStreamer's srtsrc.
#include <gtest/gtest.h>
#include <netinet/in.h>
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

// A UDP socket bound to a free loopback port, and the address of that port.
std::pair<int, QString> boundAddress() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return {fd, QString("srt://127.0.0.1:%1?mode=").arg(ntohs(address.sin_port))};
}

QString freeAddress() {
    const auto [fd, address] = boundAddress();
    ::close(fd);
    return address;
}

std::unique_ptr<GstStreamServer> serve(const QString& uri, std::shared_ptr<Journal> journal) {
    std::string failure;
    StreamSettings settings;
    EXPECT_TRUE(settings.apply("stream", uri.toStdString(), failure)) << failure;
    auto log = std::make_shared<RecordingLog>(journal);
    auto server = GstStreamServer::create(settings, log, std::make_shared<QtRunLoop>(), failure);
    EXPECT_TRUE(server) << failure;
    return server;
}

// ffmpeg's arguments to decode `uri` into the files of a Client.
QStringList ffmpegFrom(const QString& uri) {
    return {"-nostdin", "-loglevel", "error",    "-i",       uri,   "-f",
            "image2",   "-c:v",      "rawvideo", "-pix_fmt", "bgra"};
}

// A client that writes each decoded frame, as BGRA, into a file of its own.
struct Client {
    Client(const QString& program, QStringList arguments, const QString& output = "") {
        process.start(program, arguments << output + folder.filePath("%06d.raw"));
    }
    ~Client() { process.terminate(), process.waitForFinished(); }
    // Whether its last whole frame is the test picture at `width` x `height`, padded to even
    // sizes, within the codec's tolerance: a mean error under 8 per colour channel.
    bool shows(uint32_t width, uint32_t height) {
        const auto files = QDir(folder.path()).entryList(QDir::Files, QDir::Name);
        QFile file(folder.filePath(files.value(files.size() - 2)));  // the last may be partial
        const auto want = TestPattern::quadrants(width, height, width * 4);
        const QByteArray frame = file.open(QIODevice::ReadOnly) ? file.readAll() : "";
        const size_t row = ((width + 1) & ~1u) * 4;
        if (size_t(frame.size()) != row * ((height + 1) & ~1u)) return false;
        int64_t error = 0;
        for (size_t i = 0; i < want.size(); ++i) {
            const size_t at = i / (width * 4) * row + i % (width * 4);
            error += i % 4 == 3 ? 0 : std::abs(uint8_t(frame[qsizetype(at)]) - want[i]);
        }
        return error < int64_t(want.size()) * 6;
    }
    // Sends the test picture through `server` about every 10 ms until this client shows it or
    // ends; whether it shows it.
    bool receives(FrameSink* server, uint32_t width, uint32_t height) {
        const auto texture = patternTexture(*gpu::FrameStore::create(), width, height);
        const auto ended = [&] {
            return shows(width, height) || process.state() == QProcess::NotRunning;
        };
        spinUntil([&] { return !server || (publish(*server, texture), ended()); }, 60s);
        return shows(width, height);
    }
    QTemporaryDir folder;
    QProcess process;
};

}  // namespace

// A caller that finds no listener yet keeps calling, and calls again when its listener goes:
// GStreamer's srtsrc keeps playing across a change of the host's size, then ffmpeg plays an odd
// size, padded. A connection is one line when made and one when lost.
TEST(StreamTest, CallerReachesOneListenerAfterAnother) {
    const QString address = freeAddress();
    auto journal = std::make_shared<Journal>();
    const auto server = serve(address + "caller", journal);
    {
        Client gst("gst-launch-1.0",
                   {"-q", "srtsrc", "uri=" + address + "listener", "!", "tsdemux", "!", "h264parse",
                    "!", "avdec_h264", "!", "videoconvert", "!", "video/x-raw,format=BGRA", "!",
                    "multifilesink"},
                   "location=");
        for (const auto& [width, height] : {std::pair{640u, 360u}, {480u, 272u}})
            EXPECT_TRUE(gst.receives(server.get(), width, height));
    }
    Client ffmpeg("ffmpeg", ffmpegFrom(address + "listener"));
    EXPECT_TRUE(ffmpeg.receives(server.get(), 641, 361));
    const std::string at = address.mid(6, address.indexOf('?') - 6).toStdString();
    const auto said = [&] {
        auto lines = journal->entries;
        std::erase_if(lines, [](const std::string& line) { return !line.starts_with("📡"); });
        return lines;
    };
    spinUntil([&] { return said().size() >= 3; });
    EXPECT_EQ(said(), (std::vector<std::string>{"📡 Stream connected to " + at,
                                                "📡 Stream connection to " + at + " lost",
                                                "📡 Stream connected to " + at}));
}

// A listener whose port another socket holds says why, once, however often it tries again.
// Once the port is free, ffmpeg with its passphrase decodes the host's picture, ffmpeg with
// another or none gets nothing, and one with it that comes after them decodes it again. A
// client's arrival and departure are one line each.
TEST(StreamTest, ListenerWaitsForItsPortThenServesTheRightPassphraseOnly) {
    const auto [holder, address] = boundAddress();
    const QString key = "&passphrase=lumetra-secret";
    auto journal = std::make_shared<Journal>();
    const auto server = serve(address + "listener" + key, journal);
    ASSERT_TRUE(spinUntil([&] { return server->restarts() >= 2; }));
    const std::string at = address.mid(6, address.indexOf('?') - 6).toStdString();
    ASSERT_EQ(journal->entries.size(), 1u);
    EXPECT_TRUE(journal->entries[0].starts_with(
        "⚠️ Network stream: Could not open resource for writing: Failed to open SRT: Cannot "
        "bind to " +
        at + " - "))
        << journal->entries[0];
    ::close(holder);
    const uint64_t failed = server->restarts();
    ASSERT_TRUE(spinUntil([&] { return server->restarts() > failed; }));
    for (const auto& [passphrase, decodes] :
         {std::pair{key, true}, {"&passphrase=someone-else", false}, {"", false}, {key, true}}) {
        Client ffmpeg("ffmpeg", ffmpegFrom(address + "caller" + passphrase));
        EXPECT_EQ(ffmpeg.receives(server.get(), 640, 360), decodes)
            << ffmpeg.process.readAllStandardError().toStdString();
    }
    ASSERT_TRUE(spinUntil([&] { return journal->entries.size() >= 3; }));
    EXPECT_EQ(journal->entries[1].rfind("📡 Stream client connected: 127.0.0.1:", 0), 0u);
    EXPECT_EQ(journal->entries[2].rfind("📡 Stream client left: 127.0.0.1:", 0), 0u);
}

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
