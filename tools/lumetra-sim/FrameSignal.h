#pragma once

#include <QDBusConnection>
#include <memory>
#include <string>

// Posts the host's new-frame signal on the D-Bus session bus, as a host does with
// `dbus-send --session --type=signal /com/lumetra/visualizer com.lumetra.visualizer.newFrame`.
class FrameSignal {
    struct Token {};

  public:
    // None, with the reason in `failure`, when there is no session bus.
    static std::unique_ptr<FrameSignal> create(std::string& failure);
    FrameSignal(Token, QDBusConnection connection);

    void post();
    // Returns once every signal posted so far has reached the bus daemon.
    void flush();

  private:
    QDBusConnection connection_;
};
