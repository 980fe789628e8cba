#pragma once

#include "core/LogSink.h"

// Writes each line, with its newline, straight to standard output (file descriptor 1), so that
// a line is neither held in a buffer nor lost when output is a pipe. A reader that has gone away
// costs the line, not the process: SIGPIPE is kept from ending the program.
class StdoutLogSink : public LogSink {
  public:
    void line(std::string_view text) override;
};
