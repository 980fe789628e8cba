// The real program in a child process, beside the test's display (X or Wayland), session bus and
// PipeWire: how it stops on SIGTERM and SIGINT, its fatal start-up checks, and its recordings.
#include <signal.h>
#include <sys/mount.h>
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

// Reads the program's output into `output` until it holds `text`; false after a minute without.
bool readUntil(QProcess& process, QByteArray& output, const QByteArray& text) {
    while (!output.contains(text) && process.waitForReadyRead(60000)) output += process.readAll();
    return output.contains(text);
}

// What `program` writes to standard output, once it has ended.
QByteArray outputOf(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

enum class RecordingEnd { Signal, Kill, DiskFull };

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
        QTest::newRow("record: not Matroska")
            << QStringList{"--record", "show.mp4"} << QString()
            << "❌ record: must name a file ending in .mkv (H.264 in Matroska), not 'show.mp4'\n";
        QTest::newRow("file: record-quality")
            << QStringList{} << "record=show.mkv\nrecord-quality=best\n"
            << "❌ CONF:2: record-quality: must be standard or lossless, not 'best'\n";
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

    void recordsTheShow_data() {
        QTest::addColumn<RecordingEnd>("end");
        QTest::newRow("finished on SIGTERM") << RecordingEnd::Signal;
        QTest::newRow("killed") << RecordingEnd::Kill;
        QTest::newRow("disk full") << RecordingEnd::DiskFull;
    }

    // --record from the start, beside lumetra-sim at 30 Hz and an odd size: finished, the file
    // holds every frame taken, at the time taken, at the next even size, in the host's colours;
    // killed, the file opens with what came up to about a second before; on a full disk one
    // "❌ " line with the reason, and the camera goes on.
    void recordsTheShow() {
        QFETCH(RecordingEnd, end);
        TempDirectory runtime, files;
        const QString file = QString::fromStdString((files.path() / "show.mkv").string());
        const auto unmount = qScopeGuard([&] { ::umount2(files.path().c_str(), MNT_DETACH); });
        if (end == RecordingEnd::DiskFull &&
            ::mount("tmpfs", files.path().c_str(), "tmpfs", 0, "size=64k")) {
            QSKIP("Not root: no 64 KiB tmpfs can be mounted to fill");
        }
        QProcess app, sim;
        start(app, &runtime, "ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":detect_leaks=0",
              {"--record", file});
        QByteArray output;
        QVERIFY2(readUntil(app, output, "⏺️ Recording to " + file.toUtf8() + "\n"), output);
        const QString folder =
            QString::fromStdString((runtime.path() / config::sharedFolderName).string());
        sim.start(QStringLiteral(LMV_SIM_BINARY),
                  {"--size", "641x361", "--rate", "30", "--dir", folder, "--frames",
                   end == RecordingEnd::Signal ? "90" : "0"});
        const auto stopSim = qScopeGuard([&] { sim.kill(), sim.waitForFinished(); });

        if (end == RecordingEnd::DiskFull) {
            QVERIFY2(readUntil(
                         app, output,
                         "❌ Recording to " + file.toUtf8() + " stopped: No space left on device\n"),
                     output);
            // 30 frames from the camera: gst-launch ends well only once it has them all.
            QProcess camera;
            camera.start("gst-launch-1.0",
                         {"-q", "pipewiresrc", "target-object=lumetra-vuzadivirur",
                          "num-buffers=30", "!", "video/x-raw,format=BGRA", "!", "fakesink"});
            QVERIFY(camera.waitForFinished(60000));
            QCOMPARE(camera.exitCode(), 0);
            app.terminate();
            QVERIFY(app.waitForFinished(60000));
            output += app.readAll();
            QCOMPARE(output.count("❌"), 1);
            return;
        }
        // Frame 60 is taken two seconds in; all 90, then "No frames" a second after the last.
        QVERIFY2(readUntil(app, output,
                           end == RecordingEnd::Kill ? "✅ Received frame #60"
                                                     : "⚠️ No frames from Lumetra for 1 s"),
                 output);
        ::kill(pid_t(app.processId()), end == RecordingEnd::Kill ? SIGKILL : SIGTERM);
        QVERIFY(app.waitForFinished(60000));
        output += app.readAll();
        const QByteArray probe =
            outputOf("ffprobe", {"-v", "error", "-count_frames", "-show_entries",
                                 "stream=width,height,nb_read_frames:format=duration", "-of",
                                 "default=nw=1", file});
        QVERIFY2(probe.contains("width=642\nheight=362\n"), probe + output);
        const int frames = QRegularExpression("nb_read_frames=([0-9]+)")
                               .match(QString::fromUtf8(probe))
                               .captured(1)
                               .toInt();
        if (end == RecordingEnd::Kill) {
            QVERIFY2(frames >= 30, probe);
            return;
        }
        const auto saved =
            QRegularExpression(
                "⏹️ Recording saved: .*show.mkv \\(([0-9]+) frames, 00:0[2-4]\\)\n")
                .match(QString::fromUtf8(output));
        QVERIFY2(saved.hasMatch(), output);
        QCOMPARE(frames, saved.captured(1).toInt());
        QVERIFY2(frames > 45, output);  // not every other frame
        // 90 frames at 30 Hz: three seconds as taken, not 1.5 at an assumed 60.
        const double duration = QRegularExpression("duration=([0-9.]+)")
                                    .match(QString::fromUtf8(probe))
                                    .captured(1)
                                    .toDouble();
        QVERIFY2(duration > 2.6 && duration < 3.6, probe);

        // The first frame's quadrants, in the host's colours give or take the encoding.
        const QByteArray rgb = outputOf("ffmpeg", {"-v", "error", "-i", file, "-frames:v", "1",
                                                   "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
        QCOMPARE(rgb.size(), 642 * 362 * 3);
        using P = TestPattern;
        for (const auto& [x, y, colour] : {std::tuple{160, 90, P::topLeft},
                                           {480, 90, P::topRight},
                                           {160, 270, P::bottomLeft},
                                           {480, 270, P::bottomRight}}) {
            const auto* pixel =
                reinterpret_cast<const uint8_t*>(rgb.constData()) + (y * 642 + x) * 3;
            const int expected[3] = {colour.r, colour.g, colour.b};
            for (int c = 0; c < 3; ++c)
                QVERIFY2(std::abs(pixel[c] - expected[c]) <= 12,
                         qPrintable(QStringLiteral("(%1, %2) channel %3: %4, not %5")
                                        .arg(x)
                                        .arg(y)
                                        .arg(c)
                                        .arg(pixel[c])
                                        .arg(expected[c])));
        }
    }
};

QTEST_GUILESS_MAIN(AppProcessTest)

#include "AppProcessTest.moc"
