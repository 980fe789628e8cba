#pragma once

#include <QAbstractNativeEventFilter>
#include <QWindow>
#include <functional>

// Tells when an X11 window becomes fully covered by other windows, and when it is seen again, from
// the visibility events the X server sends for it. Elsewhere (Wayland, where the compositor stops
// asking for frames of a hidden surface) nothing is ever reported.
class CoveredWindowWatch : public QAbstractNativeEventFilter {
  public:
    CoveredWindowWatch(QWindow& window, std::function<void(bool covered)> changed);
    ~CoveredWindowWatch() override;
    CoveredWindowWatch(const CoveredWindowWatch&) = delete;
    CoveredWindowWatch& operator=(const CoveredWindowWatch&) = delete;

    bool isCovered() const { return covered_; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    QWindow& window_;
    std::function<void(bool)> changed_;
    bool covered_ = false;
};
