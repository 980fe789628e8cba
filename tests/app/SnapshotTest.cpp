// The Save PNG action and its dialog's completion: the file's size, exact colours, alpha and
// orientation, the log lines, a cancel, and a folder that cannot be written.
#include <sys/stat.h>
#include <unistd.h>

#include <QFileDialog>
#include <QImageReader>
#include <QPushButton>
#include <fstream>

#include "tests/app/AppTestSupport.h"
#include "tests/support/TempDirectory.h"

namespace {

// Opaque pixels that show a swap of channels or rows; every fifth fully transparent with colour
// bytes left in it; in row 1 two at half alpha, the second with a colour above its alpha.
Bgra pattern(uint32_t x, uint32_t y) {
    if (y == 1 && x < 2) return x == 0 ? Bgra{64, 32, 128, 128} : Bgra{200, 100, 50, 128};
    if (x % 5 == 4) return Bgra{90, 80, 70, 0};
    return Bgra{uint8_t(x * 2), uint8_t(y * 4), uint8_t((x + 3 * y) % 256), 255};
}

QString pathIn(const TempDirectory& dir, const char* name) {
    return QString::fromStdString((dir.path() / name).string());
}

QList<QFileDialog*> dialogs(const FakeWindow& w) { return w.view->findChildren<QFileDialog*>(); }

}  // namespace

class SnapshotTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // Nothing on a cancel; on a confirm the frame, over the file that was there.
    void writesTheFrameAsItIs() {
        FakeWindow w;
        TempDirectory dir;
        const QString path = pathIn(dir, "frame.png");
        std::ofstream(path.toStdString()) << std::string(100000, 'x');
        QFileDialog dialog;
        dialog.selectFile(path);
        w.view->writeSnapshot(QDialog::Rejected, &dialog, makeTexture(96, 54, pattern));
        QVERIFY(w.log->entries.empty() && QFileInfo(path).size() == 100000);
        w.view->writeSnapshot(QDialog::Accepted, &dialog, makeTexture(96, 54, pattern));
        QCOMPARE(w.log->entries, std::vector{"✅ Frame saved to: " + path.toStdString()});
        QVERIFY(QFileInfo(path).size() < 100000);  // the old file's tail is gone

        // Compared premultiplied, as the texture holds it, which absorbs a PNG's rounding; a
        // colour above its alpha is held at full rather than wrapping round.
        QImage expected(96, 54, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < 54; ++y) {
            for (int x = 0; x < 96; ++x) {
                const Bgra p = pattern(x, y);
                expected.setPixel(x, y, p.a == 0 ? 0 : qRgba(p.r, p.g, p.b, p.a));
            }
        }
        expected.setPixel(1, 1, qRgba(50, 100, 128, 128));
        const QImage png = QImageReader(path, "png").read();
        QCOMPARE(png.convertToFormat(QImage::Format_ARGB32_Premultiplied), expected);
    }

    void aFolderWithoutWritePermissionLogsTheSystemsError() {
        FakeWindow w;
        TempDirectory dir;
        QCOMPARE(::mkdir((dir.path() / "locked").c_str(), 0555), 0);
        QFileDialog dialog;
        dialog.selectFile(pathIn(dir, "locked/frame_1.png"));
        // Root is not stopped by folder permissions: write as an unprivileged user.
        const uid_t user = ::geteuid();
        QVERIFY(user != 0 || ::seteuid(65534) == 0);
        w.view->writeSnapshot(QDialog::Accepted, &dialog, makeTexture(16, 16));
        if (user == 0 && ::seteuid(0) != 0) qFatal("cannot regain privileges");
        QCOMPARE(w.log->entries,
                 std::vector<std::string>{"❌ Failed to save frame: Permission denied"});
    }

    void eachClickOpensItsOwnDialogForTheFrameOfThatClick() {
        FakeWindow w;
        w.present(makeTexture(32, 18, [](auto, auto) { return Bgra{0, 0, 250, 255}; }), true, 42);
        auto* button = w.view->findChild<QPushButton*>("saveButton");
        button->click();
        QCOMPARE(dialogs(w).size(), 1);
        QFileDialog* first = dialogs(w).at(0);
        QVERIFY(first->isVisible() && first->windowModality() == Qt::NonModal);
        QCOMPARE(first->acceptMode(), QFileDialog::AcceptSave);
        QVERIFY(first->nameFilters().size() == 1 && first->nameFilters()[0].endsWith("(*.png)"));
        QVERIFY(!first->testOption(QFileDialog::ReadOnly));  // new folders allowed
        QCOMPARE(QFileInfo(first->selectedFiles().value(0)).fileName(), "frame_42.png");

        // The window goes on while it is open: a new frame arrives and gets its own dialog.
        w.present(makeTexture(32, 18, [](auto, auto) { return Bgra{250, 0, 0, 255}; }), true, 43);
        button->click();
        QCOMPARE(dialogs(w).size(), 2);
        QFileDialog* second = dialogs(w).at(dialogs(w).at(0) == first ? 1 : 0);
        QCOMPARE(QFileInfo(second->selectedFiles().value(0)).fileName(), "frame_43.png");

        // Each writes the frame of its own click, in the order they are confirmed; a third,
        // cancelled, writes and logs nothing.
        TempDirectory dir;
        const QString firstPath = pathIn(dir, "first.png"), secondPath = pathIn(dir, "second.png");
        second->selectFile(secondPath);
        static_cast<QDialog*>(second)->accept();  // as its Save button does
        first->selectFile(firstPath);
        static_cast<QDialog*>(first)->accept();
        button->click();
        QTRY_COMPARE(dialogs(w).size(), 1);  // each goes once it has run
        dialogs(w).at(0)->reject();
        QTRY_COMPARE(dialogs(w).size(), 0);
        QCOMPARE(w.log->entries, (std::vector{"✅ Frame saved to: " + secondPath.toStdString(),
                                              "✅ Frame saved to: " + firstPath.toStdString()}));
        QCOMPARE(QImageReader(firstPath).read().pixel(5, 5), qRgba(250, 0, 0, 255));
        QCOMPARE(QImageReader(secondPath).read().pixel(5, 5), qRgba(0, 0, 250, 255));
    }
};

int main(int argc, char** argv) { return runGlTests<SnapshotTest>(argc, argv); }

#include "SnapshotTest.moc"
