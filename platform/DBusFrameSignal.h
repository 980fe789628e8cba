#pragma once

#include <QDBusConnection>
#include <QString>
#include <map>
#include <memory>

#include "core/FrameSignal.h"

class DBusSignalReceiver;

// The host's notification as a D-Bus signal: "com.lumetra.visualizer.newFrame" is member
// `newFrame` of interface `com.lumetra.visualizer`, from any sender and any object path, its
// arguments unread. Callbacks run on the main thread's event loop.
class DBusFrameSignal : public FrameSignal {
  public:
    // On the session bus.
    DBusFrameSignal();
    explicit DBusFrameSignal(const QDBusConnection& connection);
    ~DBusFrameSignal() override;
    DBusFrameSignal(const DBusFrameSignal&) = delete;
    DBusFrameSignal& operator=(const DBusFrameSignal&) = delete;

    // False when the bus is not connected or the name has no interface part. It does not wait
    // for the bus daemon to install the match (no round trip on the main thread): a signal sent
    // at the same moment by another program may be missed, which the 60 Hz poll makes up for.
    bool subscribe(const void* subscriber, const std::string& name, std::function<void()> callback,
                   std::string& failure) override;
    void unsubscribe(const void* subscriber) override;

  private:
    struct Registration {
        QString interface;
        QString member;
        std::unique_ptr<DBusSignalReceiver> receiver;
    };
    void disconnect(Registration& registration);

    QDBusConnection connection_;
    std::multimap<const void*, Registration> registrations_;
};
