#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <memory>
#include <optional>

#include "app/ReceiverState.h"
#include "app/SnapshotWriter.h"
#include "core/LogSink.h"
#include "gpu/Texture.h"
#include "preview/PreviewWidget.h"

class QFileDialog;
class RecordingControl;
class StatusBar;
class WaitingPanel;

// The window's root widget. It keeps the window's receiver for its whole life and lays the
// window out from the receiver's published values: the compatibility note, the live preview (or
// the waiting panel until the first frame) and the status bar, one centred column on black.
class ContentView : public QWidget {
    Q_OBJECT

  public:
    // A view over any receiver state, with the log that the snapshot export writes to.
    ContentView(std::shared_ptr<ReceiverState> receiver, std::shared_ptr<LogSink> log,
                QWidget* parent = nullptr);
    ~ContentView() override;

    // The Save PNG button's action: shows a save dialog for the frame on screen. While it is open
    // the application does not quit when the window is closed: it waits for the answer.
    void saveCurrentFrame();
    // The save dialog's completion: saves `texture` off the main thread where the user confirmed,
    // as a .png file whatever suffix was typed, and logs how it went once it is done; does
    // nothing when the dialog was cancelled. When ".png" is added and names a file that exists,
    // it asks first.
    void writeSnapshot(int result, QFileDialog* dialog, std::shared_ptr<gpu::Texture> texture);

    // Shows in the status bar how many applications take the camera now.
    void showCameraConsumers(uint32_t consumers);
    // Gives the Record button and Ctrl+R their recordings; without it neither does anything.
    void setRecordingControl(std::shared_ptr<RecordingControl> recording);
    // The Record button's action: stops the recording under way, or shows a save dialog (not
    // modal, like Save PNG's) with a name from the date and time, and records where confirmed.
    void toggleRecording();

    // How often the layout has been evaluated from the receiver's values.
    int evaluationCount() const { return evaluations_; }
    // The preview widget while a texture is shown, else null.
    QWidget* previewWidget() const { return preview_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void scheduleEvaluation();
    void evaluate();
    void showPreview(const std::shared_ptr<gpu::Texture>& texture);
    void removePreview();
    void layoutContent();
    void retranslate();
    void startRecording(int result, QFileDialog* dialog);
    // Asks, not modal and holding the application until answered, whether `path` (a name the
    // dialog did not ask about) may be replaced; calls `replace` on yes.
    // The file `dialog` chose, with "." and `suffix` added when the name has another suffix: `act`
    // runs with it at once, or once the user agrees where that made the name of an existing file.
    void actOnChosenFile(QFileDialog& dialog, QLatin1String suffix,
                         std::function<void(const QString&)> act);
    void askToReplace(const QString& path, std::function<void()> replace);

    // The window's receiver (its state-object holder): kept and observed for the view's life.
    std::shared_ptr<ReceiverState> _textureReceiver;
    std::shared_ptr<LogSink> log_;
    // After the receiver and the log: its destruction waits for a save under way and logs it.
    SnapshotWriter snapshotWriter_;
    int willChangeConnection_ = 0;
    bool evaluationPending_ = false;
    bool staleWhileHidden_ = false;    // texts and layout skipped while the window was not exposed
    QPointer<QWindow> watchedWindow_;  // the native window whose exposure ends that
    int evaluations_ = 0;
    std::shared_ptr<RecordingControl> recording_;

    QLabel* note_;
    WaitingPanel* waitingPanel_;
    StatusBar* statusBar_;
    // The shown preview: its widget (owned as a child) and its renderer, kept together.
    QWidget* preview_ = nullptr;
    std::shared_ptr<PreviewRenderer> renderer_;
    // The aspect of the texture the last evaluation showed, for layouts between evaluations.
    std::optional<QSize> previewTextureSize_;
};
