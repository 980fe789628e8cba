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

// Every opaque pixel different and row-dependent, so a swap of channels or rows shows; every
// fifth pixel fully transparent with colour bytes left in it (premultiplied data cannot hold
// those); in row 1 two half-transparent pixels, the second with a colour above its alpha.
Bgra pattern(uint32_t x, uint32_t y) {
    if (y == 1 && x < 2) return x == 0 ? Bgra{64, 32, 128, 128} : Bgra{200, 100, 50, 128};
    if (x % 5 == 4) return Bgra{90, 80, 70, 0};
    return Bgra{uint8_t(x * 2), uint8_t(y * 4), uint8_t((x + 3 * y) % 256), 255};
}

// Whether a pixel read back is the given one, each channel within `tolerance`.
bool same(QRgb got, QRgb want, int tolerance = 0) {
    return std::abs(qRed(got) - qRed(want)) <= tolerance &&
           std::abs(qGreen(got) - qGreen(want)) <= tolerance &&
           std::abs(qBlue(got) - qBlue(want)) <= tolerance && qAlpha(got) == qAlpha(want);
}

QString pathIn(const TempDirectory& dir, const char* name) {
    return QString::fromStdString((dir.path() / name).string());
}

// A save dialog confirmed for `path`.
std::unique_ptr<QFileDialog> confirmed(const QString& path) {
    auto dialog = std::make_unique<QFileDialog>();
    dialog->selectFile(path);
    return dialog;
}

}  // namespace

class SnapshotTest : public QObject {
    Q_OBJECT
    std::unique_ptr<FakeWindow> w_;

    QList<QFileDialog*> dialogs() const { return w_->view->findChildren<QFileDialog*>(); }

  private Q_SLOTS:
    void init() { w_ = std::make_unique<FakeWindow>(); }
    void cleanup() { w_.reset(); }

    void writesTheFrameAsItIsOverAnExistingFile() {
        TempDirectory dir;
        const QString path = pathIn(dir, "frame.png");
        std::ofstream(path.toStdString()) << std::string(100000, 'x');
        w_->view->writeSnapshot(QDialog::Accepted, confirmed(path).get(),
                                makeTexture(96, 54, pattern));
        QCOMPARE(w_->log->entries, std::vector{"✅ Frame saved to: " + path.toStdString()});
        QVERIFY(QFileInfo(path).size() < 100000);  // the old file's tail is gone
        const QImage png = QImageReader(path, "png").read();
        QCOMPARE(png.size(), QSize(96, 54));
        for (int y = 0; y < 54; ++y) {
            for (int x = 0; x < 96; ++x) {
                const Bgra p = pattern(x, y);
                const QRgb want = qRgba(p.r, p.g, p.b, p.a);
                if (p.a == 255 ? !same(png.pixel(x, y), want) : qAlpha(png.pixel(x, y)) != p.a) {
                    QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) differs").arg(x).arg(y)));
                }
            }
        }
        // Half alpha comes out unpremultiplied; a colour above its alpha is held at full.
        QVERIFY(same(png.pixel(0, 1), qRgba(255, 64, 128, 128), 1));
        QVERIFY(same(png.pixel(1, 1), qRgba(100, 199, 255, 128), 1));
        QCOMPARE(qBlue(png.pixel(1, 1)), 255);
    }

    void aFolderWithoutWritePermissionLogsTheSystemsError() {
        TempDirectory dir;
        QCOMPARE(::mkdir((dir.path() / "locked").c_str(), 0555), 0);
        const auto dialog = confirmed(pathIn(dir, "locked/frame_1.png"));
        // Root is not stopped by folder permissions: write as an unprivileged user.
        const uid_t user = ::geteuid();
        QVERIFY(user != 0 || ::seteuid(65534) == 0);
        w_->view->writeSnapshot(QDialog::Accepted, dialog.get(), makeTexture(16, 16));
        if (user == 0 && ::seteuid(0) != 0) qFatal("cannot regain privileges");
        QCOMPARE(w_->log->entries,
                 std::vector<std::string>{"❌ Failed to save frame: Permission denied"});
        QVERIFY(!QFile::exists(dialog->selectedFiles().value(0)));
    }

    void cancellingWritesAndLogsNothing() {
        TempDirectory dir;
        w_->view->writeSnapshot(QDialog::Rejected, confirmed(pathIn(dir, "cancelled.png")).get(),
                                makeTexture(16, 16));
        QVERIFY(w_->log->entries.empty());
        QVERIFY(std::filesystem::is_empty(dir.path()));
    }

    void eachClickOpensItsOwnDialogForTheFrameOfThatClick() {
        w_->present(makeTexture(32, 18, [](auto, auto) { return Bgra{0, 0, 250, 255}; }), true, 42);
        auto* button = w_->view->findChild<QPushButton*>("saveButton");
        button->click();
        QCOMPARE(dialogs().size(), 1);
        QFileDialog* first = dialogs().at(0);
        QVERIFY(first->isVisible());
        QCOMPARE(first->windowModality(), Qt::NonModal);
        QCOMPARE(first->acceptMode(), QFileDialog::AcceptSave);
        QCOMPARE(first->nameFilters().size(), 1);
        QVERIFY(first->nameFilters().at(0).endsWith("(*.png)"));
        QVERIFY(!first->testOption(QFileDialog::ReadOnly));  // new folders allowed
        QCOMPARE(QFileInfo(first->selectedFiles().value(0)).fileName(), "frame_42.png");

        // The window goes on while it is open: a new frame arrives and gets its own dialog.
        w_->present(makeTexture(32, 18, [](auto, auto) { return Bgra{250, 0, 0, 255}; }), true, 43);
        QCOMPARE(labelText(*w_->view, "frameLabel"), "Frame #43");
        button->click();
        QCOMPARE(dialogs().size(), 2);
        QFileDialog* second = dialogs().at(dialogs().at(0) == first ? 1 : 0);
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
        QTRY_COMPARE(dialogs().size(), 1);  // each goes once it has run
        dialogs().at(0)->reject();
        QTRY_COMPARE(dialogs().size(), 0);
        QCOMPARE(w_->log->entries, (std::vector{"✅ Frame saved to: " + secondPath.toStdString(),
                                                "✅ Frame saved to: " + firstPath.toStdString()}));
        QCOMPARE(QImageReader(firstPath).read().pixel(5, 5), qRgba(250, 0, 0, 255));
        QCOMPARE(QImageReader(secondPath).read().pixel(5, 5), qRgba(0, 0, 250, 255));
    }
};

int main(int argc, char** argv) { return runGlTests<SnapshotTest>(argc, argv); }

#include "SnapshotTest.moc"
