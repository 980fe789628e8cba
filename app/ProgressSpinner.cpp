#include "app/ProgressSpinner.h"

#include <QPainter>
#include <cmath>

ProgressSpinner::ProgressSpinner(double scale, QWidget* parent) : QWidget(parent), scale_(scale) {
    const int side = static_cast<int>(std::ceil(naturalSize * scale_));
    setFixedSize(side, side);
    timer_.setInterval(1000 / spokes);  // one turn a second
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % spokes;
        update();
    });
}

void ProgressSpinner::showEvent(QShowEvent*) { timer_.start(); }

void ProgressSpinner::hideEvent(QHideEvent*) { timer_.stop(); }

void ProgressSpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    painter.scale(scale_, scale_);

    const double outer = naturalSize / 2.0;
    const double inner = outer * 0.45;
    QPen pen(QColor(210, 210, 210));
    pen.setWidthF(naturalSize / 12.0);
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < spokes; ++i) {
        // The leading spoke is brightest; the ones behind it fade.
        const int age = (step_ - i + spokes) % spokes;
        QColor colour = pen.color();
        colour.setAlphaF(1.0 - 0.75 * age / (spokes - 1));
        pen.setColor(colour);
        painter.setPen(pen);
        painter.save();
        painter.rotate(360.0 * i / spokes);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer + pen.widthF() / 2));
        painter.restore();
    }
}
