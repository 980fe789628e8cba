#pragma once

#include <QColor>
#include <QImage>
#include <QLabel>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gpu/Device.h"
#include "gpu/Texture.h"
#include "receiver/LogSink.h"

// Log lines kept for inspection.
class CollectingLog : public LogSink {
  public:
    void line(std::string_view text) override { lines.emplace_back(text); }
    std::vector<std::string> lines;
};

// A texture whose pixel (x, y) is `pixel(x, y)`, given as blue, green, red, alpha.
struct Bgra {
    uint8_t b, g, r, a;
};
std::shared_ptr<gpu::Texture> makeTexture(gpu::Device& device, uint32_t width, uint32_t height,
                                          const std::function<Bgra(uint32_t, uint32_t)>& pixel);
// A texture of one opaque colour.
std::shared_ptr<gpu::Texture> makeTexture(gpu::Device& device, uint32_t width, uint32_t height,
                                          QColor colour = QColor(200, 40, 90));

// A named child, failing the current test when it is missing.
template <typename T>
T* child(const QWidget& parent, const char* name) {
    return parent.findChild<T*>(QString::fromLatin1(name));
}

// Whether a widget is shown on screen within its top-level window.
bool isShown(const QWidget* widget);
// The text of a named label, or "<missing>".
QString labelText(const QWidget& parent, const char* name);
// The colour a label draws its text in.
QColor textColour(const QLabel& label);
