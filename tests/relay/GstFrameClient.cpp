#include "tests/relay/GstFrameClient.h"

#include <QProcess>
#include <QStringList>
#include <fstream>
#include <iterator>
#include <regex>

GstFrameClient::GstFrameClient(std::string targetNode, int frameCount, std::filesystem::path output)
    : target_(std::move(targetNode)),
      frameCount_(frameCount),
      output_(std::move(output)),
      process_(std::make_unique<QProcess>()) {}

GstFrameClient::~GstFrameClient() {
    if (process_->state() != QProcess::NotRunning) {
        process_->kill();
        process_->waitForFinished();
    }
}

bool GstFrameClient::start() {
    // The caps filter right after the source matters: a consumer whose caps are not video is
    // never linked by the session manager.
    const QStringList arguments{"-v",
                                "pipewiresrc",
                                QString::fromStdString("target-object=" + target_),
                                QString("num-buffers=%1").arg(frameCount_),
                                "!",
                                "video/x-raw",
                                "!",
                                "videoconvert",
                                "!",
                                "video/x-raw,format=BGRA",
                                "!",
                                "filesink",
                                QString::fromStdString("location=" + output_.string())};
    process_->start("gst-launch-1.0", arguments);
    return process_->waitForStarted();
}

bool GstFrameClient::isRunning() const { return process_->state() != QProcess::NotRunning; }

bool GstFrameClient::succeeded() const {
    return !isRunning() && process_->exitStatus() == QProcess::NormalExit &&
           process_->exitCode() == 0;
}

void GstFrameClient::collectOutput() const {
    transcript_ += process_->readAllStandardOutput().toStdString();
    transcript_ += process_->readAllStandardError().toStdString();
}

std::string GstFrameClient::transcript() const {
    collectOutput();
    return transcript_;
}

std::optional<std::pair<uint32_t, uint32_t>> GstFrameClient::negotiatedSize() const {
    const std::string text = transcript();
    static const std::regex sinkCaps(
        R"(filesink0\.GstPad:sink: caps = video/x-raw.*width=\(int\)(\d+), height=\(int\)(\d+))");
    std::smatch match;
    if (!std::regex_search(text, match, sinkCaps)) return std::nullopt;
    return std::make_pair(static_cast<uint32_t>(std::stoul(match[1])),
                          static_cast<uint32_t>(std::stoul(match[2])));
}

std::vector<std::vector<uint8_t>> GstFrameClient::frames(uint32_t width, uint32_t height) const {
    std::ifstream file(output_, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                     std::istreambuf_iterator<char>()};
    const size_t frameBytes = size_t{width} * height * 4;
    std::vector<std::vector<uint8_t>> result;
    for (size_t at = 0; frameBytes > 0 && at + frameBytes <= bytes.size(); at += frameBytes) {
        result.emplace_back(bytes.begin() + at, bytes.begin() + at + frameBytes);
    }
    if (frameBytes > 0 && bytes.size() % frameBytes != 0) {
        result.emplace_back(bytes.end() - bytes.size() % frameBytes, bytes.end());  // a torn one
    }
    return result;
}
