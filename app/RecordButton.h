#pragma once

#include <QPushButton>
#include <QTimer>
#include <chrono>

// The status bar's Record button: "Record" while idle; while recording a dot and the time since
// the recording started, "● 00:01:23", counted on once a second.
class RecordButton : public QPushButton {
    Q_OBJECT

  public:
    // Styled with `styleSheet`, as the bar's other button.
    RecordButton(const QString& styleSheet, QWidget* parent);

    void setRecording(bool recording, std::chrono::steady_clock::time_point startedAt = {});
    bool recording() const { return recording_; }

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void showText();

    bool recording_ = false;
    std::chrono::steady_clock::time_point startedAt_{};
    QTimer tick_;
};
