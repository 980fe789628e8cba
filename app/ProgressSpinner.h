#pragma once

#include <QTimer>
#include <QWidget>

// An indeterminate progress indicator: twelve spokes whose brightness turns round. The spokes are
// drawn at `scale` times their natural size about the widget's centre; the widget is as large as
// the scaled drawing. It animates only while it is shown.
class ProgressSpinner : public QWidget {
    Q_OBJECT

  public:
    static constexpr int naturalSize = 32;

    explicit ProgressSpinner(double scale, QWidget* parent = nullptr);
    double scale() const { return scale_; }
    bool isAnimating() const { return timer_.isActive(); }
    int step() const { return step_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    static constexpr int spokes = 12;

    double scale_;
    int step_ = 0;
    QTimer timer_;
};
