#pragma once

#include <QApplication>
#include <QSurfaceFormat>
#include <QtTest>
#include <functional>

#include "app/ContentView.h"
#include "gpu/FrameStore.h"
#include "gpu/OpenGLAvailable.h"
#include "tests/app/FakeReceiverState.h"
#include "tests/preview/KeepGlDriversLoaded.h"
#include "tests/support/Fakes.h"

// Where the tests' textures come from, while the tests run.
inline std::shared_ptr<gpu::FrameStore> testFrameStore;

struct Bgra {  // one pixel in the texture's byte order
    uint8_t b, g, r, a;
};
// A texture whose pixel (x, y) is `pixel(x, y)`; one opaque colour when none is given.
std::shared_ptr<gpu::Texture> makeTexture(
    uint32_t width, uint32_t height, const std::function<Bgra(uint32_t, uint32_t)>& pixel = {});

// The text of a named label or button, or "<missing>".
QString labelText(const QWidget& parent, const char* name);

// A shown window over a fake receiver state.
struct FakeWindow {
    explicit FakeWindow(QSize size = QSize(960, 680));
    // Sets all four values as the receiver does, then runs the pass where the window re-evaluates.
    void present(std::shared_ptr<gpu::Texture> texture, bool receiving, int64_t frame = 1,
                 double fps = 0.0);
    bool shown(const char* name) const;
    QRect geometryOf(const char* name) const;

    std::shared_ptr<FakeReceiverState> state = std::make_shared<FakeReceiverState>();
    std::shared_ptr<Journal> log = std::make_shared<Journal>();  // the lines the window logs
    std::unique_ptr<ContentView> view =
        std::make_unique<ContentView>(state, std::make_shared<RecordingLog>(log));
};

// Runs the test object `Test` in an application whose windows get the preview's OpenGL format.
template <typename Test>
int runGlTests(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(PreviewWidget::surfaceFormat());
    QApplication application(argc, argv);
    if (!gpu::openGLAvailable()) qFatal("the tests need an OpenGL 3.3 core device");
    testFrameStore = gpu::FrameStore::create();
    Test test;
    const int failures = QTest::qExec(&test, argc, argv);
    keepGlDriversLoaded();  // GL has been used by now
    testFrameStore.reset();
    return failures;
}
