#include "tests/relay/RelayTestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <sstream>

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
    if (!texture) return nullptr;
    const auto pixels = TestPattern::quadrants(width, height, width * 4);
    texture->replaceRegion(gpu::Region::make2D(0, 0, width, height), 0, pixels.data(),
                           size_t{width} * 4);
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

void publishWhole(RelayServer& server, const std::shared_ptr<gpu::Texture>& texture, bool flipped) {
    publish(server, texture, PixelRegion{0, 0, texture->width(), texture->height()}, flipped);
}

std::vector<uint8_t> expectedFrame(const gpu::Texture& texture, const PixelRegion& region,
                                   bool flipped) {
    const size_t rowBytes = size_t{region.width} * 4;
    std::vector<uint8_t> rows(rowBytes * region.height);
    texture.getBytes(rows.data(), rowBytes,
                     gpu::Region::make2D(region.x, region.y, region.width, region.height), 0);
    if (flipped) return rows;
    std::vector<uint8_t> reversed(rows.size());
    for (uint32_t y = 0; y < region.height; ++y) {
        std::copy_n(rows.begin() + (region.height - 1 - y) * rowBytes, rowBytes,
                    reversed.begin() + y * rowBytes);
    }
    return reversed;
}

std::string firstDifference(const std::vector<uint8_t>& actual,
                            const std::vector<uint8_t>& expected, uint32_t width) {
    std::ostringstream out;
    if (actual.size() != expected.size()) {
        out << actual.size() << " bytes, expected " << expected.size() << "; ";
    }
    const size_t common = std::min(actual.size(), expected.size());
    for (size_t i = 0; i < common; ++i) {
        if (actual[i] == expected[i]) continue;
        const size_t pixel = i / 4;
        out << "pixel (" << pixel % width << ", " << pixel / width << ") byte " << i % 4 << " is "
            << int(actual[i]) << ", expected " << int(expected[i]);
        return out.str();
    }
    out << "equal over " << common << " bytes";
    return out.str();
}

ToolResult runTool(const std::string& program, const std::vector<std::string>& arguments,
                   std::chrono::milliseconds limit) {
    QProcess process;
    QStringList args;
    for (const auto& argument : arguments) args << QString::fromStdString(argument);
    process.start(QString::fromStdString(program), args);
    ToolResult result;
    if (!process.waitForStarted()) return result;
    const bool ended =
        spinUntil([&process] { return process.state() == QProcess::NotRunning; }, limit);
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    result.output = process.readAllStandardOutput().toStdString();
    result.errors = process.readAllStandardError().toStdString();
    result.exitCode = process.exitCode();
    result.ok = ended && process.exitStatus() == QProcess::NormalExit && result.exitCode == 0;
    return result;
}

std::vector<std::map<std::string, std::string>> nodesNamed(const std::string& name) {
    std::vector<std::map<std::string, std::string>> nodes;
    const auto dump = runTool("pw-dump", {});
    if (!dump.ok) return nodes;
    const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(dump.output));
    for (const auto& value : document.array()) {
        const auto object = value.toObject();
        if (object.value("type").toString() != "PipeWire:Interface:Node") continue;
        const auto props = object.value("info").toObject().value("props").toObject();
        if (props.value("node.name").toString().toStdString() != name) continue;
        std::map<std::string, std::string> properties;
        for (auto it = props.begin(); it != props.end(); ++it) {
            properties[it.key().toStdString()] =
                it.value().isString() ? it.value().toString().toStdString()
                                      : it.value().toVariant().toString().toStdString();
        }
        nodes.push_back(std::move(properties));
    }
    return nodes;
}

}  // namespace relaytest
