#include "tests/relay/RelayTestSupport.h"

#include <QEventLoop>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>
#include <algorithm>

#include "gpu/CommandBuffer.h"
#include "tools/writer/TestPattern.h"

namespace relaytest {

bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        spinFor(5ms);
    }
    return true;
}

void spinFor(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

std::shared_ptr<gpu::Texture> patternTexture(gpu::Device& device, uint32_t width, uint32_t height) {
    auto texture = device.newTexture(width, height);
    const auto pixels = TestPattern::quadrants(width, height, width * 4);
    texture->replaceRegion(gpu::Region::make2D(0, 0, width, height), 0, pixels.data(), width * 4);
    return texture;
}

void publish(RelayServer& server, const std::shared_ptr<gpu::Texture>& texture,
             const PixelRegion& region, bool flipped) {
    gpu::CommandBuffer commandBuffer;
    server.publishFrameTexture(
        texture, commandBuffer,
        gpu::Rect{double(region.x), double(region.y), double(region.width), double(region.height)},
        flipped);
    commandBuffer.commit();
}

std::vector<uint8_t> expectedFrame(const gpu::Texture& texture, const PixelRegion& region,
                                   bool flipped) {
    const size_t rowBytes = size_t{region.width} * 4;
    std::vector<uint8_t> rows(rowBytes * region.height);
    for (uint32_t y = 0; y < region.height; ++y) {
        const uint32_t from = region.y + (flipped ? y : region.height - 1 - y);
        texture.getBytes(rows.data() + y * rowBytes, rowBytes,
                         gpu::Region::make2D(region.x, from, region.width, 1), 0);
    }
    return rows;
}

bool nothingCopiedWhilePublishing(PipeWireVideoSource& source,
                                  const std::shared_ptr<gpu::Texture>& texture) {
    const uint64_t copied = source.copiedFrames();
    for (int i = 0; i < 30; ++i) {
        publishWhole(source, texture);
        spinFor(5ms);
    }
    return source.copiedFrames() == copied;
}

std::optional<std::string> runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        return std::nullopt;
    }
    return process.readAllStandardOutput().toStdString();
}

size_t nodesNamed(const std::string& name) {
    const auto dump = runTool("pw-dump", {QString::fromStdString(name)});
    if (!dump) return SIZE_MAX;  // not known: neither none nor one
    size_t count = 0;
    for (size_t at = 0; (at = dump->find("\"PipeWire:Interface:Node\"", at)) != dump->npos; ++at) {
        ++count;
    }
    return count;
}

std::string gstMismatch(const std::function<void()>& feed, const std::vector<uint8_t>& expected,
                        int frames) {
    QTemporaryFile file;
    if (expected.empty() || !file.open()) return "nothing to compare";
    QProcess gst;
    // The caps filter right after the source matters: the session manager never links a
    // consumer whose caps are not video.
    gst.start("gst-launch-1.0",
              {"pipewiresrc", QString::fromStdString("target-object=" + serverName),
               QString("num-buffers=%1").arg(frames), "!", "video/x-raw", "!", "videoconvert", "!",
               "video/x-raw,format=BGRA", "!", "filesink", "location=" + file.fileName()});
    const bool ended = spinUntil([&] {
        if (gst.state() == QProcess::NotRunning) return true;
        feed();
        spinFor(10ms);
        return false;
    });
    if (!ended) gst.kill();
    gst.waitForFinished();
    const bool succeeded = gst.exitStatus() == QProcess::NormalExit && gst.exitCode() == 0;
    const QByteArray bytes = file.readAll();
    QByteArray all;
    for (int i = 0; i < frames; ++i) all.append(QByteArrayView(expected.data(), expected.size()));
    if (succeeded && bytes == all) return "";
    const size_t at = size_t(
        std::mismatch(bytes.begin(), bytes.end(), all.begin(), all.end()).first - bytes.begin());
    return (succeeded ? "" : "the client failed; ") + std::to_string(bytes.size()) + " bytes of " +
           std::to_string(all.size()) + ", first difference at byte " + std::to_string(at) + "\n" +
           (gst.readAllStandardOutput() + gst.readAllStandardError()).toStdString();
}

std::string gstMismatch(RelayServer& server, const std::shared_ptr<gpu::Texture>& texture,
                        const PixelRegion& region, bool flipped, int frames) {
    return gstMismatch([&] { publish(server, texture, region, flipped); },
                       expectedFrame(*texture, region, flipped), frames);
}

}  // namespace relaytest
