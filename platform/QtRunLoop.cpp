#include "platform/QtRunLoop.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "platform/SocketNotifierWatch.h"
#include "platform/TimerFdTimer.h"

void QtRunLoop::post(std::function<void()> job) {
    auto* application = QCoreApplication::instance();
    if (application == nullptr || !job) return;
    // Jobs still queued when the application object goes run first, outside Qt's lock.
    static const bool drainAtExit = [] {
        qAddPostRoutine(&QtRunLoop::runPendingJobs);
        return true;
    }();
    (void)drainAtExit;
    QMetaObject::invokeMethod(application, std::move(job), Qt::QueuedConnection);
}

std::unique_ptr<RepeatingTimer> QtRunLoop::scheduleRepeating(std::chrono::nanoseconds interval,
                                                             std::function<void()> tick) {
    return TimerFdTimer::create(interval, std::move(tick));
}

std::unique_ptr<DescriptorWatch> QtRunLoop::watchReadable(int fd, std::function<void()> readable) {
    return SocketNotifierWatch::create(fd, std::move(readable));
}

void QtRunLoop::runPendingJobs() {
    auto* application = QCoreApplication::instance();
    if (application == nullptr) return;
    // Jobs may queue jobs of their own; those run too.
    QCoreApplication::sendPostedEvents(application, QEvent::MetaCall);
}
