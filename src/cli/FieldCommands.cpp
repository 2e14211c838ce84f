// Commands built on the field model: diff of two images (files or a board)
// and settings templates (export here, apply through set --template; the
// templates themselves live in the image library).

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "CliApp.h"
#include "DeviceOptions.h"
#include "FieldModel.h"
#include "ImageCompare.h"
#include "ImageFiles.h"
#include "ImageSession.h"
#include "SettingsRules.h"
#include "SettingsTemplate.h"
#include "TerminalText.h"
#include "TextNumbers.h"

namespace qrt::cli {

namespace {

using namespace qrt::image;
using json = nlohmann::ordered_json;

// One side of a diff: an image file, or the chosen board read whole.
struct CSide {
  CImageSession session;
  std::vector<uint8_t> vBytes;  // the image, 0xFF beyond its size
  uint32_t dwSize = 0;
};

bool LoadSide(CCliContext& ctx, const std::string& szWhat, const CDeviceOptions& o,
              const std::string& szType, CSide& side) {
  side.vBytes.assign(kRomBufferSize, 0xFF);
  if (szWhat != "device") {
    if (!LoadImageFile(ctx, side.session, szWhat)) return false;
    side.dwSize = side.session.GetRomSize();
    std::copy_n(side.session.RomDataMgr().Data(), side.dwSize, side.vBytes.begin());
    return true;
  }
  const uint32_t dwSize = RomSizeFromEepromType(szType.empty() ? "24C02" : szType);
  if (dwSize == 0) {
    ctx.Fail("--eeprom must be 24C02, 24C04, 24C08 or 24C16, not " + szType);
    return false;
  }
  std::string szBoard;
  if (!ReadBoardImage(ctx, o, dwSize, side.vBytes, szBoard)) return false;
  const EApplyResult r = side.session.ApplyLoadedImage(side.vBytes.data(), dwSize);
  if (r != EApplyResult::kAccepted) {
    ctx.Fail("the EEPROM image of " + szBoard + " was refused: " + ApplyResultText(r));
    return false;
  }
  side.session.SetRomSize(dwSize);
  side.dwSize = dwSize;
  return true;
}

void RunDiff(CCliContext& ctx, const std::string& szA, const std::string& szB,
             const CDeviceOptions& o, const std::string& szType, bool bJson, bool bIgnorePerBoard) {
  // Both sides name the one board the device options choose: reading it
  // twice compares the board with itself, which is never what was meant.
  if (szA == "device" && szB == "device") {
    ctx.Fail("A and B are both the chosen board; compare a board with an image file");
    ctx.nExitCode = 2;
    return;
  }
  CSide a, b;
  if (!LoadSide(ctx, szA, o, szType, a) || !LoadSide(ctx, szB, o, szType, b)) {
    ctx.nExitCode = 2;
    return;
  }
  const std::vector<DIFF_ENTRY> vDiff =
      CompareImages({a.session, {a.vBytes.data(), a.dwSize}},
                    {b.session, {b.vBytes.data(), b.dwSize}}, bIgnorePerBoard);
  json settings = json::array(), banks = json::array(), bytes = json::array();
  for (const DIFF_ENTRY& e : vDiff) {
    switch (e.eKind) {
      case DIFF_ENTRY::EKind::kSetting:
        settings.push_back({{"name", e.szName}, {"a", e.szA}, {"b", e.szB}});
        break;
      case DIFF_ENTRY::EKind::kBank:
        banks.push_back(e.szName);
        break;
      case DIFF_ENTRY::EKind::kBytes:
        bytes.push_back({{"from", e.nFrom}, {"to", e.nTo}});
        break;
    }
  }

  if (bJson) {
    ctx.PrintJson(json{{"settings", settings}, {"banks", banks}, {"bytes", bytes}});
  } else {
    for (const DIFF_ENTRY& e : vDiff) ctx.out << qrt::diag::EscapeControls(e.szLine) << '\n';
  }
  ctx.nExitCode = vDiff.empty() ? 0 : 1;
}

}  // namespace

bool ApplyTemplateFile(CCliContext& ctx, CImageSession& session, const std::string& szPath) {
  std::string szText;
  std::string szWhy = ReadTemplateFile(szPath, szText);
  if (szWhy.empty()) szWhy = ApplyTemplate(session, szText);
  if (szWhy.empty()) return true;
  ctx.Fail(QuoteText(szPath) + ": " + szWhy);
  return false;
}

void RegisterFieldCommands(CLI::App& app, CCliContext& ctx) {
  struct CDiffArgs {
    std::string szA, szB, szType, szIgnore;
    bool bJson = false;
  };
  auto diff = std::make_shared<CDiffArgs>();
  CLI::App* pDiff = app.add_subcommand(
      "diff",
      "Compare two images (files, or \"device\" for the chosen board); exit 0 same, "
      "1 different, 2 trouble");
  pDiff->add_option("A", diff->szA, "Image file or device")->required();
  pDiff->add_option("B", diff->szB, "Image file or device")->required();
  pDiff->add_option("--eeprom", diff->szType, "EEPROM type read for device (default 24C02)");
  pDiff->add_flag("--json", diff->bJson, "Print one JSON object");
  AddIgnoreOption(pDiff, diff->szIgnore);
  std::shared_ptr<CDeviceOptions> pDiffDevice = AddDeviceOptionsTo(pDiff);
  pDiff->callback([&ctx, diff, pDiffDevice] {
    RunDiff(ctx, diff->szA, diff->szB, *pDiffDevice, diff->szType, diff->bJson,
            !diff->szIgnore.empty());
  });

  struct CTemplateArgs {
    std::string szImage;
    bool bJson = false;
    bool bBuiltin = false;
  };
  auto tmpl = std::make_shared<CTemplateArgs>();
  CLI::App* pTemplate = app.add_subcommand("template", "Settings templates");
  pTemplate->require_subcommand(1);
  CLI::App* pExport = pTemplate->add_subcommand(
      "export", "Print an image's settings as a template (JSON keyed by the set names)");
  pExport->add_option("IMAGE", tmpl->szImage, "Image file (.bin or .hex)");
  pExport->add_flag("--builtin", tmpl->bBuiltin, "Export the built-in default image instead");
  pExport->add_flag("--json", tmpl->bJson, "The output is JSON in any case");
  pExport->callback([&ctx, tmpl] {
    ctx.bJson = true;
    if (tmpl->bBuiltin == !tmpl->szImage.empty()) {
      ctx.Fail("template export needs either IMAGE or --builtin");
      return;
    }
    CImageSession session;
    if (!tmpl->bBuiltin && !LoadImageFile(ctx, session, tmpl->szImage)) return;
    ctx.out << ExportTemplate(session) << '\n';
    ctx.bJsonPrinted = true;
  });
}

}  // namespace qrt::cli
