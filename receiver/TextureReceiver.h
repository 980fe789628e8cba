#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/ReceiverPlatform.h"
#include "core/WillChangeSignal.h"
#include "format/SharedFrameHeader.h"
#include "gpu/FrameStore.h"
#include "gpu/Texture.h"
#include "receiver/FileHandle.h"
#include "receiver/FileIdentity.h"
#include "receiver/SharedFileLock.h"
#include "receiver/SharedMapping.h"

// Takes each new frame the host writes into the shared frame file, makes it a texture, relays
// it and publishes the state the window shows. Lives on the main thread only.
class TextureReceiver : public std::enable_shared_from_this<TextureReceiver> {
    struct Token {};

  public:
    // None when construction cannot complete; the reason has been logged.
    static std::shared_ptr<TextureReceiver> create(std::shared_ptr<gpu::FrameStore> frameStore,
                                                   ReceiverPlatform platform);
    TextureReceiver(Token, std::shared_ptr<gpu::FrameStore> frameStore, ReceiverPlatform platform);
    ~TextureReceiver();
    TextureReceiver(const TextureReceiver&) = delete;
    TextureReceiver& operator=(const TextureReceiver&) = delete;

    // Published state; each assignment emits `objectWillChange` first.
    const std::shared_ptr<gpu::Texture>& currentTexture() const { return currentTexture_; }
    // From a frame taken until a second passes without another.
    bool isReceiving() const { return isReceiving_; }
    int64_t lastFrameNumber() const { return lastFrameNumber_; }
    double fps() const { return fps_; }
    WillChangeSignal objectWillChange;

    void newFrameAvailable();
    void checkForNewFrame();

    // Inspection for tests and diagnostics.
    bool hasLockFile() const { return lockFileHandle_.has_value(); }
    bool isWaitingForSharedFile() const { return waitingForSharedFile_; }

  private:
    enum class Attach { Attached, NotYet, Failed };
    enum class Copy { Done, HeaderChanged, Stopped };

    bool construct();
    Attach attachSharedFile(bool atConstruction);
    Attach openLockFile(bool atConstruction);
    void attachAndTakeNewestFrame();
    bool followReplacedFile();
    void noticeSilence();
    void detach();
    bool subscribeToFrameSignal();
    void startPolling();
    void takeNewestFrame();
    std::optional<SharedFrameHeader> readHeader(SharedFileLock& lock, int64_t length);
    bool isNewFrame(const SharedFrameHeader& header) const;
    bool checkHeader(const SharedFrameHeader& header);
    Copy copyFrame(SharedFrameHeader& header, gpu::Texture& texture);
    void publishFrame(const SharedFrameHeader& header, std::shared_ptr<gpu::Texture> texture);
    void measureFrameRate();
    void logProgress(const SharedFrameHeader& header);
    void warnOncePerFrame(uint32_t frameNumber, const std::string& text);
    int lockDescriptor() const { return lockFileHandle_ ? lockFileHandle_->fileDescriptor() : -1; }

    template <typename T, typename V>
    void publish(T& field, V&& value) {
        objectWillChange.send();
        field = std::forward<V>(value);
    }

    // Published.
    std::shared_ptr<gpu::Texture> currentTexture_;
    bool isReceiving_ = false;
    int64_t lastFrameNumber_ = 0;
    double fps_ = 0.0;

    std::shared_ptr<gpu::FrameStore> frameStore_;
    ReceiverPlatform platform_;
    std::optional<FileHandle> fileHandle_;
    std::unique_ptr<SharedMapping> mappedMemory_;
    std::optional<FileHandle> lockFileHandle_;
    std::optional<FileIdentity> frameFileIdentity_;
    std::optional<FileIdentity> lockFileIdentity_;
    double lastFileCheck_ = 0.0;
    bool frameTakenSinceAttach_ = false;
    const int64_t maxDataSize_ = SharedFrameHeader::maxDataSize;
    double lastFrameTime_ = 0.0;  // 0 until a frame of this run, or after a silence
    bool silenceReported_ = false;
    std::deque<double> frameTimeHistory_;
    std::unique_ptr<FrameSink> frameSink_;
    std::unique_ptr<RepeatingTimer> pollingTimer_;

    std::filesystem::path frameFileLocation_;
    std::filesystem::path lockFileLocation_;
    bool waitingForSharedFile_ = false;
    bool attachFailureReported_ = false;
    bool shortFileReported_ = false;
    std::optional<uint32_t> lastWarnedFrame_;
    std::optional<SharedFrameHeader> invalidSizeHeader_;  // the last one logged
    bool runsTeardown_ = true;
};
