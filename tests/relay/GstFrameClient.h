#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QProcess;

// A real PipeWire client: gst-launch-1.0 with pipewiresrc linked to a node by name, converting
// to BGRA and writing `frameCount` frames to a file.
class GstFrameClient {
  public:
    GstFrameClient(std::string targetNode, int frameCount, std::filesystem::path output);
    ~GstFrameClient();
    GstFrameClient(const GstFrameClient&) = delete;
    GstFrameClient& operator=(const GstFrameClient&) = delete;

    bool start();
    bool isRunning() const;
    // True when the pipeline ended by itself after its frames.
    bool succeeded() const;
    // Width and height of the caps the file sink was given.
    std::optional<std::pair<uint32_t, uint32_t>> negotiatedSize() const;
    // The frames written, each `width` x `height` tightly packed BGRA.
    std::vector<std::vector<uint8_t>> frames(uint32_t width, uint32_t height) const;
    std::string transcript() const;

  private:
    void collectOutput() const;

    std::string target_;
    int frameCount_;
    std::filesystem::path output_;
    std::unique_ptr<QProcess> process_;
    mutable std::string transcript_;
};
