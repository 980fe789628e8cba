#pragma once

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <functional>

// Runs the Qt event loop until `done` holds; false if it still does not after 30 s, a limit that
// only keeps a broken build from hanging the suite.
inline bool runEventLoopUntil(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    QTimer wake;  // ends each wait for events now and then to look at the limit
    wake.start(10);
    while (!done() && std::chrono::steady_clock::now() < limit)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}
