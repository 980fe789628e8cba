#pragma once

#include <QLabel>
#include <QPushButton>
#include <QSize>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "app/RecordButton.h"
#include "app/StatusDot.h"

// The bar along the bottom of the window: the connection dot and word, how many applications
// take the camera while any do, then the frame number, the rate while frames arrive, the size
// while a picture is shown, and the Save PNG and Record buttons.
class StatusBar : public QWidget {
    Q_OBJECT

  public:
    struct State {
        bool isReceiving = false;
        int64_t lastFrameNumber = 0;
        double fps = 0.0;
        std::optional<QSize> textureSize;
    };

    explicit StatusBar(QWidget* parent = nullptr);
    void present(const State& state);
    // Shows "Camera: N apps" while `consumers` is not 0.
    void presentCameraConsumers(uint32_t consumers);
    QPushButton* saveButton() const { return saveButton_; }
    RecordButton* recordButton() const { return recordButton_; }

  Q_SIGNALS:
    void saveRequested();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QLabel* captionLabel(const char* name);
    void updateCameraLabel();

    StatusDot* dot_;
    QLabel* state_;
    QLabel* camera_;
    uint32_t cameraConsumers_ = 0;
    QLabel* frame_;
    QLabel* separatorAfterFrame_;
    QLabel* rate_;
    QLabel* separatorBeforeSize_;
    QLabel* size_;
    QLabel* separatorBeforeButton_;
    QPushButton* saveButton_;
    RecordButton* recordButton_;
};
