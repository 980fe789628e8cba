#pragma once

#include <chrono>

#include "core/LogSink.h"

// Standard output without ever holding up the caller: each line, with its newline, joins a
// bounded queue that one writer thread, shared by every sink of the process, takes whole and
// writes in order. A terminal paused with Ctrl-S or a reader that stops reading stalls that
// thread, never the caller; lines that do not fit meanwhile are dropped and, once output moves
// again, counted in one line in their place. A reader that has gone away costs the line, not the
// process.
class StdoutLogSink : public LogSink {
  public:
    StdoutLogSink() = default;
    // Gives the lines queued so far up to a second to reach the reader; a stalled output does
    // not hold up the exit.
    ~StdoutLogSink() override;
    StdoutLogSink(const StdoutLogSink&) = delete;
    StdoutLogSink& operator=(const StdoutLogSink&) = delete;

    void line(std::string_view text) override;
    // Waits until every line queued so far, by any sink, has been written (or has failed to
    // be), or until `deadline` has passed. True when nothing queued before the call is left.
    // For the whole process, as standard output is: also for code that holds no sink, such as
    // a fatal report that must come after the lines logged before it.
    static bool flush(std::chrono::milliseconds deadline);
};
