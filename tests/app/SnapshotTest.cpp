// The Save PNG action and its dialog's completion: the file's exact pixels, suffix and log line,
// files that cannot be written, a 4K save beside the event loop, a window closed early.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileDialog>
#include <QPushButton>
#include <QTimer>

#include "tests/app/AppTestSupport.h"
#include "tests/support/TempDirectory.h"

using namespace Qt::StringLiterals;

namespace {

// Opaque pixels that show a swap of channels or rows; every fifth fully transparent with colour
// bytes left in it; in row 1 two at half alpha, the second with a colour above its alpha.
Bgra pattern(uint32_t x, uint32_t y) {
    if (y == 1 && x < 2) return x == 0 ? Bgra{64, 32, 128, 128} : Bgra{200, 100, 50, 128};
    if (x % 5 == 4) return Bgra{90, 80, 70, 0};
    return Bgra{uint8_t(x * 2), uint8_t(y * 4), uint8_t((x + 3 * y) % 256), 255};
}

// The pattern premultiplied, as the texture holds it, which absorbs a PNG's rounding; the colour
// above its alpha is held at full rather than wrapping round.
QImage expectedImage(int width, int height) {
    QImage expected(width, height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Bgra p = pattern(x, y);
            expected.setPixel(x, y, p.a == 0 ? 0 : qRgba(p.r, p.g, p.b, p.a));
        }
    }
    expected.setPixel(1, 1, qRgba(50, 100, 128, 128));
    return expected;
}

QString pathIn(const TempDirectory& dir, const QString& name) {
    return QString::fromStdString(dir.path().string()) + '/' + name;
}

std::vector<std::string> savedTo(const QString& path) {
    return {"✅ Frame saved to: " + path.toStdString()};
}

QList<QFileDialog*> dialogs(const FakeWindow& w) { return w.view->findChildren<QFileDialog*>(); }

}  // namespace

class SnapshotTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // A PNG file whatever suffix was typed; a file that cannot be written says why.
    void savesAPngOrLogsWhyNot_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("reason");
        QTest::newRow("another suffix") << u"shot.jpg"_s << u"shot.jpg.png"_s << QString();
        QTest::newRow("no suffix") << u"shot"_s << u"shot.png"_s << QString();
        QTest::newRow("device full") << u"full.png"_s << QString() << u"No space left on device"_s;
    }

    void savesAPngOrLogsWhyNot() {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QFETCH(QString, reason);
        FakeWindow w;
        TempDirectory dir;
        QCOMPARE(::symlink("/dev/full", (dir.path() / "full.png").c_str()), 0);
        QFileDialog dialog;
        dialog.selectFile(pathIn(dir, typed));
        w.view->writeSnapshot(QDialog::Accepted, &dialog, makeTexture(8, 8));
        QVERIFY(QTest::qWaitFor([&] { return !w.log->entries.empty(); }, 60000));
        QCOMPARE(w.log->entries,
                 saved.isEmpty() ? std::vector{"❌ Failed to save frame: " + reason.toStdString()}
                                 : savedTo(pathIn(dir, saved)));
        QCOMPARE(QImage(pathIn(dir, saved), "png").width(), saved.isEmpty() ? 0 : 8);
        QCOMPARE(QDir(pathIn(dir, {})).entryList(QDir::Files | QDir::NoSymLinks),  // none as typed
                 saved.isEmpty() ? QStringList() : QStringList{saved});
    }

    // A 4K save can only end while this thread drains the pipe it is written into: it has to run
    // beside the window's event loop (on this thread it would never end). A cancel before it
    // writes and logs nothing.
    void savesA4kFrameAsItIsWhileTheWindowGoesOn() {
        FakeWindow w;
        TempDirectory dir;
        const QString path = pathIn(dir, "big.png"), kept = pathIn(dir, "kept.png");
        QFileDialog cancelled;
        cancelled.selectFile(kept);
        w.view->writeSnapshot(QDialog::Rejected, &cancelled, makeTexture(8, 8));
        QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
        QFile pipe;
        QVERIFY(pipe.open(::open(path.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK),
                          QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        QByteArray png;
        const auto drain = [&] {
            char bytes[65536];
            for (ssize_t n; (n = ::read(pipe.handle(), bytes, sizeof bytes)) > 0;) {
                png.append(bytes, n);
            }
        };
        QTimer timer;
        connect(&timer, &QTimer::timeout, drain);
        timer.start(1);
        QFileDialog dialog;
        dialog.selectFile(path);
        w.view->writeSnapshot(QDialog::Accepted, &dialog, makeTexture(3840, 2160, pattern));
        QVERIFY(w.log->entries.empty());
        QTRY_COMPARE_WITH_TIMEOUT(w.log->entries, savedTo(path), 120000);
        QVERIFY(!QFileInfo::exists(kept));
        drain();
        QCOMPARE(QImage::fromData(png, "png").convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 expectedImage(3840, 2160));
    }

    // The dialog proposes the frame of the click and saves that frame, whatever came since. Closed
    // while it is open, the window's application goes on until the user has answered and the
    // file is written, then quits as it does when its last window closes.
    void closingTheWindowWaitsForTheSaveItsDialogStarts() {
        FakeWindow w;
        w.present(makeTexture(1920, 1080, pattern), true, 7);
        w.view->findChild<QPushButton*>("saveButton")->click();
        QCOMPARE(QFileInfo(dialogs(w).at(0)->selectedFiles().value(0)).fileName(), "frame_7.png");
        w.present(makeTexture(1920, 1080), true, 8);
        TempDirectory dir;
        const QString path = pathIn(dir, "late.png");
        QTimer::singleShot(0, w.view.get(), [&] {
            w.view->close();
            QTimer::singleShot(0, w.view.get(), [&] {  // never runs if closing quit at once
                dialogs(w).at(0)->selectFile(path);
                static_cast<QDialog*>(dialogs(w).at(0))->accept();
            });
        });
        bool timedOut = false;
        QTimer guard;
        connect(&guard, &QTimer::timeout, [&] {
            timedOut = true;
            QCoreApplication::quit();
        });
        guard.start(120000);
        QApplication::exec();
        QVERIFY(!timedOut);
        QCOMPARE(w.log->entries, savedTo(path));
        QCOMPARE(QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 expectedImage(1920, 1080));
    }
};

int main(int argc, char** argv) { return runGlTests<SnapshotTest>(argc, argv); }

#include "SnapshotTest.moc"
