#pragma once

#include <memory>
#include <string>

class QProcess;

// Private PipeWire and WirePlumber daemons for tests that start, kill and restart them. They run
// in the current XDG_RUNTIME_DIR and use the current session bus; the test script gives both
// fresh (scripts/with-daemons.sh --no-pipewire). Waiting runs the Qt event loop.
class DaemonControl {
  public:
    enum class Ending { Terminate, Kill };

    DaemonControl();
    ~DaemonControl();
    DaemonControl(const DaemonControl&) = delete;
    DaemonControl& operator=(const DaemonControl&) = delete;

    // Starts both and waits until WirePlumber has joined PipeWire; false on failure.
    bool start(std::string& failure);
    // Ends both, WirePlumber first, and waits for them.
    void stop(Ending ending = Ending::Terminate);
    bool running() const;

  private:
    std::unique_ptr<QProcess> pipewire_;
    std::unique_ptr<QProcess> wireplumber_;
};
