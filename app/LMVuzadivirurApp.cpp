#include "app/LMVuzadivirurApp.h"

#include <sys/stat.h>

#include <QApplication>
#include <QLocale>
#include <QScreen>
#include <QSurfaceFormat>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/FatalReport.h"
#include "app/QuitOnSignals.h"
#include "app/RecordingControl.h"
#include "app/RecordingSinkFactory.h"
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
#include "stream/SettingsFile.h"

#ifndef LMV_VERSION
#define LMV_VERSION "unknown"
#endif

namespace {

constexpr std::string_view fatalLocation = "LMVuzadivirur/ContentView";
constexpr std::string_view noOpenGL = "Metal is not supported on this device";

constexpr const char* usage =
    "Usage: lm-vuzadivirur [--help] [--version] [--camera-name NAME]\n"
    "                      [--stream srt://HOST:PORT[?...]] [--stream-size WxH] [--stream-fps N]\n"
    "                      [--record FILE.mkv] [--record-quality standard|lossless]\n"
    "\n"
    "Shows the frames Lumetra writes into $XDG_RUNTIME_DIR/group.com.lumetra.visualizer/ in a\n"
    "live preview window, relays them to other applications as the PipeWire camera\n"
    "\"Lumetra Vuzadivirur\", and saves the frame on screen as a PNG on request.\n"
    "Log lines go to standard output. SIGINT and SIGTERM quit cleanly.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "  --camera-name NAME  the name other applications list the camera under (default\n"
    "             \"Lumetra Vuzadivirur\"), 1 to 64 bytes without control characters; a name\n"
    "             another camera has gets \" (2)\", \" (3)\", ... after it\n"
    "  --stream srt://HOST:PORT[?mode=listener|caller][&passphrase=...]\n"
    "             also send the frames as H.264 in MPEG-TS over SRT, which OBS, VLC and\n"
    "             ffmpeg open; a listener (the default) waits for clients on HOST:PORT,\n"
    "             a caller connects to a listener there; a passphrase (10 to 79\n"
    "             characters) encrypts the stream\n"
    "             [&latency=MS] SRT's latency in milliseconds, 0 to 60000 (default 125);\n"
    "             [&pbkeylen=16|24|32] the key length with a passphrase. PORT is 1 to\n"
    "             65535, an IPv6 address goes in brackets, values are percent-encoded\n"
    "             (%25 for '%', %26 for '&'); any other key is refused\n"
    "  --stream-size WxH  scale the stream to W by H pixels (default: the host's size)\n"
    "             even numbers from 16x16 to 7680x4320; an odd host size is padded\n"
    "             with a black column or row\n"
    "  --stream-fps N     send at most N frames a second (default: the host's rate)\n"
    "  --record FILE.mkv  record the frames from start to quit as H.264 in Matroska, each\n"
    "             at the time it was taken; a later host size is scaled to the first\n"
    "  --record-quality standard|lossless  standard (the default) looks like the source;\n"
    "             lossless keeps every value, for editing, at many times the size\n"
    "\n"
    "The same settings may stand as camera-name=..., stream=..., stream-size=... and\n"
    "stream-fps=... lines in\n"
    "$XDG_CONFIG_HOME/lm-vuzadivirur/lm-vuzadivirur.conf (~/.config by default); the command\n"
    "line wins. So may record=... and record-quality=... lines.\n"
    "A setting that is malformed, or an unknown option, stops the program with status 2\n"
    "before anything starts. Qt's own options (-platform, -style, -session, ...) are taken.\n";

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

constexpr size_t longestCameraName = 64;

// Takes a camera name as given, or says why not.
bool applyCameraName(std::string_view value, std::string& cameraName, std::string& failure) {
    const bool control = std::any_of(value.begin(), value.end(),
                                     [](char c) { return uint8_t(c) < 0x20 || c == 0x7f; });
    if (value.empty() || value.size() > longestCameraName || control) {
        failure = "camera-name: must be 1 to 64 bytes without control characters, not '" +
                  std::string(value) + "'";
        return false;
    }
    cameraName = value;
    return true;
}

// Qt's own options, as QApplication documents them: it takes them from the command line itself.
// Those of the first row take a value.
constexpr std::array<std::string_view, 12> qtOptionsWithValue{
    "-platform",        "-platformpluginpath", "-platformtheme", "-plugin",
    "-qwindowgeometry", "-qwindowicon",        "-qwindowtitle",  "-session",
    "-display",         "-geometry",           "-style",         "-stylesheet"};
constexpr std::array<std::string_view, 5> qtFlags{"-reverse", "-widgetcount", "-nograb", "-dograb",
                                                  "-sync"};

bool takesValue(std::string_view name) {
    return std::find(qtOptionsWithValue.begin(), qtOptionsWithValue.end(), name) !=
           qtOptionsWithValue.end();
}

bool isQtOption(std::string_view name) {
    return takesValue(name) || std::find(qtFlags.begin(), qtFlags.end(), name) != qtFlags.end();
}

// As ssh does for a private key: a passphrase others may read protects nothing.
void warnIfOthersCanRead(const std::filesystem::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0 || (status.st_mode & (S_IRGRP | S_IROTH)) == 0) return;
    std::printf(
        "⚠️ %s holds a stream passphrase and can be read by others (mode %03o); "
        "chmod 600 it\n",
        file.c_str(), unsigned(status.st_mode & 0777));
    std::fflush(stdout);
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
    // Every setting is taken whole before anything starts: a stream the user asked for either
    // runs as asked or the program does not start.
    StreamSettings stream;
    std::string cameraName;
    RecordingSettings recording;
    const auto apply = [&](std::string_view key, std::string_view value, std::string& why) {
        if (key == "camera-name") return applyCameraName(value, cameraName, why);
        return RecordingSettings::takes(key) ? recording.apply(key, value, why)
                                             : stream.apply(key, value, why);
    };
    std::string failure;
    const std::filesystem::path file = configFile();
    if (!file.empty() && !readSettingsFile(file, apply, failure)) {
        std::fprintf(stderr, "❌ %s\n", failure.c_str());
        return 2;
    }
    if (!stream.passphrase.empty()) warnIfOthersCanRead(file);
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const size_t equals = option.find('=');
        const std::string_view name = option.substr(0, equals);
        if (name == "--stream" || name == "--stream-size" || name == "--stream-fps" ||
            name == "--camera-name" || name == "--record" || name == "--record-quality") {
            if (equals == std::string_view::npos && i + 1 >= argc) {
                std::fprintf(stderr, "❌ %s needs a value; see lm-vuzadivirur --help\n", argv[i]);
                return 2;
            }
            const std::string_view value =
                equals == std::string_view::npos ? argv[++i] : option.substr(equals + 1);
            if (!apply(name.substr(2), value, failure)) {
                std::fprintf(stderr, "❌ %s\n", failure.c_str());
                return 2;
            }
        } else if (isQtOption(name)) {
            i += equals == std::string_view::npos && takesValue(name);
        } else {
            std::fprintf(stderr, "❌ unknown option '%s'; see lm-vuzadivirur --help\n", argv[i]);
            return 2;
        }
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
        LMVuzadivirurApp app(stream, recording, cameraName);
        QApplication::exec();
    }
    // A pending notification job still holds the receiver: it runs its check, then the
    // receiver's teardown follows, all before the application object goes.
    QtRunLoop::runPendingJobs();
    // Qt's Wayland platform can hang tearing its connection down: its event thread may stop
    // holding a read it prepared for the main thread, and its frame-callback thread then waits in
    // wl_display_read_events() for that read for ever. Everything of ours is down and logged by
    // now, so there the process ends without the platform's teardown; the compositor sees the
    // connection close with the process, and the log's quick-exit handler flushes its lines.
    if (QGuiApplication::platformName() == QLatin1String("wayland")) {
        std::fflush(stdout);
        std::quick_exit(0);
    }
    return 0;
}

ReceiverPlatform LMVuzadivirurApp::makePlatform(const StreamSettings& stream,
                                                CameraOptions camera) {
    // One log for the receiver, its relay and the snapshot export.
    auto runLoop = std::make_shared<QtRunLoop>();
    auto log = std::make_shared<StdoutLogSink>();
    std::shared_ptr<FrameSinkFactory> relay =
        std::make_shared<PipeWireRelayFactory>(log, runLoop, std::move(camera));
    if (stream.streams())
        relay = std::make_shared<StreamingRelayFactory>(relay, stream, log, runLoop);
    return ReceiverPlatform{runLoop,
                            std::make_shared<DBusFrameSignal>(),
                            std::make_shared<XdgSharedFolderLocator>(),
                            std::make_shared<SteadyClock>(),
                            log,
                            relay};
}

LMVuzadivirurApp::LMVuzadivirurApp(const StreamSettings& stream, const RecordingSettings& recording,
                                   const std::string& cameraName)
    : frameStore_(gpu::FrameStore::create()) {
    if (!gpu::openGLAvailable()) fatalReport(fatalLocation, noOpenGL);
    // Told only from the PipeWire loop's dispatch on the main thread, once the window exists.
    CameraOptions camera{cameraName, [this](uint32_t consumers) {
                             if (window_) window_->showCameraConsumers(consumers);
                         }};
    ReceiverPlatform platform = makePlatform(stream, std::move(camera));
    recording_ =
        std::make_shared<RecordingControl>(recording.quality, platform.log, platform.runLoop);
    platform.relay = std::make_shared<RecordingSinkFactory>(platform.relay, recording_);
    receiver_ = TextureReceiver::create(frameStore_, platform);
    if (!receiver_) {
        fatalReport(fatalLocation,
                    "Failed to initialize TextureReceiver - check App Group entitlements");
    }
    window_ = std::make_unique<ContentView>(std::make_shared<TextureReceiverState>(receiver_),
                                            platform.log);
    window_->setRecordingControl(recording_);
    window_->setWindowTitle(tr("LM Vuzadivirur"));
    window_->resize(firstWindowSize(*window_));
    window_->show();
    // Where the window draws its own frame (Wayland), the frame is known once it is shown.
    window_->resize(firstWindowSize(*window_));
    if (recording.records()) recording_->start(recording.path);
}

LMVuzadivirurApp::~LMVuzadivirurApp() {
    window_.reset();
    recording_->finishAll();
    receiver_.reset();
}
