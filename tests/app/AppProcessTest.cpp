// The real program in a child process, beside the test's display (X or Wayland), session bus and
// PipeWire: how it stops on SIGTERM and SIGINT, and its fatal start-up checks.
#include <signal.h>
#include <sys/stat.h>

#include <QProcess>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "format/Configuration.h"
#include "tests/support/TempDirectory.h"
#include "tools/writer/SharedFrameWriter.h"
#include "tools/writer/TestPattern.h"

namespace {

// Starts the program with its application-group folder in `runtime` (none when null), keeping
// the test's PipeWire, with `name` set to `value` (or removed when `value` is null) if given;
// its output merges both streams.
void start(QProcess& process, const TempDirectory* runtime, const char* name = nullptr,
           const QString& value = {}, const QStringList& arguments = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PIPEWIRE_RUNTIME_DIR",
               env.value("PIPEWIRE_RUNTIME_DIR", env.value("XDG_RUNTIME_DIR")));
    env.remove("XDG_RUNTIME_DIR");
    if (runtime) env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime->path().string()));
    if (name && value.isNull()) env.remove(name);
    if (name && !value.isNull()) env.insert(name, value);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(LMV_APP_BINARY), arguments);
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
            SharedFrameWriter::create(runtime.path() / config::sharedFolderName, {}, failure);
        QVERIFY2(writer != nullptr, failure.c_str());
        const std::vector<uint8_t> pixels = TestPattern::quadrants(320, 180, 320 * 4);
        QVERIFY(writer->writeFrame(1, 320, 180, 320 * 4, pixels.data()));

        // In a sanitizer build Mesa's driver, unloaded as the display closes, leaves blocks that
        // LeakSanitizer cannot attribute; the teardown itself is what is checked here.
        QProcess process;
        start(process, &runtime, "ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":detect_leaks=0");
        const QByteArray ready = "⏱️ Polling timer started (60Hz)\n";
        QByteArray output;
        while (!output.contains(ready) && process.waitForReadyRead(60000))
            output += process.readAll();
        QVERIFY2(output.contains(ready), output);
        QCOMPARE(::kill(static_cast<pid_t>(process.processId()), signalNumber), 0);
        QVERIFY2(process.waitForFinished(60000), output += process.readAll());
        output += process.readAll();
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, output);
        QVERIFY2(output.endsWith("🛑 Syphon server stopped\n"), output);
        QCOMPARE(output.count("🛑 Syphon server stopped"), 1);
    }

    void fatalStartUpChecks_data() {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<bool>("removed");  // else set to "none"
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("logged");  // the receiver's own line before the report
        const QString noOpenGL = QStringLiteral("Metal is not supported on this device");
        const bool wayland = qgetenv("QT_QPA_PLATFORM") == "wayland";
        QTest::newRow("no OpenGL")
            << (wayland ? "QT_WAYLAND_CLIENT_BUFFER_INTEGRATION" : "QT_XCB_GL_INTEGRATION") << false
            << noOpenGL << QString();
        QTest::newRow("no display")
            << (wayland ? "WAYLAND_DISPLAY" : "DISPLAY") << true << noOpenGL << QString();
        QTest::newRow("no receiver")
            << "XDG_RUNTIME_DIR" << true
            << "Failed to initialize TextureReceiver - check App Group entitlements"
            << "❌ Failed to get App Group container URL";
    }

    // A fatal report as the last line and a failure status; before it the receiver's own line,
    // or without OpenGL nothing at all.
    void fatalStartUpChecks() {
        QFETCH(QString, variable);
        QFETCH(bool, removed);
        QFETCH(QString, message);
        QFETCH(QString, logged);
        TempDirectory runtime;
        QProcess process;
        // An X display where GL cannot be had, no display at all (no core dump either), or no
        // application-group folder.
        const QByteArray name = variable.toUtf8();
        start(process, name == "XDG_RUNTIME_DIR" ? nullptr : &runtime, name.constData(),
              removed ? QString() : QStringLiteral("none"));
        QVERIFY(process.waitForFinished(60000));
        const QString output = QString::fromUtf8(process.readAll());
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() != 0,
                 qPrintable(output));
        const QRegularExpression report("\nLMVuzadivirur/ContentView:[0-9]+: Fatal error: " +
                                        QRegularExpression::escape(message) + "\n$");
        QVERIFY2(('\n' + output).contains(report) && output.count("Fatal error") == 1,
                 qPrintable(output));
        QVERIFY2(output.contains(logged.isEmpty() ? "⏱️" : logged + '\n') != logged.isEmpty(),
                 qPrintable(output));
    }

    void refusesBadSettingsBeforeStarting_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("config");  // the configuration file's text, if any
        QTest::addColumn<QString>("said");    // the whole output; CONF: the file's path
        const QString address = "srt://127.0.0.1:9101?mode=listener";
        QTest::newRow("unknown option")
            << QStringList{"--strem", address} << QString()
            << "❌ unknown option '--strem'; see lm-vuzadivirur --help\n";
        QTest::newRow("file: line 2")
            << QStringList{} << "stream-fps=30\nstream=srt://127.0.0.1:abc\n"
            << "❌ CONF:2: stream port: must be a number from 1 to 65535, not 'abc'\n";
        QTest::newRow("file: passphrase others can read")
            << QStringList{"--stream-fps", "0"}
            << "stream=" + address + "&passphrase=long-enough-secret\n"
            << "⚠️ CONF holds a stream passphrase and can be read by others (mode 644); chmod "
               "600 "
               "it\n❌ stream-fps: must be a number of frames per second from 1 to 240, not '0'\n";
    }

    // A stream setting that cannot be taken whole, or an unknown option, stops the program with
    // status 2 and one line before anything starts: nothing listens, nothing is sent.
    void refusesBadSettingsBeforeStarting() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, config);
        QFETCH(QString, said);
        TempDirectory home;
        const auto conf = home.path() / "lm-vuzadivirur" / "lm-vuzadivirur.conf";
        std::filesystem::create_directories(conf.parent_path());
        if (!config.isNull()) std::ofstream(conf) << config.toStdString();
        ::chmod(conf.c_str(), 0644);
        QProcess process;
        start(process, &home, "XDG_CONFIG_HOME", QString::fromStdString(home.path().string()),
              arguments);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(process.readAll()),
                 said.replace("CONF", QString::fromStdString(conf.string())));
        QCOMPARE(process.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(AppProcessTest)

#include "AppProcessTest.moc"
