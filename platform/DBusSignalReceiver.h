#pragma once

#include <QObject>
#include <functional>
#include <memory>

// The Qt object a D-Bus signal is delivered to; it calls one callback per signal and reads no
// arguments.
class DBusSignalReceiver : public QObject {
    Q_OBJECT

  public:
    explicit DBusSignalReceiver(std::function<void()> callback);
    // True while the callback runs; the object must then outlive the delivery.
    bool isDelivering() const { return delivering_; }
    // No callback from now on, also for signals whose delivery is already queued.
    void deactivate() { callback_.reset(); }

  public Q_SLOTS:
    void deliver();

  private:
    // Shared so that a callback which drops its own registration keeps running.
    std::shared_ptr<std::function<void()>> callback_;
    bool delivering_ = false;
};
