#include "preview/CoveredWindowWatch.h"

#include <xcb/xproto.h>

#include <QCoreApplication>

CoveredWindowWatch::CoveredWindowWatch(QWindow& window, std::function<void(bool covered)> changed)
    : window_(window), changed_(std::move(changed)) {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

CoveredWindowWatch::~CoveredWindowWatch() {
    if (auto* application = QCoreApplication::instance()) {
        application->removeNativeEventFilter(this);
    }
}

bool CoveredWindowWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !window_.handle()) return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_VISIBILITY_NOTIFY) return false;
    const auto* visibility = static_cast<const xcb_visibility_notify_event_t*>(message);
    if (visibility->window != window_.winId()) return false;
    const bool covered = visibility->state == XCB_VISIBILITY_FULLY_OBSCURED;
    if (covered != covered_) {
        covered_ = covered;
        changed_(covered);
    }
    return false;  // Qt handles it as it would
}
