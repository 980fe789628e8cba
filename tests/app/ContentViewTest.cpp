// The window's layout and texts, driven by a fake receiver state (for all four combinations of
// texture and receiving) and by a real receiver reading real frames.
#include <QApplication>
#include <QLabel>
#include <QOpenGLWidget>
#include <QPushButton>
#include <QSurfaceFormat>
#include <QtTest>
#include <clocale>
#include <cmath>

#include "app/ContentView.h"
#include "app/ProgressSpinner.h"
#include "app/StatusDot.h"
#include "app/SystemColors.h"
#include "app/TextureReceiverState.h"
#include "platform/QtReceiverPlatform.h"
#include "preview/MetalTextureView.h"
#include "receiver/Configuration.h"
#include "receiver/TextureReceiver.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/FakeReceiverState.h"
#include "tests/preview/KeepGlDriversLoaded.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

namespace {

bool near(const QColor& actual, const QColor& expected, int tolerance = 2) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

QString describe(const QColor& c) {
    return QStringLiteral("(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

// A shown window over a fake state.
struct Window {
    Window(std::shared_ptr<gpu::Device> device, QSize size)
        : view(std::make_unique<ContentView>(std::move(device), state, log)) {
        view->resize(size);
        view->show();
    }
    bool exposed() { return QTest::qWaitForWindowExposed(view.get()); }
    // Runs the pending pass of the event loop, where the window re-evaluates.
    void settle() { QCoreApplication::processEvents(); }
    QWidget* widget(const char* name) const { return child<QWidget>(*view, name); }
    bool shown(const char* name) const { return isShown(widget(name)); }
    QColor dotColour() const { return child<StatusDot>(*view, "statusDot")->color(); }
    QRect geometryOf(const char* name) const {
        const QWidget* w = widget(name);
        return QRect(w->mapTo(view.get(), QPoint(0, 0)), w->size());
    }

    std::shared_ptr<FakeReceiverState> state = std::make_shared<FakeReceiverState>();
    std::shared_ptr<CollectingLog> log = std::make_shared<CollectingLog>();
    std::unique_ptr<ContentView> view;
};

const char* const trailingItems[] = {
    "frameLabel", "separatorAfterFrame",   "rateLabel", "separatorBeforeSize",
    "sizeLabel",  "separatorBeforeButton", "saveButton"};

}  // namespace

class ContentViewTest : public QObject {
    Q_OBJECT

  private:
    std::shared_ptr<gpu::Device> device_;

  private Q_SLOTS:
    void initTestCase() {
        device_ = gpu::Device::systemDefault();
        QVERIFY2(device_ != nullptr, "the tests need an OpenGL 3.3 core device (run under Xvfb)");
    }

    void waitingStateBeforeTheFirstFrame() {
        Window w(device_, QSize(960, 680));
        QVERIFY(w.exposed());

        QVERIFY(w.shown("compatibilityNote"));
        QCOMPARE(labelText(*w.view, "compatibilityNote"),
                 "Note: LM Vuzadivirur requires Lumetra 2.5 or later to be installed.");
        QVERIFY(w.shown("waitingPanel"));
        QCOMPARE(w.view->previewWidget(), nullptr);
        QCOMPARE(labelText(*w.view, "waitingTitle"), "Waiting for Lumetra...");
        QCOMPARE(labelText(*w.view, "waitingCaption"),
                 "Start visualizing in Lumetra to see output here");

        // Title: larger than the default text, white; hint: smaller, gray.
        auto* title = child<QLabel>(*w.view, "waitingTitle");
        auto* caption = child<QLabel>(*w.view, "waitingCaption");
        const double defaultSize = QApplication::font().pointSizeF();
        QVERIFY(title->font().pointSizeF() > defaultSize);
        QVERIFY(caption->font().pointSizeF() < defaultSize);
        QCOMPARE(textColour(*title), QColor(Qt::white));
        QCOMPARE(textColour(*caption), SystemColors::gray());

        // The spinner turns while it is shown, drawn at 1.5 times its natural size about the
        // centre of the place it takes in the column: the title sits 20 below that place.
        auto* spinner = child<ProgressSpinner>(*w.view, "spinner");
        QVERIFY(isShown(spinner));
        QVERIFY(spinner->isAnimating());
        QCOMPARE(spinner->scale(), 1.5);
        QCOMPARE(spinner->width(), 48);
        const QRect spinnerBox = w.geometryOf("spinner");
        const QRect titleBox = w.geometryOf("waitingTitle");
        const int spinnerCentre = spinnerBox.top() + spinnerBox.height() / 2;
        QCOMPARE(titleBox.top() - spinnerCentre, ProgressSpinner::naturalSize / 2 + 20);
        QCOMPARE(w.geometryOf("waitingCaption").top() - titleBox.bottom() - 1, 20);
        const int stepBefore = spinner->step();
        QTRY_VERIFY(spinner->step() != stepBefore);

        QCOMPARE(w.dotColour(), SystemColors::red());
        QCOMPARE(labelText(*w.view, "stateLabel"), "Disconnected");
        for (const char* name : trailingItems) QVERIFY2(!w.shown(name), name);

        // The column, top to bottom: note, panel, bar, touching, centred; the bar full width.
        const QRect note = w.geometryOf("compatibilityNote");
        const QRect bar = w.geometryOf("statusBar");
        QCOMPARE(bar.width(), w.view->width());
        QCOMPARE(bar.left(), 0);
        QVERIFY(note.bottom() < spinnerCentre);
        QVERIFY(w.geometryOf("waitingCaption").bottom() < bar.top());
        const int columnTop = note.top();
        const int below = w.view->height() - 1 - bar.bottom();
        QVERIFY(std::abs(columnTop - below) <= 1);

        // Once a frame is there the panel goes, and its spinner stops.
        w.state->setTexture(makeTexture(*device_, 64, 36));
        w.settle();
        QVERIFY(!w.shown("waitingPanel"));
        QVERIFY(!spinner->isAnimating());
    }

    void receivingStateAfterRealFrames() {
        TempDirectory runtime;
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path().string()));
        std::string failure;
        auto writer =
            SharedFrameWriter::create(runtime.path() / config::appGroupIdentifier, {}, failure);
        QVERIFY2(writer != nullptr, failure.c_str());
        const uint32_t width = 640, height = 360;
        std::vector<uint8_t> pixels = TestPattern::quadrants(width, height, width * 4);
        QVERIFY(writer->writeFrame(1, width, height, width * 4, pixels.data()));

        auto journal = std::make_shared<Journal>();
        ReceiverPlatform platform =
            makeQtReceiverPlatform(std::make_shared<RecordingRelayFactory>(journal));
        auto receiver = TextureReceiver::create(device_, platform);
        QVERIFY(receiver != nullptr);
        auto view = std::make_unique<ContentView>(
            device_, std::make_shared<TextureReceiverState>(receiver), platform.log);
        view->resize(960, 680);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));

        // The frame already in the file is on screen at once.
        QVERIFY(view->previewWidget() != nullptr);
        QVERIFY(!isShown(child<QWidget>(*view, "waitingPanel")));
        QCOMPARE(child<StatusDot>(*view, "statusDot")->color(), SystemColors::green());
        QCOMPARE(labelText(*view, "stateLabel"), "Connected");
        QCOMPARE(labelText(*view, "frameLabel"), "Frame #1");
        QCOMPARE(labelText(*view, "rateLabel"), "0.0 fps");
        QCOMPARE(labelText(*view, "sizeLabel"), "640×360");
        for (const char* name : trailingItems) QVERIFY2(isShown(child<QWidget>(*view, name)), name);
        for (const char* name :
             {"separatorAfterFrame", "separatorBeforeSize", "separatorBeforeButton"}) {
            QCOMPARE(labelText(*view, name), "•");
        }
        QCOMPARE(child<QPushButton>(*view, "saveButton")->text(), "Save PNG");

        // The preview shows the frame upright, at its aspect ratio.
        auto* gl = qobject_cast<QOpenGLWidget*>(view->previewWidget());
        QVERIFY(gl != nullptr);
        QTRY_VERIFY(gl->isValid());
        const QSize previewSize = gl->size();
        QVERIFY(std::abs(previewSize.width() * 9 - previewSize.height() * 16) <= 16);
        const QImage picture = gl->grabFramebuffer();
        const auto at = [&](double fx, double fy) {
            return picture.pixelColor(static_cast<int>(picture.width() * fx),
                                      static_cast<int>(picture.height() * fy));
        };
        const auto colourOf = [](TestPattern::Bgra p) { return QColor(p.r, p.g, p.b); };
        QVERIFY2(near(at(0.25, 0.25), colourOf(TestPattern::topLeft), 3),
                 qPrintable(describe(at(0.25, 0.25))));
        QVERIFY2(near(at(0.75, 0.75), colourOf(TestPattern::bottomRight), 3),
                 qPrintable(describe(at(0.75, 0.75))));

        // Later frames arrive through the real timer and notification path.
        QVERIFY(writer->writeFrame(2, width, height, width * 4, pixels.data()));
        QTRY_COMPARE(labelText(*view, "frameLabel"), "Frame #2");
        QVERIFY(labelText(*view, "rateLabel").endsWith(" fps"));

        view.reset();
        receiver.reset();
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
    }

    void textureWithoutFramesShowsPreviewAndRedDot() {
        Window w(device_, QSize(960, 680));
        w.state->setTexture(makeTexture(*device_, 320, 180));
        w.state->setFrameNumber(9);
        w.settle();
        QVERIFY(w.exposed());
        QVERIFY(w.view->previewWidget() != nullptr);
        QVERIFY(isShown(w.view->previewWidget()));
        QVERIFY(!w.shown("waitingPanel"));
        QCOMPARE(w.dotColour(), SystemColors::red());
        QCOMPARE(labelText(*w.view, "stateLabel"), "Disconnected");
        for (const char* name : trailingItems) QVERIFY2(!w.shown(name), name);
        QVERIFY(w.shown("compatibilityNote"));
    }

    void framesWithoutTextureShowWaitingPanelAndNoSize() {
        Window w(device_, QSize(960, 680));
        w.state->setReceiving(true);
        w.state->setFrameNumber(12);
        w.state->setFps(29.97);
        w.settle();
        QVERIFY(w.exposed());
        QVERIFY(w.shown("waitingPanel"));
        QCOMPARE(w.view->previewWidget(), nullptr);
        QCOMPARE(w.dotColour(), SystemColors::green());
        QCOMPARE(labelText(*w.view, "stateLabel"), "Connected");
        for (const char* name : {"frameLabel", "separatorAfterFrame", "rateLabel",
                                 "separatorBeforeButton", "saveButton"}) {
            QVERIFY2(w.shown(name), name);
        }
        QVERIFY(!w.shown("separatorBeforeSize"));
        QVERIFY(!w.shown("sizeLabel"));
        QCOMPARE(labelText(*w.view, "frameLabel"), "Frame #12");
        QCOMPARE(labelText(*w.view, "rateLabel"), "30.0 fps");

        // Pressing Save PNG with no texture does nothing at all.
        child<QPushButton>(*w.view, "saveButton")->click();
        QCOMPARE(w.view->findChildren<QWidget*>("saveDialog").size(), 0);
        QVERIFY(w.log->lines.empty());
    }

    void statusBarItemsSitInOrderAtTheTrailingEnd() {
        Window w(device_, QSize(960, 680));
        w.state->setTexture(makeTexture(*device_, 1920, 1080));
        w.state->setReceiving(true);
        w.settle();
        QVERIFY(w.exposed());
        const QRect bar = w.geometryOf("statusBar");
        QCOMPARE(w.geometryOf("statusDot").left(), bar.left() + 8);
        QCOMPARE(w.geometryOf("statusDot").size(), QSize(8, 8));
        QCOMPARE(w.geometryOf("stateLabel").left(), w.geometryOf("statusDot").right() + 1 + 8);
        int previousRight = w.geometryOf("stateLabel").right();
        for (const char* name : trailingItems) {
            const QRect box = w.geometryOf(name);
            QVERIFY2(box.left() > previousRight, name);
            previousRight = box.right();
        }
        QCOMPARE(w.geometryOf("saveButton").right(), bar.right() - 8);
        QVERIFY(w.geometryOf("frameLabel").left() > bar.width() / 2);

        // Every text of the bar is white.
        for (const char* name : {"stateLabel", "frameLabel", "separatorAfterFrame", "rateLabel",
                                 "separatorBeforeSize", "sizeLabel", "separatorBeforeButton"}) {
            QCOMPARE(textColour(*child<QLabel>(*w.view, name)), QColor(Qt::white));
        }
    }

    void labelTexts() {
        Window w(device_, QSize(960, 680));
        w.state->setTexture(makeTexture(*device_, 640, 360));
        w.state->setReceiving(true);
        w.state->setFrameNumber(1234567);
        w.state->setFps(59.94);
        w.settle();
        QCOMPARE(labelText(*w.view, "frameLabel"), "Frame #1234567");
        QCOMPARE(labelText(*w.view, "rateLabel"), "59.9 fps");
        QCOMPARE(labelText(*w.view, "sizeLabel"), "640×360");

        // A decimal-comma locale changes neither the rate's full stop nor the frame number.
        const std::string savedCLocale = std::setlocale(LC_ALL, nullptr);
        const QLocale savedLocale;
        QVERIFY(std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        w.state->setFps(0.0);
        w.state->setFrameNumber(7654321);
        w.settle();
        const QString zeroRate = labelText(*w.view, "rateLabel");
        const QString frame = labelText(*w.view, "frameLabel");
        w.state->setFps(59.94);
        w.settle();
        const QString rate = labelText(*w.view, "rateLabel");
        std::setlocale(LC_ALL, savedCLocale.c_str());
        QLocale::setDefault(savedLocale);
        QCOMPARE(zeroRate, "0.0 fps");
        QCOMPARE(rate, "59.9 fps");
        QCOMPARE(frame, "Frame #7654321");

        // A change of frame size changes the size label and the preview's shape.
        w.state->setTexture(makeTexture(*device_, 360, 640));
        w.settle();
        QCOMPARE(labelText(*w.view, "sizeLabel"), "360×640");
        QVERIFY(w.view->previewWidget()->height() > w.view->previewWidget()->width());
    }

    void dotColours() {
        Window w(device_, QSize(960, 680));
        QVERIFY(w.exposed());
        const auto drawnCentre = [&w] {
            const QImage image = w.view->grab().toImage();
            return image.pixelColor(w.geometryOf("statusDot").center());
        };
        QCOMPARE(w.dotColour(), SystemColors::red());
        QVERIFY2(near(drawnCentre(), SystemColors::red()), qPrintable(describe(drawnCentre())));
        w.state->setReceiving(true);
        w.settle();
        QCOMPARE(w.dotColour(), SystemColors::green());
        QVERIFY2(near(drawnCentre(), SystemColors::green()), qPrintable(describe(drawnCentre())));
        // Round: the corners of its 8 x 8 box stay dark.
        const QImage image = w.view->grab().toImage();
        const QColor corner = image.pixelColor(w.geometryOf("statusDot").topLeft());
        QVERIFY2(corner.green() < SystemColors::green().green() / 2, qPrintable(describe(corner)));
    }

    void previewFitsAWideWindowWithBlackBesideIt() {
        Window w(device_, QSize(1200, 600));
        w.state->setTexture(makeTexture(*device_, 1280, 720, QColor(200, 40, 90)));
        w.settle();
        QVERIFY(w.exposed());
        const QRect note = w.geometryOf("compatibilityNote");
        const QRect bar = w.geometryOf("statusBar");
        const QRect preview = w.geometryOf("preview");
        // Limited by the height: the column fills it, the preview is 16:9 and centred.
        QCOMPARE(note.top(), 0);
        QCOMPARE(bar.bottom(), 599);
        QCOMPARE(preview.top(), note.bottom() + 1);
        QCOMPARE(bar.top(), preview.bottom() + 1);
        const int expectedWidth =
            static_cast<int>(std::lround((600 - note.height() - bar.height()) * 16.0 / 9.0));
        QCOMPARE(preview.width(), expectedWidth);
        QVERIFY(std::abs(preview.left() - (1200 - preview.right() - 1)) <= 1);
        QVERIFY(preview.left() > 100);

        auto* gl = qobject_cast<QOpenGLWidget*>(w.view->previewWidget());
        QTRY_VERIFY(gl->isValid());
        const QImage window = w.view->grab().toImage();
        const QColor inside = window.pixelColor(preview.center());
        const QColor left = window.pixelColor(preview.left() / 2, preview.center().y());
        const QColor right = window.pixelColor((preview.right() + 1200) / 2, preview.center().y());
        QVERIFY2(near(inside, QColor(200, 40, 90)), qPrintable(describe(inside)));
        QCOMPARE(left, QColor(Qt::black));
        QCOMPARE(right, QColor(Qt::black));
    }

    void tallFrameIsShownUprightAndNarrow() {
        Window w(device_, QSize(960, 680));
        // Top half red, bottom half blue: an upside-down picture would show.
        w.state->setTexture(makeTexture(*device_, 1080, 1920, [](uint32_t, uint32_t y) {
            return y < 960 ? Bgra{0, 0, 255, 255} : Bgra{255, 0, 0, 255};
        }));
        w.settle();
        QVERIFY(w.exposed());
        const QRect preview = w.geometryOf("preview");
        QVERIFY(preview.height() > preview.width());
        QVERIFY(std::abs(preview.width() * 16 - preview.height() * 9) <= 16);
        QVERIFY(std::abs(preview.left() - (960 - preview.right() - 1)) <= 1);
        auto* gl = qobject_cast<QOpenGLWidget*>(w.view->previewWidget());
        QTRY_VERIFY(gl->isValid());
        const QImage picture = gl->grabFramebuffer();
        const QColor top = picture.pixelColor(picture.width() / 2, picture.height() / 4);
        const QColor bottom = picture.pixelColor(picture.width() / 2, picture.height() * 3 / 4);
        QVERIFY2(near(top, QColor(255, 0, 0)), qPrintable(describe(top)));
        QVERIFY2(near(bottom, QColor(0, 0, 255)), qPrintable(describe(bottom)));
    }

    void narrowWindowShowsBlackAboveAndBelow() {
        Window w(device_, QSize(700, 900));
        w.state->setTexture(makeTexture(*device_, 1280, 720));
        w.settle();
        QVERIFY(w.exposed());
        const QRect note = w.geometryOf("compatibilityNote");
        const QRect preview = w.geometryOf("preview");
        const QRect bar = w.geometryOf("statusBar");
        QCOMPARE(preview.width(), 700);
        QCOMPARE(preview.height(), static_cast<int>(std::lround(700 * 9.0 / 16.0)));
        QVERIFY(note.top() > 100);
        QVERIFY(std::abs(note.top() - (900 - bar.bottom() - 1)) <= 1);
        const QImage window = w.view->grab().toImage();
        QCOMPARE(window.pixelColor(350, note.top() / 2), QColor(Qt::black));
        QCOMPARE(window.pixelColor(350, (bar.bottom() + 900) / 2), QColor(Qt::black));
    }

    void contentIsNeverSmallerThan640By480() {
        Window w(device_, QSize(960, 680));
        QCOMPARE(w.view->minimumSize(), QSize(640, 480));
        w.view->resize(320, 200);
        QVERIFY(w.view->width() >= 640);
        QVERIFY(w.view->height() >= 480);
        // At the smallest size everything still fits, with a frame or without.
        w.view->resize(640, 480);
        w.settle();
        QVERIFY(w.geometryOf("statusBar").bottom() < 480);
        QVERIFY(w.geometryOf("compatibilityNote").top() >= 0);
    }

    void signalsBeforeThePassGiveOneEvaluation() {
        Window w(device_, QSize(960, 680));
        w.settle();
        const int before = w.view->evaluationCount();
        w.state->setTexture(makeTexture(*device_, 640, 360));
        w.state->setFrameNumber(5);
        w.state->setReceiving(true);
        w.state->setFps(30.0);
        QCOMPARE(w.view->evaluationCount(), before);  // nothing happens inside the signals
        QCoreApplication::processEvents();
        QCOMPARE(w.view->evaluationCount(), before + 1);
        QCOMPARE(labelText(*w.view, "frameLabel"), "Frame #5");
        QCOMPARE(labelText(*w.view, "rateLabel"), "30.0 fps");
        QVERIFY(w.view->previewWidget() != nullptr);
        QCoreApplication::processEvents();
        QCOMPARE(w.view->evaluationCount(), before + 1);
        // A signal after the pass gives the next one.
        w.state->setFrameNumber(6);
        QCoreApplication::processEvents();
        QCOMPARE(w.view->evaluationCount(), before + 2);
        QCOMPARE(labelText(*w.view, "frameLabel"), "Frame #6");
    }

    void noteIsReadableOnBlackInALightTheme() {
        const QPalette saved = QApplication::palette();
        QPalette light = saved;
        light.setColor(QPalette::WindowText, Qt::black);
        light.setColor(QPalette::Window, Qt::white);
        QApplication::setPalette(light);
        {
            Window w(device_, QSize(960, 680));
            QVERIFY(w.exposed());
            auto* note = child<QLabel>(*w.view, "compatibilityNote");
            QCOMPARE(note->font(), QApplication::font());  // the default text style
            QVERIFY(textColour(*note).lightness() > 180);
            const QImage image = w.view->grab().toImage();
            const QRect box = w.geometryOf("compatibilityNote");
            int brightest = 0;
            for (int y = box.top(); y <= box.bottom(); ++y) {
                for (int x = box.left(); x <= box.right(); ++x) {
                    brightest = std::max(brightest, image.pixelColor(x, y).lightness());
                }
            }
            QVERIFY2(brightest > 180, qPrintable(QString::number(brightest)));
            QCOMPARE(image.pixelColor(box.left() + 1, box.top() + 1), QColor(Qt::black));
        }
        QApplication::setPalette(saved);
    }

    void saveButtonIsWhiteOnTranslucentBlueWithRoundCorners() {
        Window w(device_, QSize(960, 680));
        w.state->setTexture(makeTexture(*device_, 640, 360));
        w.state->setReceiving(true);
        w.settle();
        QVERIFY(w.exposed());
        auto* button = child<QPushButton>(*w.view, "saveButton");
        QCOMPARE(button->font(), QApplication::font());
        const QRect box = w.geometryOf("saveButton");
        const QSize text = button->fontMetrics().size(Qt::TextSingleLine, button->text());
        QVERIFY(box.width() >= text.width() + 16);
        QVERIFY(box.height() >= text.height() + 8);

        const QImage image = w.view->grab().toImage();
        // Blue at 0.7 over the black bar.
        const QColor fill = image.pixelColor(box.left() + 2, box.center().y());
        QVERIFY2(near(fill, QColor(0, 85, 179), 3), qPrintable(describe(fill)));
        const QColor corner = image.pixelColor(box.topLeft());
        QVERIFY2(corner.blue() < 100, qPrintable(describe(corner)));
        int whitest = 0;
        for (int x = box.left(); x <= box.right(); ++x) {
            const QColor c = image.pixelColor(x, box.center().y());
            whitest = std::max(whitest, std::min({c.red(), c.green(), c.blue()}));
        }
        QVERIFY2(whitest > 200, qPrintable(QString::number(whitest)));
    }
};

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(MetalTextureView::surfaceFormat());
    QApplication application(argc, argv);
    ContentViewTest test;
    const int failures = QTest::qExec(&test, argc, argv);
    keepGlDriversLoaded();  // GL has been used by now
    return failures;
}

#include "ContentViewTest.moc"
