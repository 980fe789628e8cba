// The Save PNG action and its dialog's completion: the file's exact pixels, suffix and log line,
// files that cannot be written or replaced, a 4K save beside the event loop, a window closed early.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <fstream>

#include "app/FrameSnapshot.h"
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

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What a row does to its folder after the old file is written. As root, permission bits stop
// nobody, so read-only is a read-only mount, and the rows that change the folder need root.
enum class Folder { AsItIs, Full, ReadOnly, OldFileReadOnly };

bool mountReadOnly(const QString& path) {
    const QByteArray at = QFile::encodeName(path);
    return ::mount(at, at, nullptr, MS_BIND, nullptr) == 0 &&
           ::mount(nullptr, at, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

}  // namespace

class SnapshotTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // A PNG file whatever suffix was typed, replacing an old file whole; a file that cannot be
    // written says why and leaves the old one as it was, with no other file beside it.
    void savesAPngOrLogsWhyNot_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<Folder>("folder");
        QTest::addColumn<QString>("reason");
        const QString full = u"No space left on device"_s, readOnly = u"Read-only file system"_s;
        QTest::newRow("another suffix")
            << u"shot.jpg"_s << u"shot.jpg.png"_s << Folder::AsItIs << QString();
        QTest::newRow("over the old file")
            << u"old.png"_s << u"old.png"_s << Folder::AsItIs << QString();
        QTest::newRow("device full") << u"full.png"_s << QString() << Folder::AsItIs << full;
        QTest::newRow("file system full") << u"old.png"_s << QString() << Folder::Full << full;
        QTest::newRow("read-only folder")
            << u"new.png"_s << QString() << Folder::ReadOnly << readOnly;
        QTest::newRow("read-only old file")
            << u"old.png"_s << QString() << Folder::OldFileReadOnly << readOnly;
    }

    void savesAPngOrLogsWhyNot() {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QFETCH(Folder, folder);
        QFETCH(QString, reason);
        FakeWindow w;
        TempDirectory dir;
        const QString here = pathIn(dir, {}), old = pathIn(dir, u"old.png"_s);
        QCOMPARE(::symlink("/dev/full", (dir.path() / "full.png").c_str()), 0);
        const auto unmount = qScopeGuard([&] {  // before the folder is removed
            ::umount2(QFile::encodeName(old), MNT_DETACH);
            ::umount2(QFile::encodeName(here), MNT_DETACH);
        });
        if (folder == Folder::Full &&
            ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=64k")) {
            QSKIP("Not root: no 64 KiB tmpfs can be mounted to fill");
        }
        const QByteArray oldBytes(65536, 'o');  // fills that tmpfs
        std::ofstream(old.toStdString()) << oldBytes.toStdString();
        if ((folder == Folder::ReadOnly && !mountReadOnly(here)) ||
            (folder == Folder::OldFileReadOnly && !mountReadOnly(old))) {
            QSKIP("Not root: the row needs a read-only mount, since root ignores permission bits");
        }
        QFileDialog dialog;
        dialog.selectFile(pathIn(dir, typed));
        w.view->writeSnapshot(QDialog::Accepted, &dialog, makeTexture(8, 8));
        QVERIFY(QTest::qWaitFor([&] { return !w.log->entries.empty(); }, 60000));
        QCOMPARE(w.log->entries,
                 saved.isEmpty() ? std::vector{"❌ Failed to save frame: " + reason.toStdString()}
                                 : savedTo(pathIn(dir, saved)));
        const QByteArray png = contents(pathIn(dir, saved));
        QCOMPARE(QImage::fromData(png, "png").width(), saved.isEmpty() ? 0 : 8);
        QCOMPARE(png.endsWith("IEND\xae\x42\x60\x82"), !saved.isEmpty());  // nothing after the PNG
        QCOMPARE(contents(old) == oldBytes, saved != u"old.png"_s);
        QStringList files{u"old.png"_s};
        if (!saved.isEmpty() && saved != files.first()) files << saved;
        QCOMPARE(QDir(here).entryList(QDir::Files | QDir::NoSymLinks | QDir::Hidden), files);
    }

    // Saved with ".png" added, the name may be a file the dialog never asked about: the user is
    // asked, and only a yes replaces it. (A no that saved would log its line first.)
    void asksBeforeReplacingTheNameWithPngAdded() {
        FakeWindow w;
        TempDirectory dir;
        QFileDialog dialog;
        for (const auto& [name, answer] :
             {std::pair{"no", QMessageBox::No}, {"yes", QMessageBox::Yes}}) {
            std::ofstream((dir.path() / name).string() + ".jpg.png") << "old";
            dialog.selectFile(pathIn(dir, name + u".jpg"_s));
            w.view->writeSnapshot(QDialog::Accepted, &dialog, makeTexture(8, 8));
            auto* question = w.view->findChild<QMessageBox*>("replaceQuestion");
            QVERIFY(question && question->isVisible() && w.log->entries.empty());
            question->button(answer)->click();
            QTRY_VERIFY(!w.view->findChild<QMessageBox*>());
        }
        QTRY_COMPARE_WITH_TIMEOUT(w.log->entries, savedTo(pathIn(dir, u"yes.jpg.png"_s)), 60000);
        QCOMPARE(contents(pathIn(dir, u"no.jpg.png"_s)), "old");
    }

    // The encoder is handed premultiplied words with a colour above its alpha held at the alpha:
    // Qt's qUnpremultiply wraps such a colour round, and only its SIMD conversions saturate, so
    // on this machine the PNG alone would not show the difference.
    void handsTheEncoderAColourAboveItsAlphaHeldAtTheAlpha() {
        const QImage image = FrameSnapshot::makeImage(*makeTexture(2, 2, pattern));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(image.constScanLine(1)), 8),
                 QByteArray("\x40\x20\x80\x80\x80\x64\x32\x80", 8));
    }

    // The dialog proposes the frame of the click and saves that frame, whatever came since. A 4K
    // save can only end while this thread drains the pipe it is written into: it has to run beside
    // the window's event loop (on this thread it would never end). Closed while the dialog is
    // open, the window's application goes on until the user has answered and the file is written,
    // then quits as it does when its last window closes. A cancel writes and logs nothing.
    void savesTheClickedFrameBesideTheEventLoopBeforeTheWindowQuits() {
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
            for (ssize_t n; (n = ::read(pipe.handle(), bytes, sizeof bytes)) > 0;)
                png.append(bytes, n);
        };
        QTimer drainer, guard;
        connect(&drainer, &QTimer::timeout, drain);
        drainer.start(1);
        w.present(makeTexture(3840, 2160, pattern), true, 7);
        w.view->findChild<QPushButton*>("saveButton")->click();
        QFileDialog* dialog = dialogs(w).at(0);
        QCOMPARE(QFileInfo(dialog->selectedFiles().value(0)).fileName(), "frame_7.png");
        w.present(makeTexture(3840, 2160), true, 8);
        QTimer::singleShot(0, w.view.get(), [&] {
            w.view->close();
            QTimer::singleShot(0, w.view.get(), [&] {  // never runs if closing quit at once
                dialog->setOption(QFileDialog::DontConfirmOverwrite);  // the pipe exists
                dialog->selectFile(path);
                static_cast<QDialog*>(dialog)->accept();
            });
        });
        bool timedOut = false;
        connect(&guard, &QTimer::timeout, [&] {
            timedOut = true;
            QCoreApplication::quit();
        });
        guard.start(120000);
        QApplication::exec();
        QVERIFY(!timedOut);
        QCOMPARE(w.log->entries, savedTo(path));
        QVERIFY(!QFileInfo::exists(kept));
        drain();
        QCOMPARE(QImage::fromData(png, "png").convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 expectedImage(3840, 2160));
    }
};

int main(int argc, char** argv) { return runGlTests<SnapshotTest>(argc, argv); }

#include "SnapshotTest.moc"
