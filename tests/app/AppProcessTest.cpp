// The program as a person starts it: the real binary in a child process, beside the test's X
// display, session bus and PipeWire; how it stops on SIGTERM and SIGINT, and its two fatal
// start-up checks. Also closing the window, in this process.
#include <signal.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include "receiver/Configuration.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

namespace {

QStringList lines(const QByteArray& output) {
    return QString::fromUtf8(output).split('\n', Qt::SkipEmptyParts);
}

// The fatal report for `message`, naming the line of app/ContentView.cpp that reports it.
QString fatalReport(const QString& message) {
    QFile source(QStringLiteral(LMV_CONTENT_VIEW_SOURCE));
    const QStringList text = source.open(QIODevice::ReadOnly)
                                 ? QString::fromUtf8(source.readAll()).split('\n')
                                 : QStringList();
    int line = text.indexOf(QRegularExpression(".*" + QRegularExpression::escape(message) + ".*"));
    while (line >= 0 && !text[line].contains("fatalReport(")) --line;
    return QStringLiteral("LMVuzadivirur/ContentView:%1: Fatal error: %2")
        .arg(line + 1)
        .arg(message);
}

// An environment whose application-group folder is in `runtime` (none when null), keeping the
// test's PipeWire.
QProcessEnvironment environment(const TempDirectory* runtime) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains("PIPEWIRE_RUNTIME_DIR")) {
        env.insert("PIPEWIRE_RUNTIME_DIR", env.value("XDG_RUNTIME_DIR"));
    }
    env.remove("XDG_RUNTIME_DIR");
    if (runtime) env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime->path().string()));
    // In a sanitizer build Mesa's driver, unloaded as the display closes, leaves blocks that
    // LeakSanitizer cannot attribute; the teardown's own leaks are checked in this process.
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    return env;
}

// Starts the program, its standard error merged into its standard output.
void start(QProcess& process, const QProcessEnvironment& env) {
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(LMV_APP_BINARY), {});
}

}  // namespace

class AppProcessTest : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void stopsCleanlyOnASignal_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }

    // Started beside a frame already in the shared file, it stops with status 0 and tears the
    // receiver down once, as its last line.
    void stopsCleanlyOnASignal() {
        QFETCH(int, signalNumber);
        TempDirectory runtime;
        std::string failure;
        auto writer =
            SharedFrameWriter::create(runtime.path() / config::appGroupIdentifier, {}, failure);
        QVERIFY2(writer != nullptr, failure.c_str());
        const std::vector<uint8_t> pixels = TestPattern::quadrants(320, 180, 320 * 4);
        QVERIFY(writer->writeFrame(1, 320, 180, 320 * 4, pixels.data()));

        QProcess process;
        start(process, environment(&runtime));
        QByteArray output;
        for (int i = 0; i < 600 && !output.contains("⏱️ Polling timer started (60Hz)\n"); ++i) {
            if (process.state() == QProcess::NotRunning) break;
            process.waitForReadyRead(100);
            output += process.readAll();
        }
        QVERIFY2(output.contains("✅ TextureReceiver initialized with shared memory\n"), output);
        QVERIFY2(output.contains("⏱️ Polling timer started (60Hz)\n"), output);

        QCOMPARE(::kill(static_cast<pid_t>(process.processId()), signalNumber), 0);
        QVERIFY(process.waitForFinished(60000));
        output += process.readAll();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == 0, output);
        const QStringList printed = lines(output);
        QCOMPARE(printed.last(), "🛑 Syphon server stopped");
        QCOMPARE(printed.count("🛑 Syphon server stopped"), 1);
    }

    void fatalStartUpChecks_data() {
        QTest::addColumn<bool>("withoutOpenGL");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("logged");  // the receiver's own line before the report
        QTest::newRow("no OpenGL") << true << "Metal is not supported on this device" << QString();
        QTest::newRow("no receiver")
            << false << "Failed to initialize TextureReceiver - check App Group entitlements"
            << "❌ Failed to get App Group container URL";
    }

    // A fatal report as the last line and a failure status; before it the receiver's own line,
    // or without OpenGL nothing at all.
    void fatalStartUpChecks() {
        QFETCH(bool, withoutOpenGL);
        QFETCH(QString, message);
        QFETCH(QString, logged);
        TempDirectory runtime;
        QProcess process;
        // An X display where GL cannot be had, or no application-group folder at all.
        QProcessEnvironment env = environment(withoutOpenGL ? &runtime : nullptr);
        if (withoutOpenGL) env.insert("QT_XCB_GL_INTEGRATION", "none");
        start(process, env);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY(process.exitCode() != 0);
        const QStringList printed = lines(process.readAll());
        QVERIFY(!printed.isEmpty());
        QCOMPARE(printed.last(), fatalReport(message));
        QCOMPARE(printed.filter("Fatal error").size(), 1);
        const QStringList logLines = printed.filter(QRegularExpression("^(✅|❌|📡|⏱️)"));
        QVERIFY2(logged.isEmpty() ? logLines.isEmpty() : logLines.contains(logged),
                 qPrintable(printed.join('\n')));
    }
};

int main(int argc, char** argv) { return runGlTests<AppProcessTest>(argc, argv); }

#include "AppProcessTest.moc"
