#pragma once
#include <QIcon>

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

}  // namespace qrt::app
