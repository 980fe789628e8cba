#include "receiver/TextureReceiver.h"

#include <cmath>
#include <filesystem>
#include <string>
#include <system_error>

#include "core/DecimalFormat.h"
#include "format/Configuration.h"
#include "receiver/BusErrorGuard.h"
#include "receiver/SharedFileLock.h"

namespace {

constexpr double fileCheckSeconds = 0.25;
// A host at any usable rate gives a frame well within this; a longer silence is a host gone.
constexpr double silenceSeconds = 1.0;
constexpr int maxCopyAttempts = 3;

bool fileExists(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

std::shared_ptr<TextureReceiver> TextureReceiver::create(
    std::shared_ptr<gpu::FrameStore> frameStore, ReceiverPlatform platform) {
    if (!frameStore) return nullptr;
    auto receiver =
        std::make_shared<TextureReceiver>(Token{}, std::move(frameStore), std::move(platform));
    if (!receiver->construct()) return nullptr;  // releasing it runs the teardown if due
    return receiver;
}

TextureReceiver::TextureReceiver(Token, std::shared_ptr<gpu::FrameStore> frameStore,
                                 ReceiverPlatform platform)
    : frameStore_(std::move(frameStore)), platform_(std::move(platform)) {}

bool TextureReceiver::construct() {
    const std::string serverName(config::cameraName);
    auto relay = platform_.relay->create(serverName, frameStore_);
    frameSink_ = std::move(relay.server);
    if (relay.failure.empty()) {
        platform_.log->line("✅ Syphon server created: 'Lumetra Vuzadivirur'");
    } else {
        platform_.log->line("❌ Failed to create Syphon server 'Lumetra Vuzadivirur': " +
                            relay.failure + " (frames are not relayed)");
    }

    const auto container = platform_.sharedFolders->sharedFolder(config::sharedFolderName);
    if (!container) {
        platform_.log->line("❌ Failed to get App Group container URL");
        return false;
    }
    frameFileLocation_ = *container / config::frameFileName;
    lockFileLocation_ = *container / config::lockFileName;

    if (!fileExists(frameFileLocation_)) {
        platform_.log->line("⏳ Waiting for Lumetra to create shared file...");
        waitingForSharedFile_ = true;
    } else if (attachSharedFile(true) != Attach::Attached) {
        return false;
    }

    subscribeToFrameSignal();
    startPolling();
    checkForNewFrame();
    return true;
}

TextureReceiver::Attach TextureReceiver::attachSharedFile(bool atConstruction) {
    std::string failure;
    auto file = FileHandle::openForUpdating(frameFileLocation_, failure);
    if (!file) {
        if (atConstruction) {
            runsTeardown_ = false;  // the server goes without being stopped
        }
        if (atConstruction || !attachFailureReported_) {
            platform_.log->line("❌ Failed to open shared file: " + failure);
        }
        attachFailureReported_ = true;
        return atConstruction ? Attach::Failed : Attach::NotYet;
    }
    fileHandle_ = std::move(file);

    if (fileExists(lockFileLocation_)) {
        const Attach lock = openLockFile(atConstruction);
        if (lock != Attach::Attached) {
            if (!atConstruction) fileHandle_.reset();  // else the teardown closes it
            return lock;
        }
    }

    mappedMemory_ =
        SharedMapping::mapReadOnly(fileHandle_->fileDescriptor(), SharedFrameHeader::mappingLength);
    if (!mappedMemory_) {
        if (atConstruction || !attachFailureReported_) platform_.log->line("❌ mmap failed");
        attachFailureReported_ = true;
        if (!atConstruction) detach();
        return atConstruction ? Attach::Failed : Attach::NotYet;
    }
    frameFileIdentity_ = FileIdentity::of(fileHandle_->fileDescriptor());
    lastFileCheck_ = platform_.clock->now();
    frameTakenSinceAttach_ = false;
    waitingForSharedFile_ = false;
    platform_.log->line("✅ TextureReceiver initialized with shared memory");
    return Attach::Attached;
}

TextureReceiver::Attach TextureReceiver::openLockFile(bool atConstruction) {
    std::string failure;
    // flock needs no write access: a lock file the user may only read serves as well.
    auto lock = FileHandle::openForReading(lockFileLocation_, failure);
    if (!lock) {
        if (atConstruction || !attachFailureReported_) {
            platform_.log->line("❌ Failed to open shared file: " + failure);
        }
        attachFailureReported_ = true;
        return atConstruction ? Attach::Failed : Attach::NotYet;
    }
    lockFileIdentity_ = FileIdentity::of(lock->fileDescriptor());
    lockFileHandle_ = std::move(lock);
    return Attach::Attached;
}

void TextureReceiver::detach() {
    mappedMemory_.reset();
    fileHandle_.reset();
    lockFileHandle_.reset();
    frameFileIdentity_.reset();
    lockFileIdentity_.reset();
}

bool TextureReceiver::followReplacedFile() {
    // A file missing for the moment is left alone: a restarting host is about to make it again.
    const auto replaced = [](const std::filesystem::path& path,
                             const std::optional<FileIdentity>& attached) {
        const auto onDisk = FileIdentity::of(path);
        return onDisk && onDisk != attached;
    };
    if (!replaced(frameFileLocation_, frameFileIdentity_) &&
        !(lockFileHandle_ && replaced(lockFileLocation_, lockFileIdentity_))) {
        return true;
    }
    platform_.log->line("🔄 Lumetra replaced its shared file; attaching the new one");
    detach();
    attachFailureReported_ = false;
    waitingForSharedFile_ = true;
    return attachSharedFile(false) == Attach::Attached;
}

bool TextureReceiver::subscribeToFrameSignal() {
    std::weak_ptr<TextureReceiver> weak = weak_from_this();
    std::string failure;
    const bool registered = platform_.frameSignal->subscribe(
        this, std::string(config::newFrameNotificationName),
        [weak] {
            if (auto self = weak.lock()) self->newFrameAvailable();
        },
        failure);
    if (registered) {
        platform_.log->line("📡 Listening for frames from Lumetra...");
    } else {
        platform_.log->line("❌ Failed to listen for frames from Lumetra: " + failure +
                            " (polling only)");
    }
    return registered;
}

void TextureReceiver::startPolling() {
    std::weak_ptr<TextureReceiver> weak = weak_from_this();
    RunLoop* runLoop = platform_.runLoop.get();
    pollingTimer_ = runLoop->scheduleRepeating(config::pollingInterval, [weak, runLoop] {
        runLoop->post([weak] {
            if (auto self = weak.lock()) self->checkForNewFrame();
        });
    });
    platform_.log->line("⏱️ Polling timer started (60Hz)");
}

void TextureReceiver::newFrameAvailable() {
    platform_.runLoop->post([self = shared_from_this()] { self->checkForNewFrame(); });
}

TextureReceiver::~TextureReceiver() {
    if (!runsTeardown_) return;
    if (pollingTimer_) pollingTimer_->invalidate();
    pollingTimer_.reset();
    if (frameSink_) frameSink_->stop();
    platform_.log->line("🛑 Syphon server stopped");
    platform_.frameSignal->unsubscribe(this);
    mappedMemory_.reset();
    fileHandle_.reset();
    lockFileHandle_.reset();
    currentTexture_.reset();
    frameTimeHistory_.clear();
    frameSink_.reset();
}

std::optional<SharedFrameHeader> TextureReceiver::readHeader(SharedFileLock& lock, int64_t length) {
    if (length >= 0 && length < static_cast<int64_t>(SharedFrameHeader::headerSize)) {
        lock.unlock();
        if (!shortFileReported_) {
            platform_.log->line("⚠️ Shared file holds " + std::to_string(length) +
                                " bytes, too few for a frame header; waiting for a frame");
        }
        shortFileReported_ = true;
        return std::nullopt;
    }
    shortFileReported_ = false;
    SharedFrameHeader header;
    const uint8_t* slot = mappedMemory_->bytes();
    // Without a lock file the file may still shrink between the length check and the read.
    if (!BusErrorGuard::run([&header, slot] { header = SharedFrameHeader::load(slot); })) {
        return std::nullopt;
    }
    return header;
}

void TextureReceiver::checkForNewFrame() {
    attachAndTakeNewestFrame();
    noticeSilence();
}

void TextureReceiver::attachAndTakeNewestFrame() {
    if (waitingForSharedFile_) {
        if (!fileExists(frameFileLocation_)) return;
        if (attachSharedFile(false) != Attach::Attached) return;
    }
    if (!mappedMemory_) return;
    // The files are looked at a few times a second rather than at every check, which stays a
    // read of 32 bytes.
    const double now = platform_.clock->now();
    const bool fileCheckDue = std::abs(now - lastFileCheck_) >= fileCheckSeconds;
    if (fileCheckDue) {
        lastFileCheck_ = now;
        if (!followReplacedFile()) return;
    }
    // A host may make its lock file after its frame file, even after frames. Until a frame has
    // been taken it is looked for at every check, so that no frame is read unlocked needlessly.
    if (!lockFileHandle_ && (fileCheckDue || !frameTakenSinceAttach_) &&
        fileExists(lockFileLocation_)) {
        openLockFile(false);
    }
    takeNewestFrame();
}

void TextureReceiver::noticeSilence() {
    if (!isReceiving_ || platform_.clock->now() - lastFrameTime_ < silenceSeconds) return;
    platform_.log->line("⚠️ No frames from Lumetra for 1 s");
    silenceReported_ = true;
    // The silence is no interval between frames: the next frame starts the rate afresh.
    frameTimeHistory_.clear();
    lastFrameTime_ = 0.0;
    publish(fps_, 0.0);
    publish(isReceiving_, false);
}

void TextureReceiver::takeNewestFrame() {
    std::optional<SharedFrameHeader> header;
    {
        SharedFileLock lock(lockDescriptor());
        if (lock.busy()) return;  // the host is writing; the slot keeps its newest frame for later
        header = readHeader(lock, fileHandle_->length());
    }
    // The texture is made outside the lock. Should the host change the frame's size before the
    // copy, another is made, a few times at most; after that a later check tries again.
    std::shared_ptr<gpu::Texture> texture;
    for (int attempt = 0; header && attempt < maxCopyAttempts; ++attempt) {
        if (!isNewFrame(*header) || !checkHeader(*header)) return;
        if (!texture || texture->width() != header->width || texture->height() != header->height) {
            texture = frameStore_->newTexture(header->width, header->height);
            if (!texture) {
                platform_.log->line("⚠️ Failed to create texture");
                return;
            }
        }
        switch (copyFrame(*header, *texture)) {
            case Copy::Done:
                publishFrame(*header, std::move(texture));
                return;
            case Copy::Stopped:
                return;
            case Copy::HeaderChanged:
                break;
        }
    }
}

bool TextureReceiver::isNewFrame(const SharedFrameHeader& header) const {
    // A number that goes back is a host that started over, and is taken like any other.
    return header.width != 0 && header.height != 0 &&
           static_cast<int64_t>(header.frameNumber) != lastFrameNumber_;
}

void TextureReceiver::warnOncePerFrame(uint32_t frameNumber, const std::string& text) {
    if (lastWarnedFrame_ == frameNumber) return;
    lastWarnedFrame_ = frameNumber;
    platform_.log->line(text);
}

bool TextureReceiver::checkHeader(const SharedFrameHeader& header) {
    if (header.dataSize == 0 || int64_t{header.dataSize} > maxDataSize_) {
        // Once per header: the checks come 60 times a second and more.
        if (invalidSizeHeader_ != header) {
            platform_.log->line("⚠️ Invalid data size: " + std::to_string(header.dataSize));
        }
        invalidSizeHeader_ = header;
        return false;
    }
    if (!header.rowsFitData()) {
        warnOncePerFrame(header.frameNumber, "⚠️ Frame #" + std::to_string(header.frameNumber) +
                                                 " skipped: " + std::to_string(header.height) +
                                                 " rows of " + std::to_string(header.width) +
                                                 " pixels, " + std::to_string(header.bytesPerRow) +
                                                 " bytes apart, do not fit " + "its data size of " +
                                                 std::to_string(header.dataSize));
        return false;
    }
    return true;
}

TextureReceiver::Copy TextureReceiver::copyFrame(SharedFrameHeader& header, gpu::Texture& texture) {
    // The header is read again in the window the pixels are copied in, so that the pixels always
    // belong to the header they are labelled with.
    SharedFileLock lock(lockDescriptor());
    if (lock.busy()) return Copy::Stopped;
    const int64_t length = fileHandle_->length();
    const auto current = readHeader(lock, length);
    if (!current) return Copy::Stopped;
    if (*current != header) {
        header = *current;
        return Copy::HeaderChanged;
    }
    const uint64_t needed = header.bytesSpannedByRows();
    if (length >= 0 && static_cast<uint64_t>(length) < SharedFrameHeader::headerSize + needed) {
        lock.unlock();
        warnOncePerFrame(header.frameNumber, "⚠️ Frame #" + std::to_string(header.frameNumber) +
                                                 " skipped: the " + "shared file holds " +
                                                 std::to_string(length) + " bytes, fewer " +
                                                 "than its header announces");
        return Copy::Stopped;
    }
    const uint8_t* pixels = mappedMemory_->bytes() + SharedFrameHeader::headerSize;
    gpu::Texture* target = &texture;
    const size_t bytesPerRow = header.bytesPerRow;
    // One copy, straight from the mapping into the texture's storage, while the lock is held.
    const bool copied = BusErrorGuard::run(
        [target, pixels, bytesPerRow] { target->writePixels(pixels, bytesPerRow); });
    lock.unlock();
    if (!copied) {
        warnOncePerFrame(header.frameNumber, "⚠️ Frame #" + std::to_string(header.frameNumber) +
                                                 " skipped: the shared file shrank while it " +
                                                 "was being read");
        return Copy::Stopped;
    }
    return Copy::Done;
}

void TextureReceiver::publishFrame(const SharedFrameHeader& header,
                                   std::shared_ptr<gpu::Texture> texture) {
    if (static_cast<int64_t>(header.frameNumber) < lastFrameNumber_) {
        // The old run's intervals say nothing about the new one's rate.
        platform_.log->line("🔄 Lumetra started over at frame #" +
                            std::to_string(header.frameNumber));
        frameTimeHistory_.clear();
        lastFrameTime_ = 0.0;
        lastWarnedFrame_.reset();
    }
    frameTakenSinceAttach_ = true;
    if (silenceReported_) platform_.log->line("✅ Frames from Lumetra again");
    silenceReported_ = false;

    if (frameSink_) frameSink_->publishFrame(texture);

    publish(currentTexture_, std::move(texture));
    publish(lastFrameNumber_, int64_t{header.frameNumber});
    publish(isReceiving_, true);
    measureFrameRate();
    if (header.frameNumber % config::progressLogStep == 0) logProgress(header);
}

void TextureReceiver::measureFrameRate() {
    const double now = platform_.clock->now();
    if (lastFrameTime_ > 0.0) {
        frameTimeHistory_.push_back(now - lastFrameTime_);
        if (frameTimeHistory_.size() > config::frameRateHistoryLength) {
            frameTimeHistory_.pop_front();
        }
        double sum = 0.0;
        for (const double interval : frameTimeHistory_) sum += interval;
        publish(fps_, 1.0 / (sum / static_cast<double>(frameTimeHistory_.size())));
    }
    lastFrameTime_ = now;
}

void TextureReceiver::logProgress(const SharedFrameHeader& header) {
    platform_.log->line("✅ Received frame #" + std::to_string(header.frameNumber) + " (" +
                        std::to_string(header.width) + "x" + std::to_string(header.height) +
                        ") - " + formatOneDecimal(fps_) + " fps");
}
