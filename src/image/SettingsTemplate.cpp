#include "SettingsTemplate.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <system_error>

#include "BankHeader.h"
#include "FieldModel.h"
#include "ImageFiles.h"
#include "JsonText.h"
#include "TextNumbers.h"

namespace qrt::image {

namespace {

using json = nlohmann::ordered_json;

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
      return "banks: unknown bank kind " + QuoteText(szKey);
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

CBankTexts BankTextsOf(CImageSession& s) {
  CBankTexts b;
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

std::string ExportTemplate(CImageSession& s) {
  json j;
  for (const FIELD_DEF& def : Fields()) {
    if (def.pszSetName == nullptr) continue;
    const FIELD_VALUE v = FieldSetValue(def, s.m_RecInternalOpt);
    if (v.bNumber)
      j[def.pszSetName] = v.nNumber;
    else
      j[def.pszSetName] = v.szText;
  }
  const CBankTexts b = BankTextsOf(s);
  j["banks"] = {{"i2cInit", b.vI2C},
                {"agcIr", b.szAgcIr.empty() ? json(nullptr) : json(b.szAgcIr)},
                {"eq", b.vEq}};
  // Image strings come from outside: bytes that are not UTF-8 become \xHH.
  return qrt::diag::JsonText(j, 2);
}

std::string ApplyTemplate(CImageSession& session, std::string_view szJson) {
  // Duplicate keys are refused: which of two values wins is not obvious.
  std::string szDuplicate;
  std::vector<std::set<std::string>> vKeys;  // keys of each open object
  json j = json::parse(
      szJson,
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
  if (j.is_discarded()) return "not a JSON document";
  if (!j.is_object()) return "the template must be a JSON object";
  if (!szDuplicate.empty()) return QuoteText(szDuplicate) + " is given twice";
  for (const auto& [szKey, value] : j.items()) {
    if (szKey != "banks" && FindSetField(szKey) == nullptr)
      return "unknown setting " + QuoteText(szKey);
  }
  // All values of the template are one edit: its result is judged, so the
  // order of the keys does not matter.
  std::vector<FIELD_ASSIGNMENT> vAssignments;
  for (const auto& [szKey, value] : j.items()) {
    const FIELD_DEF* pDef = FindSetField(szKey);
    if (pDef == nullptr) continue;  // "banks"
    const bool bNumber = pDef->eKind == EFieldKind::kNumber;
    if (bNumber && value.is_number_unsigned()) {
      vAssignments.push_back({pDef, std::to_string(value.get<uint64_t>())});
    } else if (!bNumber && value.is_string()) {
      vAssignments.push_back({pDef, value.get<std::string>()});
    } else {
      return szKey + ": " + (bNumber ? "a whole number is expected" : "a string is expected");
    }
  }
  _INTERNAL_OPT rec = session.m_RecInternalOpt;
  const std::string szWhy = ApplyFieldTexts(rec, vAssignments);
  if (!szWhy.empty()) return szWhy;
  CImageSession trial = session;
  if (j.contains("banks")) {
    const std::string szWhy = ApplyTemplateBanks(j["banks"], trial);
    if (!szWhy.empty()) return szWhy;
  }
  trial.m_RecInternalOpt = rec;
  session = trial;
  return {};
}

std::string ReadTemplateFile(const std::string& szPath, std::string& szText) {
  std::error_code ec;
  const std::filesystem::path path(szPath);
  const uintmax_t nSize =
      std::filesystem::is_regular_file(path, ec) ? std::filesystem::file_size(path, ec) : 0;
  if (ec || !std::filesystem::is_regular_file(path, ec)) return "cannot read the template";
  if (nSize > kMaxTemplateBytes) return "a template is at most 1 MiB";
  std::ifstream file(szPath, std::ios::binary);
  std::string szRead;
  if (file) szRead.assign(std::istreambuf_iterator<char>(file), {});
  if (!file && !file.eof()) return "cannot read the template";
  // The file may have grown since its size was taken.
  if (szRead.size() > kMaxTemplateBytes) return "a template is at most 1 MiB";
  szText = std::move(szRead);
  return {};
}

}  // namespace qrt::image
