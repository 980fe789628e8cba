#pragma once

#include <QColor>
#include <QWidget>

// The status bar's 8 x 8 connection dot: a filled, antialiased circle.
class StatusDot : public QWidget {
    Q_OBJECT

  public:
    explicit StatusDot(QWidget* parent = nullptr);
    void setColor(const QColor& color);
    QColor color() const { return color_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor color_;
};
