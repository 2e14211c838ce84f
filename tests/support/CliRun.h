#pragma once
// qrt4250-cli in process: its exit code and what it printed.
#include <sstream>
#include <string>
#include <vector>

#include "CliApp.h"

namespace qrt::test {

struct CRun {
  int nExit;
  std::string out, err;
};

// Runs the program's commands with args (without the program name).
inline CRun RunCliWith(std::vector<std::string> args) {
  args.insert(args.begin(), "qrt4250-cli");
  std::vector<const char*> argv;
  for (const auto& s : args) argv.push_back(s.c_str());
  std::ostringstream out, err;
  const int n = qrt::cli::RunCli(static_cast<int>(argv.size()), argv.data(), out, err);
  return {n, out.str(), err.str()};
}

}  // namespace qrt::test
