#include "app/StatusBar.h"

#include <QHBoxLayout>
#include <QPainter>

#include "app/TextStyle.h"
#include "app/WindowColors.h"
#include "core/DecimalFormat.h"

namespace {

constexpr int padding = 8;
constexpr int itemSpacing = 8;
constexpr int indicatorSpacing = 8;

}  // namespace

StatusBar::StatusBar(QWidget* parent) : QWidget(parent) {
    setObjectName("statusBar");
    QPalette barPalette = palette();
    barPalette.setColor(QPalette::WindowText, Qt::white);  // every text without its own colour
    setPalette(barPalette);

    dot_ = new StatusDot(this);
    dot_->setObjectName("statusDot");
    state_ = captionLabel("stateLabel");
    camera_ = captionLabel("cameraLabel");
    frame_ = captionLabel("frameLabel");
    separatorAfterFrame_ = captionLabel("separatorAfterFrame");
    rate_ = captionLabel("rateLabel");
    separatorBeforeSize_ = captionLabel("separatorBeforeSize");
    size_ = captionLabel("sizeLabel");
    separatorBeforeButton_ = captionLabel("separatorBeforeButton");

    saveButton_ = new QPushButton(this);
    saveButton_->setObjectName("saveButton");
    saveButton_->setFlat(true);
    saveButton_->setCursor(Qt::PointingHandCursor);
    const QColor blue = WindowColors::blue();
    saveButton_->setStyleSheet(QStringLiteral("QPushButton { color: white; border: none; "
                                              "background-color: rgba(%1, %2, %3, 179); "
                                              "padding: 4px 8px; border-radius: 4px; }")
                                   .arg(blue.red())
                                   .arg(blue.green())
                                   .arg(blue.blue()));
    connect(saveButton_, &QPushButton::clicked, this, &StatusBar::saveRequested);
    recordButton_ = new RecordButton(saveButton_->styleSheet(), this);

    auto* indicator = new QHBoxLayout;
    indicator->setContentsMargins(0, 0, 0, 0);
    indicator->setSpacing(indicatorSpacing);
    indicator->addWidget(dot_, 0, Qt::AlignVCenter);
    indicator->addWidget(state_, 0, Qt::AlignVCenter);
    indicator->addWidget(camera_, 0, Qt::AlignVCenter);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(padding, padding, padding, padding);
    row->setSpacing(itemSpacing);
    row->addLayout(indicator);
    row->addStretch(1);
    for (QWidget* item :
         {static_cast<QWidget*>(frame_), static_cast<QWidget*>(separatorAfterFrame_),
          static_cast<QWidget*>(rate_), static_cast<QWidget*>(separatorBeforeSize_),
          static_cast<QWidget*>(size_), static_cast<QWidget*>(separatorBeforeButton_),
          static_cast<QWidget*>(saveButton_), static_cast<QWidget*>(recordButton_)}) {
        row->addWidget(item, 0, Qt::AlignVCenter);
    }
    present(State{});
}

QLabel* StatusBar::captionLabel(const char* name) {
    auto* label = new QLabel(this);
    label->setObjectName(name);
    label->setFont(TextStyle::caption(font()));
    return label;
}

void StatusBar::present(const State& state) {
    dot_->setColor(state.isReceiving ? WindowColors::green() : WindowColors::red());
    state_->setText(state.isReceiving ? tr("Connected") : tr("Disconnected"));

    const QString bullet = tr("•");
    frame_->setText(tr("Frame #%1").arg(static_cast<qlonglong>(state.lastFrameNumber)));
    separatorAfterFrame_->setText(bullet);
    // The rate is shown as made, with a full stop in every locale; it is not translated.
    rate_->setText(QString::fromStdString(formatOneDecimal(state.fps)) + QStringLiteral(" fps"));
    separatorBeforeSize_->setText(bullet);
    if (state.textureSize) {
        size_->setText(
            tr("%1×%2").arg(state.textureSize->width()).arg(state.textureSize->height()));
    }
    separatorBeforeButton_->setText(bullet);
    saveButton_->setText(tr("Save PNG"));
    updateCameraLabel();

    // Without frames the picture stays, with its number and size and the button that saves it;
    // only the rate goes, since none arrive.
    const bool withPicture = state.textureSize.has_value();
    const bool withFrame = state.isReceiving || withPicture;
    frame_->setVisible(withFrame);
    separatorAfterFrame_->setVisible(state.isReceiving);
    rate_->setVisible(state.isReceiving);
    separatorBeforeSize_->setVisible(withPicture);
    size_->setVisible(withPicture);
    separatorBeforeButton_->setVisible(withFrame);
    saveButton_->setVisible(withFrame);
    // A recording under way can be stopped whatever the host does.
    recordButton_->setVisible(withFrame || recordButton_->recording());
}

void StatusBar::presentCameraConsumers(uint32_t consumers) {
    cameraConsumers_ = consumers;
    updateCameraLabel();
}

void StatusBar::updateCameraLabel() {
    const int n = static_cast<int>(cameraConsumers_);
    camera_->setText(n == 1 ? tr("Camera: 1 app") : tr("Camera: %n apps", nullptr, n));
    camera_->setVisible(n > 0);
}

void StatusBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgbF(0, 0, 0, 0.7));
}
