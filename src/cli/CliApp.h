#pragma once
// qrt4250-cli: the command tree and the helpers every command shares. main()
// only calls RunCli; tests call it with string streams.
//
// Adding a group of commands: write RegisterXxxCommands(CLI::App&,
// CCliContext&) in its own file and add one call in RunCli (CliApp.cpp).
// A command's callback sets ctx.nExitCode through Fail() on any failure.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

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
  // Writes "qrt4250-cli: warning: <text>" as one line to err; the exit
  // status stays.
  void Warn(const std::string& szText);
};

// The one hex parser of every option and setting: 1-8 hex digits, with or
// without a 0x/0X prefix. True with the value when it is at most dwMax;
// false (dwValue untouched) otherwise.
bool ParseHex(std::string_view szText, uint32_t dwMax, uint32_t& dwValue);


// Parses argv and runs the chosen command. Returns the exit status: 0 on
// success (also --help and --version), 1 on any failure, also when out
// could not be written (one error line on err).
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// show / convert / set.
void RegisterImageCommands(CLI::App& app, CCliContext& ctx);

// list / read / write / verify (DeviceCommands.cpp).
void RegisterDeviceCommands(CLI::App& app, CCliContext& ctx);

// monitor, deviceid encode.
void RegisterSystemCommands(CLI::App& app, CCliContext& ctx);

}  // namespace qrt::cli
