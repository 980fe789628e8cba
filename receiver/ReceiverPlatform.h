#pragma once

#include <memory>

#include "receiver/Clock.h"
#include "receiver/ContainerLocator.h"
#include "receiver/LogSink.h"
#include "receiver/NotificationCenter.h"
#include "receiver/RunLoop.h"
#include "relay/RelayServer.h"

// What the platform gives the receiver. Every service must be present.
struct ReceiverPlatform {
    std::shared_ptr<RunLoop> runLoop;
    std::shared_ptr<NotificationCenter> notifications;
    std::shared_ptr<ContainerLocator> containers;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<LogSink> log;
    std::shared_ptr<RelayServerFactory> relay;
};
