#pragma once

#include <chrono>
#include <functional>

// Runs the Qt event loop until `done` holds; false if it still does not after `limit`. The limit
// only keeps a broken build from hanging the suite: it is far above any expected wait.
bool runEventLoopUntil(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(30));

// Runs the Qt event loop until every job posted before this call has run.
bool runPostedJobs();
