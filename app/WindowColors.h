#pragma once

#include <QColor>

// The named colours the window uses, in the system's versions of them.
namespace WindowColors {

inline QColor green() { return QColor(52, 199, 89); }
inline QColor red() { return QColor(255, 59, 48); }
inline QColor blue() { return QColor(0, 122, 255); }
inline QColor gray() { return QColor(142, 142, 147); }
// The compatibility note's colour: the default foreground colour of a dark appearance, so that
// the note stays readable on the black background whatever the desktop theme.
inline QColor noteText() { return QColor(217, 217, 217); }

}  // namespace WindowColors
