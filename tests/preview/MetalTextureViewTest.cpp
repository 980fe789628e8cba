#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <vector>

#include "gpu/Device.h"
#include "preview/Coordinator.h"
#include "preview/MetalTextureView.h"
#include "preview/TextureGLView.h"
#include "tools/writer/TestPattern.h"

namespace {

using Colour = TestPattern::Bgra;
constexpr Colour black{0, 0, 0, 255};
constexpr Colour teal{140, 120, 10, 255};
constexpr Colour plum{90, 20, 150, 255};

std::string describe(QRgb pixel) {
    return "r" + std::to_string(qRed(pixel)) + " g" + std::to_string(qGreen(pixel)) + " b" +
           std::to_string(qBlue(pixel)) + " a" + std::to_string(qAlpha(pixel));
}

::testing::AssertionResult pixelIs(const QImage& image, int x, int y, Colour expected) {
    const QRgb pixel = image.pixel(x, y);
    const QRgb wanted = qRgba(expected.r, expected.g, expected.b, expected.a);
    if (pixel == wanted) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel (" << x << ", " << y << ") of " << image.width() << "x" << image.height()
           << " is " << describe(pixel) << ", expected " << describe(wanted);
}

// The picture shows the quadrant pattern the right way round over the whole image: checked well
// inside each quadrant and one pixel in from each corner, away from the filtered seams.
void expectQuadrants(const QImage& image) {
    ASSERT_FALSE(image.isNull());
    const int w = image.width();
    const int h = image.height();
    EXPECT_TRUE(pixelIs(image, w / 4, h / 4, TestPattern::topLeft));
    EXPECT_TRUE(pixelIs(image, 3 * w / 4, h / 4, TestPattern::topRight));
    EXPECT_TRUE(pixelIs(image, w / 4, 3 * h / 4, TestPattern::bottomLeft));
    EXPECT_TRUE(pixelIs(image, 3 * w / 4, 3 * h / 4, TestPattern::bottomRight));
    EXPECT_TRUE(pixelIs(image, 1, 1, TestPattern::topLeft));
    EXPECT_TRUE(pixelIs(image, w - 2, 1, TestPattern::topRight));
    EXPECT_TRUE(pixelIs(image, 1, h - 2, TestPattern::bottomLeft));
    EXPECT_TRUE(pixelIs(image, w - 2, h - 2, TestPattern::bottomRight));
}

void expectEverywhere(const QImage& image, Colour colour) {
    ASSERT_FALSE(image.isNull());
    for (int y = 0; y < image.height(); y += 7) {
        for (int x = 0; x < image.width(); x += 7) {
            ASSERT_TRUE(pixelIs(image, x, y, colour));
        }
    }
    EXPECT_TRUE(pixelIs(image, image.width() - 1, image.height() - 1, colour));
}

class MetalTextureViewTest : public ::testing::Test {
  protected:
    std::shared_ptr<gpu::Texture> quadrantTexture(uint32_t width, uint32_t height) {
        auto texture = device->newTexture(width, height);
        const std::vector<uint8_t> pixels = TestPattern::quadrants(width, height, width * 4);
        texture->replaceRegion(gpu::Region::make2D(0, 0, width, height), 0, pixels.data(),
                               width * 4);
        return texture;
    }

    std::shared_ptr<gpu::Texture> solidTexture(uint32_t width, uint32_t height, Colour colour) {
        auto texture = device->newTexture(width, height);
        std::vector<Colour> pixels(size_t{width} * height, colour);
        texture->replaceRegion(gpu::Region::make2D(0, 0, width, height), 0, pixels.data(),
                               width * 4);
        return texture;
    }

    // Makes the preview the way the window does, in a window of `size`, and waits until it is on
    // screen and, when it has a texture, drawn.
    // With `topRowFirst` off, the view keeps its picture in GL's own row order, as it does where
    // the driver cannot put the clip origin at the upper left.
    void show(std::shared_ptr<gpu::Texture> texture, QSize size, bool topRowFirst = true) {
        window.reset();  // a preview shown before goes, with its GL objects, first
        window = std::make_unique<QWidget>();
        const MetalTextureView value{std::move(texture), device};
        coordinator = value.makeCoordinator();
        view = value.makeNSView(
            coordinator, [](const std::string& reason) { ADD_FAILURE() << reason; }, window.get());
        ASSERT_NE(glView(), nullptr);
        glView()->setTopRowFirstAllowed(topRowFirst);
        value.updateNSView(view, *coordinator);
        view->setGeometry(QRect(QPoint(0, 0), size));
        window->resize(size);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        if (coordinator->texture()) {
            ASSERT_TRUE(waitForDrawsAbove(0));
        }
    }

    void handOver(std::shared_ptr<gpu::Texture> texture) {
        MetalTextureView{std::move(texture), device}.updateNSView(view, *coordinator);
    }

    bool waitForDrawsAbove(uint64_t draws) {
        return QTest::qWaitFor([&] { return coordinator->counters().draws > draws; }, 10000);
    }

    // Lets the event loop run for a while, so that any redraw that was going to happen has.
    static void settle() { QTest::qWait(300); }

    TextureGLView* glView() const { return qobject_cast<TextureGLView*>(view); }

    // What the drawable holds now, after any draw that was asked for.
    QImage picture() {
        if (!glView()) {
            ADD_FAILURE() << "the view is not a TextureGLView";
            return {};
        }
        return glView()->grabFramebuffer();
    }

    // What the X server shows in the window, once it shows `colour` three quarters of the way
    // across and down (or the last look).
    QImage onScreen(Colour colour) {
        QImage shot;
        const bool shown = QTest::qWaitFor(
            [&] {
                shot = window->screen()->grabWindow(window->winId()).toImage();
                const QRgb wanted = qRgba(colour.r, colour.g, colour.b, 255);
                return !shot.isNull() &&
                       shot.pixel(shot.width() * 3 / 4, shot.height() * 3 / 4) == wanted;
            },
            10000);
        if (!shown) ADD_FAILURE() << "the window never showed the expected picture";
        return shot.convertToFormat(QImage::Format_ARGB32);
    }
    QImage onScreenQuadrants() { return onScreen(TestPattern::bottomRight); }

    std::shared_ptr<gpu::Device> device = gpu::Device::create();
    std::shared_ptr<MetalTextureView::Coordinator> coordinator;
    // Destroyed first: the view releases its GL objects while the coordinator is still there.
    std::unique_ptr<QWidget> window;
    QWidget* view = nullptr;  // owned by `window`
};

TEST_F(MetalTextureViewTest, ShowsOpaqueBlackWhileThereIsNoTexture) {
    show(nullptr, QSize(160, 120));
    settle();
    EXPECT_EQ(coordinator->counters().draws, 0u);
    const QImage image = picture();
    EXPECT_EQ(image.size(), QSize(160, 120));
    expectEverywhere(image, black);
    EXPECT_EQ(coordinator->counters().uploads, 0u);
}

TEST_F(MetalTextureViewTest, ShowsTheFrameUprightUnmirroredAndFillingTheDrawable) {
    struct Case {
        uint32_t textureWidth, textureHeight;
        QSize view;
    };
    // Enlarged, reduced, and at sizes that are not multiples of each other; drawn top row first
    // and in GL's own row order.
    for (const bool topRowFirst : {true, false}) {
        for (const Case c : {Case{160, 90, QSize(320, 180)}, Case{640, 360, QSize(320, 180)},
                             Case{37, 23, QSize(333, 187)}, Case{300, 300, QSize(128, 256)},
                             Case{1920, 1080, QSize(640, 360)}}) {
            SCOPED_TRACE(std::to_string(c.textureWidth) + "x" + std::to_string(c.textureHeight) +
                         (topRowFirst ? " top row first" : " bottom row first"));
            show(quadrantTexture(c.textureWidth, c.textureHeight), c.view, topRowFirst);
            const QImage image = picture();
            EXPECT_EQ(image.size(), c.view);
            expectQuadrants(image);
            // What reaches the screen: the view's native window inside the top-level one.
            expectQuadrants(onScreenQuadrants());
            // What the window's widgets render into an image (QWidget::grab).
            expectQuadrants(window->grab().toImage().convertToFormat(QImage::Format_ARGB32));
            EXPECT_EQ(coordinator->counters().uploads, 1u);
        }
    }
}

TEST_F(MetalTextureViewTest, AFramesAlphaNeverShows) {
    // A host that leaves alpha at 0 (BGRX pixels) still shows its colours, fully opaque.
    constexpr Colour clearTeal{teal.b, teal.g, teal.r, 0};
    show(solidTexture(64, 48, clearTeal), QSize(200, 150));
    expectEverywhere(picture(), teal);
    expectEverywhere(onScreen(teal), teal);
    expectEverywhere(window->grab().toImage().convertToFormat(QImage::Format_ARGB32), teal);
}

TEST_F(MetalTextureViewTest, RedrawsWhenResizedAndFillsTheNewDrawable) {
    show(quadrantTexture(64, 48), QSize(200, 150));
    settle();
    const auto before = coordinator->counters();
    view->resize(310, 90);
    window->resize(310, 90);
    ASSERT_TRUE(waitForDrawsAbove(before.draws));
    const QImage image = picture();
    EXPECT_EQ(image.size(), QSize(310, 90));
    expectQuadrants(image);
    EXPECT_EQ(coordinator->counters().uploads, before.uploads);
}

TEST_F(MetalTextureViewTest, RedrawsWhenExposedAgain) {
    show(quadrantTexture(64, 48), QSize(200, 150));
    settle();
    const auto before = coordinator->counters();
    window->hide();
    QTest::qWait(50);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_TRUE(waitForDrawsAbove(before.draws));
    EXPECT_EQ(coordinator->counters().uploads, before.uploads);
    expectQuadrants(onScreenQuadrants());
}

TEST_F(MetalTextureViewTest, DrawsNothingMoreWhileNothingIsHandedOver) {
    show(quadrantTexture(64, 48), QSize(200, 150));
    settle();
    const uint64_t draws = coordinator->counters().draws;
    settle();
    settle();
    EXPECT_EQ(coordinator->counters().draws, draws);
}

TEST_F(MetalTextureViewTest, ShowsTexturesOfAnotherSizeAndReusesTheGlTextureForTheSameSize) {
    show(solidTexture(64, 64, teal), QSize(240, 120));
    expectEverywhere(picture(), teal);
    EXPECT_EQ(coordinator->counters().textureAllocations, 1u);

    uint64_t draws = coordinator->counters().draws;
    handOver(quadrantTexture(200, 100));
    ASSERT_TRUE(waitForDrawsAbove(draws));
    expectQuadrants(picture());
    EXPECT_EQ(coordinator->counters().uploads, 2u);
    EXPECT_EQ(coordinator->counters().textureAllocations, 2u);

    // Same size, new texture object: its texels replace the old ones in the same GL texture.
    draws = coordinator->counters().draws;
    handOver(solidTexture(200, 100, plum));
    ASSERT_TRUE(waitForDrawsAbove(draws));
    expectEverywhere(picture(), plum);
    EXPECT_EQ(coordinator->counters().uploads, 3u);
    EXPECT_EQ(coordinator->counters().textureAllocations, 2u);

    // Back to a smaller size.
    draws = coordinator->counters().draws;
    handOver(quadrantTexture(30, 20));
    ASSERT_TRUE(waitForDrawsAbove(draws));
    expectQuadrants(picture());
    EXPECT_EQ(coordinator->counters().uploads, 4u);
    EXPECT_EQ(coordinator->counters().textureAllocations, 3u);
}

TEST_F(MetalTextureViewTest, HandingOverTheSameTextureAgainUploadsNothing) {
    const auto texture = quadrantTexture(96, 64);
    show(texture, QSize(192, 128));
    settle();
    const auto before = coordinator->counters();
    EXPECT_EQ(before.uploads, 1u);
    handOver(texture);
    ASSERT_TRUE(waitForDrawsAbove(before.draws));
    expectQuadrants(picture());
    EXPECT_EQ(coordinator->counters().uploads, 1u);
    EXPECT_EQ(coordinator->counters().textureAllocations, 1u);
}

TEST_F(MetalTextureViewTest, TwoHandOversBetweenDrawsDrawTheLaterOnceAndNeverTheEarlier) {
    show(quadrantTexture(64, 64), QSize(128, 128));
    settle();
    const auto before = coordinator->counters();
    handOver(solidTexture(64, 64, teal));
    handOver(solidTexture(64, 64, plum));
    ASSERT_TRUE(waitForDrawsAbove(before.draws));
    settle();
    const auto after = coordinator->counters();
    EXPECT_EQ(after.draws, before.draws + 1);
    EXPECT_EQ(after.uploads, before.uploads + 1);  // the earlier one never reached the GPU
    expectEverywhere(picture(), plum);
}

TEST_F(MetalTextureViewTest, KeepsTheLastPictureWhenADrawHasNothingToDrawWith) {
    show(quadrantTexture(64, 64), QSize(128, 128));
    settle();
    const uint64_t uploads = coordinator->counters().uploads;

    // No texture: the draw is skipped and the picture stays.
    handOver(nullptr);
    settle();
    expectQuadrants(picture());

    // No command buffer: the same, and the new texture is not uploaded.
    device->faults().noCommandBuffer = true;
    handOver(solidTexture(64, 64, teal));
    settle();
    expectQuadrants(picture());
    EXPECT_EQ(coordinator->counters().uploads, uploads);

    // The next draw that can, draws the texture it holds.
    device->faults().noCommandBuffer = false;
    const uint64_t draws = coordinator->counters().draws;
    handOver(coordinator->texture());
    ASSERT_TRUE(waitForDrawsAbove(draws));
    expectEverywhere(picture(), teal);
}

}  // namespace
