#include "receiver/TextureReceiver.h"

#include <cmath>
#include <string>

#include "core/DecimalFormat.h"
#include "format/Configuration.h"
#include "receiver/BusErrorGuard.h"
#include "receiver/SharedFileLock.h"

namespace {

constexpr double fileCheckSeconds = 0.25;
// A host at any usable rate gives a frame well within this; a longer silence is a host gone.
constexpr double silenceSeconds = 1.0;
constexpr int maxCopyAttempts = 3;

}  // namespace

std::shared_ptr<TextureReceiver> TextureReceiver::create(
    std::shared_ptr<gpu::FrameStore> frameStore, ReceiverPlatform platform) {
    if (!frameStore) return nullptr;
    auto receiver =
        std::make_shared<TextureReceiver>(Token{}, std::move(frameStore), std::move(platform));
    if (!receiver->start()) return nullptr;  // it goes at once, its parts in their order
    return receiver;
}

TextureReceiver::TextureReceiver(Token, std::shared_ptr<gpu::FrameStore> frameStore,
                                 ReceiverPlatform platform)
    : frameStore_(std::move(frameStore)),
      platform_(std::move(platform)),
      relay_(*platform_.relay, frameStore_, platform_.log) {}

TextureReceiver::~TextureReceiver() { platform_.frameSignal->unsubscribe(this); }

bool TextureReceiver::start() {
    const auto folder = platform_.sharedFolders->sharedFolder(config::sharedFolderName);
    if (!folder) {
        platform_.log->line("❌ Failed to get App Group container URL");
        return false;
    }
    sharedFile_.emplace(*folder);

    if (!sharedFile_->frameFileExists()) {
        platform_.log->line("⏳ Waiting for Lumetra to create shared file...");
        waitingForSharedFile_ = true;
    } else if (const auto attach = attachSharedFile();
               attach != SharedFrameFile::Attach::attached) {
        // A frame file that cannot be opened ends the receiver before its server ever ran.
        if (attach == SharedFrameFile::Attach::frameFileUnopened) relay_.abandon();
        return false;
    }

    subscribeToFrameSignal();
    startPolling();
    checkForNewFrame();
    return true;
}

void TextureReceiver::reportAttachFailure(const std::string& line) {
    if (!attachFailureReported_) platform_.log->line(line);
    attachFailureReported_ = true;
}

SharedFrameFile::Attach TextureReceiver::attachSharedFile() {
    std::string reason;
    const auto attach = sharedFile_->attach(reason);
    switch (attach) {
        case SharedFrameFile::Attach::attached:
            break;
        case SharedFrameFile::Attach::frameFileUnopened:
        case SharedFrameFile::Attach::lockFileUnopened:
            reportAttachFailure("❌ Failed to open shared file: " + reason);
            return attach;
        case SharedFrameFile::Attach::unmapped:
            reportAttachFailure("❌ mmap failed");
            return attach;
    }
    lastFileCheck_ = platform_.clock->now();
    frameTakenSinceAttach_ = false;
    waitingForSharedFile_ = false;
    platform_.log->line("✅ TextureReceiver initialized with shared memory");
    return attach;
}

void TextureReceiver::lookForLockFile() {
    std::string reason;
    if (!sharedFile_->lockFileExists() || sharedFile_->openLockFile(reason)) return;
    reportAttachFailure("❌ Failed to open shared file: " + reason);
}

bool TextureReceiver::followReplacedFile() {
    if (!sharedFile_->replaced()) return true;
    platform_.log->line("🔄 Lumetra replaced its shared file; attaching the new one");
    sharedFile_->detach();
    attachFailureReported_ = false;
    waitingForSharedFile_ = true;
    return attachSharedFile() == SharedFrameFile::Attach::attached;
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
    const uint8_t* slot = sharedFile_->bytes();
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
        if (!sharedFile_->frameFileExists()) return;
        if (attachSharedFile() != SharedFrameFile::Attach::attached) return;
    }
    if (!sharedFile_ || !sharedFile_->isAttached()) return;
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
    if (!sharedFile_->hasLockFile() && (fileCheckDue || !frameTakenSinceAttach_)) {
        lookForLockFile();
    }
    takeNewestFrame();
}

void TextureReceiver::noticeSilence() {
    if (!isReceiving_ || platform_.clock->now() - *frameRate_.lastFrame() < silenceSeconds) return;
    platform_.log->line("⚠️ No frames from Lumetra for 1 s");
    silenceReported_ = true;
    // The silence is no interval between frames: the next frame starts the rate afresh.
    frameRate_.reset();
    publish(fps_, 0.0);
    publish(isReceiving_, false);
}

void TextureReceiver::takeNewestFrame() {
    std::optional<SharedFrameHeader> header;
    {
        SharedFileLock lock(sharedFile_->lockDescriptor());
        if (lock.busy()) return;  // the host is writing; the slot keeps its newest frame for later
        header = readHeader(lock, sharedFile_->length());
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
    SharedFileLock lock(sharedFile_->lockDescriptor());
    if (lock.busy()) return Copy::Stopped;
    const int64_t length = sharedFile_->length();
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
    const uint8_t* pixels = sharedFile_->bytes() + SharedFrameHeader::headerSize;
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
        frameRate_.reset();
        lastWarnedFrame_.reset();
    }
    frameTakenSinceAttach_ = true;
    if (silenceReported_) platform_.log->line("✅ Frames from Lumetra again");
    silenceReported_ = false;

    relay_.publishFrame(texture);

    publish(currentTexture_, std::move(texture));
    publish(lastFrameNumber_, int64_t{header.frameNumber});
    publish(isReceiving_, true);
    measureFrameRate();
    if (header.frameNumber % config::progressLogStep == 0) logProgress(header);
}

void TextureReceiver::measureFrameRate() {
    frameRate_.frame(platform_.clock->now());
    if (const auto rate = frameRate_.meanRate()) publish(fps_, *rate);
}

void TextureReceiver::logProgress(const SharedFrameHeader& header) {
    platform_.log->line("✅ Received frame #" + std::to_string(header.frameNumber) + " (" +
                        std::to_string(header.width) + "x" + std::to_string(header.height) +
                        ") - " + formatOneDecimal(fps_) + " fps");
}
