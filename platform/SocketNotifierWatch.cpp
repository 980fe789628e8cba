#include "platform/SocketNotifierWatch.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>

std::unique_ptr<SocketNotifierWatch> SocketNotifierWatch::create(int fd,
                                                                 std::function<void()> readable) {
    auto* application = QCoreApplication::instance();
    if (fd < 0 || !readable || application == nullptr ||
        QThread::currentThread() != application->thread()) {
        return nullptr;
    }
    return std::make_unique<SocketNotifierWatch>(Token{}, fd, std::move(readable));
}

SocketNotifierWatch::SocketNotifierWatch(Token, int fd, std::function<void()> readable)
    : readable_(std::make_shared<std::function<void()>>(std::move(readable))),
      notifier_(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read)) {
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [callback = readable_] { (*callback)(); });
}

SocketNotifierWatch::~SocketNotifierWatch() = default;
