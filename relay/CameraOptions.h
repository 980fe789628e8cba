#pragma once

#include <cstdint>
#include <functional>
#include <string>

// How the relay's camera shows itself to other applications.
struct CameraOptions {
    // The name apps list; empty: the relay server's own name. Taken by another camera, it gets
    // " (2)", " (3)", ... after it.
    std::string name;
    // Told, on the main thread, how many consumers are linked to the camera whenever that changes.
    std::function<void(uint32_t consumers)> consumersChanged;
};
