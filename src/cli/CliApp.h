#pragma once
// qrt4250-cli: the command tree and the helpers every command shares. main()
// only calls RunCli; tests call it with string streams.
//
// Adding a group of commands: write RegisterXxxCommands(CLI::App&,
// CCliContext&) in its own file and add one call in RunCli (CliApp.cpp).
// A command's callback sets ctx.nExitCode through Fail() on any failure.
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace CLI {
class App;
}
namespace qrt::image {
class CImageSession;
}

namespace qrt::cli {

struct CCliContext {
  std::ostream& out;
  std::ostream& err;
  int nExitCode = 0;
  // --json was asked for (or the command prints JSON in any case): the run
  // ends with exactly one document on out, {"error": TEXT} when it failed
  // without printing its own.
  bool bJson = false;
  bool bJsonPrinted = false;     // a document went to out
  std::string szLastError = {};  // the text of the last Fail

  // Writes "qrt4250-cli: error: <text>" as one line to err; exit status 1.
  void Fail(const std::string& szText);
  // Writes "qrt4250-cli: warning: <text>" as one line to err; the exit
  // status stays.
  void Warn(const std::string& szText);
  // Writes the command's document to out (nIndent spaces per level, -1 for
  // one line), text that is not UTF-8 escaped. Never throws.
  void PrintJson(const nlohmann::ordered_json& j, int nIndent = 2);
};


// Parses argv and runs the chosen command. Returns the exit status: 0 on
// success (also --help and --version), 1 on any failure, also when out
// could not be written (one error line on err).
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// show / convert / set.
void RegisterImageCommands(CLI::App& app, CCliContext& ctx);

// list / read / write / restore / verify / program (DeviceCommands.cpp).
void RegisterDeviceCommands(CLI::App& app, CCliContext& ctx);

// diff, template export (FieldCommands.cpp).
void RegisterFieldCommands(CLI::App& app, CCliContext& ctx);

// The device options every device command takes (DeviceSession.h).
struct CDeviceOptions;
// Adds them to pCommand; the returned options live as long as the command.
std::shared_ptr<CDeviceOptions> AddDeviceOptionsTo(CLI::App* pCommand);
// Reads dwSize bytes from the board the options choose into vOut (0xFF
// beyond). szBoard receives "VID:PID at PATH". False (message written)
// when no board is chosen or the read fails.
bool ReadBoardImage(CCliContext& ctx, const CDeviceOptions& o, uint32_t dwSize,
                    std::vector<uint8_t>& vOut, std::string& szBoard);

// Reads an image file by its path's type and runs the accept sequence; the
// session's image size becomes the file's length. False (message written,
// session unchanged) when the file cannot be read or is refused.
bool LoadImageFile(CCliContext& ctx, qrt::image::CImageSession& session, const std::string& szPath);

// Applies a template file (JSON object keyed by set names, banks under
// "banks") to the session. False with the message written and the session
// unchanged when anything in it is refused.
bool ApplyTemplateFile(CCliContext& ctx, qrt::image::CImageSession& session,
                       const std::string& szPath);

// monitor, deviceid encode.
void RegisterSystemCommands(CLI::App& app, CCliContext& ctx);

}  // namespace qrt::cli
