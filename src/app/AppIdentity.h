#pragma once
#include <QIcon>
#include <string>

namespace qrt::app {

// The tool's own icon in every size rendered from its SVG at build time
// (16 to 256 pixels), compiled into the program so the window has it also
// when run from the build tree. Null only if the build rendered none.
QIcon MakeApplicationIcon();

// Names the application as its desktop entry does: application name and
// version (the package's), the desktop file name (Wayland's app id, which a
// dock uses to find the entry and its icon) and the window icon. Call after
// the QApplication exists.
void ApplyApplicationIdentity();

// Why the window cannot start on Linux, or empty. Qt's default platforms
// there, xcb and wayland, need a display server; without DISPLAY and
// WAYLAND_DISPLAY, Qt aborts after listing its plugins. A platform chosen
// through QT_QPA_PLATFORM (pszPlatform, may be null) that needs none
// (offscreen, minimal, vnc, eglfs, linuxfb, ...) passes; so does a list such
// as "wayland;offscreen" with such a fall-back.
std::string MissingDisplayText(const char* pszPlatform, const char* pszDisplay,
                               const char* pszWaylandDisplay);

}  // namespace qrt::app
