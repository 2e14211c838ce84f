// qrt4250-cli: scriptable companion of the QRT4250 EEPROM configuration tool.
#include <iostream>

#include "CliApp.h"
#include "platform/StandardStreams.h"

int main(int argc, char** argv) {
  qrt::cli::platform::PrepareStandardStreams();
  return qrt::cli::RunCli(argc, argv, std::cout, std::cerr);
}
