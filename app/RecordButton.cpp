#include "app/RecordButton.h"

#include <QEvent>

RecordButton::RecordButton(const QString& styleSheet, QWidget* parent) : QPushButton(parent) {
    setObjectName("recordButton");
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setStyleSheet(styleSheet);
    // A quarter second: the shown second turns within that of the real one.
    tick_.setInterval(250);
    connect(&tick_, &QTimer::timeout, this, &RecordButton::showText);
    showText();
}

void RecordButton::setRecording(bool recording, std::chrono::steady_clock::time_point startedAt) {
    recording_ = recording;
    startedAt_ = startedAt;
    if (recording) {
        tick_.start();
        show();
    } else {
        tick_.stop();
    }
    showText();
}

void RecordButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) showText();
    QPushButton::changeEvent(event);
}

void RecordButton::showText() {
    if (!recording_) {
        setText(tr("Record"));
        return;
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::steady_clock::now() - startedAt_)
                             .count();
    const QString elapsed = QStringLiteral("%1:%2:%3")
                                .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
                                .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    setText(tr("● %1").arg(elapsed));
}
