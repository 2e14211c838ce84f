// Image commands: show, convert, set. They use CImageSession exactly as the
// window does: a file goes through the reader and the accept sequence, and
// every written image is the output sequence's.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "CliApp.h"
#include "FieldModel.h"
#include "ImageFiles.h"
#include "ImageMap.h"
#include "ImageSession.h"
#include "SettingsRules.h"
#include "TerminalText.h"
#include "platform/StandardStreams.h"

namespace qrt::cli {

using namespace qrt::image;

namespace {

using namespace qrt::editor;
using json = nlohmann::ordered_json;

}  // namespace

bool LoadImageFile(CCliContext& ctx, CImageSession& session, const std::string& szPath) {
  uint8_t buffer[kRomBufferSize];
  size_t n = 0;
  const int nRead = ReadImageFile(szPath, buffer, sizeof buffer, &n);
  if (nRead != kReadOk) {
    ctx.Fail(QuoteText(szPath) + ": " + ReadImageFileError(nRead));
    return false;
  }
  const EApplyResult r = session.ApplyLoadedImage(buffer, n);
  if (r != EApplyResult::kAccepted) {
    ctx.Fail(QuoteText(szPath) + ": " + ApplyResultText(r));
    return false;
  }
  if (session.BanksBeyondEnd()) ctx.Warn(QuoteText(szPath) + ": " + kBanksBeyondEndText);
  session.SetRomSize(static_cast<uint32_t>(n));
  return true;
}

namespace {

// The output sequence, then the writer chosen by the path's type.
bool SaveImageFile(CCliContext& ctx, CImageSession& session, const std::string& szPath) {
  const EImageFileType type = GetImageFileTypeByPath(szPath);
  if (type == EImageFileType::kUnknown) {
    ctx.Fail(QuoteText(szPath) + ": the output name needs .bin or .hex");
    return false;
  }
  uint8_t out[kMaxImageSize];
  size_t n = 0;
  const EBuildResult r = session.BuildOutputImage(out, &n);
  if (r != EBuildResult::kOk) {
    ctx.Fail(std::string("cannot build the image: ") + BuildResultText(r));
    return false;
  }
  std::string szWhy;
  const int nWrite = type == EImageFileType::kBin ? WriteBinFile(szPath, out, n, {}, &szWhy)
                                                  : WriteHexFile(szPath, out, n, {}, &szWhy);
  if (nWrite != kWriteOk) {
    ctx.Fail(QuoteText(szPath) + ": cannot write the file: " + szWhy);
    return false;
  }
  return true;
}

bool ApplySizeOption(CCliContext& ctx, CImageSession& session, const std::string& szSize) {
  if (szSize.empty()) return true;
  const uint32_t dwSize = RomSizeFromEepromType(szSize);
  if (dwSize == 0) {
    ctx.Fail("--size must be 24C02, 24C04, 24C08 or 24C16, not " + szSize);
    return false;
  }
  session.SetRomSize(dwSize);
  return true;
}

json RecordJson(const _INTERNAL_OPT& r) {
  json j;
  for (const FIELD_DEF& def : Fields()) {
    if (def.pszJsonName == nullptr) continue;
    const FIELD_VALUE v = FieldJsonValue(def, r);
    if (v.bNumber)
      j[def.pszJsonName] = v.nNumber;
    else
      j[def.pszJsonName] = v.szText;
  }
  return j;
}

json EqBankJson(const _EQ_EXTEND_BANK& b) {
  json j;
  j["value0"] = b.value0;
  j["value1"] = b.value1;
  j["value2"] = b.value2;
  j["value3"] = b.value3;
  j["value4"] = b.value4;
  j["bit7Flag"] = b.bit7Flag;
  j["bit5Flag"] = b.bit5Flag;
  j["bit6Flag"] = b.bit6Flag;
  j["bit4Flag"] = b.bit4Flag;
  j["byte14"] = b.byte14;
  j["lastBank"] = b.lastBank;
  j["bytes8to13"] = Hex(b.bytes8to13, 6);
  return j;
}

json SessionJson(CImageSession& s) {
  json j = RecordJson(s.m_RecInternalOpt);
  j["romSize"] = s.GetRomSize();
  j["eepromType"] = EepromTypeText(s.GetReadRomSize());
  json i2c = json::array();
  for (int i = 0; i < s.I2CInitMgr().GetCount(); ++i) {
    _I2C_INIT_BANK bank;
    if (s.I2CInitMgr().GetBank(i, &bank) == 0) i2c.push_back(Hex(bank.btData, 32));
  }
  j["i2cInitBanks"] = i2c;
  if (s.AgcIrMgr().IsPresent()) {
    j["agcIrBank"] = {{"bytes", Hex(s.AgcIrMgr().Bytes(), CAgcIrMgr::kBankSize)},
                      {"irEnable", s.AgcIrMgr().GetIrEnable()},
                      {"necIrGpoNum", s.AgcIrMgr().GetNecIrGpoNum()},
                      {"fromImage", s.ReadAGCFromOutSide() == 1}};
  } else {
    j["agcIrBank"] = nullptr;
  }
  json eq = json::array();
  for (int i = 0; i < s.EQGainMgr().GetCount(); ++i) {
    _EQ_EXTEND_BANK bank;
    if (s.EQGainMgr().GetBank(i, &bank) == 0) eq.push_back(EqBankJson(bank));
  }
  j["eqBanks"] = eq;
  return j;
}

void PrintText(std::ostream& o, CImageSession& s) {
  const _INTERNAL_OPT& r = s.m_RecInternalOpt;
  char sz[128];
  auto line = [&o](const char* name, const std::string& value) {
    char head[40];
    std::snprintf(head, sizeof head, "%-26s", name);
    o << head << qrt::diag::EscapeControls(value) << '\n';
  };
  auto num = [](unsigned v) { return std::to_string(v); };
  line("romSize", num(s.GetRomSize()));
  line("eepromType", EepromTypeText(s.GetReadRomSize()));
  std::vector<const FIELD_DEF*> vLines;
  for (const FIELD_DEF& def : Fields()) {
    if (def.pszShowName != nullptr) vLines.push_back(&def);
  }
  std::stable_sort(vLines.begin(), vLines.end(), [](const FIELD_DEF* a, const FIELD_DEF* b) {
    return a->nShowOrder < b->nShowOrder;
  });
  for (const FIELD_DEF* pDef : vLines) line(pDef->pszShowName, FieldShowText(*pDef, r));

  const int nI2C = s.I2CInitMgr().GetCount();
  line("I2C init banks", num(static_cast<unsigned>(nI2C)));
  for (int i = 0; i < nI2C; ++i) {
    _I2C_INIT_BANK bank;
    if (s.I2CInitMgr().GetBank(i, &bank) == 0) o << "  " << Hex(bank.btData, 32) << '\n';
  }
  if (s.AgcIrMgr().IsPresent()) {
    std::snprintf(sz, sizeof sz, "present, IR enable %d, NEC_IR_GPO_NUM %X",
                  s.AgcIrMgr().GetIrEnable(), s.AgcIrMgr().GetNecIrGpoNum());
    line("AGC/IR bank", sz);
    o << "  " << Hex(s.AgcIrMgr().Bytes(), CAgcIrMgr::kBankSize) << '\n';
  } else {
    line("AGC/IR bank", "absent");
  }
  const int nEq = s.EQGainMgr().GetCount();
  line("EQ extension banks", num(static_cast<unsigned>(nEq)));
  for (int i = 0; i < nEq; ++i) {
    _EQ_EXTEND_BANK b;
    if (s.EQGainMgr().GetBank(i, &b) != 0) continue;
    std::snprintf(sz, sizeof sz,
                  "  %03X %03X %03X %03X %03X flags7654=%d%d%d%d byte14=%.2X last=%d bytes8to13=",
                  b.value0, b.value1, b.value2, b.value3, b.value4, b.bit7Flag, b.bit6Flag,
                  b.bit5Flag, b.bit4Flag, b.byte14, b.lastBank);
    o << sz << Hex(b.bytes8to13, 6) << '\n';
  }
}

// --- show --map ------------------------------------------------------------

// Colours for --color WHEN: auto colours a terminal's standard output unless
// NO_COLOR is set.
bool UseColour(const CCliContext& ctx, const std::string& szWhen) {
  if (szWhen != "auto") return szWhen == "always";
  const char* pszNoColour = std::getenv("NO_COLOR");
  if (pszNoColour != nullptr && *pszNoColour != 0) return false;
  return &ctx.out == &std::cout && platform::StandardOutputTakesColour();
}

// "0x0018-0x0019", "0x000D bits 6-7".
std::string RunPlace(const MAP_RUN& run) {
  char sz[32];
  if (run.nFrom == run.nTo)
    std::snprintf(sz, sizeof sz, "0x%04zX", run.nFrom);
  else
    std::snprintf(sz, sizeof sz, "0x%04zX-0x%04zX", run.nFrom, run.nTo);
  const std::string szMask = MaskText(run.Part.btMask);
  return szMask.empty() ? sz : sz + (" " + szMask);
}

std::string ImageTitle(size_t nSize) {
  std::string s = "Image map: " + std::to_string(nSize) + " bytes";
  if (NormaliseRomSize(static_cast<uint32_t>(nSize)) == nSize)
    s += std::string(" (") + EepromTypeText(static_cast<uint32_t>(nSize)) + ")";
  return s + ", as a save writes it";
}

// The hex rows, each byte on the colour of the owner of most of its bits
// (the space between two bytes of one owner too), then one line per run:
// where, whose, what.
void PrintMap(std::ostream& o, const CImageMap& map, bool bColour) {
  o << ImageTitle(map.Size()) << "\n        +0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F\n";
  const auto paint = [bColour](const MAP_PART& part, const std::string& szText) {
    return bColour ? qrt::diag::BackgroundColour(MapColour(part)) + szText + qrt::diag::kColourReset
                   : szText;
  };
  char sz[48];
  for (size_t nRow = 0; nRow < map.Size(); nRow += 16) {
    std::snprintf(sz, sizeof sz, "0x%04zX ", nRow);
    o << sz;
    for (size_t i = nRow; i < std::min(nRow + 16, map.Size()); ++i) {
      const MAP_PART& part = map.MainPart(i);
      std::snprintf(sz, sizeof sz, "%02X", map.Bytes()[i]);
      const bool bJoined = i > nRow && SameOwner(map.MainPart(i - 1), part);
      o << (bJoined ? paint(part, " ") : " ") << paint(part, sz);
    }
    o << '\n';
  }
  o << '\n';
  for (const MAP_RUN& run : map.Runs()) {
    std::snprintf(sz, sizeof sz, "%-26s", RunPlace(run).c_str());
    std::string szName = MapPartName(run.Part);
    const std::string szValue = MapPartValue(map, run.Part);
    if (!szValue.empty()) szName.resize(std::max<size_t>(szName.size(), 18), ' ');
    o << sz << paint(run.Part, szName);
    if (!szValue.empty()) o << ' ' << qrt::diag::EscapeControls(szValue);
    o << '\n';
  }
}

json MapJson(const CImageMap& map) {
  json runs = json::array();
  for (const MAP_RUN& run : map.Runs()) {
    runs.push_back({{"from", run.nFrom},
                    {"to", run.nTo},
                    {"mask", run.Part.btMask},
                    {"name", MapPartName(run.Part)},
                    {"value", MapPartValue(map, run.Part)}});
  }
  return json{{"size", map.Size()}, {"bytes", Hex(map.Bytes().data(), map.Size())}, {"map", runs}};
}

// --- set -----------------------------------------------------------------

// NAME=VALUE as the field and its value. Returns an error text, empty on
// success.
std::string ParseAssignment(const std::string& szAssignment, FIELD_ASSIGNMENT& a) {
  const size_t nEq = szAssignment.find('=');
  if (nEq == std::string::npos) return "expected NAME=VALUE, got " + QuoteText(szAssignment);
  const std::string name = szAssignment.substr(0, nEq);
  a.pDef = FindSetField(name);
  if (a.pDef == nullptr) return "unknown setting " + QuoteText(name);
  a.szValue = szAssignment.substr(nEq + 1);
  return {};
}

}  // namespace

void RegisterImageCommands(CLI::App& app, CCliContext& ctx) {
  // show
  struct CShowArgs {
    std::string szFile;
    bool bJson = false;
    bool bBuiltin = false;
    bool bMap = false;
    std::string szColour = "auto";
  };
  auto show = std::make_shared<CShowArgs>();
  CLI::App* pShow = app.add_subcommand(
      "show", "Load an image as the window does and print its settings and banks");
  pShow->add_option("FILE", show->szFile, "Image file (.bin or .hex)");
  pShow->add_flag("--builtin", show->bBuiltin, "Show the built-in default image instead");
  pShow->add_flag("--json", show->bJson, "Print one JSON object");
  pShow->add_flag("--map", show->bMap,
                  "Print the image map instead: the image as a save writes it, 16 bytes a row, "
                  "and which setting, bank or area each byte's bits belong to");
  pShow->add_option("--color", show->szColour, "Colours of --map: auto (a terminal), always, never")
      ->check(CLI::IsMember({"auto", "always", "never"}));
  pShow->callback([&ctx, show]() {
    if (show->bBuiltin == !show->szFile.empty()) {
      ctx.Fail("show needs either FILE or --builtin");
      return;
    }
    CImageSession session;
    if (!show->bBuiltin && !LoadImageFile(ctx, session, show->szFile)) return;
    if (show->bMap) {
      std::vector<uint8_t> vImage;
      const EBuildResult rBuild = CurrentImage(session, vImage);
      if (rBuild != EBuildResult::kOk)
        ctx.Warn(std::string("the map shows the image as loaded: ") + BuildResultText(rBuild));
      CImageMap map;
      map.Build(vImage.data(), vImage.size());
      if (show->bJson)
        ctx.PrintJson(MapJson(map));
      else
        PrintMap(ctx.out, map, UseColour(ctx, show->szColour));
      return;
    }
    if (show->bJson)
      ctx.PrintJson(SessionJson(session));
    else
      PrintText(ctx.out, session);
  });

  // convert
  struct CConvertArgs {
    std::string szIn, szOut, szSize;
    bool bBuiltin = false;
  };
  auto conv = std::make_shared<CConvertArgs>();
  CLI::App* pConvert = app.add_subcommand(
      "convert", "Load IN and write it to OUT (.bin or .hex by OUT's name) as a save does");
  pConvert->add_option("IN", conv->szIn, "Image file to load");
  pConvert->add_option("OUT", conv->szOut, "File to write");
  pConvert->add_flag("--builtin", conv->bBuiltin,
                     "Write the built-in default image instead: convert --builtin OUT");
  pConvert->add_option("--size,--eeprom", conv->szSize, "Image size: 24C02, 24C04, 24C08 or 24C16");
  pConvert->callback([&ctx, conv]() {
    // With --builtin the one file named is the output.
    const bool bArgsFit = conv->bBuiltin ? !conv->szIn.empty() && conv->szOut.empty()
                                         : !conv->szIn.empty() && !conv->szOut.empty();
    if (!bArgsFit) {
      ctx.Fail("convert needs IN and OUT, or --builtin and OUT");
      return;
    }
    CImageSession session;
    if (!conv->bBuiltin && !LoadImageFile(ctx, session, conv->szIn)) return;
    if (!ApplySizeOption(ctx, session, conv->szSize)) return;
    SaveImageFile(ctx, session, conv->bBuiltin ? conv->szIn : conv->szOut);
  });

  // set
  struct CSetArgs {
    std::string szIn, szOut, szSize, szTemplate;
    std::vector<std::string> vAssignments;
  };
  auto set = std::make_shared<CSetArgs>();
  CLI::App* pSet = app.add_subcommand(
      "set", "Load IN, change settings, write OUT (.bin or .hex by its name) as a save does");
  pSet->footer(
      "Settings (NAME=VALUE). All of one command are applied together, then the\n"
      "result is checked; any bad value writes nothing.\n" +
      SettableFieldList());
  pSet->add_option("IN", set->szIn, "Image file to load")->required();
  pSet->add_option("OUT", set->szOut, "File to write")->required();
  pSet->add_option("NAME=VALUE", set->vAssignments, "Settings, applied together");
  pSet->add_option("--template", set->szTemplate,
                   "Apply a template (qrt4250-cli template export) before the settings");
  pSet->add_option("--size", set->szSize, "Image size: 24C02, 24C04, 24C08 or 24C16");
  pSet->callback([&ctx, set]() {
    CImageSession session;
    if (!LoadImageFile(ctx, session, set->szIn)) return;
    if (!ApplySizeOption(ctx, session, set->szSize)) return;
    if (set->vAssignments.empty() && set->szTemplate.empty()) {
      ctx.Fail("set needs NAME=VALUE settings or --template FILE");
      return;
    }
    if (!set->szTemplate.empty() && !ApplyTemplateFile(ctx, session, set->szTemplate)) return;
    // The settings of the command are one edit on top of the template.
    std::vector<FIELD_ASSIGNMENT> vAssignments(set->vAssignments.size());
    for (size_t i = 0; i < vAssignments.size(); ++i) {
      const std::string szError = ParseAssignment(set->vAssignments[i], vAssignments[i]);
      if (!szError.empty()) {
        ctx.Fail(szError);
        return;
      }
    }
    const std::string szError = ApplyFieldTexts(session.m_RecInternalOpt, vAssignments);
    if (!szError.empty()) {
      ctx.Fail(szError);
      return;
    }
    SaveImageFile(ctx, session, set->szOut);
  });
}

}  // namespace qrt::cli
