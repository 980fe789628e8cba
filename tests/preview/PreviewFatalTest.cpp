#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace {

struct Outcome {
    bool crashed = false;
    int exitCode = 0;
    QStringList errorLines;
};

Outcome runChild(const QString& mode) {
    QProcess child;
    child.start(QStringLiteral(PREVIEW_FATAL_CHILD), {mode});
    Outcome outcome;
    if (!child.waitForFinished(60000)) {
        child.kill();
        child.waitForFinished();
        ADD_FAILURE() << "the child did not end";
    }
    outcome.crashed = child.exitStatus() == QProcess::CrashExit;
    outcome.exitCode = child.exitCode();
    outcome.errorLines = QString::fromUtf8(child.readAllStandardError()).split('\n');
    if (!outcome.errorLines.isEmpty() && outcome.errorLines.last().isEmpty()) {
        outcome.errorLines.removeLast();
    }
    return outcome;
}

// The process ended with a non-zero status, and the last thing on standard error is one line of
// the fatal report, matching `pattern`, that no other line repeats.
void expectFatalReport(const QString& mode, const QString& pattern) {
    SCOPED_TRACE(mode.toStdString());
    const Outcome outcome = runChild(mode);
    EXPECT_FALSE(outcome.crashed);
    EXPECT_NE(outcome.exitCode, 0);
    EXPECT_NE(outcome.exitCode, 3) << "the process went on after a failed preview";
    ASSERT_FALSE(outcome.errorLines.isEmpty());
    const QString last = outcome.errorLines.last();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^LMVuzadivirur/MetalTextureView:[0-9]+: ") +
                                   pattern + QStringLiteral("$"))
                    .match(last)
                    .hasMatch())
        << "stderr ends with: " << last.toStdString();
    EXPECT_EQ(outcome.errorLines.filter(QStringLiteral("LMVuzadivirur/")).size(), 1)
        << outcome.errorLines.join('\n').toStdString();
}

}  // namespace

TEST(PreviewFatal, AFunctionThatDoesNotCompileStopsWithTheCompilerLog) {
    // Mesa's log names the offending source line and the error.
    expectFatalReport(QStringLiteral("broken-vertex"),
                      QStringLiteral("Fatal error: textureVertexShader did not compile: "
                                     ".*0:2\\([0-9]+\\): error: .*"));
    expectFatalReport(QStringLiteral("broken-fragment"),
                      QStringLiteral("Fatal error: textureFragmentShader did not compile: "
                                     ".*0:3\\([0-9]+\\): error: .*undefinedThing.*"));
}

TEST(PreviewFatal, AProgramThatDoesNotLinkStopsWithTheLinkerLog) {
    expectFatalReport(QStringLiteral("unlinkable"),
                      QStringLiteral("Fatal error: the preview program did not link: "
                                     ".*error: .*textureCoordinate.*"));
}

TEST(PreviewFatal, AMissingFunctionStopsWhenTheProgramIsBuilt) {
    expectFatalReport(QStringLiteral("missing-fragment"),
                      QStringLiteral("Fatal error: no function textureFragmentShader in the "
                                     "shader library"));
}

TEST(PreviewFatal, NoShaderLibraryOrNoCommandQueueStopsWithoutAMessage) {
    expectFatalReport(QStringLiteral("no-library"), QStringLiteral("Fatal error"));
    expectFatalReport(QStringLiteral("no-command-queue"), QStringLiteral("Fatal error"));
}

TEST(PreviewFatal, TheBuiltInShadersBuildAndTheProcessGoesOn) {
    const Outcome outcome = runChild(QStringLiteral("working"));
    EXPECT_FALSE(outcome.crashed);
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_TRUE(outcome.errorLines.filter(QStringLiteral("Fatal error")).isEmpty());
}
