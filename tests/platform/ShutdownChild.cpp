// A program that ends with a queued job holding the last hold on an object whose teardown needs
// Qt's event lists (a QObject with an event still queued for it), as a receiver whose
// notification job is still pending does when the application quits.
#include <QCoreApplication>
#include <QEvent>
#include <cstdio>
#include <memory>

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

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QtRunLoop runLoop;
    auto hold = std::make_shared<LastHold>();
    QObject* object = hold->object.get();
    runLoop.post([hold = std::move(hold)] { std::puts("job ran"); });
    // Queued after the job, so it is still queued when the job's call is deleted.
    QCoreApplication::postEvent(object, new QEvent(QEvent::User));
    std::fflush(stdout);
    return 0;  // the event loop never ran
}
