#include "tests/platform/EventLoopWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

bool runEventLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer wake;  // so that the wait for events ends now and then to look at the limit
    wake.start(10);
    while (!done()) {
        if (elapsed.hasExpired(limit.count())) return done();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool runPostedJobs() {
    bool ran = false;
    // Queued calls on the application run in posting order, so this one runs last.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&ran] { ran = true; }, Qt::QueuedConnection);
    return runEventLoopUntil([&ran] { return ran; });
}
