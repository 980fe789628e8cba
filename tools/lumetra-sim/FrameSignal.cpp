#include "tools/lumetra-sim/FrameSignal.h"

#include <QDBusError>
#include <QDBusMessage>

#include "format/Configuration.h"
#include "platform/DBusSignalName.h"

std::unique_ptr<FrameSignal> FrameSignal::create(std::string& failure) {
    QDBusConnection connection = QDBusConnection::sessionBus();
    if (!connection.isConnected()) {
        failure = connection.lastError().message().toStdString();
        if (failure.empty()) failure = "no D-Bus session bus";
        return nullptr;
    }
    return std::make_unique<FrameSignal>(Token{}, connection);
}

FrameSignal::FrameSignal(Token, QDBusConnection connection) : connection_(std::move(connection)) {}

void FrameSignal::post() {
    static const auto name = DBusSignalName::parse(config::newFrameNotificationName);
    connection_.send(QDBusMessage::createSignal(QStringLiteral("/com/lumetra/visualizer"),
                                                name->interface, name->member));
}

void FrameSignal::flush() {
    // Messages leave a connection in order: once the daemon answers a ping sent after the
    // signals, they have all been handed to it.
    connection_.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                    QStringLiteral("/org/freedesktop/DBus"),
                                                    QStringLiteral("org.freedesktop.DBus.Peer"),
                                                    QStringLiteral("Ping")),
                     QDBus::Block, 5000);
}
