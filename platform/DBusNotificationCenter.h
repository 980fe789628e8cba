#pragma once

#include <QDBusConnection>
#include <QString>
#include <map>
#include <memory>

#include "core/NotificationCenter.h"

class DBusSignalReceiver;

// The host's notification as a D-Bus signal: "com.lumetra.visualizer.newFrame" is member
// `newFrame` of interface `com.lumetra.visualizer`, from any sender and any object path, its
// arguments unread. Callbacks run on the main thread's event loop.
class DBusNotificationCenter : public NotificationCenter {
  public:
    // On the session bus.
    DBusNotificationCenter();
    explicit DBusNotificationCenter(const QDBusConnection& connection);
    ~DBusNotificationCenter() override;
    DBusNotificationCenter(const DBusNotificationCenter&) = delete;
    DBusNotificationCenter& operator=(const DBusNotificationCenter&) = delete;

    // False when the bus is not connected or the name has no interface part. It does not wait
    // for the bus daemon to install the match (no round trip on the main thread): a signal sent
    // at the same moment by another program may be missed, which the 60 Hz poll makes up for.
    bool addObserver(const void* observer, const std::string& name, std::function<void()> callback,
                     std::string& failure) override;
    void removeObserver(const void* observer) override;

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
