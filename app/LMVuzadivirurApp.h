#pragma once

#include <QCoreApplication>
#include <memory>

#include "app/ContentView.h"

// The application: its one window, whose content is a ContentView.
class LMVuzadivirurApp {
    Q_DECLARE_TR_FUNCTIONS(LMVuzadivirurApp)

  public:
    // The program entry: runs the application's event loop with its window until the window is
    // closed (and no save dialog is open and no save under way), the application quits, or SIGINT
    // or SIGTERM arrives; then tears the window and its receiver down and returns 0. Nothing is
    // read from the command line.
    static int main(int argc, char** argv);

    // Makes and shows the window. Stops the process when the window's content cannot be made.
    LMVuzadivirurApp();

    ContentView& window() const { return *window_; }

  private:
    std::unique_ptr<ContentView> window_;
};
