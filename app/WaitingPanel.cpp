#include "app/WaitingPanel.h"

#include <algorithm>

#include "app/TextStyle.h"
#include "app/WindowColors.h"

WaitingPanel::WaitingPanel(QWidget* parent)
    : QWidget(parent),
      spinner_(new ProgressSpinner(1.5, this)),
      title_(new QLabel(this)),
      caption_(new QLabel(this)) {
    setObjectName("waitingPanel");
    spinner_->setObjectName("spinner");
    title_->setObjectName("waitingTitle");
    caption_->setObjectName("waitingCaption");

    title_->setFont(TextStyle::heading(font()));
    caption_->setFont(TextStyle::caption(font()));
    QPalette titlePalette = title_->palette();
    titlePalette.setColor(QPalette::WindowText, Qt::white);
    title_->setPalette(titlePalette);
    QPalette captionPalette = caption_->palette();
    captionPalette.setColor(QPalette::WindowText, WindowColors::gray());
    caption_->setPalette(captionPalette);
    title_->setAlignment(Qt::AlignCenter);
    caption_->setAlignment(Qt::AlignCenter);
    retranslate();
}

void WaitingPanel::retranslate() {
    title_->setText(tr("Waiting for Lumetra..."));
    caption_->setText(tr("Start visualizing in Lumetra to see output here"));
    arrange();
}

int WaitingPanel::overhang() const {
    return (spinner_->height() - ProgressSpinner::naturalSize) / 2;
}

int WaitingPanel::layoutHeight() const {
    return ProgressSpinner::naturalSize + spacing + title_->sizeHint().height() + spacing +
           caption_->sizeHint().height();
}

int WaitingPanel::layoutWidth() const {
    return std::max({spinner_->width(), title_->sizeHint().width(), caption_->sizeHint().width()});
}

void WaitingPanel::place(const QRect& slot) {
    const int w = layoutWidth();
    setGeometry(slot.x() + (slot.width() - w) / 2, slot.y() - overhang(), w,
                layoutHeight() + overhang());
    arrange();
}

void WaitingPanel::resizeEvent(QResizeEvent*) { arrange(); }

void WaitingPanel::arrange() {
    const int w = width();
    const int top = overhang();  // where the column slot begins inside this widget
    spinner_->move((w - spinner_->width()) / 2, top - overhang());
    const int titleTop = top + ProgressSpinner::naturalSize + spacing;
    title_->setGeometry(0, titleTop, w, title_->sizeHint().height());
    caption_->setGeometry(0, titleTop + title_->height() + spacing, w,
                          caption_->sizeHint().height());
}
