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

// The fields a diff reports: what set changes, and the second record
// terminal. Header bytes no setting stands for (signature, configuration
// bits) show up among the byte ranges.
bool IsDiffField(const FIELD_DEF& def) {
  return def.pszSetName != nullptr || def.eKind == EFieldKind::kRecord2;
}

const char* DiffName(const FIELD_DEF& def) {
  return def.pszSetName ? def.pszSetName : def.pszJsonName ? def.pszJsonName : def.pszShowName;
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
  json settings = json::array();
  std::vector<std::string> vLines;
  auto add = [&](const std::string& szName, const std::string& szA2, const std::string& szB2) {
    settings.push_back({{"name", szName}, {"a", szA2}, {"b", szB2}});
    vLines.push_back(szName + ": " + szA2 + " -> " + szB2);
  };
  if (a.dwSize != b.dwSize) {
    add("eepromType", EepromTypeText(a.session.GetReadRomSize()) + std::string(" (") +
                          std::to_string(a.dwSize) + " bytes)",
        EepromTypeText(b.session.GetReadRomSize()) + std::string(" (") +
            std::to_string(b.dwSize) + " bytes)");
  }
  const _INTERNAL_OPT& ra = a.session.m_RecInternalOpt;
  const _INTERNAL_OPT& rb = b.session.m_RecInternalOpt;
  for (const FIELD_DEF& def : Fields()) {
    if (!IsDiffField(def) || (bIgnorePerBoard && IsPerBoardField(def))) continue;
    std::string szShowA = FieldShowText(def, ra), szShowB = FieldShowText(def, rb);
    std::string szTextA = FieldDisplayText(def, ra), szTextB = FieldDisplayText(def, rb);
    if (szShowA == szShowB && szTextA == szTextB) continue;
    // Two digit pairs the lists do not know can share a display text.
    if (szTextA == szTextB) {
      szTextA = szShowA;
      szTextB = szShowB;
    }
    add(DiffName(def), szTextA, szTextB);
  }

  json banks = json::array();
  const CBankTexts ba = BankTextsOf(a.session), bb = BankTextsOf(b.session);
  auto bank = [&](const std::string& szName) {
    banks.push_back(szName);
    vLines.push_back(szName + " differs");
  };
  for (size_t i = 0; i < std::max(ba.vI2C.size(), bb.vI2C.size()); ++i) {
    if (i >= ba.vI2C.size() || i >= bb.vI2C.size() || ba.vI2C[i] != bb.vI2C[i])
      bank("I2C init bank " + std::to_string(i + 1));
  }
  if (ba.szAgcIr != bb.szAgcIr) bank("AGC/IR");
  for (size_t i = 0; i < std::max(ba.vEq.size(), bb.vEq.size()); ++i) {
    if (i >= ba.vEq.size() || i >= bb.vEq.size() || ba.vEq[i] != bb.vEq[i])
      bank("EQ bank " + std::to_string(i + 1));
  }

  // Bytes no setting and no bank explains: header bits outside every field
  // and bytes behind the banks.
  uint8_t btCovered[kHeaderSize];
  CoveredHeaderBits(btCovered);
  const size_t nBankEnd =
      kHeaderSize + std::max(a.session.GetBankAreaSize(), b.session.GetBankAreaSize());
  const size_t nEnd = std::max(a.dwSize, b.dwSize);
  json bytes = json::array();
  size_t nFrom = 0;
  bool bOpen = false;
  for (size_t i = 0; i <= nEnd; ++i) {
    bool bDiffers = false;
    if (i < nEnd) {
      const uint8_t btMask = i < kHeaderSize ? static_cast<uint8_t>(~btCovered[i])
                             : i < nBankEnd  ? 0
                                             : 0xFF;
      bDiffers = ((a.vBytes[i] ^ b.vBytes[i]) & btMask) != 0;
    }
    if (bDiffers && !bOpen) {
      nFrom = i;
      bOpen = true;
    } else if (!bDiffers && bOpen) {
      bytes.push_back({{"from", nFrom}, {"to", i - 1}});
      char sz[64];
      std::snprintf(sz, sizeof sz, "bytes 0x%04zX-0x%04zX differ", nFrom, i - 1);
      vLines.push_back(sz);
      bOpen = false;
    }
  }

  if (bJson) {
    ctx.PrintJson(json{{"settings", settings}, {"banks", banks}, {"bytes", bytes}});
  } else {
    for (const std::string& szLine : vLines) ctx.out << qrt::diag::EscapeControls(szLine) << '\n';
  }
  ctx.nExitCode = vLines.empty() ? 0 : 1;
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
      "diff", "Compare two images (files, or \"device\" for the chosen board); exit 0 same, "
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
