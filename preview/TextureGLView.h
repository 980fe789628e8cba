#pragma once

#include <QOpenGLWidget>
#include <QPointer>
#include <QWindow>
#include <memory>

#include "preview/MetalTextureView.h"

class QOpenGLFunctions_3_3_Core;

// The GPU view of the preview: an OpenGL 3.3 core widget whose drawing is done by its delegate,
// the coordinator. It draws when a texture is handed over (through update()), when its window
// is exposed and when it is resized; never on a timer. A new drawable starts opaque black, and a
// skipped draw leaves the last picture in place.
class TextureGLView : public QOpenGLWidget {
  public:
    explicit TextureGLView(QWidget* parent = nullptr);
    ~TextureGLView() override;

    void setDevice(std::shared_ptr<gpu::Device> device) { device_ = std::move(device); }
    const std::shared_ptr<gpu::Device>& device() const { return device_; }
    // The view keeps its delegate alive.
    void setDelegate(std::shared_ptr<MetalTextureView::Coordinator> delegate);
    const std::shared_ptr<MetalTextureView::Coordinator>& delegate() const { return delegate_; }

    // The GL functions of the view's context: none until it is up; use only while it is current.
    QOpenGLFunctions_3_3_Core* glFunctions() const { return gl_; }
    // The drawable's size in device pixels.
    QSize drawableSize() const;

  protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void contextWillDestroy();
    void watchExposure();

    std::shared_ptr<gpu::Device> device_;
    std::shared_ptr<MetalTextureView::Coordinator> delegate_;
    QOpenGLFunctions_3_3_Core* gl_ = nullptr;
    QMetaObject::Connection contextConnection_;
    QPointer<QWindow> watchedWindow_;  // the window whose exposure redraws the view
};
