#include "platform/QtReceiverPlatform.h"

#include "platform/DBusNotificationCenter.h"
#include "platform/QtRunLoop.h"
#include "platform/StdoutLogSink.h"
#include "platform/SteadyClock.h"
#include "platform/XdgContainerLocator.h"

ReceiverPlatform makeQtReceiverPlatform(std::shared_ptr<RelayServerFactory> relay) {
    return ReceiverPlatform{
        std::make_shared<QtRunLoop>(),           std::make_shared<DBusNotificationCenter>(),
        std::make_shared<XdgContainerLocator>(), std::make_shared<SteadyClock>(),
        std::make_shared<StdoutLogSink>(),       std::move(relay)};
}
