#include "app/FrameSnapshot.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QSaveFile>
#include <QScopeGuard>
#include <algorithm>
#include <new>

// The BGRA bytes of a texture are premultiplied ARGB words only on a little-endian machine.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);

namespace FrameSnapshot {

QImage makeImage(const gpu::Texture& texture) {
    const int width = static_cast<int>(texture.width());
    const int height = static_cast<int>(texture.height());
    if (width <= 0 || height <= 0) return {};
    const qsizetype bytesPerRow = qsizetype{width} * 4;

    // The image owns its buffer, so it outlives the texture it came from.
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull() || image.bytesPerLine() != bytesPerRow) return {};
    image.fill(0);
    texture.readPixels(image.bits(), static_cast<size_t>(bytesPerRow));

    // A colour channel above its alpha is no premultiplied colour at all; unpremultiplying it
    // would wrap round to a wrong colour, so it is held at the alpha (full intensity).
    for (int y = 0; y < height; ++y) {
        auto* pixel = reinterpret_cast<uchar*>(image.scanLine(y));
        for (int x = 0; x < width; ++x, pixel += 4) {
            const uchar alpha = pixel[3];
            if (alpha == 255) continue;
            pixel[0] = std::min(pixel[0], alpha);
            pixel[1] = std::min(pixel[1], alpha);
            pixel[2] = std::min(pixel[2], alpha);
        }
    }
    return image;
}

std::optional<QByteArray> encodePng(const QImage& image, QString& error) {
    // Into memory rather than into the file: Qt's PNG writer leaks when its output fails
    // mid-image, and a failed encoding leaves the file that was there untouched.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) {
        error = writer.errorString();
        return std::nullopt;
    }
    return bytes;
}

namespace {

QString systemReason(int error) { return QString::fromUtf8(::strerrordesc_np(error)); }

// Every byte through the descriptor, with the system's reason for the first failure.
bool writeAll(int fd, const QByteArray& bytes, QString& error) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = systemReason(errno);
            return false;
        }
        done += n;
    }
    return true;
}

// A pipe or a device is written as it is: it holds no file to keep, and a file renamed over it
// would replace the device node itself.
bool writeInPlace(const QByteArray& name, const QByteArray& bytes, QString& error) {
    const int fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = systemReason(errno);
        return false;
    }
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    return writeAll(fd, bytes, error);
}

}  // namespace

bool writeFile(const QString& path, const QByteArray& bytes, QString& error) {
    const QByteArray name = QFile::encodeName(path);
    struct stat target {};
    const bool exists = ::stat(name.constData(), &target) == 0;
    if (exists && !S_ISREG(target.st_mode)) return writeInPlace(name, bytes, error);
    // A file this user may not write (made read-only, on a read-only mount) is not replaced
    // behind their back, although the folder would allow it: the system's reason is given.
    if (exists && ::faccessat(AT_FDCWD, name.constData(), W_OK, AT_EACCESS) != 0) {
        error = systemReason(errno);
        return false;
    }
    // Written into an unnamed file in the same folder and renamed into place only when all of it
    // is on the disk; on any failure the file goes, and the old one stays as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    // Through the descriptor, not QSaveFile::write: when the disk is full, Qt 6.4 keeps the bytes
    // in its buffer, fails to flush them at commit() and still renames the empty file into place;
    // it also ignores a failed sync. The mode is the old file's: Qt would add write permission
    // for root to a file that has none.
    if (!writeAll(file.handle(), bytes, error)) return false;
    if (exists && ::fchmod(file.handle(), target.st_mode & 07777) != 0) {
        error = systemReason(errno);
        return false;
    }
    if (::fsync(file.handle()) != 0 && errno != EINVAL) {  // EINVAL: a file system without sync
        error = systemReason(errno);
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

}  // namespace FrameSnapshot
