// The preview as the window makes it, drawn by Mesa under Xvfb (xcb), and the failures it reports.
#include <gtest/gtest.h>

#include <QApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <cstring>
#include <optional>

#include "gpu/FrameStore.h"
#include "preview/PreviewRenderer.h"
#include "preview/PreviewWidget.h"
#include "preview/TextureGLView.h"
#include "shaders/ShaderSources.h"
#include "tests/preview/KeepGlDriversLoaded.h"
#include "tools/writer/TestPattern.h"

namespace {

// Solid colours as a host leaves them, alpha 0 (BGRX); shown opaque.
using Colour = TestPattern::Bgra;
constexpr Colour black{0, 0, 0, 0}, teal{140, 120, 10, 0}, plum{90, 20, 150, 0};

// The colours inside each quadrant and one pixel in from each corner, away from filtered seams.
std::string samples(const QImage& image) {
    std::string seen;
    const int w = image.width(), h = image.height();
    for (const QPoint at : {QPoint(w / 4, h / 4), QPoint(1, 1), QPoint(3 * w / 4, h / 4),
                            QPoint(w - 2, 1), QPoint(w / 4, 3 * h / 4), QPoint(1, h - 2),
                            QPoint(3 * w / 4, 3 * h / 4), QPoint(w - 2, h - 2)}) {
        seen += QColor::fromRgba(image.pixel(at)).name(QColor::HexArgb).toStdString() + " ";
    }
    return seen;
}
// What `samples` gives for the quadrant picture, upright and unmirrored (at any size).
const std::string quadrants =
    samples(QImage(TestPattern::quadrants(8, 8, 32).data(), 8, 8, QImage::Format_ARGB32));
std::string everywhere(Colour c) {  // what it gives for `c` drawn opaque all over
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(qRgb(c.r, c.g, c.b));
    return samples(image);
}

class PreviewWidgetTest : public ::testing::Test {
  protected:
    // The quadrant picture, or `solid` all over.
    std::shared_ptr<gpu::Texture> texture(QSize size, std::optional<Colour> solid = {}) {
        const uint32_t width = size.width(), height = size.height();
        std::vector<uint8_t> pixels = TestPattern::quadrants(width, height, width * 4);
        for (size_t i = 0; solid && i < pixels.size(); i += 4) std::memcpy(&pixels[i], &*solid, 4);
        auto made = frameStore->newTexture(width, height);
        made->writePixels(pixels.data(), width * 4);
        return made;
    }

    // Makes the preview as the window does and waits until it is up and, with a texture, drawn.
    // With `topRowFirst` off the view keeps GL's own row order, as where there is no glClipControl.
    void show(std::shared_ptr<gpu::Texture> shown, QSize size, bool topRowFirst = true) {
        window.reset();  // a preview shown before goes, with its GL objects, first
        window = std::make_unique<QWidget>();
        renderer = PreviewWidget::createRenderer(shown);
        view = qobject_cast<TextureGLView*>(PreviewWidget::createWidget(
            renderer, [](const std::string& reason) { ADD_FAILURE() << reason; }, window.get()));
        ASSERT_NE(view, nullptr);
        view->setTopRowFirstAllowed(topRowFirst);
        PreviewWidget::setTexture(view, *renderer, std::move(shown));
        view->resize(size), window->resize(size);
        window->show();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return view->isValid() && (!renderer->texture() || draws() > 0); }, 10000));
    }

    void handOver(std::shared_ptr<gpu::Texture> shown) {
        PreviewWidget::setTexture(view, *renderer, std::move(shown));
    }
    uint64_t draws() const { return renderer->counters().draws; }
    bool drawsAbove(uint64_t count, int milliseconds = 10000) {
        return QTest::qWaitFor([&] { return draws() > count; }, milliseconds);
    }
    // Until no draw is asked for or under way: the render thread has run every draw posted, and
    // the news of each has been taken, without a further draw coming of it. A quiet spell would
    // not do: on a busy machine a posted draw can wait longer than any spell.
    void settle() {
        for (uint64_t seen = ~uint64_t{0}; seen != draws();) {
            seen = draws();
            view->grabFramebuffer();  // runs what is posted, and what is asked for, first
            QCoreApplication::processEvents();
        }
    }

    std::string drawn() { return samples(view->grabFramebuffer()); }
    // The X server comes to show the quadrant picture in the window; the wait ends as soon as
    // the picture's colours are all there, right or wrong.
    void expectQuadrantsOnScreen() {
        const auto shown = [&] {
            return samples(window->screen()->grabWindow(window->winId()).toImage());
        };
        const auto patternColoursOnly = [&] {
            const std::string seen = shown();
            for (size_t at = 0; at < seen.size(); at += 10)  // "#aarrggbb " each
                if (quadrants.find(seen.substr(at, 10)) == std::string::npos) return false;
            return true;
        };
        static_cast<void>(QTest::qWaitFor(patternColoursOnly, 10000));
        EXPECT_EQ(shown(), quadrants);
    }

    std::shared_ptr<gpu::FrameStore> frameStore = gpu::FrameStore::create();
    std::shared_ptr<PreviewRenderer> renderer;
    // Destroyed first: the view releases its GL objects while the renderer is still there.
    std::unique_ptr<QWidget> window;
    TextureGLView* view = nullptr;  // owned by `window`
};

// Enlarged, reduced, at sizes not multiples of each other, in both row orders; drawn and on screen.
TEST_F(PreviewWidgetTest, ShowsTheFrameUprightUnmirroredAndFillingTheView) {
    const QSize frames[] = {{160, 90}, {37, 23}, {300, 300}, {1920, 1080}};
    const QSize views[] = {{320, 180}, {333, 187}, {128, 256}, {640, 360}};
    for (const bool topRowFirst : {true, false}) {
        for (size_t i = 0; i < std::size(frames); ++i) {
            SCOPED_TRACE(testing::Message() << "row " << i << ", top row first " << topRowFirst);
            show(texture(frames[i]), views[i], topRowFirst);
            EXPECT_EQ(drawn(), quadrants);
            expectQuadrantsOnScreen();
        }
    }
}

// Opaque black before any texture. Then a draw for each change, uploading only what it shows: a
// texture handed over, drawn whole and opaque (with a new GL texture only for a new size), or
// the one shown, again; two between draws, of which only the later reaches the GPU; a resize or
// an exposure, without an upload. A spell with nothing to do draws nothing.
TEST_F(PreviewWidgetTest, DrawsEachChangeAndUploadsOnlyWhatItShows) {
    enum Change { handed, again, twoHanded, resized, exposed };
    const struct {
        Change change;
        QSize size;
        std::optional<Colour> solid;  // else the quadrant picture
        uint64_t uploads, allocations;
    } rows[] = {
        {handed, {64, 48}, teal, 1, 1},      {handed, {200, 100}, {}, 2, 2},
        {resized, {310, 90}, {}, 2, 2},      {exposed, {}, {}, 2, 2},
        {twoHanded, {200, 100}, plum, 3, 2}, {again, {}, plum, 3, 2},
        {handed, {30, 20}, {}, 4, 3},
    };
    show(nullptr, QSize(240, 120));
    EXPECT_EQ(drawn(), everywhere(black));
    for (const auto& [change, size, solid, uploads, allocations] : rows) {
        SCOPED_TRACE(testing::Message() << "change " << change << ", " << uploads << " uploads");
        settle();
        const uint64_t before = draws();
        if (change == again) QTest::qWait(1000);  // a timer or a stray request would draw now
        if (change == twoHanded) handOver(texture(size, teal));
        if (change == handed || change == twoHanded) handOver(texture(size, solid));
        if (change == again) handOver(renderer->texture());
        if (change == resized) view->resize(size), window->resize(size);
        if (change == exposed) window->hide(), window->show();
        ASSERT_TRUE(drawsAbove(before));
        if (change == handed || change == again) {
            EXPECT_EQ(draws(), before + 1);
        }
        if (change == resized || change == exposed) expectQuadrantsOnScreen();
        EXPECT_EQ(drawn(), solid ? everywhere(*solid) : quadrants);
        EXPECT_EQ(renderer->counters().uploads, uploads);
        EXPECT_EQ(renderer->counters().textureAllocations, allocations);
    }
}

// A preview that cannot draw says why to its owner, once: the GL compiler or linker log, or the
// missing part. What the owner does with it (the application stops) is its own business.
TEST_F(PreviewWidgetTest, AFailureIsReportedOnceWithItsReason) {
    // A function of the library, what replaces it (nullptr: none), and the reason, as a pattern.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"textureFragmentShader",
         "#version 330 core\nout vec4 colour;\nvoid main() { colour = undefinedThing; }\n",
         "textureFragmentShader did not compile: .*0:3\\([0-9]+\\): error: .*undefinedThing.*"},
        // Compiles, but takes its input as another type than the vertex function gives it.
        {"textureFragmentShader",
         "#version 330 core\nin vec3 textureCoordinate;\nout vec4 colour;\n"
         "void main() { colour = vec4(textureCoordinate, 1.0); }\n",
         "the preview program did not link: .*error: .*textureCoordinate.*"},
        {"textureFragmentShader", nullptr,
         "no function textureFragmentShader in the shader library"},
    };
    for (const auto& [function, source, reason] : cases) {
        auto functions = ShaderSources::builtIn()->functions();
        functions.erase(function);
        if (source) functions.emplace(function, source);
        const auto renderer = PreviewRenderer::make(nullptr, ShaderSources(functions));
        ASSERT_TRUE(renderer);
        std::vector<std::string> reasons;
        const auto shown = frameStore->newTexture(8, 8);
        const std::unique_ptr<QWidget> view(PreviewWidget::createWidget(
            renderer, [&](const std::string& why) { reasons.push_back(why); }));
        PreviewWidget::setTexture(view.get(), *renderer, shown);
        view->resize(64, 64);
        view->show();
        // A draw is the wrong outcome: the wait ends then, too.
        static_cast<void>(QTest::qWaitFor(
            [&] { return !reasons.empty() || renderer->counters().draws > 0; }, 30000));
        ASSERT_EQ(reasons.size(), 1u) << reason;
        // A later draw is no second report: asked for, posted, done, and any report delivered.
        PreviewWidget::setTexture(view.get(), *renderer, shown);
        auto* glView = qobject_cast<TextureGLView*>(view.get());
        glView->display();
        glView->grabFramebuffer();
        QCoreApplication::sendPostedEvents();
        ASSERT_EQ(reasons.size(), 1u);
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(reason),
                                         QRegularExpression::DotMatchesEverythingOption);
        EXPECT_TRUE(pattern.match(QString::fromStdString(reasons[0])).hasMatch()) << reasons[0];
    }
}

}  // namespace

// The format is the default before the application exists.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QSurfaceFormat::setDefaultFormat(PreviewWidget::surfaceFormat());
    QApplication application(argc, argv);
    const int status = RUN_ALL_TESTS();
    keepGlDriversLoaded();
    return status;
}
