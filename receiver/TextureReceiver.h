#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/FrameRateMeter.h"
#include "core/ReceiverPlatform.h"
#include "core/WillChangeSignal.h"
#include "format/Configuration.h"
#include "format/SharedFrameHeader.h"
#include "gpu/FrameStore.h"
#include "gpu/Texture.h"
#include "receiver/FrameRelay.h"
#include "receiver/SharedFileLock.h"
#include "receiver/SharedFrameFile.h"

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
    bool hasLockFile() const { return sharedFile_ && sharedFile_->hasLockFile(); }
    bool isWaitingForSharedFile() const { return waitingForSharedFile_; }

  private:
    enum class Copy { Done, HeaderChanged, Stopped };

    bool start();
    SharedFrameFile::Attach attachSharedFile();
    void lookForLockFile();
    void attachAndTakeNewestFrame();
    bool followReplacedFile();
    void noticeSilence();
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
    void reportAttachFailure(const std::string& line);

    template <typename T, typename V>
    void publish(T& field, V&& value) {
        objectWillChange.send();
        field = std::forward<V>(value);
    }

    // Released in the reverse order: the timer first, the relay server last, after the texture
    // that may lie in its memory.
    std::shared_ptr<gpu::FrameStore> frameStore_;
    ReceiverPlatform platform_;
    FrameRelay relay_;

    // Published.
    std::shared_ptr<gpu::Texture> currentTexture_;
    bool isReceiving_ = false;
    int64_t lastFrameNumber_ = 0;
    double fps_ = 0.0;

    std::optional<SharedFrameFile> sharedFile_;  // once the shared folder is known
    double lastFileCheck_ = 0.0;
    bool frameTakenSinceAttach_ = false;
    const int64_t maxDataSize_ = SharedFrameHeader::maxDataSize;
    bool silenceReported_ = false;
    FrameRateMeter frameRate_{config::frameRateHistoryLength};
    bool waitingForSharedFile_ = false;
    bool attachFailureReported_ = false;
    bool shortFileReported_ = false;
    std::optional<uint32_t> lastWarnedFrame_;
    std::optional<SharedFrameHeader> invalidSizeHeader_;  // the last one logged
    std::unique_ptr<RepeatingTimer> pollingTimer_;
};
