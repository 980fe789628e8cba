#pragma once

#include <cstdio>
#include <cstdlib>
#include <source_location>
#include <string>
#include <string_view>

#include "platform/StdoutLogSink.h"

// Stops the process the way a failed start-up check does: one line on standard error,
// `<location>:<line>: Fatal error: <message>` (just `... Fatal error` with no message), then a
// non-zero quick exit: no destructors or exit handlers run, since the state is unusable, but the
// quick-exit handlers do (the log's, which gives its queued lines a moment to go out).
[[noreturn]] inline void fatalReport(std::string_view location, std::string_view message = {},
                                     std::source_location where = std::source_location::current()) {
    std::string line(location);
    line += ':' + std::to_string(where.line()) + ": Fatal error";
    if (!message.empty()) {
        line += ": ";
        // The report is one line, whatever the message (GL logs span several).
        for (const char c : message) line += (c == '\n' || c == '\r') ? ' ' : c;
        while (line.back() == ' ') line.pop_back();
    }
    line += '\n';
    // Log lines given before the failure go out first, within a second.
    StdoutLogSink::flush(std::chrono::seconds(1));
    std::fflush(stdout);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
}
