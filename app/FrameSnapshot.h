#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

#include "gpu/Texture.h"

// The frame-to-PNG steps of a snapshot: read the texture back, describe it as an image, encode
// it, write it.
namespace FrameSnapshot {

// The texture's level 0 as an image: its BGRA bytes read back into a buffer of its own, taken as
// premultiplied 32-bit little-endian ARGB words (blue, green, red, alpha in memory), row 0 at
// the top. A null image when the texture is empty or memory runs out.
QImage makeImage(const gpu::Texture& texture);

// A complete PNG file of `image`, with its alpha; none when the encoder fails, with its reason
// in `error`.
std::optional<QByteArray> encodePng(const QImage& image, QString& error);

// Writes `bytes` to `path`, replacing a file of that name whole, with its mode, or leaving it as
// it was: never a part. A pipe or device there is written into. On failure, `error` holds the
// system's description.
bool writeFile(const QString& path, const QByteArray& bytes, QString& error);

}  // namespace FrameSnapshot
