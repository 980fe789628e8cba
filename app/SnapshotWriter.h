#pragma once

#include <QEventLoopLocker>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/LogSink.h"
#include "gpu/Texture.h"

// Saves frames as PNG files on a worker thread of its own: reading a 4K frame back, encoding and
// writing it would otherwise hold up the window and the frame intake. Each save's line is logged
// on the thread the writer lives on, in the order the saves were asked for. While a save is under
// way the application does not quit of its own accord (its last window closed); an explicit quit
// still ends the event loop, and the writer's destruction then waits for the save.
class SnapshotWriter : public QObject {
    Q_OBJECT

  public:
    explicit SnapshotWriter(std::shared_ptr<LogSink> log);
    // Waits for the saves under way and logs their lines.
    ~SnapshotWriter() override;

    // Writes the frame in `texture` to `path` as a PNG file, then logs "✅ Frame saved to: " and
    // the path, or "❌ Failed to save frame: " and the reason. The texture is read on the worker:
    // a frame texture is never written again once the receiver has published it.
    void save(std::shared_ptr<const gpu::Texture> texture, QString path);

  private:
    void logFinished();

    std::shared_ptr<LogSink> log_;
    std::mutex mutex_;
    std::vector<std::string> finished_;  // lines of the saves done on the worker, not yet logged
    int unlogged_ = 0;                   // saves asked for whose line is not yet logged
    std::optional<QEventLoopLocker> keepRunning_;  // held while unlogged_ > 0
    QThreadPool worker_;                           // last: it goes first, after its jobs
};
