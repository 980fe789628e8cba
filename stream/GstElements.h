#pragma once

#include <span>
#include <string>

// A GStreamer element a pipeline needs, and the Debian package that has it.
struct GstElementNeed {
    const char* name;
    const char* package;
};

// Starts GStreamer and checks that every element in `needed` is installed. False, with `failure`
// naming what does not start or the first element missing and its package, otherwise.
bool startGStreamerWith(std::span<const GstElementNeed> needed, std::string& failure);
