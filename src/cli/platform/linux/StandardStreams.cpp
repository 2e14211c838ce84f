#include "platform/StandardStreams.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace qrt::cli::platform {

void PrepareStandardStreams() {}

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

bool StandardOutputTakesColour() {
  const char* pszTerm = std::getenv("TERM");
  return ::isatty(STDOUT_FILENO) == 1 && pszTerm != nullptr && std::strcmp(pszTerm, "dumb") != 0;
}

}  // namespace qrt::cli::platform
