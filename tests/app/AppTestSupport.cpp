#include "tests/app/AppTestSupport.h"

#include <QAbstractButton>
#include <QLabel>

#include "gpu/FrameStore.h"

std::shared_ptr<gpu::Texture> makeTexture(uint32_t width, uint32_t height,
                                          const std::function<Bgra(uint32_t, uint32_t)>& pixel) {
    std::vector<Bgra> pixels;
    for (uint32_t i = 0; i < width * height; ++i)
        pixels.push_back(pixel ? pixel(i % width, i / width) : Bgra{90, 40, 200, 255});
    auto texture = testFrameStore->newTexture(width, height);
    if (texture) texture->writePixels(pixels.data(), size_t{width} * 4);
    return texture;
}

QString labelText(const QWidget& parent, const char* name) {
    const QObject* item = parent.findChild<QObject*>(QString::fromLatin1(name));
    if (const auto* label = qobject_cast<const QLabel*>(item)) return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(item)) return button->text();
    return QStringLiteral("<missing>");
}

FakeWindow::FakeWindow(QSize size) {
    view->resize(size);
    view->show();
    static_cast<void>(QTest::qWaitForWindowExposed(view.get()));  // else the checks fail
}

void FakeWindow::present(std::shared_ptr<gpu::Texture> texture, bool receiving, int64_t frame,
                         double fps) {
    state->set(state->texture, std::move(texture));
    state->set(state->receiving, receiving);
    state->set(state->frameNumber, frame);
    state->set(state->rate, fps);
    QCoreApplication::processEvents();
}

bool FakeWindow::shown(const char* name) const {
    const auto* widget = view->findChild<QWidget*>(QString::fromLatin1(name));
    return widget != nullptr && widget->isVisible();
}

QRect FakeWindow::geometryOf(const char* name) const {
    const auto* widget = view->findChild<QWidget*>(QString::fromLatin1(name));
    return widget ? QRect(widget->mapTo(view.get(), QPoint(0, 0)), widget->size()) : QRect();
}
