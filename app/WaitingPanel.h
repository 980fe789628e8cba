#pragma once

#include <QLabel>
#include <QWidget>

#include "app/ProgressSpinner.h"

// Shown in place of the preview until the first frame: a spinner, a title and a hint, centred,
// 20 apart. The spinner is drawn at 1.5 times its size but takes only its natural size in the
// column; its enlarged drawing reaches `overhang()` above the column's top, so the widget extends
// that far above the place it is given.
class WaitingPanel : public QWidget {
    Q_OBJECT

  public:
    explicit WaitingPanel(QWidget* parent = nullptr);

    // Height the panel takes in the window's column, and the width it needs.
    int layoutHeight() const;
    int layoutWidth() const;
    int overhang() const;
    // Places the panel with its column slot centred horizontally in `slot`'s width, at its top.
    void place(const QRect& slot);

    void retranslate();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    static constexpr int spacing = 20;

    void arrange();

    ProgressSpinner* spinner_;
    QLabel* title_;
    QLabel* caption_;
};
