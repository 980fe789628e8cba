#pragma once

#include <memory>

#include "core/Clock.h"
#include "core/FrameSignal.h"
#include "core/FrameSink.h"
#include "core/LogSink.h"
#include "core/RunLoop.h"
#include "core/SharedFolderLocator.h"

// What the platform gives the receiver. Every service must be present.
struct ReceiverPlatform {
    std::shared_ptr<RunLoop> runLoop;
    std::shared_ptr<FrameSignal> frameSignal;
    std::shared_ptr<SharedFolderLocator> sharedFolders;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<LogSink> log;
    std::shared_ptr<FrameSinkFactory> relay;
};
