#include "app/ContentView.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QEventLoopLocker>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QShortcut>
#include <QStandardPaths>
#include <QWindow>
#include <cmath>

#include "app/FatalReport.h"
#include "app/RecordingControl.h"
#include "app/StatusBar.h"
#include "app/WaitingPanel.h"
#include "app/WindowColors.h"
#include "preview/PreviewRenderer.h"

namespace {

constexpr int minimumContentWidth = 640;
constexpr int minimumContentHeight = 480;
constexpr std::string_view previewFatalLocation = "LMVuzadivirur/MetalTextureView";

// A dialog, not modal, that asks where to save a new file of the type `nameFilter` names; new
// folders may be made in it.
QFileDialog* newSaveDialog(QWidget* parent, const char* objectName, const QString& nameFilter,
                           const QString& suffix) {
    auto* dialog = new QFileDialog(parent);
    dialog->setObjectName(objectName);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(nameFilter);
    dialog->setDefaultSuffix(suffix);
    dialog->setOption(QFileDialog::ReadOnly, false);
    dialog->setWindowModality(Qt::NonModal);
    return dialog;
}

}  // namespace

ContentView::ContentView(std::shared_ptr<ReceiverState> receiver, std::shared_ptr<LogSink> log,
                         QWidget* parent)
    : QWidget(parent),
      _textureReceiver(std::move(receiver)),
      log_(std::move(log)),
      snapshotWriter_(log_),
      note_(new QLabel(this)),
      waitingPanel_(new WaitingPanel(this)),
      statusBar_(new StatusBar(this)) {
    setObjectName("contentView");
    setMinimumSize(minimumContentWidth, minimumContentHeight);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    // The note keeps the default text style, but the default foreground of a light desktop theme
    // is black, which would vanish on the black background: it gets a light colour of its own.
    note_->setObjectName("compatibilityNote");
    QPalette notePalette = note_->palette();
    notePalette.setColor(QPalette::WindowText, WindowColors::noteText());
    note_->setPalette(notePalette);
    note_->setAlignment(Qt::AlignCenter);
    note_->setWordWrap(true);
    note_->setText(tr("Note: LM Vuzadivirur requires Lumetra 2.5 or later to be installed."));

    connect(statusBar_, &StatusBar::saveRequested, this, &ContentView::saveCurrentFrame);
    connect(statusBar_->recordButton(), &QPushButton::clicked, this, &ContentView::toggleRecording);
    // As on every desktop. Quitting or closing finishes a recording under way first: the
    // application does that as it tears down.
    const auto shortcut = [this](QKeyCombination keys, auto action) {
        connect(new QShortcut(QKeySequence(keys), this), &QShortcut::activated, this, action);
    };
    shortcut(Qt::CTRL | Qt::Key_S, &ContentView::saveCurrentFrame);
    shortcut(Qt::CTRL | Qt::Key_R, &ContentView::toggleRecording);
    shortcut(Qt::CTRL | Qt::Key_Q, [] { QCoreApplication::quit(); });
    shortcut(Qt::CTRL | Qt::Key_W, [this] { window()->close(); });
    willChangeConnection_ =
        _textureReceiver->objectWillChange().connect([this] { scheduleEvaluation(); });
    evaluate();
}

ContentView::~ContentView() {
    _textureReceiver->objectWillChange().disconnect(willChangeConnection_);
}

void ContentView::scheduleEvaluation() {
    // However many changes come before the next pass of the event loop, that pass evaluates once.
    if (evaluationPending_) return;
    evaluationPending_ = true;
    QMetaObject::invokeMethod(this, &ContentView::evaluate, Qt::QueuedConnection);
}

void ContentView::evaluate() {
    evaluationPending_ = false;
    ++evaluations_;
    const std::shared_ptr<gpu::Texture> texture = _textureReceiver->currentTexture();
    QWindow* window = windowHandle();
    if (window && !window->isExposed() && preview_ && texture) {
        // Minimised or hidden: the preview keeps the newest frame for when it is shown, and the
        // texts and layout wait for the window to be exposed again.
        PreviewWidget::setTexture(preview_, *renderer_, texture);
        staleWhileHidden_ = true;
        return;
    }
    staleWhileHidden_ = false;

    if (texture) {
        showPreview(texture);
        previewTextureSize_ =
            QSize(static_cast<int>(texture->width()), static_cast<int>(texture->height()));
    } else {
        removePreview();
        previewTextureSize_.reset();
    }
    waitingPanel_->setVisible(!texture);

    StatusBar::State state;
    state.isReceiving = _textureReceiver->isReceiving();
    state.lastFrameNumber = _textureReceiver->lastFrameNumber();
    state.fps = _textureReceiver->fps();
    state.textureSize = previewTextureSize_;
    statusBar_->present(state);
    layoutContent();
}

void ContentView::showCameraConsumers(uint32_t consumers) {
    statusBar_->presentCameraConsumers(consumers);
    layoutContent();  // the bar may have grown a line
}

void ContentView::showPreview(const std::shared_ptr<gpu::Texture>& texture) {
    if (!preview_) {
        renderer_ = PreviewWidget::createRenderer(texture);
        // No shaders: the preview cannot exist.
        if (!renderer_) fatalReport(previewFatalLocation);
        preview_ = PreviewWidget::createWidget(
            renderer_, [](const std::string& reason) { fatalReport(previewFatalLocation, reason); },
            this);
        preview_->setObjectName("preview");
        preview_->lower();
        preview_->show();
    }
    PreviewWidget::setTexture(preview_, *renderer_, texture);
}

void ContentView::removePreview() {
    if (!preview_) return;
    // The preview leaves the window: its view and its renderer go together.
    preview_->hide();
    preview_->deleteLater();
    preview_ = nullptr;
    renderer_.reset();
}

void ContentView::resizeEvent(QResizeEvent*) { layoutContent(); }

void ContentView::showEvent(QShowEvent*) {
    // The native window exists once shown; it tells when it is exposed again.
    if (QWindow* window = windowHandle(); window && window != watchedWindow_) {
        if (watchedWindow_) watchedWindow_->removeEventFilter(this);
        watchedWindow_ = window;
        window->installEventFilter(this);
    }
}

bool ContentView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == watchedWindow_ && event->type() == QEvent::Expose && staleWhileHidden_ &&
        watchedWindow_->isExposed()) {
        scheduleEvaluation();
    }
    return false;
}

void ContentView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) retranslate();
    QWidget::changeEvent(event);
}

void ContentView::retranslate() {
    note_->setText(tr("Note: LM Vuzadivirur requires Lumetra 2.5 or later to be installed."));
    waitingPanel_->retranslate();
    evaluate();
}

void ContentView::layoutContent() {
    const int w = width();
    const int h = height();
    const int noteHeight = note_->heightForWidth(w);
    const int barHeight = statusBar_->sizeHint().height();

    // The middle of the column: the preview, as large as the texture's aspect ratio allows in
    // the space the note and the bar leave, or the waiting panel at its own height.
    QSize middle;
    int gap = 0;  // between the note and the middle
    if (previewTextureSize_) {
        const double ratio = static_cast<double>(previewTextureSize_->width()) /
                             static_cast<double>(previewTextureSize_->height());
        const int offeredHeight = std::max(0, h - noteHeight - barHeight);
        if (offeredHeight * ratio <= w) {
            middle = QSize(static_cast<int>(std::lround(offeredHeight * ratio)), offeredHeight);
        } else {
            middle = QSize(w, std::min(offeredHeight, static_cast<int>(std::lround(w / ratio))));
        }
    } else {
        // The spinner keeps the column space of its unscaled size, but its enlarged drawing
        // reaches above that: the note stays clear of it.
        middle = QSize(w, waitingPanel_->layoutHeight());
        gap = waitingPanel_->overhang();
    }

    const int columnHeight = noteHeight + gap + middle.height() + barHeight;
    const int top = (h - columnHeight) / 2;
    note_->setGeometry(0, top, w, noteHeight);
    const QRect slot((w - middle.width()) / 2, top + noteHeight + gap, middle.width(),
                     middle.height());
    if (preview_) {
        preview_->setGeometry(slot);
    } else {
        waitingPanel_->place(QRect(0, slot.y(), w, slot.height()));
    }
    statusBar_->setGeometry(0, slot.bottom() + 1, w, barHeight);
}

void ContentView::saveCurrentFrame() {
    std::shared_ptr<gpu::Texture> texture = _textureReceiver->currentTexture();
    if (!texture) return;
    const int64_t frameNumber = _textureReceiver->lastFrameNumber();

    // Not modal: frames keep coming while it is open, and each click opens a dialog of its own
    // holding the frame of that click.
    auto* dialog =
        newSaveDialog(this, "saveDialog", tr("PNG image (*.png)"), QStringLiteral("png"));
    dialog->selectFile(QStringLiteral("frame_%1.png").arg(static_cast<qlonglong>(frameNumber)));
    // While it is open, closing the window does not end the application: the answer and the save
    // it starts still count. The hold goes with the dialog, once that save holds its own.
    auto keepRunning = std::make_shared<QEventLoopLocker>();
    connect(dialog, &QFileDialog::finished, this, [this, dialog, texture, keepRunning](int result) {
        writeSnapshot(result, dialog, texture);
        dialog->deleteLater();
    });
    dialog->show();
}

void ContentView::writeSnapshot(int result, QFileDialog* dialog,
                                std::shared_ptr<gpu::Texture> texture) {
    if (result != QDialog::Accepted || dialog == nullptr || !texture) return;
    // The file holds a PNG whatever name was typed.
    actOnChosenFile(*dialog, QLatin1String("png"),
                    [this, texture](const QString& path) { snapshotWriter_.save(texture, path); });
}

void ContentView::actOnChosenFile(QFileDialog& dialog, QLatin1String suffix,
                                  std::function<void(const QString&)> act) {
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty()) return;
    QString path = QDir::toNativeSeparators(files.first());
    const bool typed = QFileInfo(path).suffix().compare(suffix, Qt::CaseInsensitive) == 0;
    if (!typed) path += QLatin1Char('.') + suffix;
    if (typed || !QFileInfo::exists(path)) {
        act(path);
        return;
    }
    // The dialog asked about the name it was given, not the one with the suffix added.
    askToReplace(path, [act, path] { act(path); });
}

void ContentView::askToReplace(const QString& path, std::function<void()> replace) {
    // Asked as the dialog would, and, like the dialog, not modal and holding the application
    // until answered.
    auto* question = new QMessageBox(
        QMessageBox::Question, tr("Replace File"),
        tr("%1 already exists.\nDo you want to replace it?").arg(QFileInfo(path).fileName()),
        QMessageBox::Yes | QMessageBox::No, this);
    question->setObjectName("replaceQuestion");
    question->setDefaultButton(QMessageBox::No);
    question->setWindowModality(Qt::NonModal);
    auto keepRunning = std::make_shared<QEventLoopLocker>();
    connect(question, &QMessageBox::finished, this, [question, replace, keepRunning] {
        if (question->clickedButton() == question->button(QMessageBox::Yes)) replace();
        question->deleteLater();
    });
    question->show();
}

void ContentView::setRecordingControl(std::shared_ptr<RecordingControl> recording) {
    recording_ = std::move(recording);
    connect(recording_.get(), &RecordingControl::recordingChanged, this, [this](bool on) {
        statusBar_->recordButton()->setRecording(on, recording_->startedAt());
        scheduleEvaluation();  // a stopped recording's button goes with the picture
    });
}

void ContentView::toggleRecording() {
    if (!recording_) return;
    if (recording_->recording()) {
        recording_->stop();
        return;
    }
    auto* dialog =
        newSaveDialog(this, "recordDialog", tr("Matroska video (*.mkv)"), QStringLiteral("mkv"));
    const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (!movies.isEmpty() && QFileInfo(movies).isDir()) dialog->setDirectory(movies);
    dialog->selectFile(QDateTime::currentDateTime().toString(
        QStringLiteral("'recording_'yyyy-MM-dd_HH-mm-ss'.mkv'")));
    auto keepRunning = std::make_shared<QEventLoopLocker>();
    connect(dialog, &QFileDialog::finished, this, [this, dialog, keepRunning](int result) {
        startRecording(result, dialog);
        dialog->deleteLater();
    });
    dialog->show();
}

void ContentView::startRecording(int result, QFileDialog* dialog) {
    if (result != QDialog::Accepted || !recording_ || recording_->recording()) return;
    // The file holds Matroska whatever name was typed, as Save PNG's holds a PNG.
    actOnChosenFile(*dialog, QLatin1String("mkv"), [this](const QString& path) {
        if (!recording_->recording()) recording_->start(path.toStdString());
    });
}
