#pragma once

#include <QFont>

// The two text styles the window uses, derived from the default font so that they follow the
// desktop's font size.
namespace TextStyle {

// Small secondary text: the status bar's labels and the waiting panel's hint.
inline QFont caption(QFont base) {
    base.setPointSizeF(base.pointSizeF() * 0.85);
    return base;
}

// A heading: the waiting panel's title.
inline QFont heading(QFont base) {
    base.setPointSizeF(base.pointSizeF() * 1.45);
    return base;
}

}  // namespace TextStyle
