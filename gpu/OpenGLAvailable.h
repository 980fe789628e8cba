#pragma once

namespace gpu {

// Whether an OpenGL 3.3 core context can be made here, the preview's need. Needs a
// QGuiApplication.
bool openGLAvailable();

}  // namespace gpu
