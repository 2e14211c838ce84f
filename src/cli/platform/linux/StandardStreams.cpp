#include "platform/StandardStreams.h"

#include <unistd.h>

namespace qrt::cli::platform {

void PrepareStandardStreams() {}

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace qrt::cli::platform
