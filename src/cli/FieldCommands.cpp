// Commands built on the field model: diff of two images (files or a board)
// and settings templates (export here, apply through set --template).

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "BankHeader.h"
#include "CliApp.h"
#include "FieldModel.h"
#include "ImageFiles.h"
#include "ImageSession.h"
#include "SettingsRules.h"
#include "TextNumbers.h"

namespace qrt::cli {

namespace {

using namespace qrt::image;
using json = nlohmann::ordered_json;

// Templates are a few kilobytes; anything this large is not one.
constexpr std::streamsize kMaxTemplateBytes = 1 << 20;

// The banks of a session in their image form.
struct CBanks {
  std::vector<std::string> vI2C;  // 32 bytes each, hex
  std::string szAgcIr;            // 32 bytes hex, empty when absent
  std::vector<std::string> vEq;   // 16 bytes each, hex
};

CBanks BanksOf(CImageSession& s) {
  CBanks b;
  for (int i = 0; i < s.I2CInitMgr().GetCount(); ++i) {
    _I2C_INIT_BANK bank;
    if (s.I2CInitMgr().GetBank(i, &bank) == 0) b.vI2C.push_back(Hex(bank.btData, 32));
  }
  if (s.AgcIrMgr().IsPresent()) b.szAgcIr = Hex(s.AgcIrMgr().Bytes(), CAgcIrMgr::kBankSize);
  for (int i = 0; i < s.EQGainMgr().GetCount(); ++i) {
    _EQ_EXTEND_BANK bank;
    if (s.EQGainMgr().GetBank(i, &bank) != 0) continue;
    uint8_t bt[16];
    EncodeEqBank(bank, bt);
    b.vEq.push_back(Hex(bt, 16));
  }
  return b;
}

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
             const CDeviceOptions& o, const std::string& szType, bool bJson) {
  ctx.bJson = bJson;
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
    if (!IsDiffField(def)) continue;
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
  const CBanks ba = BanksOf(a.session), bb = BanksOf(b.session);
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
    ctx.out << json{{"settings", settings}, {"banks", banks}, {"bytes", bytes}}.dump(2) << '\n';
  } else {
    for (const std::string& szLine : vLines) ctx.out << szLine << '\n';
  }
  ctx.nExitCode = vLines.empty() ? 0 : 1;
}

json TemplateOf(CImageSession& s) {
  json j;
  for (const FIELD_DEF& def : Fields()) {
    if (def.pszSetName == nullptr) continue;
    const FIELD_VALUE v = FieldSetValue(def, s.m_RecInternalOpt);
    if (v.bNumber)
      j[def.pszSetName] = v.nNumber;
    else
      j[def.pszSetName] = v.szText;
  }
  const CBanks b = BanksOf(s);
  j["banks"] = {{"i2cInit", b.vI2C},
                {"agcIr", b.szAgcIr.empty() ? json(nullptr) : json(b.szAgcIr)},
                {"eq", b.vEq}};
  return j;
}

// The banks of a template into the session's managers. An error text, or
// empty; the session is changed only on success.
std::string ApplyTemplateBanks(const json& j, CImageSession& s) {
  if (!j.is_object()) return "banks: an object is expected";
  std::vector<_I2C_INIT_BANK> vI2C;
  std::vector<_EQ_EXTEND_BANK> vEq;
  bool bAgcIr = false;
  uint8_t btAgcIr[CAgcIrMgr::kBankSize] = {};
  for (const auto& [szKey, value] : j.items()) {
    if (szKey == "i2cInit" || szKey == "eq") {
      const bool bI2C = szKey == "i2cInit";
      if (!value.is_array()) return "banks." + szKey + ": an array of hex strings is expected";
      for (const json& item : value) {
        uint8_t bt[32];
        const size_t nBytes = bI2C ? 32 : 16;
        if (!item.is_string() || !qrt::diag::ParseHexBytes(item.get<std::string>(), bt, nBytes))
          return "banks." + szKey + ": each bank is " + std::to_string(2 * nBytes) + " hex digits";
        if (bI2C) {
          _I2C_INIT_BANK bank;
          std::copy_n(bt, 32, bank.btData);
          vI2C.push_back(bank);
        } else {
          vEq.push_back(DecodeEqBank(bt));
        }
      }
    } else if (szKey == "agcIr") {
      if (value.is_null()) continue;
      if (!value.is_string() || !qrt::diag::ParseHexBytes(value.get<std::string>(), btAgcIr, 32))
        return "banks.agcIr: null or 64 hex digits is expected";
      bAgcIr = true;
    } else {
      return "banks: unknown bank kind \"" + szKey + "\"";
    }
  }
  // The header announces the banks (0x8F bit 7 with bit 4 for the I2C and
  // AGC/IR banks, 0x8D bit 0 for the EQ list); the output sequence writes
  // bit 4 itself and keeps the rest of the header as placed. Bit 7 alone
  // announces nothing, so without such banks it stays as the base has it.
  std::vector<uint8_t> vImage(s.RomDataMgr().Data(), s.RomDataMgr().Data() + kRomBufferSize);
  CBankHeader header(vImage.data());
  if (!vI2C.empty() || bAgcIr) header.SetBankRead(true);
  header.SetEqBanks(!vEq.empty());
  header.Write(vImage.data());
  s.RomDataMgr().SetRomData(vImage.data(), vImage.size());
  s.I2CInitMgr().Clear();
  for (const auto& bank : vI2C) s.I2CInitMgr().AddBank(bank);
  s.EQGainMgr().Clear();
  for (const auto& bank : vEq) s.EQGainMgr().AddBank(bank);
  s.AgcIrMgr().ZeroBank();
  s.AgcIrMgr().SetPresent(bAgcIr ? 1 : 0);
  if (bAgcIr) s.AgcIrMgr().Decode(btAgcIr, 0);
  return {};
}

}  // namespace

bool ApplyTemplateFile(CCliContext& ctx, CImageSession& session, const std::string& szPath) {
  std::error_code ec;
  const std::filesystem::path path(szPath);
  const uintmax_t nSize =
      std::filesystem::is_regular_file(path, ec) ? std::filesystem::file_size(path, ec) : 0;
  if (ec || !std::filesystem::is_regular_file(path, ec)) {
    ctx.Fail(szPath + ": cannot read the template");
    return false;
  }
  if (nSize > static_cast<uintmax_t>(kMaxTemplateBytes)) {
    ctx.Fail(szPath + ": a template is at most 1 MiB");
    return false;
  }
  std::ifstream file(szPath, std::ios::binary);
  std::string szText;
  if (file) {
    szText.assign(std::istreambuf_iterator<char>(file), {});
  }
  if (!file && !file.eof()) {
    ctx.Fail(szPath + ": cannot read the template");
    return false;
  }
  if (static_cast<std::streamsize>(szText.size()) > kMaxTemplateBytes) {
    ctx.Fail(szPath + ": a template is at most 1 MiB");
    return false;
  }
  // Duplicate keys are refused: which of two values wins is not obvious.
  std::string szDuplicate;
  std::vector<std::set<std::string>> vKeys;  // keys of each open object
  json j = json::parse(
      szText,
      [&](int, json::parse_event_t event, json& parsed) {
        if (event == json::parse_event_t::object_start) {
          vKeys.emplace_back();
        } else if (event == json::parse_event_t::object_end && !vKeys.empty()) {
          vKeys.pop_back();
        } else if (event == json::parse_event_t::key && !vKeys.empty()) {
          const std::string szKey = parsed.get<std::string>();
          if (!vKeys.back().insert(szKey).second && szDuplicate.empty()) szDuplicate = szKey;
        }
        return true;
      },
      false);
  if (j.is_discarded()) {
    ctx.Fail(szPath + ": not a JSON document");
    return false;
  }
  if (!j.is_object()) {
    ctx.Fail(szPath + ": the template must be a JSON object");
    return false;
  }
  if (!szDuplicate.empty()) {
    ctx.Fail(szPath + ": \"" + szDuplicate + "\" is given twice");
    return false;
  }
  // Applied in the table's order, not the file's: the strings before their
  // switches, as a series of set NAME=VALUE would need them.
  _INTERNAL_OPT rec = session.m_RecInternalOpt;
  for (const auto& [szKey, value] : j.items()) {
    if (szKey == "banks") continue;
    if (FindSetField(szKey) == nullptr) {
      ctx.Fail(szPath + ": unknown setting \"" + szKey + "\"");
      return false;
    }
  }
  for (const FIELD_DEF& def : Fields()) {
    if (def.pszSetName == nullptr || !j.contains(def.pszSetName)) continue;
    const json& value = j[def.pszSetName];
    const bool bNumber = def.eKind == EFieldKind::kNumber;
    std::string szValue;
    if (bNumber && value.is_number_unsigned()) {
      szValue = std::to_string(value.get<uint64_t>());
    } else if (!bNumber && value.is_string()) {
      szValue = value.get<std::string>();
    } else {
      ctx.Fail(szPath + ": " + def.pszSetName + ": " +
               (bNumber ? "a whole number is expected" : "a string is expected"));
      return false;
    }
    const std::string szWhy = ApplyFieldText(def, rec, szValue);
    if (!szWhy.empty()) {
      ctx.Fail(szPath + ": " + def.pszSetName + "=" + szValue + ": " + szWhy);
      return false;
    }
  }
  CImageSession trial = session;
  if (j.contains("banks")) {
    const std::string szWhy = ApplyTemplateBanks(j["banks"], trial);
    if (!szWhy.empty()) {
      ctx.Fail(szPath + ": " + szWhy);
      return false;
    }
  }
  trial.m_RecInternalOpt = rec;
  session = trial;
  return true;
}

void RegisterFieldCommands(CLI::App& app, CCliContext& ctx) {
  struct CDiffArgs {
    std::string szA, szB, szType;
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
  std::shared_ptr<CDeviceOptions> pDiffDevice = AddDeviceOptionsTo(pDiff);
  pDiff->callback([&ctx, diff, pDiffDevice] {
    RunDiff(ctx, diff->szA, diff->szB, *pDiffDevice, diff->szType, diff->bJson);
  });

  struct CTemplateArgs {
    std::string szImage;
    bool bJson = false;
  };
  auto tmpl = std::make_shared<CTemplateArgs>();
  CLI::App* pTemplate = app.add_subcommand("template", "Settings templates");
  pTemplate->require_subcommand(1);
  CLI::App* pExport = pTemplate->add_subcommand(
      "export", "Print an image's settings as a template (JSON keyed by the set names)");
  pExport->add_option("IMAGE", tmpl->szImage, "Image file (.bin or .hex)")->required();
  pExport->add_flag("--json", tmpl->bJson, "The output is JSON in any case");
  pExport->callback([&ctx, tmpl] {
    ctx.bJson = true;
    CImageSession session;
    if (!LoadImageFile(ctx, session, tmpl->szImage)) return;
    ctx.out << TemplateOf(session).dump(2) << '\n';
  });
}

}  // namespace qrt::cli
