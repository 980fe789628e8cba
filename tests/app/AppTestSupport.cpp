#include "tests/app/AppTestSupport.h"

#include "gpu/Region.h"

std::shared_ptr<gpu::Texture> makeTexture(gpu::Device& device, uint32_t width, uint32_t height,
                                          const std::function<Bgra(uint32_t, uint32_t)>& pixel) {
    auto texture = device.newTexture(width, height);
    if (!texture) return nullptr;
    std::vector<uint8_t> bytes(size_t{width} * height * 4);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const Bgra p = pixel(x, y);
            uint8_t* out = &bytes[(size_t{y} * width + x) * 4];
            out[0] = p.b;
            out[1] = p.g;
            out[2] = p.r;
            out[3] = p.a;
        }
    }
    texture->replaceRegion(gpu::Region::make2D(0, 0, width, height), 0, bytes.data(),
                           size_t{width} * 4);
    return texture;
}

std::shared_ptr<gpu::Texture> makeTexture(gpu::Device& device, uint32_t width, uint32_t height,
                                          QColor colour) {
    const Bgra p{static_cast<uint8_t>(colour.blue()), static_cast<uint8_t>(colour.green()),
                 static_cast<uint8_t>(colour.red()), 255};
    return makeTexture(device, width, height, [p](uint32_t, uint32_t) { return p; });
}

bool isShown(const QWidget* widget) { return widget != nullptr && widget->isVisible(); }

QString labelText(const QWidget& parent, const char* name) {
    const auto* label = parent.findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<missing>");
}

QColor textColour(const QLabel& label) { return label.palette().color(label.foregroundRole()); }
