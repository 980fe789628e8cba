// platform-bench: the Qt run loop's figures, one `name: value` line each.
//   timer_rate_hz        ticks per second of QtRunLoop's 1/60 s timer over about 5 s (target 60)
//   qtimer_16ms_rate_hz  a QTimer at 16 ms over the same seconds, for comparison (62.5)
//   post_job_us          cost of one posted job, posting and running it

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "format/Configuration.h"
#include "platform/QtRunLoop.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

struct TickCounter {
    int ticks = 0;
    Clock::time_point first;
    Clock::time_point last;

    void tick() {
        last = Clock::now();
        if (ticks++ == 0) first = last;
    }
    // Intervals between the first and the last tick, per second.
    double rate() const { return ticks < 2 ? 0.0 : (ticks - 1) / seconds(last - first); }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QtRunLoop loop;

    TickCounter pollingTimer;
    TickCounter qtTimer;
    auto timer = loop.scheduleRepeating(config::pollingInterval, [&] { pollingTimer.tick(); });
    if (!timer) {
        std::fprintf(stderr, "platform-bench: no timer\n");
        return 1;
    }
    QTimer reference;
    reference.setTimerType(Qt::PreciseTimer);
    QObject::connect(&reference, &QTimer::timeout, [&] { qtTimer.tick(); });
    reference.start(16);
    QTimer::singleShot(5000, &application, &QCoreApplication::quit);
    application.exec();
    timer->invalidate();
    reference.stop();
    std::printf("timer_rate_hz: %.3f\n", pollingTimer.rate());
    std::printf("qtimer_16ms_rate_hz: %.3f\n", qtTimer.rate());

    constexpr int jobs = 200'000;
    int ran = 0;
    const auto start = Clock::now();
    for (int i = 0; i < jobs; ++i) {
        loop.post([&] {
            if (++ran == jobs) application.quit();
        });
    }
    application.exec();
    const auto elapsed = Clock::now() - start;
    std::printf("post_job_us: %.3f\n", seconds(elapsed) * 1e6 / jobs);
    return ran == jobs ? 0 : 1;
}
