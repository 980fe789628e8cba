// The window's texts in German, from the translation chosen by the locale, taken up by a window
// already shown and given back when the translation goes.
#include <QFileDialog>

#include "app/Translations.h"
#include "tests/app/AppTestSupport.h"

class TranslationTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void germanTexts() {
        FakeWindow w;
        QCOMPARE(labelText(*w.view, "stateLabel"), "Disconnected");
        {
            const Translations translations(QLocale(QLocale::German, QLocale::Germany));
            QVERIFY(translations.hasApplicationTranslation());
            QCoreApplication::processEvents();
            QCOMPARE(labelText(*w.view, "compatibilityNote"),
                     "Hinweis: LM Vuzadivirur setzt eine Installation von Lumetra 2.5 oder neuer "
                     "voraus.");
            QCOMPARE(labelText(*w.view, "waitingTitle"), "Warte auf Lumetra …");
            QCOMPARE(labelText(*w.view, "waitingCaption"),
                     "Starten Sie die Visualisierung in Lumetra, um die Ausgabe hier zu sehen");
            QCOMPARE(labelText(*w.view, "stateLabel"), "Getrennt");

            w.present(makeTexture(1920, 1080), true, 1234567, 59.94);
            QCOMPARE(labelText(*w.view, "stateLabel"), "Verbunden");
            QCOMPARE(labelText(*w.view, "frameLabel"), "Bild Nr. 1234567");
            QCOMPARE(labelText(*w.view, "rateLabel"), "59.9 fps");
            QCOMPARE(labelText(*w.view, "sizeLabel"), "1920×1080");
            QCOMPARE(labelText(*w.view, "saveButton"), "Als PNG sichern");
            w.view->saveCurrentFrame();
            auto* dialog = w.view->findChild<QFileDialog*>();
            QVERIFY(dialog != nullptr);
            QCOMPARE(dialog->nameFilters(), QStringList{"PNG-Bild (*.png)"});
            dialog->reject();
        }
        QCoreApplication::processEvents();
        QCOMPARE(labelText(*w.view, "stateLabel"), "Connected");
        QCOMPARE(labelText(*w.view, "saveButton"), "Save PNG");
    }
};

int main(int argc, char** argv) { return runGlTests<TranslationTest>(argc, argv); }

#include "TranslationTest.moc"
