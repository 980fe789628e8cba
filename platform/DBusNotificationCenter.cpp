#include "platform/DBusNotificationCenter.h"

#include <QCoreApplication>
#include <QDBusError>
#include <QDBusMessage>
#include <vector>

#include "platform/DBusSignalReceiver.h"

namespace {

const char* const deliverSlot = SLOT(deliver());

// A round trip to the bus daemon. Messages on one connection are handled in order, so once the
// reply is back the daemon has also installed the match rules sent before it.
void waitForBus(QDBusConnection& connection) {
    const auto ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    connection.call(ping, QDBus::Block, 5000);
}

}  // namespace

DBusNotificationCenter::DBusNotificationCenter()
    : DBusNotificationCenter(QDBusConnection::sessionBus()) {}

DBusNotificationCenter::DBusNotificationCenter(const QDBusConnection& connection)
    : connection_(connection) {}

DBusNotificationCenter::~DBusNotificationCenter() {
    for (auto& [observer, registration] : registrations_) disconnect(registration);
}

bool DBusNotificationCenter::addObserver(const void* observer, const std::string& name,
                                         std::function<void()> callback, std::string& failure) {
    if (!connection_.isConnected()) {
        const QString reason = connection_.lastError().message();
        failure = reason.isEmpty() ? "no D-Bus session bus" : reason.toStdString();
        return false;
    }
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
        failure = "'" + name + "' is not an interface and member name";
        return false;
    }
    Registration registration{QString::fromStdString(name.substr(0, dot)),
                              QString::fromStdString(name.substr(dot + 1)),
                              std::make_unique<DBusSignalReceiver>(std::move(callback))};
    if (!connection_.connect(QString(), QString(), registration.interface, registration.member,
                             registration.receiver.get(), deliverSlot)) {
        const QString reason = connection_.lastError().message();
        failure = reason.isEmpty() ? "the bus refused the signal match" : reason.toStdString();
        return false;
    }
    waitForBus(connection_);
    registrations_.emplace(observer, std::move(registration));
    return true;
}

void DBusNotificationCenter::removeObserver(const void* observer) {
    auto [first, last] = registrations_.equal_range(observer);
    // Taken out of the map first: a callback may remove its own observer while it runs.
    std::vector<Registration> removed;
    for (auto it = first; it != last; ++it) removed.push_back(std::move(it->second));
    registrations_.erase(first, last);
    for (auto& registration : removed) disconnect(registration);
}

void DBusNotificationCenter::disconnect(Registration& registration) {
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
