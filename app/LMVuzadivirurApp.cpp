#include "app/LMVuzadivirurApp.h"

#include <QApplication>
#include <QLocale>
#include <QSurfaceFormat>

#include "app/QuitOnSignals.h"
#include "app/Translations.h"
#include "platform/QtRunLoop.h"
#include "preview/MetalTextureView.h"

int LMVuzadivirurApp::main(int argc, char** argv) {
    // Before the application object, so that every GL context shares the preview's format.
    QSurfaceFormat::setDefaultFormat(MetalTextureView::surfaceFormat());
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lm-vuzadivirur"));
    QGuiApplication::setDesktopFileName(QStringLiteral("lm-vuzadivirur"));

    const std::unique_ptr<QuitOnSignals> quitOnSignals = QuitOnSignals::install();
    const Translations translations(QLocale::system());
    {
        LMVuzadivirurApp app;
        QApplication::exec();
    }
    // A pending notification job still holds the receiver: it runs its check, then the
    // receiver's teardown follows, all before the application object goes.
    QtRunLoop::runPendingJobs();
    return 0;
}

LMVuzadivirurApp::LMVuzadivirurApp() : window_(ContentView::create()) {
    window_->setWindowTitle(tr("LM Vuzadivirur"));
    window_->resize(960, 680);
    window_->show();
}
