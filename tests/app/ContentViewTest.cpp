// The window's layout and texts over a fake receiver state, and the whole application beside a
// host that is already writing.
#include <QFileDialog>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <clocale>

#include "app/LMVuzadivirurApp.h"
#include "app/ProgressSpinner.h"
#include "app/StatusDot.h"
#include "app/Translations.h"
#include "app/WindowColors.h"
#include "format/Configuration.h"
#include "preview/TextureGLView.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

namespace {

bool near(const QColor& a, const QColor& b) {
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                     std::abs(a.blue() - b.blue())}) <= 3;
}

constexpr Bgra red{0, 0, 255, 255}, blue{255, 0, 0, 255};

// What the preview shows at a fraction of its width and height, once its native window is on
// screen and its picture has the view's size.
QColor previewAt(const ContentView& view, double fx, double fy) {
    auto* gl = qobject_cast<TextureGLView*>(view.previewWidget());
    QWindow* native = view.windowHandle() ? view.windowHandle()->findChild<QWindow*>() : nullptr;
    QImage picture;
    const bool ready = gl && native && QTest::qWaitFor([&] {
                           if (!native->isExposed() || !gl->isValid()) return false;
                           picture = gl->grabFramebuffer();
                           return picture.size() == gl->size() * gl->devicePixelRatio();
                       });
    return ready ? picture.pixelColor(picture.width() * fx, picture.height() * fy) : QColor();
}

// The status bar's items after the state, in order.
const char* const frameItems[] = {
    "frameLabel", "separatorAfterFrame",   "rateLabel", "separatorBeforeSize",
    "sizeLabel",  "separatorBeforeButton", "saveButton"};

}  // namespace

class ContentViewTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // A light desktop theme, where a text without a colour of its own is black, and a locale
    // with a decimal comma and digit grouping, which the bar's numbers must not take up.
    void initTestCase() {
        QApplication::setPalette(QPalette(QColor(Qt::white), Qt::white));
        QVERIFY(std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }

    void stateTable_data() {
        QTest::addColumn<bool>("texture");
        QTest::addColumn<bool>("receiving");
        QTest::addColumn<QStringList>("bar");  // the state, then the items shown after it
        const QStringList frame{"Connected", "Frame #1234567", "•", "59.9 fps", "•"};
        QTest::newRow("waiting") << false << false << QStringList{"Disconnected"};
        QTest::newRow("picture after frames stopped")
            << true << false
            << QStringList{"Disconnected", "Frame #1234567", "•", "640×360", "•", "Save PNG"};
        QTest::newRow("frames without texture") << false << true << frame + QStringList{"Save PNG"};
        QTest::newRow("receiving")
            << true << true << frame + QStringList{"640×360", "•", "Save PNG"};
    }

    // What shows for each combination, reached from its opposite, and the dot's colour as set and
    // as drawn.
    void stateTable() {
        QFETCH(bool, texture);
        QFETCH(bool, receiving);
        QFETCH(QStringList, bar);
        FakeWindow w;
        w.present(texture ? makeTexture(640, 360) : nullptr, !receiving, 1234560, 1.0);
        w.present(w.state->texture, receiving, 1234567, 59.94);
        QCOMPARE(w.shown("waitingPanel"), !texture);
        QCOMPARE(w.view->findChild<ProgressSpinner*>("spinner")->isAnimating(), !texture);
        QCOMPARE(w.shown("preview"), texture);
        const QColor dot = receiving ? WindowColors::green() : WindowColors::red();
        QVERIFY(near(w.view->grab().toImage().pixelColor(w.geometryOf("statusDot").center()), dot));
        QStringList texts{labelText(*w.view, "stateLabel")};
        for (const char* name : frameItems)
            if (w.shown(name)) texts << labelText(*w.view, name);
        QCOMPARE(texts, bar);
        // Save PNG with no texture opens nothing.
        if (receiving && !texture) w.view->findChild<QPushButton*>("saveButton")->click();
        QVERIFY(w.view->findChildren<QFileDialog*>().isEmpty());
    }

    // However many signals come before the next pass, that pass evaluates once, with the last.
    void signalsBeforeAPassAreEvaluatedOnce() {
        FakeWindow w;
        w.present(makeTexture(640, 360), true, 1, 60.0);
        const int before = w.view->evaluationCount();
        for (int64_t frame : {3, 4, 1234567}) w.state->set(w.state->frameNumber, frame);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(w.view->evaluationCount(), before + 1);
        QCOMPARE(labelText(*w.view, "frameLabel"), "Frame #1234567");
    }

    // The waiting panel's note is readable on black in a light theme, and the enlarged spinner
    // keeps its unscaled room and clears the note, also once the texts are translated.
    void waitingPanelLayout() {
        FakeWindow w;
        w.present(nullptr, false, 0, 0.0);
        const auto* note = w.view->findChild<QLabel*>("compatibilityNote");
        QVERIFY(note->palette().color(note->foregroundRole()).lightness() > 180);
        const auto clear = [&] {
            return w.geometryOf("spinner").top() > w.geometryOf("compatibilityNote").bottom();
        };
        QVERIFY(clear() &&
                w.geometryOf("waitingTitle").top() - w.geometryOf("spinner").top() == 60);
        const Translations german(QLocale(QLocale::German, QLocale::Germany));
        QTRY_VERIFY(labelText(*w.view, "waitingTitle") != "Waiting for Lumetra..." && clear());
    }

    // The application started while the host is already writing: its window fits the screen and
    // shows the frame, also after a resize and after being hidden and shown again.
    void receivingStateAfterRealFrames() {
        TempDirectory runtime;
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        if (!qEnvironmentVariableIsSet("PIPEWIRE_RUNTIME_DIR"))
            qputenv("PIPEWIRE_RUNTIME_DIR", savedRuntime);
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path().string()));
        std::string failure;
        auto writer =
            SharedFrameWriter::create(runtime.path() / config::sharedFolderName, {}, failure);
        QVERIFY2(writer != nullptr, failure.c_str());
        const std::vector<uint8_t> pixels = TestPattern::quadrants(640, 360, 640 * 4);
        QVERIFY(writer->writeFrame(1, 640, 360, 640 * 4, pixels.data()));
        const LMVuzadivirurApp app;
        ContentView& view = app.window();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QSize room = view.screen()->availableGeometry().size();
        QVERIFY(view.frameGeometry().size().boundedTo(room) == view.frameGeometry().size());

        // The frame already in the file is on screen at once, upright.
        const auto shows = [&](double f, TestPattern::Bgra p) {
            return near(previewAt(view, f, f), QColor(p.r, p.g, p.b));
        };
        for (const std::string change : {"as started", "resized", "hidden and shown"}) {
            if (change == "resized") view.resize(700, 500);
            if (change == "hidden and shown") view.hide();
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            QVERIFY2(shows(0.25, TestPattern::topLeft) && shows(0.75, TestPattern::bottomRight),
                     change.c_str());
        }

        // Within two seconds of the host's last frame the red dot and "Disconnected", the picture
        // still there to save; the next frame connects the window again.
        const auto dot = [&] { return view.findChild<StatusDot*>("statusDot")->color(); };
        QVERIFY(writer->writeFrame(2, 640, 360, 640 * 4, pixels.data()));
        QTRY_COMPARE_WITH_TIMEOUT(dot(), WindowColors::green(), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(dot(), WindowColors::red(), 2000);
        const auto* save = view.findChild<QPushButton*>("saveButton");
        QVERIFY(shows(0.25, TestPattern::topLeft) && save->isVisible() && save->isEnabled());
        QVERIFY(writer->writeFrame(3, 640, 360, 640 * 4, pixels.data()));
        QTRY_COMPARE_WITH_TIMEOUT(dot(), WindowColors::green(), 60000);

        // An application that takes the camera is counted while it does.
        const auto* camera = view.findChild<QLabel*>("cameraLabel");
        QVERIFY(!camera->isVisible());
        QProcess gst;
        gst.start("gst-launch-1.0", {"pipewiresrc", "target-object=lumetra-vuzadivirur", "!",
                                     "video/x-raw,format=BGRA", "!", "fakesink"});
        QTRY_VERIFY_WITH_TIMEOUT(camera->isVisible() && camera->text() == "Camera: 1 app", 60000);
        gst.kill();
        gst.waitForFinished();
        QTRY_VERIFY_WITH_TIMEOUT(!camera->isVisible(), 60000);
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
    }

    void previewGeometry_data() {
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QSize>("frame");
        QTest::newRow("16:9 in a wide window") << QSize(1200, 600) << QSize(1280, 720);
        QTest::newRow("16:9 in a tall window") << QSize(700, 900) << QSize(1280, 720);
        QTest::newRow("9:16") << QSize(960, 680) << QSize(1080, 1920);
        QTest::newRow("below the minimum size") << QSize(320, 200) << QSize(1280, 720);
    }

    // The preview keeps the frame's aspect, fills the room between note and bar one way, is
    // centred with black beside or above and below, and shows the frame upright.
    void previewGeometry() {
        QFETCH(QSize, window);
        QFETCH(QSize, frame);
        FakeWindow w(window);
        window = window.expandedTo(QSize(640, 480));  // the content is never smaller
        QCOMPARE(w.view->size(), window);
        const auto redOverBlue = [&](auto, int y) { return 2 * y < frame.height() ? red : blue; };
        w.present(makeTexture(frame.width(), frame.height(), redOverBlue), false);
        const QRect note = w.geometryOf("compatibilityNote");
        const QRect preview = w.geometryOf("preview");
        const QRect bar = w.geometryOf("statusBar");
        QVERIFY(std::abs(preview.width() * frame.height() - preview.height() * frame.width()) <=
                std::max(frame.width(), frame.height()));
        QVERIFY(preview.width() == window.width() ||
                preview.height() == window.height() - note.height() - bar.height());
        QVERIFY(preview.top() == note.bottom() + 1 && bar.top() == preview.bottom() + 1);
        QVERIFY(std::abs(preview.left() - (window.width() - 1 - preview.right())) <= 1);
        QVERIFY(std::abs(note.top() - (window.height() - 1 - bar.bottom())) <= 1);
        QVERIFY(preview.left() > 2 || note.top() > 2);  // room for black
        const QPoint outside = preview.left() > 0 ? QPoint(preview.left() / 2, preview.center().y())
                                                  : QPoint(preview.center().x(), note.top() / 2);
        QCOMPARE(w.view->grab().toImage().pixelColor(outside), QColor(Qt::black));
        QVERIFY(near(previewAt(*w.view, 0.5, 0.25), Qt::red));
        QVERIFY(near(previewAt(*w.view, 0.5, 0.75), Qt::blue));
    }
};

int main(int argc, char** argv) { return runGlTests<ContentViewTest>(argc, argv); }

#include "ContentViewTest.moc"
