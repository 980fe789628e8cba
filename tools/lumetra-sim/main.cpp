// lumetra-sim: a stand-in for the Lumetra host. It writes test-pattern frames into the shared
// frame file at a steady rate and posts the new-frame D-Bus signal after each one.

#include <signal.h>

#include <QCoreApplication>
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

#include "format/Configuration.h"
#include "format/SharedFrameHeader.h"
#include "platform/StdoutLogSink.h"
#include "platform/XdgSharedFolderLocator.h"
#include "tools/lumetra-sim/FramePacer.h"
#include "tools/lumetra-sim/FrameSignal.h"
#include "tools/lumetra-sim/SimOptions.h"
#include "tools/lumetra-sim/SimulatedHost.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a stop cuts the frame wait short
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::string describe(const SimOptions& options, const std::filesystem::path& directory,
                     bool signalling) {
    std::string text = "lumetra-sim: writing " + std::to_string(options.width) + "x" +
                       std::to_string(options.height) + " frames (" +
                       std::to_string(options.rowPitch()) + " bytes a row) at " +
                       QString::number(options.rate).toStdString() + "/s from #" +
                       std::to_string(options.first) + ", ";
    text += options.frames == 0 ? std::string("until stopped")
                                : std::to_string(options.frames) + " frames";
    text += ", into " + (directory / config::frameFileName).string() + " (" +
            std::to_string(SharedFrameHeader::mappingLength) + " bytes), ";
    text += options.lockFile ? "locking " + (directory / config::lockFileName).string()
                             : std::string("without a lock file");
    text += signalling ? ", posting D-Bus signal " + std::string(config::newFrameNotificationName)
                       : std::string(", posting no D-Bus signal");
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = SimOptions::parse(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "lumetra-sim: %s\n\n%s", error.c_str(), SimOptions::usage().c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(SimOptions::usage().c_str(), stdout);
        return 0;
    }

    // Stop signals go to the main thread only (Qt's D-Bus thread starts with them blocked), so
    // that they cut its frame wait short.
    const sigset_t stops = stopSignals();
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    installStopHandlers();

    std::filesystem::path directory;
    if (options->directory) {
        directory = *options->directory;
    } else if (auto group = XdgSharedFolderLocator().sharedFolder(config::sharedFolderName)) {
        directory = *group;
    } else {
        std::fprintf(stderr,
                     "lumetra-sim: no group folder: XDG_RUNTIME_DIR must name an absolute path "
                     "where %s can be made (or give --dir)\n",
                     std::string(config::sharedFolderName).c_str());
        return 1;
    }

    auto host = SimulatedHost::create(*options, directory, error);
    if (!host) {
        std::fprintf(stderr, "lumetra-sim: cannot create the shared files: %s\n", error.c_str());
        return 1;
    }

    QCoreApplication application(argc, argv);
    std::unique_ptr<FrameSignal> frameSignal;
    if (options->signal) {
        frameSignal = FrameSignal::create(error);
        if (!frameSignal) {
            std::fprintf(stderr, "lumetra-sim: no D-Bus signal (%s); writing frames anyway\n",
                         error.c_str());
        }
    }

    StdoutLogSink log;
    log.line(describe(*options, directory, frameSignal != nullptr));
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);

    FramePacer pacer(options->rate);
    uint64_t written = 0;
    uint32_t frameNumber = options->first;
    uint32_t lastWritten = 0;
    while (!stopRequested) {
        if (options->dieMidFrame == frameNumber) {
            log.line("lumetra-sim: dying in the middle of frame #" + std::to_string(frameNumber));
            StdoutLogSink::flush(std::chrono::seconds(1));  // out before the process is killed
            host->dieMidFrame(frameNumber);
        }
        if (options->hangInFrame == frameNumber) {
            host->hangHoldingLock([&] {
                log.line("lumetra-sim: hanging in frame #" + std::to_string(frameNumber) +
                         " with the lock held");
                FramePacer hang(1.0 / std::max(options->pauseSeconds, 1e-3));
                hang.waitForNextFrame(stopRequested);
            });
            log.line("lumetra-sim: released the lock");
            if (stopRequested) break;
        }
        host->writeFrame(frameNumber);
        lastWritten = frameNumber;
        ++written;
        if (frameSignal) frameSignal->post();
        if (frameSignal && written == 1 && options->flood > 0) {
            for (uint32_t i = 0; i < options->flood; ++i) frameSignal->post();
            frameSignal->flush();
        }
        if (options->pauseAfter == frameNumber) {
            log.line("lumetra-sim: pausing after frame #" + std::to_string(frameNumber));
            FramePacer pause(1.0 / std::max(options->pauseSeconds, 1e-3));
            pause.waitForNextFrame(stopRequested);
        }
        if (written == options->frames) break;
        if (frameNumber == UINT32_MAX) break;  // numbers only grow; there is no next one
        ++frameNumber;
        if (!pacer.waitForNextFrame(stopRequested)) break;
    }
    if (frameSignal) frameSignal->flush();
    log.line("lumetra-sim: stopped after " + std::to_string(written) + " frames, last #" +
             std::to_string(lastWritten));
    return 0;
}
