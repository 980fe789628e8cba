#include "platform/SteadyClock.h"

#include <chrono>

double SteadyClock::now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
