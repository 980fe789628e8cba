#include "platform/DBusSignalReceiver.h"

DBusSignalReceiver::DBusSignalReceiver(std::function<void()> callback)
    : callback_(std::make_shared<std::function<void()>>(std::move(callback))) {}

void DBusSignalReceiver::deliver() {
    const auto callback = callback_;
    if (!callback) return;
    delivering_ = true;
    (*callback)();
    delivering_ = false;
}
