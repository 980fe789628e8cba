#include "platform/QtRunLoop.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "platform/TimerFdTimer.h"

void QtRunLoop::post(std::function<void()> job) {
    auto* application = QCoreApplication::instance();
    if (application == nullptr || !job) return;
    QMetaObject::invokeMethod(application, std::move(job), Qt::QueuedConnection);
}

std::unique_ptr<RepeatingTimer> QtRunLoop::scheduleRepeating(std::chrono::nanoseconds interval,
                                                             std::function<void()> tick) {
    return TimerFdTimer::create(interval, std::move(tick));
}
