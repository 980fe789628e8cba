// The window's layout and texts over a fake receiver state (all four combinations of texture and
// receiving) and over a real receiver reading real frames.
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <clocale>
#include <cmath>

#include "app/ProgressSpinner.h"
#include "app/StatusDot.h"
#include "app/SystemColors.h"
#include "app/TextureReceiverState.h"
#include "platform/QtReceiverPlatform.h"
#include "preview/TextureGLView.h"
#include "receiver/Configuration.h"
#include "receiver/TextureReceiver.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

namespace {

bool near(const QColor& actual, const QColor& expected) {
    return std::abs(actual.red() - expected.red()) <= 3 &&
           std::abs(actual.green() - expected.green()) <= 3 &&
           std::abs(actual.blue() - expected.blue()) <= 3;
}

QColor textColour(const QWidget* label) { return label->palette().color(label->foregroundRole()); }

// What the preview shows at a fraction of its width and height, once its GL context is up.
QColor previewAt(const ContentView& view, double fx, double fy) {
    auto* gl = qobject_cast<TextureGLView*>(view.previewWidget());
    if (!gl || !QTest::qWaitFor([gl] { return gl->isValid(); })) return {};
    const QImage picture = gl->grabFramebuffer();
    return picture.pixelColor(picture.width() * fx, picture.height() * fy);
}

// The status bar's items after the state, in order.
const char* const frameItems[] = {
    "frameLabel", "separatorAfterFrame",   "rateLabel", "separatorBeforeSize",
    "sizeLabel",  "separatorBeforeButton", "saveButton"};

}  // namespace

class ContentViewTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // A light desktop theme, where a text without a colour of its own is black.
    void initTestCase() { QApplication::setPalette(QPalette(QColor(Qt::white), Qt::white)); }

    void stateTable_data() {
        QTest::addColumn<bool>("texture");
        QTest::addColumn<bool>("receiving");
        QTest::newRow("waiting") << false << false;
        QTest::newRow("texture without frames") << true << false;
        QTest::newRow("frames without texture") << false << true;
        QTest::newRow("receiving") << true << true;
    }

    // What shows for each combination, and the dot's colour as set and as drawn.
    void stateTable() {
        QFETCH(bool, texture);
        QFETCH(bool, receiving);
        FakeWindow w;
        w.present(texture ? makeTexture(320, 180) : nullptr, receiving, 12, 29.97);
        QVERIFY(w.shown("compatibilityNote"));
        QVERIFY(textColour(w.view->findChild<QLabel*>("compatibilityNote")).lightness() > 180);
        QCOMPARE(w.shown("waitingPanel"), !texture);
        QCOMPARE(w.shown("preview"), texture);
        QCOMPARE(labelText(*w.view, "stateLabel"), receiving ? "Connected" : "Disconnected");
        const QColor dot = receiving ? SystemColors::green() : SystemColors::red();
        QCOMPARE(w.view->findChild<StatusDot*>("statusDot")->color(), dot);
        QVERIFY(near(w.view->grab().toImage().pixelColor(w.geometryOf("statusDot").center()), dot));
        for (const char* name : frameItems) {
            const bool sizeItem = QByteArray(name).toLower().contains("size");
            QVERIFY2(w.shown(name) == (receiving && (texture || !sizeItem)), name);
        }
        // Save PNG with no texture opens and logs nothing.
        if (receiving && !texture) w.view->findChild<QPushButton*>("saveButton")->click();
        QVERIFY(w.view->findChildren<QFileDialog*>().isEmpty());
        QVERIFY(w.log->entries.empty());
    }

    void waitingPanelUntilTheFirstFrame() {
        FakeWindow w;
        QCOMPARE(labelText(*w.view, "compatibilityNote"),
                 "Note: LM Vuzadivirur requires Lumetra 2.5 or later to be installed.");
        QCOMPARE(labelText(*w.view, "waitingTitle"), "Waiting for Lumetra...");
        QCOMPARE(labelText(*w.view, "waitingCaption"),
                 "Start visualizing in Lumetra to see output here");
        auto* title = w.view->findChild<QLabel*>("waitingTitle");
        QVERIFY(title->font().pointSizeF() > QApplication::font().pointSizeF());
        QCOMPARE(textColour(title), QColor(Qt::white));
        QCOMPARE(textColour(w.view->findChild<QLabel*>("waitingCaption")), SystemColors::gray());
        auto* spinner = w.view->findChild<ProgressSpinner*>("spinner");
        QCOMPARE(spinner->scale(), 1.5);
        const int step = spinner->step();
        QTRY_VERIFY(spinner->step() != step);
        w.present(makeTexture(64, 36), false);
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
        const std::vector<uint8_t> pixels = TestPattern::quadrants(640, 360, 640 * 4);
        QVERIFY(writer->writeFrame(1, 640, 360, 640 * 4, pixels.data()));
        ReceiverPlatform platform = makeQtReceiverPlatform(
            std::make_shared<RecordingRelayFactory>(std::make_shared<Journal>()));
        auto receiver = TextureReceiver::create(testDevice(), platform);
        QVERIFY(receiver != nullptr);
        ContentView view(testDevice(), std::make_shared<TextureReceiverState>(receiver),
                         platform.log);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        // The frame already in the file is on screen at once, upright.
        QCOMPARE(view.findChild<StatusDot*>("statusDot")->color(), SystemColors::green());
        QCOMPARE(labelText(view, "stateLabel"), "Connected");
        QCOMPARE(labelText(view, "frameLabel"), "Frame #1");
        QCOMPARE(labelText(view, "rateLabel"), "0.0 fps");
        QCOMPARE(labelText(view, "sizeLabel"), "640×360");
        const auto colourOf = [](TestPattern::Bgra p) { return QColor(p.r, p.g, p.b); };
        QVERIFY(near(previewAt(view, 0.25, 0.25), colourOf(TestPattern::topLeft)));
        QVERIFY(near(previewAt(view, 0.75, 0.75), colourOf(TestPattern::bottomRight)));

        // Later frames arrive through the real timer and notification path.
        QVERIFY(writer->writeFrame(2, 640, 360, 640 * 4, pixels.data()));
        QTRY_COMPARE(labelText(view, "frameLabel"), "Frame #2");
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
    }

    // The bar's texts in order, white, with the rate's full stop and the frame number ungrouped
    // under a decimal-comma locale.
    void statusBarTextsUnderADecimalCommaLocale() {
        const std::string savedCLocale = std::setlocale(LC_ALL, nullptr);
        const QLocale savedLocale;
        QVERIFY(std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        FakeWindow w;
        w.present(makeTexture(640, 360), true, 1234567, 59.94);
        QStringList texts;
        for (const char* name : frameItems) texts << labelText(*w.view, name);
        std::setlocale(LC_ALL, savedCLocale.c_str());
        QLocale::setDefault(savedLocale);
        QCOMPARE(texts,
                 (QStringList{"Frame #1234567", "•", "59.9 fps", "•", "640×360", "•", "Save PNG"}));
        for (auto* label : w.view->findChild<QWidget*>("statusBar")->findChildren<QLabel*>()) {
            QCOMPARE(textColour(label), QColor(Qt::white));
        }
        w.present(makeTexture(360, 640), true);
        QCOMPARE(labelText(*w.view, "sizeLabel"), "360×640");
    }

    void previewGeometry_data() {
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QSize>("frame");
        QTest::newRow("16:9 in a wide window") << QSize(1200, 600) << QSize(1280, 720);
        QTest::newRow("16:9 in a tall window") << QSize(700, 900) << QSize(1280, 720);
        QTest::newRow("9:16") << QSize(960, 680) << QSize(1080, 1920);
    }

    // The preview keeps the frame's aspect ratio, fills the room between note and bar in one
    // direction, is centred with black beside or above and below, and shows the frame upright.
    void previewGeometry() {
        QFETCH(QSize, window);
        QFETCH(QSize, frame);
        FakeWindow w(window);
        const int half = frame.height() / 2;  // top half red, bottom half blue
        w.present(
            makeTexture(frame.width(), frame.height(),
                        [half](uint32_t, uint32_t y) {
                            return int(y) < half ? Bgra{0, 0, 255, 255} : Bgra{255, 0, 0, 255};
                        }),
            false);
        const QRect note = w.geometryOf("compatibilityNote");
        const QRect preview = w.geometryOf("preview");
        const QRect bar = w.geometryOf("statusBar");
        QVERIFY(std::abs(preview.width() * frame.height() - preview.height() * frame.width()) <=
                std::max(frame.width(), frame.height()));
        QVERIFY(preview.width() == window.width() ||
                preview.height() == window.height() - note.height() - bar.height());
        QCOMPARE(preview.top(), note.bottom() + 1);
        QCOMPARE(bar.top(), preview.bottom() + 1);
        QCOMPARE(bar.width(), window.width());
        QVERIFY(std::abs(preview.left() - (window.width() - 1 - preview.right())) <= 1);
        QVERIFY(std::abs(note.top() - (window.height() - 1 - bar.bottom())) <= 1);
        QVERIFY(preview.left() > 50 || note.top() > 50);
        const QPoint outside = preview.left() > 0 ? QPoint(preview.left() / 2, preview.center().y())
                                                  : QPoint(preview.center().x(), note.top() / 2);
        QCOMPARE(w.view->grab().toImage().pixelColor(outside), QColor(Qt::black));
        QVERIFY(near(previewAt(*w.view, 0.5, 0.25), Qt::red));
        QVERIFY(near(previewAt(*w.view, 0.5, 0.75), Qt::blue));
    }

    void contentIsNeverSmallerThan640By480() {
        FakeWindow w;
        w.present(makeTexture(640, 360), true);
        w.view->resize(320, 200);
        QCOMPARE(w.view->size(), QSize(640, 480));
        QCoreApplication::processEvents();
        QVERIFY(w.geometryOf("compatibilityNote").top() >= 0 &&
                w.geometryOf("statusBar").bottom() < 480);
    }

    void signalsBeforeThePassGiveOneEvaluation() {
        FakeWindow w;
        w.present(makeTexture(640, 360), true);
        const int before = w.view->evaluationCount();
        for (int frame = 3; frame <= 5; ++frame) {
            w.state->willChange.emit();
            w.state->frameNumber = frame;
        }
        QCOMPARE(w.view->evaluationCount(), before);  // nothing happens inside the signals
        QCoreApplication::processEvents();
        QCOMPARE(w.view->evaluationCount(), before + 1);
        QCOMPARE(labelText(*w.view, "frameLabel"), "Frame #5");
        QCoreApplication::processEvents();
        QCOMPARE(w.view->evaluationCount(), before + 1);
        w.state->willChange.emit();  // a signal after the pass gives the next one
        QCoreApplication::processEvents();
        QCOMPARE(w.view->evaluationCount(), before + 2);
    }
};

int main(int argc, char** argv) { return runGlTests<ContentViewTest>(argc, argv); }

#include "ContentViewTest.moc"
