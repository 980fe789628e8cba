#pragma once

#include <QWindow>
#include <functional>

// The native window the preview draws into, embedded in its view. Being an OpenGL window of its
// own, it lets the top-level window stay a raster window: a draw reaches the screen with one
// buffer swap, and Qt does not compose the whole top-level window through OpenGL for every frame
// as it must for a GL widget. It draws nothing itself; it tells its owner when to draw.
class TextureGLWindow : public QWindow {
  public:
    struct Callbacks {
        std::function<void()> exposed;          // shown again: draw now
        std::function<void()> resized;          // draw at a coming pass
        std::function<void()> updateRequested;  // the pass asked for has come
        std::function<void()> surfaceWillGo;    // unexposed, or its surface about to be destroyed
    };

    TextureGLWindow(const QSurfaceFormat& format, Callbacks callbacks);

    // The owner is going: events from now on are left alone.
    void forgetCallbacks() { callbacks_ = {}; }

  protected:
    void exposeEvent(QExposeEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

  private:
    Callbacks callbacks_;
};
