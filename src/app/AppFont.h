#pragma once
#include <QFont>

namespace qrt::app {
// The window font: Consolas where installed, else the system's fixed font,
// at the window's 11-pixel character height.
QFont MakeWindowFont();
}  // namespace qrt::app
