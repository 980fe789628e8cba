// The program as a person starts it: the real binary in a child process, beside the test's
// X display, session bus and PipeWire. How it stops on SIGTERM and SIGINT, and its two fatal
// start-up checks. Also closing the window, in this process.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QSurfaceFormat>
#include <QTimer>
#include <QtTest>

#include "app/LMVuzadivirurApp.h"
#include "preview/MetalTextureView.h"
#include "receiver/Configuration.h"
#include "tests/preview/KeepGlDriversLoaded.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

namespace {

const QString program = QStringLiteral(LMV_APP_BINARY);

QStringList lines(const QByteArray& output) {
    return QString::fromUtf8(output).split('\n', Qt::SkipEmptyParts);
}

// The line of app/ContentView.cpp that reports `message`: the fatal report names it.
int fatalLineFor(const QString& message) {
    QFile source(QStringLiteral(LMV_CONTENT_VIEW_SOURCE));
    if (!source.open(QIODevice::ReadOnly)) return -1;
    const QStringList text = QString::fromUtf8(source.readAll()).split('\n');
    for (int i = 0; i < text.size(); ++i) {
        if (!text[i].contains(message)) continue;
        for (int j = i; j >= 0; --j) {
            if (text[j].contains("fatalReport(")) return j + 1;
        }
    }
    return -1;
}

// An environment whose application-group folder is `runtime`, keeping the test's PipeWire.
QProcessEnvironment environmentWithRuntime(const TempDirectory& runtime) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (env.contains("XDG_RUNTIME_DIR") && !env.contains("PIPEWIRE_RUNTIME_DIR")) {
        env.insert("PIPEWIRE_RUNTIME_DIR", env.value("XDG_RUNTIME_DIR"));
    }
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.path().string()));
    return env;
}

// Reads the child's standard output until `line` has been printed.
bool waitForLine(QProcess& process, QByteArray& output, const QByteArray& line) {
    for (int i = 0; i < 600 && !output.contains(line + '\n'); ++i) {
        if (process.state() == QProcess::NotRunning) break;
        process.waitForReadyRead(100);
        output += process.readAllStandardOutput();
    }
    return output.contains(line + '\n');
}

}  // namespace

class AppProcessTest : public QObject {
    Q_OBJECT

  private:
    // Starts the program beside a frame already in the shared file, waits until it is ready,
    // sends `signalNumber` and checks that it stopped cleanly.
    void stopsCleanlyOn(int signalNumber) {
        TempDirectory runtime;
        std::string failure;
        auto writer =
            SharedFrameWriter::create(runtime.path() / config::appGroupIdentifier, {}, failure);
        QVERIFY2(writer != nullptr, failure.c_str());
        const std::vector<uint8_t> pixels = TestPattern::quadrants(320, 180, 320 * 4);
        QVERIFY(writer->writeFrame(1, 320, 180, 320 * 4, pixels.data()));

        QProcess process;
        QProcessEnvironment env = environmentWithRuntime(runtime);
        // In a sanitizer build: Mesa unloads its driver as the display closes, and the blocks
        // its globals held then look leaked from a module LeakSanitizer cannot name or suppress.
        // This test is about how the program stops; its teardown's own leaks are checked in
        // this process (closingTheWindowQuitsAndTearsTheReceiverDown).
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        process.setProcessEnvironment(env);
        process.start(program, {});
        QVERIFY(process.waitForStarted());
        QByteArray output;
        QVERIFY2(waitForLine(process, output, "⏱️ Polling timer started (60Hz)"),
                 output.constData());
        QVERIFY(output.contains("✅ TextureReceiver initialized with shared memory\n"));

        QCOMPARE(::kill(static_cast<pid_t>(process.processId()), signalNumber), 0);
        QVERIFY(process.waitForFinished(60000));
        output += process.readAllStandardOutput();
        const QByteArray errors = process.readAllStandardError();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == 0, errors.constData());
        const QStringList printed = lines(output);
        QCOMPARE(printed.last(), "🛑 Syphon server stopped");
        QCOMPARE(printed.count("🛑 Syphon server stopped"), 1);
        QVERIFY2(!errors.contains("Fatal error"), errors.constData());
    }

  private Q_SLOTS:
    void sigtermQuitsAndTearsTheReceiverDown() { stopsCleanlyOn(SIGTERM); }

    void sigintQuitsAndTearsTheReceiverDown() { stopsCleanlyOn(SIGINT); }

    void withoutOpenGLItStopsWithAFatalReport() {
        TempDirectory runtime;
        QProcess process;
        QProcessEnvironment env = environmentWithRuntime(runtime);
        env.insert("QT_XCB_GL_INTEGRATION", "none");  // an X display where GL cannot be had
        process.setProcessEnvironment(env);
        process.start(program, {});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY(process.exitCode() != 0);
        const QString message = QStringLiteral("Metal is not supported on this device");
        const QStringList errors = lines(process.readAllStandardError());
        QVERIFY(!errors.isEmpty());
        QCOMPARE(errors.last(), QStringLiteral("LMVuzadivirur/ContentView:%1: Fatal error: %2")
                                    .arg(fatalLineFor(message))
                                    .arg(message));
        QCOMPARE(errors.filter("Fatal error").size(), 1);
        QVERIFY(process.readAllStandardOutput().isEmpty());  // nothing is logged before it
    }

    void withoutTheSharedFolderItStopsAfterTheReceiversOwnLine() {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (env.contains("XDG_RUNTIME_DIR")) {
            env.insert("PIPEWIRE_RUNTIME_DIR", env.value("XDG_RUNTIME_DIR"));
        }
        env.remove("XDG_RUNTIME_DIR");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);  // to see the order of both
        process.start(program, {});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY(process.exitCode() != 0);
        const QString message =
            QStringLiteral("Failed to initialize TextureReceiver - check App Group entitlements");
        const QStringList printed = lines(process.readAll());
        QVERIFY(!printed.isEmpty());
        QCOMPARE(printed.last(), QStringLiteral("LMVuzadivirur/ContentView:%1: Fatal error: %2")
                                     .arg(fatalLineFor(message))
                                     .arg(message));
        const qsizetype reason = printed.indexOf("❌ Failed to get App Group container URL");
        QVERIFY2(reason >= 0, qPrintable(printed.join('\n')));
        QVERIFY(reason < printed.size() - 1);
    }

    void closingTheWindowQuitsAndTearsTheReceiverDown() {
        TempDirectory runtime;
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        if (!savedRuntime.isEmpty() && !qEnvironmentVariableIsSet("PIPEWIRE_RUNTIME_DIR")) {
            qputenv("PIPEWIRE_RUNTIME_DIR", savedRuntime);
        }
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path().string()));

        // The log goes to standard output: catch it in a file meanwhile.
        const std::string logPath = (runtime.path() / "stdout.txt").string();
        std::fflush(stdout);
        const int savedStdout = ::dup(1);
        const int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        QVERIFY(savedStdout >= 0 && logFd >= 0);
        ::dup2(logFd, 1);
        ::close(logFd);
        bool windowWasShown = false;
        {
            LMVuzadivirurApp app;
            windowWasShown = app.window().isVisible();
            QTimer::singleShot(0, &app.window(), [&app] { app.window().close(); });
            QApplication::exec();  // returns once the last window has closed
        }
        std::fflush(stdout);
        ::dup2(savedStdout, 1);
        ::close(savedStdout);
        qputenv("XDG_RUNTIME_DIR", savedRuntime);

        QVERIFY(windowWasShown);
        QFile log(QString::fromStdString(logPath));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList printed = lines(log.readAll());
        QVERIFY2(printed.contains("⏱️ Polling timer started (60Hz)"),
                 qPrintable(printed.join('\n')));
        QCOMPARE(printed.last(), "🛑 Syphon server stopped");
    }

    void windowTitle() {
        TempDirectory runtime;
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path().string()));
        {
            LMVuzadivirurApp app;
            QCOMPARE(app.window().windowTitle(), "LM Vuzadivirur");
            QVERIFY(app.window().width() >= 640 && app.window().height() >= 480);
        }
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
    }
};

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(MetalTextureView::surfaceFormat());
    QApplication application(argc, argv);
    AppProcessTest test;
    const int failures = QTest::qExec(&test, argc, argv);
    keepGlDriversLoaded();  // GL has been used by now
    return failures;
}

#include "AppProcessTest.moc"
