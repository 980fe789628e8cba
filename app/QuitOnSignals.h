#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

// Turns SIGINT and SIGTERM into a normal quit of the application's event loop, so that a desktop
// session ending (or Ctrl+C) tears the window and its receiver down like closing the window.
// The handler only writes a byte into a pipe; the event loop reads it and quits. A second signal
// ends the process at once, by the signal's default action, for a quit that hangs. One at a time;
// the previous handlers come back when it goes.
class QuitOnSignals : public QObject {
    Q_OBJECT
    struct Token {};  // restricts construction to install()

  public:
    // None when the pipe or the handlers cannot be set up, or another instance is installed.
    static std::unique_ptr<QuitOnSignals> install();
    QuitOnSignals(Token, int readFd, int writeFd);
    ~QuitOnSignals() override;
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

  private:
    void drainAndQuit();

    int readFd_;
    int writeFd_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool handlersInstalled_ = false;
};
