#pragma once

#include <QCoreApplication>
#include <memory>
#include <string>

#include "app/ContentView.h"
#include "core/ReceiverPlatform.h"
#include "relay/CameraOptions.h"
#include "stream/RecordingSettings.h"
#include "stream/StreamSettings.h"

class RecordingControl;
class TextureReceiver;

// The application: it builds the frame store, the platform services, the relay and the receiver,
// wires them together and hands its one window, a ContentView, what it shows. Only the
// application ends the process: a part that cannot be had is a fatal report here.
class LMVuzadivirurApp {
    Q_DECLARE_TR_FUNCTIONS(LMVuzadivirurApp)

  public:
    // The program entry: `--help` and `--version` answer and return, malformed settings
    // are one line on standard error and status 2; otherwise it runs the
    // application's event loop with its window until the window is closed (and no save dialog is
    // open and no save under way), the application quits, or SIGINT or SIGTERM arrives, then
    // tears the window and its receiver down and returns 0.
    static int main(int argc, char** argv);

    // The receiver's platform on Linux: the Qt main loop with a timerfd timer, the D-Bus session
    // bus, the XDG runtime folder, the steady clock, standard output, and the PipeWire relay
    // logging to the same output, and the network stream beside the relay when `stream` has an
    // address; the relay's camera is named and watched as `camera` says. Call it on the main
    // thread once the Qt application exists.
    static ReceiverPlatform makePlatform(const StreamSettings& stream = {},
                                         CameraOptions camera = {});

    // Makes and shows the window, whose status bar counts the camera's consumers, recording from
    // the start when `recording` names a file. The camera is listed as `cameraName` (empty:
    // "Lumetra Vuzadivirur"). Stops the process when OpenGL 3.3 core or the receiver cannot be had.
    explicit LMVuzadivirurApp(const StreamSettings& stream = {},
                              const RecordingSettings& recording = {},
                              const std::string& cameraName = {});
    // Closes the window, finishes any recording's file (waiting for it), then stops the receiver.
    ~LMVuzadivirurApp();
    LMVuzadivirurApp(const LMVuzadivirurApp&) = delete;
    LMVuzadivirurApp& operator=(const LMVuzadivirurApp&) = delete;

    ContentView& window() const { return *window_; }

  private:
    std::shared_ptr<gpu::FrameStore> frameStore_;
    std::shared_ptr<RecordingControl> recording_;
    std::shared_ptr<TextureReceiver> receiver_;
    // Goes first, so that the receiver's teardown and its last log line come after the window.
    std::unique_ptr<ContentView> window_;
};
