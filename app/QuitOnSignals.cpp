#include "app/QuitOnSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <array>
#include <cerrno>
#include <csignal>

namespace {

// The write end the handler uses; one instance at a time.
volatile sig_atomic_t signalWriteFd = -1;
// Set by the first signal: a later one finds the quit it asked for still under way.
volatile sig_atomic_t quitAsked = 0;
constexpr std::array<int, 2> quitSignals{SIGINT, SIGTERM};
std::array<struct sigaction, 2> previousActions{};

void onQuitSignal(int signalNumber) {
    const int savedErrno = errno;
    const int fd = signalWriteFd;
    if (quitAsked) {
        // The quit hangs (a stuck network write, a stuck file system) and the user insists: the
        // signal's default action ends the process, with a status that says so. The signal is
        // blocked while its handler runs, so it is delivered as the handler returns.
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        sigemptyset(&byDefault.sa_mask);
        ::sigaction(signalNumber, &byDefault, nullptr);
        ::raise(signalNumber);
    } else if (fd >= 0) {
        quitAsked = 1;
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

std::unique_ptr<QuitOnSignals> QuitOnSignals::install() {
    if (signalWriteFd >= 0) return nullptr;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    auto quitter = std::make_unique<QuitOnSignals>(Token{}, fds[0], fds[1]);

    signalWriteFd = fds[1];
    quitAsked = 0;
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < quitSignals.size(); ++i) {
        if (::sigaction(quitSignals[i], &action, &previousActions[i]) != 0) {
            for (size_t j = 0; j < i; ++j)
                ::sigaction(quitSignals[j], &previousActions[j], nullptr);
            signalWriteFd = -1;
            return nullptr;
        }
    }
    quitter->handlersInstalled_ = true;
    return quitter;
}

QuitOnSignals::QuitOnSignals(Token, int readFd, int writeFd)
    : readFd_(readFd),
      writeFd_(writeFd),
      notifier_(std::make_unique<QSocketNotifier>(readFd, QSocketNotifier::Read)) {
    connect(notifier_.get(), &QSocketNotifier::activated, this, &QuitOnSignals::drainAndQuit);
}

QuitOnSignals::~QuitOnSignals() {
    if (handlersInstalled_) {
        for (size_t i = 0; i < quitSignals.size(); ++i) {
            ::sigaction(quitSignals[i], &previousActions[i], nullptr);
        }
        signalWriteFd = -1;
    }
    notifier_.reset();
    ::close(readFd_);
    ::close(writeFd_);
}

void QuitOnSignals::drainAndQuit() {
    char bytes[64];
    while (::read(readFd_, bytes, sizeof bytes) > 0) {
    }
    QCoreApplication::quit();
}
