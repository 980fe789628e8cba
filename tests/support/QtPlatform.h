#pragma once

#include "core/ReceiverPlatform.h"
#include "platform/DBusNotificationCenter.h"
#include "platform/QtRunLoop.h"
#include "platform/SteadyClock.h"
#include "platform/XdgContainerLocator.h"

// The real platform adapters, with the test's own log and relay.
inline ReceiverPlatform qtPlatform(std::shared_ptr<LogSink> log,
                                   std::shared_ptr<RelayServerFactory> relay) {
    return {std::make_shared<QtRunLoop>(),
            std::make_shared<DBusNotificationCenter>(),
            std::make_shared<XdgContainerLocator>(),
            std::make_shared<SteadyClock>(),
            log,
            relay};
}
