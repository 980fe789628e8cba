// The preview as the window makes it, drawn by Mesa under Xvfb.
#include <gtest/gtest.h>

#include <QColor>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <cstring>
#include <optional>

#include "gpu/Device.h"
#include "preview/Coordinator.h"
#include "preview/MetalTextureView.h"
#include "preview/TextureGLView.h"
#include "tools/writer/TestPattern.h"

namespace {

using Colour = TestPattern::Bgra;
constexpr Colour black{0, 0, 0, 255}, teal{140, 120, 10, 255}, plum{90, 20, 150, 255};

QRgb rgba(Colour c) { return qRgba(c.r, c.g, c.b, c.a); }
std::string argb(QRgb pixel) { return QColor::fromRgba(pixel).name(QColor::HexArgb).toStdString(); }

// The colours inside each quadrant and one pixel in from each corner, away from filtered seams.
std::string samples(const QImage& image) {
    std::string seen;
    const int w = image.width(), h = image.height();
    for (const QPoint at : {QPoint(w / 4, h / 4), QPoint(1, 1), QPoint(3 * w / 4, h / 4),
                            QPoint(w - 2, 1), QPoint(w / 4, 3 * h / 4), QPoint(1, h - 2),
                            QPoint(3 * w / 4, 3 * h / 4), QPoint(w - 2, h - 2)}) {
        seen.append(argb(image.pixel(at))).append(" ");
    }
    return seen;
}
// What `samples` gives for the quadrant picture, upright and unmirrored (at any size).
const std::string quadrants =
    samples(QImage(TestPattern::quadrants(8, 8, 32).data(), 8, 8, QImage::Format_ARGB32));

void expectEverywhere(const QImage& image, Colour colour) {
    QImage expected(image.size(), QImage::Format_ARGB32);
    expected.fill(rgba(colour));
    EXPECT_TRUE(!image.isNull() && image.convertToFormat(QImage::Format_ARGB32) == expected)
        << "not all " << argb(rgba(colour)) << "; the first pixel is " << argb(image.pixel(0, 0));
}

class MetalTextureViewTest : public ::testing::Test {
  protected:
    // The quadrant picture, or `solid` all over with alpha 0, as a host that leaves it (BGRX).
    std::shared_ptr<gpu::Texture> texture(QSize size, std::optional<Colour> solid = {}) {
        const uint32_t width = size.width(), height = size.height();
        std::vector<uint8_t> pixels = TestPattern::quadrants(width, height, width * 4);
        const Colour clear = solid ? Colour{solid->b, solid->g, solid->r, 0} : Colour{};
        for (size_t i = 0; solid && i < pixels.size(); i += 4) std::memcpy(&pixels[i], &clear, 4);
        auto made = device->newTexture(width, height);
        made->replaceRegion(gpu::Region::make2D(0, 0, width, height), 0, pixels.data(), width * 4);
        return made;
    }

    // Makes the preview as the window does and waits until it is up and, with a texture, drawn.
    // With `topRowFirst` off the view keeps GL's own row order, as where there is no glClipControl.
    void show(std::shared_ptr<gpu::Texture> shown, QSize size, bool topRowFirst = true) {
        window.reset();  // a preview shown before goes, with its GL objects, first
        window = std::make_unique<QWidget>();
        const MetalTextureView value{std::move(shown), device};
        coordinator = value.makeCoordinator();
        view = qobject_cast<TextureGLView*>(value.makeNSView(
            coordinator, [](const std::string& reason) { ADD_FAILURE() << reason; }, window.get()));
        ASSERT_NE(view, nullptr);
        view->setTopRowFirstAllowed(topRowFirst);
        value.updateNSView(view, *coordinator);
        view->setGeometry(QRect(QPoint(0, 0), size));
        window->resize(size);
        window->show();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return view->isValid() && (!coordinator->texture() || draws() > 0); }, 10000));
    }

    void handOver(std::shared_ptr<gpu::Texture> shown) {
        MetalTextureView{std::move(shown), device}.updateNSView(view, *coordinator);
    }
    uint64_t draws() const { return coordinator->counters().draws; }
    bool drawsAbove(uint64_t count, int milliseconds = 10000) {
        return QTest::qWaitFor([&] { return draws() > count; }, milliseconds);
    }
    // Until the view has not drawn for 300 ms: whatever showing it asked for has been drawn.
    void waitUntilIdle() {
        for (int i = 0; i < 30 && drawsAbove(draws(), 300);) ++i;
    }

    QImage picture() { return view->grabFramebuffer(); }  // once any draw asked for is made
    // The X server comes to show the quadrant picture in the window.
    void expectQuadrantsOnScreen() {
        const auto shown = [&] {
            return samples(window->screen()->grabWindow(window->winId()).toImage());
        };
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == quadrants; }, 10000)) << shown();
    }

    std::shared_ptr<gpu::Device> device = gpu::Device::create();
    std::shared_ptr<MetalTextureView::Coordinator> coordinator;
    // Destroyed first: the view releases its GL objects while the coordinator is still there.
    std::unique_ptr<QWidget> window;
    TextureGLView* view = nullptr;  // owned by `window`
};

// Enlarged, reduced, at sizes not multiples of each other, in both row orders; in the view's
// picture, on screen and in what the window's widgets render into an image.
TEST_F(MetalTextureViewTest, ShowsTheFrameUprightUnmirroredAndFillingTheView) {
    for (const bool topRowFirst : {true, false}) {
        for (const auto& [frame, size] : {std::pair{QSize(160, 90), QSize(320, 180)},
                                          std::pair{QSize(640, 360), QSize(320, 180)},
                                          std::pair{QSize(37, 23), QSize(333, 187)},
                                          std::pair{QSize(300, 300), QSize(128, 256)},
                                          std::pair{QSize(1920, 1080), QSize(640, 360)}}) {
            SCOPED_TRACE(testing::Message() << frame.width() << "x" << frame.height()
                                            << ", top row first " << topRowFirst);
            show(texture(frame), size, topRowFirst);
            EXPECT_EQ(picture().size(), size);
            EXPECT_EQ(samples(picture()), quadrants);
            EXPECT_EQ(samples(window->grab().toImage()), quadrants);
            expectQuadrantsOnScreen();
            EXPECT_EQ(coordinator->counters().uploads, 1u);
        }
    }
}

// A redraw, without an upload, when resized or exposed; none while nothing happens.
TEST_F(MetalTextureViewTest, RedrawsWhenResizedOrExposedAndOtherwiseNot) {
    for (const auto& [name, resizeTo, hideAndShow, redraws] :
         {std::tuple{"resized", QSize(310, 90), false, true},
          std::tuple{"exposed again", QSize(), true, true},
          std::tuple{"left alone", QSize(), false, false}}) {
        SCOPED_TRACE(name);
        show(texture({64, 48}), QSize(200, 150));
        waitUntilIdle();
        const auto before = coordinator->counters();
        if (resizeTo.isValid()) view->resize(resizeTo), window->resize(resizeTo);
        if (hideAndShow) window->hide(), window->show();
        EXPECT_EQ(drawsAbove(before.draws, redraws ? 10000 : 1000), redraws);
        expectQuadrantsOnScreen();
        EXPECT_EQ(samples(picture()), quadrants);
        EXPECT_EQ(picture().size(), view->size());
        EXPECT_EQ(coordinator->counters().uploads, before.uploads);
    }
}

// Opaque black before any texture; then each texture handed over (or the one shown, again) drawn
// whole and opaque, with the uploads and GL textures (made only for a new size) so far.
TEST_F(MetalTextureViewTest, DrawsEachTextureHandedOverOpaqueAndUploadsOnlyNewOnes) {
    show(nullptr, QSize(240, 120));
    expectEverywhere(picture(), black);
    for (const auto& [size, solid, again, uploads, allocations] :
         {std::tuple{QSize(64, 48), std::optional{teal}, false, 1u, 1u},
          std::tuple{QSize(200, 100), std::optional<Colour>{}, false, 2u, 2u},
          std::tuple{QSize(200, 100), std::optional{plum}, false, 3u, 2u},
          std::tuple{QSize(200, 100), std::optional{plum}, true, 3u, 2u},
          std::tuple{QSize(30, 20), std::optional<Colour>{}, false, 4u, 3u}}) {
        const uint64_t drawn = draws();
        handOver(again ? coordinator->texture() : texture(size, solid));
        ASSERT_TRUE(drawsAbove(drawn));
        if (solid) {
            expectEverywhere(picture(), *solid);
        } else {
            EXPECT_EQ(samples(picture()), quadrants);
        }
        EXPECT_EQ(coordinator->counters().uploads, uploads);
        EXPECT_EQ(coordinator->counters().textureAllocations, allocations);
    }
    // Two hand-overs between draws: one draw, of the later; the earlier never reaches the GPU.
    waitUntilIdle();
    const auto before = coordinator->counters();
    handOver(texture({30, 20}, teal));
    handOver(texture({30, 20}, plum));
    ASSERT_TRUE(drawsAbove(before.draws));
    EXPECT_FALSE(drawsAbove(before.draws + 1, 1000)) << "drawn twice";
    EXPECT_EQ(coordinator->counters().uploads, before.uploads + 1);
    expectEverywhere(picture(), plum);
}

}  // namespace
