#pragma once

#include <string_view>

// Where the system's log lines go, one event a line.
class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual void line(std::string_view text) = 0;
};
