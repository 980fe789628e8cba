#include "app/SnapshotWriter.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QMetaObject>

#include "app/FrameSnapshot.h"

namespace {

std::string saveFrame(const gpu::Texture& texture, const QString& path) {
    const QImage image = FrameSnapshot::makeImage(texture);
    QString error = QStringLiteral("Not enough memory to read the frame back");
    if (!image.isNull()) {
        const std::optional<QByteArray> png = FrameSnapshot::encodePng(image, error);
        if (png && FrameSnapshot::writeFile(path, *png, error)) {
            return "✅ Frame saved to: " + path.toStdString();
        }
    }
    return "❌ Failed to save frame: " + error.toStdString();
}

}  // namespace

SnapshotWriter::SnapshotWriter(std::shared_ptr<LogSink> log) : log_(std::move(log)) {
    // One save at a time: lines come in the order of the saves, and at most one 4K frame's
    // image is held at once.
    worker_.setMaxThreadCount(1);
}

SnapshotWriter::~SnapshotWriter() {
    worker_.waitForDone();
    logFinished();  // the queued calls die with this object
}

void SnapshotWriter::save(std::shared_ptr<const gpu::Texture> texture, QString path) {
    if (unlogged_++ == 0) keepRunning_.emplace();
    worker_.start([this, texture = std::move(texture), path = std::move(path)] {
        // Below intake, relay and preview, yet never starved: on Linux a thread has a nice value
        // of its own. (SCHED_IDLE, Qt's idle priority, stalled a save for minutes on a busy
        // machine; at normal priority, back-to-back 4K saves cost 1080p60 intake a few frames.)
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
        std::string line = saveFrame(*texture, path);
        {
            std::lock_guard lock(mutex_);
            finished_.push_back(std::move(line));
        }
        QMetaObject::invokeMethod(this, &SnapshotWriter::logFinished, Qt::QueuedConnection);
    });
}

void SnapshotWriter::logFinished() {
    std::vector<std::string> lines;
    {
        std::lock_guard lock(mutex_);
        lines.swap(finished_);
    }
    for (const std::string& line : lines) log_->line(line);
    unlogged_ -= static_cast<int>(lines.size());
    if (unlogged_ == 0) keepRunning_.reset();  // may let the application quit now
}
