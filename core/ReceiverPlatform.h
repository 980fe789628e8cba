#pragma once

#include <memory>

#include "core/Clock.h"
#include "core/ContainerLocator.h"
#include "core/LogSink.h"
#include "core/NotificationCenter.h"
#include "core/RelayServer.h"
#include "core/RunLoop.h"

// What the platform gives the receiver. Every service must be present.
struct ReceiverPlatform {
    std::shared_ptr<RunLoop> runLoop;
    std::shared_ptr<NotificationCenter> notifications;
    std::shared_ptr<ContainerLocator> containers;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<LogSink> log;
    std::shared_ptr<RelayServerFactory> relay;
};
