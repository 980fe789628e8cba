// The window's texts in German, taken up by a shown window; English again once it goes.
#include <QFileDialog>

#include "app/Translations.h"
#include "tests/app/AppTestSupport.h"

class TranslationTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void germanTexts() {
        FakeWindow w;
        {
            const Translations translations(QLocale(QLocale::German, QLocale::Germany));
            QCoreApplication::processEvents();
            QCOMPARE(labelText(*w.view, "compatibilityNote"),
                     "Hinweis: LM Vuzadivirur setzt eine Installation von Lumetra 2.5 oder neuer "
                     "voraus.");
            QCOMPARE(labelText(*w.view, "waitingTitle"), "Warte auf Lumetra …");
            QCOMPARE(labelText(*w.view, "stateLabel"), "Getrennt");

            w.present(makeTexture(1920, 1080), true, 1234567, 59.94);
            QCOMPARE(labelText(*w.view, "stateLabel"), "Verbunden");
            QCOMPARE(labelText(*w.view, "frameLabel"), "Bild Nr. 1234567");
            QCOMPARE(labelText(*w.view, "saveButton"), "Als PNG sichern");
            w.view->saveCurrentFrame();
            auto* dialog = w.view->findChild<QFileDialog*>();
            QVERIFY(dialog != nullptr);
            QCOMPARE(dialog->nameFilters(), QStringList{"PNG-Bild (*.png)"});
        }
        QCoreApplication::processEvents();
        QCOMPARE(labelText(*w.view, "stateLabel"), "Connected");
        QCOMPARE(labelText(*w.view, "saveButton"), "Save PNG");
    }
};

int main(int argc, char** argv) { return runGlTests<TranslationTest>(argc, argv); }

#include "TranslationTest.moc"
