// The Record button in the real window: its dialog, the time shown while recording, the file
// finished on the second click.
#include <QFileDialog>
#include <QPushButton>

#include "app/RecordingControl.h"
#include "platform/QtRunLoop.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TempDirectory.h"

using namespace Qt::StringLiterals;

class RecordButtonTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // The Record button offers a file named from the date and time, shows the time recorded as
    // it goes, and on the second click finishes the file with every frame given.
    void recordButtonStartsShowsTheTimeAndStops() {
        FakeWindow w;
        TempDirectory dir;
        auto recording = std::make_shared<RecordingControl>(RecordingSettings::Quality::standard,
                                                            std::make_shared<RecordingLog>(w.log),
                                                            std::make_shared<QtRunLoop>());
        w.view->setRecordingControl(recording);
        w.present(makeTexture(64, 48), true);
        auto* button = w.view->findChild<QPushButton*>("recordButton");
        QCOMPARE(button->text(), u"Record"_s);
        QTest::mouseClick(button, Qt::LeftButton);
        auto* dialog = w.view->findChild<QFileDialog*>("recordDialog");
        QVERIFY(dialog && dialog->isVisible());
        const QString offered = QFileInfo(dialog->selectedFiles().value(0)).fileName();
        QVERIFY2(QRegularExpression(u"^recording_\\d{4}(-\\d\\d){2}_\\d\\d(-\\d\\d){2}\\.mkv$"_s)
                     .match(offered)
                     .hasMatch(),
                 qPrintable(offered));
        dialog->selectFile(QString::fromStdString((dir.path() / "show").string()));
        static_cast<QDialog*>(dialog)->accept();
        const std::string file = (dir.path() / "show.mkv").string();
        QCOMPARE(w.log->entries, std::vector<std::string>{"⏺️ Recording to " + file});
        QCOMPARE(button->text(), u"● 00:00:00"_s);
        int given = 0;
        QVERIFY(QTest::qWaitFor(
            [&] {
                recording->publishFrame(makeTexture(64, 48)), ++given;
                return button->text() == u"● 00:00:01"_s;
            },
            20000));
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w.log->entries.size(), size_t{2}, 60000);
        const QRegularExpression saved(QRegularExpression::escape(QString::fromStdString(
                                           "⏹️ Recording saved: " + file + " (" +
                                           std::to_string(given) + " frames, 00:0")) +
                                       u"[01]\\)$"_s);
        QVERIFY2(saved.match(QString::fromStdString(w.log->entries.back())).hasMatch(),
                 w.log->entries.back().c_str());
        QCOMPARE(button->text(), u"Record"_s);
    }
};

int main(int argc, char** argv) { return runGlTests<RecordButtonTest>(argc, argv); }

#include "RecordButtonTest.moc"
