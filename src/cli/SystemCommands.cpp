// Commands for setting a machine up for real boards: `monitor` (watch
// arrivals and removals) and `deviceid encode` (make a device-id store line).
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>

#include "CliApp.h"
#include "DeviceIdMgr.h"
#include "DeviceMonitor.h"
#include "platform/SystemPlatform.h"

namespace qrt::cli {
namespace {

bool IsPatternDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == 'x' ||
         c == 'X';
}

// "VID_" and "PID_" (any case), each followed by four hex digits or X.
bool HasIdPart(const std::string& szUpper, const char* pszKey) {
  const size_t nPos = szUpper.find(pszKey);
  if (nPos == std::string::npos || szUpper.size() - nPos < 8) return false;
  for (size_t i = nPos + 4; i < nPos + 8; ++i)
    if (!IsPatternDigit(szUpper[i])) return false;
  return true;
}

// Why a pattern cannot become a store entry, or empty when it can. The store
// splits a line at its first comma and trims spaces, and compares the
// deciphered text exactly, so such patterns could never be accepted.
std::string PatternProblem(const std::string& szPattern) {
  if (szPattern.empty()) return "the pattern is empty";
  if (szPattern.find(',') != std::string::npos) return "a pattern cannot contain a comma";
  if (szPattern.front() == ' ' || szPattern.back() == ' ')
    return "a pattern cannot begin or end with a space";
  if (szPattern.find_first_of("\r\n;") != std::string::npos)
    return "a pattern cannot contain a line break or ';'";
  std::string szUpper = szPattern;
  for (char& c : szUpper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!HasIdPart(szUpper, "VID_") || !HasIdPart(szUpper, "PID_"))
    return "a pattern needs VID_ and PID_, each followed by four hex digits or X "
           "(for example VID_3A7C&PID_42XX)";
  return {};
}

}  // namespace

void RegisterSystemCommands(CLI::App& app, CCliContext& ctx) {
  CLI::App* pMonitor = app.add_subcommand(
      "monitor", "Print device arrivals and removals as they happen, until interrupted");
  pMonitor->callback([&ctx]() {
    std::unique_ptr<USB42XX_MGR::IHidPlatform> pPlatform = USB42XX_MGR::CreateSystemPlatform();
    const auto start = std::chrono::steady_clock::now();
    ctx.nExitCode = RunDeviceMonitor(*pPlatform, ctx.out, ctx.err);
    // How long it watched, on stderr like list's: stdout stays event lines.
    char sz[48];
    std::snprintf(sz, sizeof(sz), "elapsed %.2f s\n",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    ctx.out << std::flush;
    ctx.err << sz;
  });

  CLI::App* pDeviceId = app.add_subcommand("deviceid", "Device-id store entries");
  pDeviceId->require_subcommand(1);
  CLI::App* pEncode = pDeviceId->add_subcommand(
      "encode", "Print the \"pattern,cipher\" store line for a VID/PID pattern");
  auto pPattern = std::make_shared<std::string>();
  auto pJson = std::make_shared<bool>(false);
  pEncode->add_option("PATTERN", *pPattern, "For example VID_3A7C&PID_42XX")->required();
  pEncode->add_flag("--json", *pJson, "Print one JSON object");
  pEncode->callback([&ctx, pPattern, pJson]() {
    const std::string szProblem = PatternProblem(*pPattern);
    if (!szProblem.empty()) return ctx.Fail(szProblem);
    std::string szCipher;
    if (USB42XX_MGR::QRT_Encrypt(*pPattern, szCipher) != 0 || szCipher.empty())
      return ctx.Fail("the pattern could not be enciphered");
    if (*pJson) {
      ctx.PrintJson(nlohmann::ordered_json{
          {"pattern", *pPattern}, {"cipher", szCipher}, {"line", *pPattern + "," + szCipher}});
      return;
    }
    ctx.out << *pPattern << ',' << szCipher << '\n';
  });
}

}  // namespace qrt::cli
