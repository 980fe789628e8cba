#include "app/FrameSnapshot.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
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

bool writeFile(const QString& path, const QByteArray& bytes, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        error = file.errorString();
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return false;
    }
    return true;
}

}  // namespace FrameSnapshot
