#include "platform/DBusFrameSignal.h"

#include <QCoreApplication>
#include <QDBusError>
#include <QDBusMessage>
#include <vector>

#include "platform/DBusSignalName.h"
#include "platform/DBusSignalReceiver.h"

namespace {

const char* const deliverSlot = SLOT(deliver());

}  // namespace

DBusFrameSignal::DBusFrameSignal() : DBusFrameSignal(QDBusConnection::sessionBus()) {}

DBusFrameSignal::DBusFrameSignal(const QDBusConnection& connection) : connection_(connection) {}

DBusFrameSignal::~DBusFrameSignal() {
    for (auto& [subscriber, registration] : registrations_) disconnect(registration);
}

bool DBusFrameSignal::subscribe(const void* subscriber, const std::string& name,
                                std::function<void()> callback, std::string& failure) {
    if (!connection_.isConnected()) {
        const QString reason = connection_.lastError().message();
        failure = reason.isEmpty() ? "no D-Bus session bus" : reason.toStdString();
        return false;
    }
    const auto signal = DBusSignalName::parse(name);
    if (!signal) {
        failure = "'" + name + "' is not an interface and member name";
        return false;
    }
    Registration registration{signal->interface, signal->member,
                              std::make_unique<DBusSignalReceiver>(std::move(callback))};
    if (!connection_.connect(QString(), QString(), registration.interface, registration.member,
                             registration.receiver.get(), deliverSlot)) {
        const QString reason = connection_.lastError().message();
        failure = reason.isEmpty() ? "the bus refused the signal match" : reason.toStdString();
        return false;
    }
    registrations_.emplace(subscriber, std::move(registration));
    return true;
}

void DBusFrameSignal::unsubscribe(const void* subscriber) {
    auto [first, last] = registrations_.equal_range(subscriber);
    // Taken out of the map first: a callback may remove its own subscriber while it runs.
    std::vector<Registration> removed;
    for (auto it = first; it != last; ++it) removed.push_back(std::move(it->second));
    registrations_.erase(first, last);
    for (auto& registration : removed) disconnect(registration);
}

void DBusFrameSignal::disconnect(Registration& registration) {
    if (!registration.receiver) return;
    // Without an application the connection may be gone; the receiver's end stops it anyway.
    if (QCoreApplication::instance() != nullptr && connection_.isConnected()) {
        connection_.disconnect(QString(), QString(), registration.interface, registration.member,
                               registration.receiver.get(), deliverSlot);
    }
    // A receiver whose callback is running is deleted once the delivery is over; signals
    // already queued for it meanwhile find it inactive.
    registration.receiver->deactivate();
    if (registration.receiver->isDelivering()) {
        registration.receiver.release()->deleteLater();
    } else {
        registration.receiver.reset();
    }
}
