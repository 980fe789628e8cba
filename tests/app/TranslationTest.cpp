// The window's texts in German, chosen by the locale; English where no translation exists.
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QSurfaceFormat>
#include <QtTest>

#include "app/ContentView.h"
#include "app/Translations.h"
#include "preview/MetalTextureView.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/FakeReceiverState.h"
#include "tests/preview/KeepGlDriversLoaded.h"

class TranslationTest : public QObject {
    Q_OBJECT

  private:
    std::shared_ptr<gpu::Device> device_;

    std::unique_ptr<ContentView> makeView(const std::shared_ptr<FakeReceiverState>& state) {
        auto view =
            std::make_unique<ContentView>(device_, state, std::make_shared<CollectingLog>());
        view->resize(960, 680);
        view->show();
        return view;
    }

  private Q_SLOTS:
    void initTestCase() {
        device_ = gpu::Device::systemDefault();
        QVERIFY2(device_ != nullptr, "the tests need an OpenGL 3.3 core device (run under Xvfb)");
    }

    void germanLocaleGivesGermanTexts() {
        const Translations translations(QLocale(QLocale::German, QLocale::Germany));
        QVERIFY(translations.hasApplicationTranslation());
        auto state = std::make_shared<FakeReceiverState>();
        auto view = makeView(state);

        QCOMPARE(labelText(*view, "compatibilityNote"),
                 "Hinweis: LM Vuzadivirur setzt eine Installation von Lumetra 2.5 oder neuer "
                 "voraus.");
        QCOMPARE(labelText(*view, "waitingTitle"), "Warte auf Lumetra …");
        QCOMPARE(labelText(*view, "waitingCaption"),
                 "Starten Sie die Visualisierung in Lumetra, um die Ausgabe hier zu sehen");
        QCOMPARE(labelText(*view, "stateLabel"), "Getrennt");

        state->setTexture(makeTexture(*device_, 1920, 1080));
        state->setReceiving(true);
        state->setFrameNumber(1234567);
        state->setFps(59.94);
        QCoreApplication::processEvents();
        QCOMPARE(labelText(*view, "stateLabel"), "Verbunden");
        QCOMPARE(labelText(*view, "frameLabel"), "Bild Nr. 1234567");
        QCOMPARE(labelText(*view, "rateLabel"), "59.9 fps");  // shown as made, not translated
        QCOMPARE(labelText(*view, "sizeLabel"), "1920×1080");
        QCOMPARE(labelText(*view, "separatorAfterFrame"), "•");
        QCOMPARE(child<QPushButton>(*view, "saveButton")->text(), "Als PNG sichern");

        view->saveCurrentFrame();
        auto* dialog = view->findChild<QFileDialog*>();
        QVERIFY(dialog != nullptr);
        QCOMPARE(dialog->nameFilters(), QStringList{"PNG-Bild (*.png)"});
        dialog->reject();
    }

    void translationsInstalledLaterRetranslateAShownWindow() {
        auto state = std::make_shared<FakeReceiverState>();
        auto view = makeView(state);
        QCOMPARE(labelText(*view, "stateLabel"), "Disconnected");
        {
            const Translations translations(QLocale(QLocale::German, QLocale::Austria));
            QVERIFY(translations.hasApplicationTranslation());  // falls back to German
            QCoreApplication::processEvents();
            QCOMPARE(labelText(*view, "stateLabel"), "Getrennt");
            QCOMPARE(labelText(*view, "waitingTitle"), "Warte auf Lumetra …");
        }
        QCoreApplication::processEvents();
        QCOMPARE(labelText(*view, "stateLabel"), "Disconnected");
    }

    void aLanguageWithoutTranslationKeepsTheEnglishTexts() {
        const Translations translations(QLocale(QLocale::Japanese, QLocale::Japan));
        QVERIFY(!translations.hasApplicationTranslation());
        auto state = std::make_shared<FakeReceiverState>();
        state->setReceiving(true);
        state->setFrameNumber(3);
        auto view = makeView(state);
        QCOMPARE(labelText(*view, "compatibilityNote"),
                 "Note: LM Vuzadivirur requires Lumetra 2.5 or later to be installed.");
        QCOMPARE(labelText(*view, "stateLabel"), "Connected");
        QCOMPARE(labelText(*view, "frameLabel"), "Frame #3");
        QCOMPARE(child<QPushButton>(*view, "saveButton")->text(), "Save PNG");
    }
};

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(MetalTextureView::surfaceFormat());
    QApplication application(argc, argv);
    TranslationTest test;
    const int failures = QTest::qExec(&test, argc, argv);
    keepGlDriversLoaded();  // GL has been used by now
    return failures;
}

#include "TranslationTest.moc"
