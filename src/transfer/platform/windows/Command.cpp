#include "Command.h"

namespace qrt::transfer {

// Commands beside the boards are not run on Windows yet: say so, so a
// station that asks for one refuses the board rather than skip the step.
COMMAND_RESULT RunCommand(const std::vector<std::string>&, const std::map<std::string, std::string>&,
                          int) {
  COMMAND_RESULT result;
  result.szOutput = "commands are not run on this system";
  return result;
}

}  // namespace qrt::transfer
