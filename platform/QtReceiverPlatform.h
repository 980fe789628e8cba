#pragma once

#include <memory>

#include "receiver/ReceiverPlatform.h"

// The receiver's platform on Linux: the Qt main loop with a timerfd timer, the D-Bus session
// bus, the XDG runtime folder, the steady clock and standard output. Call it on the main thread
// after the Qt application object exists.
ReceiverPlatform makeQtReceiverPlatform(std::shared_ptr<RelayServerFactory> relay);
