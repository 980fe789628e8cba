#include "tools/lumetra-sim/FrameSignal.h"

#include <QDBusError>
#include <QDBusMessage>
#include <string_view>

#include "receiver/Configuration.h"

namespace {

// "com.lumetra.visualizer.newFrame": the interface, then the member.
QString interfaceName() {
    const std::string_view name = config::newFrameNotificationName;
    return QString::fromUtf8(name.substr(0, name.rfind('.')));
}

QString memberName() {
    const std::string_view name = config::newFrameNotificationName;
    return QString::fromUtf8(name.substr(name.rfind('.') + 1));
}

}  // namespace

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
    connection_.send(QDBusMessage::createSignal(QStringLiteral("/com/lumetra/visualizer"),
                                                interfaceName(), memberName()));
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
