#pragma once
// qrt4250-cli: the command tree and the helpers every command shares. main()
// only calls RunCli; tests call it with string streams.
//
// Adding a group of commands: write RegisterXxxCommands(CLI::App&,
// CCliContext&) in its own file and add one call in RunCli (CliApp.cpp).
// A command's callback sets ctx.nExitCode through Fail() on any failure.
#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace qrt::cli {

struct CCliContext {
  std::ostream& out;
  std::ostream& err;
  int nExitCode = 0;

  // Writes "qrt4250-cli: error: <text>" as one line to err; exit status 1.
  void Fail(const std::string& szText);
};

// Parses argv and runs the chosen command. Returns the exit status: 0 on
// success (also --help and --version), 1 on any failure.
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// show / convert / set.
void RegisterImageCommands(CLI::App& app, CCliContext& ctx);

// list / read / write / verify (DeviceCommands.cpp).
void RegisterDeviceCommands(CLI::App& app, CCliContext& ctx);

// monitor, deviceid encode.
void RegisterSystemCommands(CLI::App& app, CCliContext& ctx);

}  // namespace qrt::cli
