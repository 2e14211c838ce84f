#pragma once
// The program's own start-up errors (bad options, no device platform),
// before any window exists.
#include <string>

namespace qrt::app {

// Writes "qrt4250-config: <szText>" and a line end to stderr. On Windows the
// window program started from the menu or Explorer has no stderr: the text
// is then shown in a message box, so a failed start is never silent.
void ShowStartupError(const std::string& szText);

}  // namespace qrt::app
