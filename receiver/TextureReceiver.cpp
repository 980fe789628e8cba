#include "receiver/TextureReceiver.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "core/DecimalFormat.h"
#include "format/Configuration.h"
#include "receiver/BusErrorGuard.h"
#include "receiver/SharedFileLock.h"

namespace {

bool fileExists(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

std::shared_ptr<TextureReceiver> TextureReceiver::create(std::shared_ptr<gpu::Device> device,
                                                         ReceiverPlatform platform) {
    if (!device) return nullptr;
    auto receiver =
        std::make_shared<TextureReceiver>(Token{}, std::move(device), std::move(platform));
    if (!receiver->construct()) return nullptr;  // releasing it runs the teardown if due
    return receiver;
}

TextureReceiver::TextureReceiver(Token, std::shared_ptr<gpu::Device> device,
                                 ReceiverPlatform platform)
    : device_(std::move(device)), platform_(std::move(platform)) {}

bool TextureReceiver::construct() {
    commandQueue_ = device_->newCommandQueue();
    if (!commandQueue_) {
        runsTeardown_ = false;  // nothing has been made that a teardown would undo
        return false;
    }

    const std::string serverName(config::syphonServerName);
    auto relay = platform_.relay->create(serverName, device_);
    syphonServer_ = std::move(relay.server);
    if (relay.failure.empty()) {
        platform_.log->line("✅ Syphon server created: 'Lumetra Vuzadivirur'");
    } else {
        platform_.log->line("❌ Failed to create Syphon server 'Lumetra Vuzadivirur': " +
                            relay.failure + " (frames are not relayed)");
    }

    const auto container = platform_.containers->containerDirectory(config::appGroupIdentifier);
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

    setupNotificationObserver();
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

    // The lock file is looked for only here: one that appears later is never used.
    if (fileExists(lockFileLocation_)) {
        auto lock = FileHandle::openForUpdating(lockFileLocation_, failure);
        if (!lock) {
            if (atConstruction || !attachFailureReported_) {
                platform_.log->line("❌ Failed to open shared file: " + failure);
            }
            attachFailureReported_ = true;
            if (!atConstruction) fileHandle_.reset();  // else the teardown closes it
            return atConstruction ? Attach::Failed : Attach::NotYet;
        }
        lockFileHandle_ = std::move(lock);
    }

    mappedMemory_ =
        SharedMapping::mapReadOnly(fileHandle_->fileDescriptor(), SharedFrameHeader::mappingLength);
    if (!mappedMemory_) {
        if (atConstruction || !attachFailureReported_) platform_.log->line("❌ mmap failed");
        attachFailureReported_ = true;
        if (!atConstruction) {
            lockFileHandle_.reset();
            fileHandle_.reset();
        }
        return atConstruction ? Attach::Failed : Attach::NotYet;
    }
    waitingForSharedFile_ = false;
    platform_.log->line("✅ TextureReceiver initialized with shared memory");
    return Attach::Attached;
}

bool TextureReceiver::setupNotificationObserver() {
    std::weak_ptr<TextureReceiver> weak = weak_from_this();
    std::string failure;
    const bool registered = platform_.notifications->addObserver(
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
    if (syphonServer_) syphonServer_->stop();
    platform_.log->line("🛑 Syphon server stopped");
    platform_.notifications->removeObserver(this);
    mappedMemory_.reset();
    fileHandle_.reset();
    lockFileHandle_.reset();
    currentTexture_.reset();
    frameTimeHistory_.clear();
    syphonServer_.reset();
    commandQueue_.reset();
}

std::optional<SharedFrameHeader> TextureReceiver::readHeader() {
    const int lockFd = lockFileHandle_ ? lockFileHandle_->fileDescriptor() : -1;
    SharedFileLock lock(lockFd);
    const int64_t length = fileHandle_->length();
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
    if (waitingForSharedFile_) {
        if (!fileExists(frameFileLocation_)) return;
        if (attachSharedFile(false) != Attach::Attached) return;
    }
    if (!mappedMemory_) return;

    const auto header = readHeader();
    if (!header) return;
    if (static_cast<int64_t>(header->frameNumber) > lastFrameNumber_ && header->width != 0 &&
        header->height != 0) {
        processFrame(*header);
    }
}

void TextureReceiver::warnOncePerFrame(uint32_t frameNumber, const std::string& text) {
    if (lastWarnedFrame_ == frameNumber) return;
    lastWarnedFrame_ = frameNumber;
    platform_.log->line(text);
}

bool TextureReceiver::copyPixels(const SharedFrameHeader& header, gpu::Texture& texture) {
    const uint64_t needed = header.bytesSpannedByRows();
    const int lockFd = lockFileHandle_ ? lockFileHandle_->fileDescriptor() : -1;
    SharedFileLock lock(lockFd);
    const int64_t length = fileHandle_->length();
    if (length >= 0 && static_cast<uint64_t>(length) < SharedFrameHeader::headerSize + needed) {
        lock.unlock();
        warnOncePerFrame(header.frameNumber, "⚠️ Frame #" + std::to_string(header.frameNumber) +
                                                 " skipped: the " + "shared file holds " +
                                                 std::to_string(length) + " bytes, fewer " +
                                                 "than its header announces");
        return false;
    }
    const uint8_t* pixels = mappedMemory_->bytes() + SharedFrameHeader::headerSize;
    const auto region = gpu::Region::make2D(0, 0, header.width, header.height);
    gpu::Texture* target = &texture;
    const size_t bytesPerRow = header.bytesPerRow;
    // One copy, straight from the mapping into the texture's storage, while the lock is held.
    const bool copied = BusErrorGuard::run([target, region, pixels, bytesPerRow] {
        target->replaceRegion(region, 0, pixels, bytesPerRow);
    });
    lock.unlock();
    if (!copied) {
        warnOncePerFrame(header.frameNumber, "⚠️ Frame #" + std::to_string(header.frameNumber) +
                                                 " skipped: the shared file shrank while it " +
                                                 "was being read");
    }
    return copied;
}

void TextureReceiver::processFrame(const SharedFrameHeader& header) {
    if (!mappedMemory_) return;
    if (header.dataSize == 0 || int64_t{header.dataSize} > maxDataSize_) {
        platform_.log->line("⚠️ Invalid data size: " + std::to_string(header.dataSize));
        return;
    }
    if (!header.rowsFitData()) {
        warnOncePerFrame(header.frameNumber, "⚠️ Frame #" + std::to_string(header.frameNumber) +
                                                 " skipped: " + std::to_string(header.height) +
                                                 " rows of " + std::to_string(header.width) +
                                                 " pixels, " + std::to_string(header.bytesPerRow) +
                                                 " bytes apart, do not fit " + "its data size of " +
                                                 std::to_string(header.dataSize));
        return;
    }

    auto texture = device_->newTexture(header.width, header.height);
    if (!texture) {
        platform_.log->line("⚠️ Failed to create texture");
        return;
    }
    if (!copyPixels(header, *texture)) return;

    if (auto commandBuffer = commandQueue_->commandBuffer()) {
        if (syphonServer_) {
            const gpu::Rect region{0, 0, double(header.width), double(header.height)};
            syphonServer_->publishFrameTexture(texture, *commandBuffer, region, true);
        }
        commandBuffer->commit();
    }

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
