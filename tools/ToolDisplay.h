#pragma once

#include <QtGlobal>

// The tools draw through OpenGL, which needs a display (or xvfb-run -a).
inline bool hasDisplay() {
    return qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY") ||
           qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}
