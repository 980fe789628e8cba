// A program that ends with a queued job holding the last hold on an object whose teardown needs
// Qt's event lists (a QObject with an event still queued for it), as a receiver whose
// notification job is still pending does when the application quits. With --hang-after-quit, a
// program that quits on SIGINT or SIGTERM as the application does, then hangs in a read that
// each signal's handler resumes, as a quit stuck in a network write or on a file system does.
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/QuitOnSignals.h"
#include "platform/QtRunLoop.h"

namespace {

struct LastHold {
    std::unique_ptr<QObject> object = std::make_unique<QObject>();
    ~LastHold() {
        object.reset();
        std::puts("released");
    }
};

}  // namespace

int hangAfterQuit() {
    const auto quitOnSignals = QuitOnSignals::install();
    if (!quitOnSignals) return 1;
    std::puts("ready");
    std::fflush(stdout);
    QCoreApplication::exec();
    std::puts("quitting");
    std::fflush(stdout);
    int never[2];
    char byte;
    return ::pipe(never) == 0 && ::read(never[0], &byte, 1) >= 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--hang-after-quit") == 0) return hangAfterQuit();
    QtRunLoop runLoop;
    auto hold = std::make_shared<LastHold>();
    QObject* object = hold->object.get();
    runLoop.post([hold = std::move(hold)] { std::puts("job ran"); });
    // Queued after the job, so it is still queued when the job's call is deleted.
    QCoreApplication::postEvent(object, new QEvent(QEvent::User));
    std::fflush(stdout);
    return 0;  // the event loop never ran
}
