// Preview figures on this machine's OpenGL: uploading and drawing one new 3840x2160 frame
// texture into a 1280x720 view, waited for with glFinish; redrawing the same texture (no upload)
// as the part that is drawing alone; and the whole path to the screen (draw, copy, buffer swap).
// Runs under a display (xvfb-run on machines without one).
#include <QApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "gpu/FrameStore.h"
#include "preview/PreviewRenderer.h"
#include "preview/PreviewWidget.h"
#include "preview/TextureGLView.h"
#include "tools/writer/TestPattern.h"

namespace {

using Stopwatch = std::chrono::steady_clock;
constexpr uint32_t frameWidth = 3840;
constexpr uint32_t frameHeight = 2160;
constexpr int samples = 25;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "preview-bench: %s\n", what);
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(PreviewWidget::surfaceFormat());
    QApplication application(argc, argv);

    const auto frameStore = gpu::FrameStore::create();
    const std::vector<uint8_t> pattern =
        TestPattern::quadrants(frameWidth, frameHeight, frameWidth * 4);
    // A new texture object holding a full frame, made outside the timed part.
    auto newFrame = [&] {
        auto texture = frameStore->newTexture(frameWidth, frameHeight);
        if (!texture) fail("no texture");
        std::memcpy(texture->mutableContents(), pattern.data(), pattern.size());
        return texture;
    };

    QWidget window;
    const auto renderer = PreviewWidget::createRenderer(newFrame());
    auto* view = qobject_cast<TextureGLView*>(PreviewWidget::createWidget(
        renderer, [](const std::string& reason) { fail(reason.c_str()); }, &window));
    if (!view) fail("the view is not a TextureGLView");
    PreviewWidget::setTexture(view, *renderer, renderer->texture());
    view->setGeometry(0, 0, 1280, 720);
    window.resize(1280, 720);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) fail("the window was never exposed");
    if (!QTest::qWaitFor([&] { return renderer->counters().draws > 0; }, 10000)) {
        fail("the view never drew");
    }

    // Draws as the view's paint does, into its drawable, and waits until the GPU has finished.
    auto drawAndFinish = [&] {
        double ms = 0;
        view->runInContext([&](const Renderer::Target& target) {
            const auto start = Stopwatch::now();
            renderer->draw(target);
            target.gl.glFinish();
            ms = std::chrono::duration<double, std::milli>(Stopwatch::now() - start).count();
        });
        return ms;
    };

    std::vector<double> newFrameMs;
    std::vector<double> redrawMs;
    std::vector<double> shownMs;
    for (int i = 0; i < samples; ++i) {
        const auto before = renderer->counters();
        PreviewWidget::setTexture(nullptr, *renderer, newFrame());
        newFrameMs.push_back(drawAndFinish());
        redrawMs.push_back(drawAndFinish());
        const auto after = renderer->counters();
        if (after.uploads != before.uploads + 1 || after.draws != before.draws + 2) {
            fail("a sample did not upload once and draw twice");
        }

        // The whole way to the screen: hand-over, draw, copy to the window, buffer swap.
        PreviewWidget::setTexture(nullptr, *renderer, newFrame());
        const auto start = Stopwatch::now();
        view->display();
        view->runInContext([](const Renderer::Target& target) { target.gl.glFinish(); });
        shownMs.push_back(
            std::chrono::duration<double, std::milli>(Stopwatch::now() - start).count());
        if (renderer->counters().draws != after.draws + 1) fail("repaint did not draw");
    }

    std::printf("preview_4k_ms: %.2f\n", median(newFrameMs));
    std::printf("preview_4k_redraw_ms: %.2f\n", median(redrawMs));
    std::printf("preview_4k_shown_ms: %.2f\n", median(shownMs));
    std::printf("preview_samples: %d\n", samples);
    return 0;
}
