#pragma once

#include "core/RunLoop.h"

// The main thread's Qt event loop. A job is a queued call on the application object, so jobs
// run one at a time, in posting order, each on its own (none is merged or dropped). Needs a
// QCoreApplication (or QApplication); without one a job has no loop to run on and is dropped.
class QtRunLoop : public RunLoop {
  public:
    void post(std::function<void()> job) override;
    // A timerfd-driven timer; see TimerFdTimer.
    std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::nanoseconds interval,
                                                      std::function<void()> tick) override;
    // A socket notifier; see SocketNotifierWatch.
    std::unique_ptr<DescriptorWatch> watchReadable(int fd, std::function<void()> readable) override;

    // Runs every job still queued. Qt deletes the calls still queued at its end while it holds
    // its event-list lock; a job released there that held the last hold on a receiver would tear
    // it down under that lock, whose D-Bus objects need the same lock, and the process would
    // hang. So the application object runs this as it goes, and a program may call it earlier,
    // once its event loop has ended, while everything is still in place.
    static void runPendingJobs();
};
