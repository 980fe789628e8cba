#include "app/LMVuzadivirurApp.h"

#include <QApplication>
#include <QLocale>
#include <QScreen>
#include <QSurfaceFormat>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/FatalReport.h"
#include "app/QuitOnSignals.h"
#include "app/StreamingRelayFactory.h"
#include "app/TextureReceiverState.h"
#include "app/Translations.h"
#include "gpu/OpenGLAvailable.h"
#include "platform/DBusFrameSignal.h"
#include "platform/QtRunLoop.h"
#include "platform/StdoutLogSink.h"
#include "platform/SteadyClock.h"
#include "platform/XdgSharedFolderLocator.h"
#include "preview/PreviewWidget.h"
#include "receiver/TextureReceiver.h"
#include "relay/PipeWireRelayFactory.h"

#ifndef LMV_VERSION
#define LMV_VERSION "unknown"
#endif

namespace {

constexpr std::string_view fatalLocation = "LMVuzadivirur/ContentView";
constexpr std::string_view noOpenGL = "Metal is not supported on this device";

constexpr const char* usage =
    "Usage: lm-vuzadivirur [--help] [--version] [--stream srt://HOST:PORT[?...]]\n"
    "                      [--stream-size WxH] [--stream-fps N]\n"
    "\n"
    "Shows the frames Lumetra writes into $XDG_RUNTIME_DIR/group.com.lumetra.visualizer/ in a\n"
    "live preview window, relays them to other applications as the PipeWire camera\n"
    "\"Lumetra Vuzadivirur\", and saves the frame on screen as a PNG on request.\n"
    "Log lines go to standard output. SIGINT and SIGTERM quit cleanly.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "  --stream srt://HOST:PORT[?mode=listener|caller][&passphrase=...]\n"
    "             also send the frames as H.264 in MPEG-TS over SRT, which OBS, VLC and\n"
    "             ffmpeg open; a listener (the default) waits for clients on HOST:PORT,\n"
    "             a caller connects to a listener there; a passphrase (10 to 79\n"
    "             characters) encrypts the stream\n"
    "  --stream-size WxH  scale the stream to W by H pixels (default: the host's size)\n"
    "  --stream-fps N     send at most N frames a second (default: the host's rate)\n"
    "\n"
    "The same settings may stand as stream=..., stream-size=... and stream-fps=... lines in\n"
    "$XDG_CONFIG_HOME/lm-vuzadivirur/lm-vuzadivirur.conf (~/.config by default); the command\n"
    "line wins.\n";

// The user's stream configuration file.
std::filesystem::path configFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::filesystem::path folder;
    if (config && config[0] == '/')
        folder = config;
    else if (home && home[0] == '/')
        folder = std::filesystem::path(home) / ".config";
    else
        return {};
    return folder / "lm-vuzadivirur" / "lm-vuzadivirur.conf";
}

// The window's first size: the usual one where the screen's available area leaves room for it
// and its frame, else as much as fits, never below the content's minimum.
QSize firstWindowSize(const QWidget& window) {
    const QSize usual(960, 680);
    const QWindow* handle = window.windowHandle();
    const QMargins frame = handle ? handle->frameMargins() : QMargins();
    const QSize room = window.screen()->availableGeometry().size().shrunkBy(frame);
    return usual.boundedTo(room).expandedTo(window.minimumSize());
}

// Qt ends the process with abort() when no windowing platform can be had (no display at all).
// During the application object's construction, such a fatal message is the missing OpenGL.
QtMessageHandler previousHandler = nullptr;

void reportMissingDisplay(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (previousHandler) previousHandler(type == QtFatalMsg ? QtCriticalMsg : type, context, text);
    if (type == QtFatalMsg) fatalReport(fatalLocation, noOpenGL);
}

}  // namespace

int LMVuzadivirurApp::main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("lm-vuzadivirur %s\n", LMV_VERSION);
            return 0;
        }
    }
    StreamSettings stream;
    std::string failure;
    const std::filesystem::path file = configFile();
    bool valid = file.empty() || stream.applyFile(file, failure);
    for (int i = 1; valid && i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option.substr(0, 8) != "--stream") continue;
        if (i + 1 >= argc) {
            failure = std::string(option) + " needs a value";
            valid = false;
            break;
        }
        valid = stream.apply(option.substr(2), argv[++i], failure);
    }
    if (!valid) {
        std::fprintf(stderr, "lm-vuzadivirur: %s\n", failure.c_str());
        return 2;
    }

    // Before the application object, so that every GL context shares the preview's format.
    QSurfaceFormat::setDefaultFormat(PreviewWidget::surfaceFormat());
    previousHandler = qInstallMessageHandler(reportMissingDisplay);
    QApplication application(argc, argv);
    qInstallMessageHandler(previousHandler);
    QApplication::setApplicationName(QStringLiteral("lm-vuzadivirur"));
    QApplication::setApplicationVersion(QStringLiteral(LMV_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("lm-vuzadivirur"));

    const std::unique_ptr<QuitOnSignals> quitOnSignals = QuitOnSignals::install();
    const Translations translations(QLocale::system());
    {
        LMVuzadivirurApp app(stream);
        QApplication::exec();
    }
    // A pending notification job still holds the receiver: it runs its check, then the
    // receiver's teardown follows, all before the application object goes.
    QtRunLoop::runPendingJobs();
    return 0;
}

ReceiverPlatform LMVuzadivirurApp::makePlatform(const StreamSettings& stream) {
    // One log for the receiver, its relay and the snapshot export.
    auto runLoop = std::make_shared<QtRunLoop>();
    auto log = std::make_shared<StdoutLogSink>();
    std::shared_ptr<FrameSinkFactory> relay = std::make_shared<PipeWireRelayFactory>(log, runLoop);
    if (!stream.uri.empty())
        relay = std::make_shared<StreamingRelayFactory>(relay, stream, log, runLoop);
    return ReceiverPlatform{runLoop,
                            std::make_shared<DBusFrameSignal>(),
                            std::make_shared<XdgSharedFolderLocator>(),
                            std::make_shared<SteadyClock>(),
                            log,
                            relay};
}

LMVuzadivirurApp::LMVuzadivirurApp(const StreamSettings& stream)
    : frameStore_(gpu::FrameStore::create()) {
    if (!gpu::openGLAvailable()) fatalReport(fatalLocation, noOpenGL);
    const ReceiverPlatform platform = makePlatform(stream);
    receiver_ = TextureReceiver::create(frameStore_, platform);
    if (!receiver_) {
        fatalReport(fatalLocation,
                    "Failed to initialize TextureReceiver - check App Group entitlements");
    }
    window_ = std::make_unique<ContentView>(std::make_shared<TextureReceiverState>(receiver_),
                                            platform.log);
    window_->setWindowTitle(tr("LM Vuzadivirur"));
    window_->resize(firstWindowSize(*window_));
    window_->show();
    // Where the window draws its own frame (Wayland), the frame is known once it is shown.
    window_->resize(firstWindowSize(*window_));
}

LMVuzadivirurApp::~LMVuzadivirurApp() {
    window_.reset();
    receiver_.reset();
}
