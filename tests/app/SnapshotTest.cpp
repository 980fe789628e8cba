// The Save PNG action and its dialog's completion: what the dialog proposes, and what the PNG
// file holds (size, exact colours, alpha, orientation), what is logged, and what a cancel or a
// failed write does.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImageReader>
#include <QPushButton>
#include <QSurfaceFormat>
#include <QtTest>

#include "app/ContentView.h"
#include "preview/MetalTextureView.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/FakeReceiverState.h"
#include "tests/preview/KeepGlDriversLoaded.h"
#include "tests/support/TempDirectory.h"

namespace {

// Every pixel different, and row-dependent, so a swap of channels or rows shows.
Bgra opaquePattern(uint32_t x, uint32_t y) {
    return Bgra{static_cast<uint8_t>(x * 2), static_cast<uint8_t>(y * 4),
                static_cast<uint8_t>((x + 3 * y) % 256), 255};
}

QImage readPng(const QString& path) {
    QImageReader reader(path, "png");
    return reader.read();
}

QString pathIn(const TempDirectory& dir, const char* name) {
    return QString::fromStdString((dir.path() / name).string());
}

// A save dialog as the Save PNG button makes it, confirmed for `path`.
std::unique_ptr<QFileDialog> confirmedDialog(const QString& path) {
    auto dialog = std::make_unique<QFileDialog>();
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->selectFile(path);
    return dialog;
}

// Runs `body` with the effective user of an unprivileged account when the tests run as root,
// whom folder permissions do not stop.
template <typename Body>
void asUnprivilegedUser(Body body) {
    const uid_t before = ::geteuid();
    if (before == 0 && ::seteuid(65534) != 0) QFAIL("cannot drop privileges");
    body();
    if (before == 0 && ::seteuid(0) != 0) qFatal("cannot regain privileges");
}

}  // namespace

class SnapshotTest : public QObject {
    Q_OBJECT

  private:
    std::shared_ptr<gpu::Device> device_;
    std::shared_ptr<FakeReceiverState> state_;
    std::shared_ptr<CollectingLog> log_;
    std::unique_ptr<ContentView> view_;

    QList<QFileDialog*> dialogs() const { return view_->findChildren<QFileDialog*>(); }

  private Q_SLOTS:
    void initTestCase() {
        device_ = gpu::Device::systemDefault();
        QVERIFY2(device_ != nullptr, "the tests need an OpenGL 3.3 core device (run under Xvfb)");
    }

    void init() {
        state_ = std::make_shared<FakeReceiverState>();
        log_ = std::make_shared<CollectingLog>();
        view_ = std::make_unique<ContentView>(device_, state_, log_);
        view_->resize(960, 680);
        view_->show();
        QVERIFY(QTest::qWaitForWindowExposed(view_.get()));
    }

    void cleanup() { view_.reset(); }

    void opaqueFrameKeepsSizeColoursAndOrientation() {
        TempDirectory dir;
        const QString path = pathIn(dir, "opaque.png");
        auto texture = makeTexture(*device_, 96, 54, opaquePattern);
        view_->writeSnapshot(QDialog::Accepted, confirmedDialog(path).get(), texture);

        QCOMPARE(log_->lines, std::vector<std::string>{"✅ Frame saved to: " + path.toStdString()});
        const QImage png = readPng(path);
        QCOMPARE(png.size(), QSize(96, 54));
        for (int y = 0; y < 54; ++y) {
            for (int x = 0; x < 96; ++x) {
                const Bgra want = opaquePattern(x, y);
                const QRgb got = png.pixel(x, y);
                if (qRed(got) != want.r || qGreen(got) != want.g || qBlue(got) != want.b ||
                    qAlpha(got) != 255) {
                    QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) differs").arg(x).arg(y)));
                }
            }
        }
    }

    void alphaBecomesThePngAlpha() {
        TempDirectory dir;
        const QString path = pathIn(dir, "alpha.png");
        // Left half opaque, right half fully transparent (one transparent pixel with colour
        // bytes left in it, which premultiplied data cannot hold), one row of half alpha.
        auto texture = makeTexture(*device_, 8, 4, [](uint32_t x, uint32_t y) {
            if (y == 3) return Bgra{64, 32, 128, 128};  // premultiplied: 128, 64, 255 at 0.5
            if (x < 4) return Bgra{10, 20, 30, 255};
            if (x == 7 && y == 0) return Bgra{90, 80, 70, 0};
            return Bgra{0, 0, 0, 0};
        });
        view_->writeSnapshot(QDialog::Accepted, confirmedDialog(path).get(), texture);
        QCOMPARE(log_->lines.size(), size_t{1});

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\x89PNG\r\n\x1a\n"));
        QCOMPARE(static_cast<int>(bytes.at(25)), 6);  // IHDR colour type: RGB with alpha

        const QImage png = readPng(path);
        QVERIFY(png.hasAlphaChannel());
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 8; ++x) {
                const QRgb got = png.pixel(x, y);
                if (x < 4) {
                    QCOMPARE(got, qRgba(30, 20, 10, 255));
                } else {
                    QCOMPARE(qAlpha(got), 0);
                }
            }
        }
        const QRgb half = png.pixel(0, 3);
        QCOMPARE(qAlpha(half), 128);
        QVERIFY(std::abs(qRed(half) - 255) <= 1);
        QVERIFY(std::abs(qGreen(half) - 64) <= 1);
        QVERIFY(std::abs(qBlue(half) - 128) <= 1);
    }

    void colourAboveItsAlphaIsHeldAtFullIntensity() {
        TempDirectory dir;
        const QString path = pathIn(dir, "overbright.png");
        // Blue 200 over alpha 128 is no premultiplied colour; unpremultiplied naively it would
        // wrap round to a dim blue.
        auto texture = makeTexture(*device_, 2, 1, [](uint32_t, uint32_t) {
            return Bgra{200, 100, 50, 128};
        });
        view_->writeSnapshot(QDialog::Accepted, confirmedDialog(path).get(), texture);
        const QRgb got = readPng(path).pixel(0, 0);
        QCOMPARE(qAlpha(got), 128);
        QCOMPARE(qBlue(got), 255);
        QVERIFY(std::abs(qGreen(got) - 199) <= 1);
        QVERIFY(std::abs(qRed(got) - 100) <= 1);
    }

    void anExistingFileIsReplaced() {
        TempDirectory dir;
        const QString path = pathIn(dir, "again.png");
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(100000, 'x'));
        }
        view_->writeSnapshot(QDialog::Accepted, confirmedDialog(path).get(),
                             makeTexture(*device_, 4, 4, QColor(1, 2, 3)));
        const QImage png = readPng(path);
        QCOMPARE(png.size(), QSize(4, 4));
        QCOMPARE(png.pixel(3, 3), qRgba(1, 2, 3, 255));
        QVERIFY(QFileInfo(path).size() < 100000);
    }

    void aFolderWithoutWritePermissionLogsTheSystemsError() {
        TempDirectory dir;
        const QString folder = pathIn(dir, "locked");
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(::chmod(folder.toLocal8Bit().constData(), 0555) == 0);
        const QString path = folder + "/frame_1.png";
        auto texture = makeTexture(*device_, 16, 16);
        const auto dialog = confirmedDialog(path);
        asUnprivilegedUser([&] { view_->writeSnapshot(QDialog::Accepted, dialog.get(), texture); });
        QCOMPARE(log_->lines,
                 std::vector<std::string>{"❌ Failed to save frame: Permission denied"});
        QVERIFY(!QFile::exists(path));

        // The application goes on: the next save to a writable place works.
        const QString elsewhere = pathIn(dir, "frame_2.png");
        view_->writeSnapshot(QDialog::Accepted, confirmedDialog(elsewhere).get(), texture);
        QCOMPARE(log_->lines.back(), "✅ Frame saved to: " + elsewhere.toStdString());
        QVERIFY(::chmod(folder.toLocal8Bit().constData(), 0755) == 0);
    }

    void aFolderThatIsGoneLogsTheSystemsError() {
        TempDirectory dir;
        const QString path = pathIn(dir, "gone") + "/frame_3.png";
        view_->writeSnapshot(QDialog::Accepted, confirmedDialog(path).get(),
                             makeTexture(*device_, 16, 16));
        QCOMPARE(log_->lines,
                 std::vector<std::string>{"❌ Failed to save frame: No such file or directory"});
    }

    void cancellingWritesAndLogsNothing() {
        TempDirectory dir;
        const QString path = pathIn(dir, "cancelled.png");
        view_->writeSnapshot(QDialog::Rejected, confirmedDialog(path).get(),
                             makeTexture(*device_, 16, 16));
        QVERIFY(!QFile::exists(path));
        QVERIFY(log_->lines.empty());
    }

    void savePressedWithoutTextureOpensNothing() {
        view_->saveCurrentFrame();
        QCOMPARE(dialogs().size(), 0);
        QVERIFY(log_->lines.empty());
    }

    void eachClickOpensItsOwnDialogForTheFrameOfThatClick() {
        state_->setTexture(makeTexture(*device_, 32, 18, QColor(250, 0, 0)));
        state_->setFrameNumber(42);
        state_->setReceiving(true);
        QCoreApplication::processEvents();
        auto* button = child<QPushButton>(*view_, "saveButton");
        QVERIFY(isShown(button));
        button->click();

        QCOMPARE(dialogs().size(), 1);
        QFileDialog* first = dialogs().at(0);
        QVERIFY(first->isVisible());
        QVERIFY(!first->isModal());
        QCOMPARE(first->windowModality(), Qt::NonModal);
        QCOMPARE(first->acceptMode(), QFileDialog::AcceptSave);
        QCOMPARE(first->nameFilters().size(), 1);
        QVERIFY(first->nameFilters().at(0).contains("(*.png)"));
        QCOMPARE(first->defaultSuffix(), "png");
        QVERIFY(!first->testOption(QFileDialog::ReadOnly));  // new folders allowed
        QCOMPARE(QFileInfo(first->selectedFiles().value(0)).fileName(), "frame_42.png");

        // The window goes on while it is open: a new frame arrives and is shown.
        state_->setTexture(makeTexture(*device_, 32, 18, QColor(0, 0, 250)));
        state_->setFrameNumber(43);
        QCoreApplication::processEvents();
        QCOMPARE(labelText(*view_, "frameLabel"), "Frame #43");
        button->click();
        QCOMPARE(dialogs().size(), 2);
        QFileDialog* second = dialogs().at(0) == first ? dialogs().at(1) : dialogs().at(0);
        QCOMPARE(QFileInfo(second->selectedFiles().value(0)).fileName(), "frame_43.png");

        // Each writes the frame of its own click, in the order they are confirmed.
        TempDirectory dir;
        second->selectFile(pathIn(dir, "second.png"));
        static_cast<QDialog*>(second)->accept();  // as its Save button does
        first->selectFile(pathIn(dir, "first.png"));
        static_cast<QDialog*>(first)->accept();
        QCOMPARE(log_->lines, (std::vector<std::string>{
                                  "✅ Frame saved to: " + pathIn(dir, "second.png").toStdString(),
                                  "✅ Frame saved to: " + pathIn(dir, "first.png").toStdString()}));
        QCOMPARE(readPng(pathIn(dir, "first.png")).pixel(5, 5), qRgba(250, 0, 0, 255));
        QCOMPARE(readPng(pathIn(dir, "second.png")).pixel(5, 5), qRgba(0, 0, 250, 255));
        QTRY_COMPARE(dialogs().size(), 0);  // each goes once it has run
    }

    void cancellingTheDialogWritesAndLogsNothing() {
        TempDirectory dir;
        QDir::setCurrent(QString::fromStdString(dir.path().string()));
        state_->setTexture(makeTexture(*device_, 8, 8));
        state_->setFrameNumber(7);
        QCoreApplication::processEvents();
        view_->saveCurrentFrame();
        QCOMPARE(dialogs().size(), 1);
        dialogs().at(0)->reject();
        QTRY_COMPARE(dialogs().size(), 0);
        QVERIFY(log_->lines.empty());
        QVERIFY(QDir(QString::fromStdString(dir.path().string())).isEmpty());
        QDir::setCurrent(QDir::tempPath());
    }
};

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(MetalTextureView::surfaceFormat());
    QApplication application(argc, argv);
    SnapshotTest test;
    const int failures = QTest::qExec(&test, argc, argv);
    keepGlDriversLoaded();  // GL has been used by now
    return failures;
}

#include "SnapshotTest.moc"
