// Image commands: show, convert, set. They use CImageSession exactly as the
// window does: a file goes through the reader and the accept sequence, and
// every written image is the output sequence's.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "CliApp.h"
#include "ImageFiles.h"
#include "ImageSession.h"
#include "SettingsRules.h"

namespace qrt::cli {

namespace {

using namespace qrt::image;
using namespace qrt::editor;
using json = nlohmann::ordered_json;

std::string Hex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s.push_back(kDigits[p[i] >> 4]);
    s.push_back(kDigits[p[i] & 0x0F]);
  }
  return s;
}

std::string FieldText(const uint8_t* p, size_t nMax) {
  size_t n = 0;
  while (n < nMax && p[n] != 0) ++n;
  return Latin1ToUtf8(std::string_view(reinterpret_cast<const char*>(p), n));
}

// Reads a file by its path's type and runs the accept sequence; on success
// the session's image size is the file's byte count.
bool LoadImageFile(CCliContext& ctx, CImageSession& session, const std::string& szPath) {
  uint8_t buffer[kRomBufferSize];
  size_t n = 0;
  int nRead = kReadCannotOpen;
  switch (GetImageFileTypeByPath(szPath)) {
    case EImageFileType::kBin:
      nRead = ReadBinFile(szPath, buffer, sizeof buffer, &n);
      break;
    case EImageFileType::kHex:
      nRead = ReadHexFile(szPath, buffer, sizeof buffer, &n);
      break;
    case EImageFileType::kUnknown:
      ctx.Fail(szPath + ": Load File fail (the name has neither .bin nor .hex)");
      return false;
  }
  switch (nRead) {
    case kReadOk:
      break;
    case kReadTooLarge:
      ctx.Fail(szPath + ": image longer than 2048 bytes");
      return false;
    case kReadCorrupt:
      ctx.Fail(szPath + ": not a hex image (a letter G-Z in the text)");
      return false;
    case kReadShort:
      ctx.Fail(szPath + ": Load File fail (short read)");
      return false;
    default:
      ctx.Fail(szPath + ": Load File fail (cannot open)");
      return false;
  }
  const EApplyResult r = session.ApplyLoadedImage(buffer, n);
  if (r != EApplyResult::kAccepted) {
    ctx.Fail(szPath + ": " + ApplyResultText(r));
    return false;
  }
  session.SetRomSize(static_cast<uint32_t>(n));
  return true;
}

// The output sequence, then the writer chosen by the path's type.
bool SaveImageFile(CCliContext& ctx, CImageSession& session, const std::string& szPath) {
  const EImageFileType type = GetImageFileTypeByPath(szPath);
  if (type == EImageFileType::kUnknown) {
    ctx.Fail(szPath + ": the output name needs .bin or .hex");
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
    ctx.Fail(szPath + ": cannot write the file: " + szWhy);
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
  j["btSignature"] = r.btSignature;
  j["btConfig1"] = r.btConfig1;
  j["wVID"] = r.wVID;
  j["wPID"] = r.wPID;
  j["btVIDRaw"] = Hex(r.btVIDRaw, 2);
  j["btPIDRaw"] = Hex(r.btPIDRaw, 2);
  j["szStringArea"] = Hex(r.szStringArea, sizeof r.szStringArea);
  j["szProduct"] = FieldText(r.szProduct, sizeof r.szProduct);
  j["szManufacturer"] = FieldText(r.szManufacturer, sizeof r.szManufacturer);
  j["btSerialNumber"] = Hex(r.btSerialNumber, 6);
  j["btPlayVolume"] = r.btPlayVolume;
  j["btRecordVolume"] = r.btRecordVolume;
  j["btMixVolume"] = r.btMixVolume;
  j["btMaxPowerGain1"] = r.btMaxPowerGain1;
  j["btMixMute"] = r.btMixMute;
  j["btPlayTerminalHi"] = r.btPlayTerminalHi;
  j["btRecord2TerminalHi"] = r.btRecord2TerminalHi;
  j["btRecordTerminalHi"] = r.btRecordTerminalHi;
  j["btHpfMode"] = r.btHpfMode;
  j["btProductLen"] = r.btProductLen;
  j["btManufacturerLen"] = r.btManufacturerLen;
  j["btHpfREnable"] = r.btHpfREnable;
  j["btHpfLEnable"] = r.btHpfLEnable;
  j["btPlayTerminalLo"] = r.btPlayTerminalLo;
  j["btRecord2TerminalLo"] = r.btRecord2TerminalLo;
  j["btRecordTerminalLo"] = r.btRecordTerminalLo;
  j["btProductStringCtrl"] = r.btProductStringCtrl;
  j["btSerialNumberCtrl"] = r.btSerialNumberCtrl;
  j["btManufacturerStringCtrl"] = r.btManufacturerStringCtrl;
  j["btMicBoostCtrl"] = r.btMicBoostCtrl;
  j["btMicBoostDefault"] = r.btMicBoostDefault;
  j["btGainA"] = r.btGainA;
  j["btGainB"] = r.btGainB;
  j["btGainC"] = r.btGainC;
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
    o << head << value << '\n';
  };
  auto hex2 = [&sz](unsigned v) {
    std::snprintf(sz, sizeof sz, "0x%.2X", v);
    return std::string(sz);
  };
  auto num = [](unsigned v) { return std::to_string(v); };
  auto digits = [&sz](unsigned hi, unsigned lo) {
    std::snprintf(sz, sizeof sz, "%u/%u (0x%.4X)", hi, lo,
                  TerminalType(static_cast<uint8_t>(hi), static_cast<uint8_t>(lo)));
    return std::string(sz);
  };
  line("romSize", num(s.GetRomSize()));
  line("eepromType", EepromTypeText(s.GetReadRomSize()));
  line("btSignature", hex2(r.btSignature));
  line("btConfig1", hex2(r.btConfig1));
  std::snprintf(sz, sizeof sz, "0x%.4X", r.wVID);
  line("wVID", sz);
  std::snprintf(sz, sizeof sz, "0x%.4X", r.wPID);
  line("wPID", sz);
  line("btVIDRaw", Hex(r.btVIDRaw, 2));
  line("btPIDRaw", Hex(r.btPIDRaw, 2));
  line("szProduct", "\"" + FieldText(r.szProduct, sizeof r.szProduct) + "\"");
  line("szManufacturer", "\"" + FieldText(r.szManufacturer, sizeof r.szManufacturer) + "\"");
  line("szStringArea", Hex(r.szStringArea, kStringAreaSize));
  line("btProductLen", num(r.btProductLen));
  line("btManufacturerLen", num(r.btManufacturerLen));
  line("btSerialNumber", Hex(r.btSerialNumber, 6));
  line("btProductStringCtrl", num(r.btProductStringCtrl));
  line("btSerialNumberCtrl", num(r.btSerialNumberCtrl));
  line("btManufacturerStringCtrl", num(r.btManufacturerStringCtrl));
  line("btPlayVolume", num(r.btPlayVolume));
  line("btRecordVolume", num(r.btRecordVolume));
  line("btMixVolume", num(r.btMixVolume));
  line("btMaxPowerGain1", num(r.btMaxPowerGain1));
  line("btMixMute", num(r.btMixMute));
  line("btMicBoostCtrl", num(r.btMicBoostCtrl));
  line("btMicBoostDefault", num(r.btMicBoostDefault));
  const CDeviceItems items = ShownDeviceItems(r);
  line("play terminal",
       digits(r.btPlayTerminalHi, r.btPlayTerminalLo) + " " + PlayDeviceName(items.nPlay));
  line("record terminal",
       digits(r.btRecordTerminalHi, r.btRecordTerminalLo) + " " + RecordDeviceName(items.nRecord));
  line("record 2 terminal", digits(r.btRecord2TerminalHi, r.btRecord2TerminalLo));
  line("btHpfMode", num(r.btHpfMode));
  line("btHpfREnable", num(r.btHpfREnable));
  line("btHpfLEnable", num(r.btHpfLEnable));
  line("btGainA", num(r.btGainA));
  line("btGainB", num(r.btGainB));
  line("btGainC", num(r.btGainC));

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

// --- set -----------------------------------------------------------------

bool ParseDecimal(const std::string& s, unsigned nMax, unsigned& nOut) {
  if (s.empty() || s.size() > 5) return false;
  unsigned v = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > nMax) return false;
  nOut = v;
  return true;
}

bool ParseHex16(std::string s, uint16_t& wOut) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s = s.substr(2);
  if (s.empty() || s.size() > 4 || !IsHexText(s)) return false;
  wOut = static_cast<uint16_t>(std::stoul(s, nullptr, 16));
  return true;
}

std::string CurrentField(const uint8_t* p) {
  size_t n = 0;
  while (n < kMaxStringBytes && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

// Applies one NAME=VALUE to the record. Returns an error text, empty on success.
std::string ApplySetting(_INTERNAL_OPT& r, const std::string& szAssignment) {
  const size_t nEq = szAssignment.find('=');
  if (nEq == std::string::npos) return "expected NAME=VALUE, got \"" + szAssignment + "\"";
  const std::string name = szAssignment.substr(0, nEq);
  const std::string value = szAssignment.substr(nEq + 1);
  auto bad = [&](const std::string& why) { return name + "=" + value + ": " + why; };

  struct CNumber {
    uint8_t _INTERNAL_OPT::*pField;
    unsigned nMax;
  };
  static const std::map<std::string, CNumber> kNumbers = {
      {"playVolume", {&_INTERNAL_OPT::btPlayVolume, 63}},
      {"recordVolume", {&_INTERNAL_OPT::btRecordVolume, 63}},
      {"mixVolume", {&_INTERNAL_OPT::btMixVolume, 63}},
      {"maxPowerGain1", {&_INTERNAL_OPT::btMaxPowerGain1, 63}},
      {"mixMute", {&_INTERNAL_OPT::btMixMute, 1}},
      {"micBoostDefault", {&_INTERNAL_OPT::btMicBoostDefault, 1}},
      {"micBoostCtrl", {&_INTERNAL_OPT::btMicBoostCtrl, 1}},
      {"hpfL", {&_INTERNAL_OPT::btHpfLEnable, 1}},
      {"hpfR", {&_INTERNAL_OPT::btHpfREnable, 1}},
      {"productCtrl", {&_INTERNAL_OPT::btProductStringCtrl, 1}},
      {"serialCtrl", {&_INTERNAL_OPT::btSerialNumberCtrl, 1}},
      {"manufacturerCtrl", {&_INTERNAL_OPT::btManufacturerStringCtrl, 1}},
      {"gainA", {&_INTERNAL_OPT::btGainA, 3}},
      {"gainB", {&_INTERNAL_OPT::btGainB, 7}},
      {"gainC", {&_INTERNAL_OPT::btGainC, 7}},
  };
  if (const auto it = kNumbers.find(name); it != kNumbers.end()) {
    unsigned v = 0;
    if (!ParseDecimal(value, it->second.nMax, v))
      return bad("a whole number 0-" + std::to_string(it->second.nMax) + " is expected");
    r.*(it->second.pField) = static_cast<uint8_t>(v);
    return {};
  }
  if (name == "vid" || name == "pid") {
    uint16_t w = 0;
    if (!ParseHex16(value, w)) return bad("1 to 4 hex digits are expected");
    (name == "vid" ? r.wVID : r.wPID) = w;
    return {};
  }
  if (name == "serial") {
    if (!IsHexText(value) || !ParseSerialNumber(value, r.btSerialNumber))
      return bad("up to 12 hex digits are expected");
    return {};
  }
  if (name == "product" || name == "manufacturer") {
    std::string szBytes;
    if (!Utf8ToLatin1(value, szBytes))
      return bad("only characters up to U+00FF fit the string area (one byte each)");
    if (szBytes.size() > kMaxStringBytes) return bad("longer than 56 characters");
    const bool bProduct = name == "product";
    const std::string szProduct = bProduct ? szBytes : CurrentField(r.szProduct);
    const std::string szManufacturer = bProduct ? CurrentField(r.szManufacturer) : szBytes;
    if (PackStrings(r, szProduct, szManufacturer, bProduct, !bProduct) != kPackOk)
      return bad("Max Length is 56 (ProductString + ManufacturerString)");
    return {};
  }
  if (name == "playDevice") {
    static const std::map<std::string, int> kItems = {
        {"speaker", kPlaySpeaker}, {"headset", kPlayHeadset}, {"headphone", kPlayHeadphone}};
    const auto it = kItems.find(value);
    if (it == kItems.end()) return bad("speaker, headset or headphone is expected");
    SetPlayDevice(r, it->second);
    return {};
  }
  if (name == "recordDevice") {
    static const std::map<std::string, int> kItems = {
        {"mic", kRecordMic}, {"headset", kRecordHeadset}, {"micarray", kRecordMicArray}};
    const auto it = kItems.find(value);
    if (it == kItems.end()) return bad("mic, headset or micarray is expected");
    SetRecordDevice(r, it->second);
    return {};
  }
  return "unknown setting \"" + name + "\"";
}

}  // namespace

void RegisterImageCommands(CLI::App& app, CCliContext& ctx) {
  // show
  struct CShowArgs {
    std::string szFile;
    bool bJson = false;
    bool bBuiltin = false;
  };
  auto show = std::make_shared<CShowArgs>();
  CLI::App* pShow = app.add_subcommand(
      "show", "Load an image as the window does and print its settings and banks");
  pShow->add_option("FILE", show->szFile, "Image file (.bin or .hex)");
  pShow->add_flag("--builtin", show->bBuiltin, "Show the built-in default image instead");
  pShow->add_flag("--json", show->bJson, "Print one JSON object");
  pShow->callback([&ctx, show]() {
    if (show->bBuiltin == !show->szFile.empty()) {
      ctx.Fail("show needs either FILE or --builtin");
      return;
    }
    CImageSession session;
    if (!show->bBuiltin && !LoadImageFile(ctx, session, show->szFile)) return;
    if (show->bJson)
      ctx.out << SessionJson(session).dump(2) << '\n';
    else
      PrintText(ctx.out, session);
  });

  // convert
  struct CConvertArgs {
    std::string szIn, szOut, szSize;
  };
  auto conv = std::make_shared<CConvertArgs>();
  CLI::App* pConvert = app.add_subcommand(
      "convert", "Load IN and write it to OUT (.bin or .hex by OUT's name) as a save does");
  pConvert->add_option("IN", conv->szIn, "Image file to load")->required();
  pConvert->add_option("OUT", conv->szOut, "File to write")->required();
  pConvert->add_option("--size", conv->szSize, "Image size: 24C02, 24C04, 24C08 or 24C16");
  pConvert->callback([&ctx, conv]() {
    CImageSession session;
    if (!LoadImageFile(ctx, session, conv->szIn)) return;
    if (!ApplySizeOption(ctx, session, conv->szSize)) return;
    SaveImageFile(ctx, session, conv->szOut);
  });

  // set
  struct CSetArgs {
    std::string szIn, szOut, szSize;
    std::vector<std::string> vAssignments;
  };
  auto set = std::make_shared<CSetArgs>();
  CLI::App* pSet = app.add_subcommand(
      "set", "Load IN, change settings, write OUT (.bin or .hex by its name) as a save does");
  pSet->footer(
      "Settings (NAME=VALUE, applied in order; any bad value writes nothing):\n"
      "  vid, pid            1-4 hex digits (0x prefix allowed)\n"
      "  serial              up to 12 hex digits, right-aligned\n"
      "  product,            text, one byte per character (up to U+00FF),\n"
      "  manufacturer        together at most 56 characters\n"
      "  playVolume, recordVolume, mixVolume, maxPowerGain1   register code 0-63\n"
      "  mixMute, micBoostDefault, micBoostCtrl, hpfL, hpfR,\n"
      "  productCtrl, serialCtrl, manufacturerCtrl             0 or 1\n"
      "  playDevice          speaker | headset | headphone\n"
      "  recordDevice        mic | headset | micarray (headset also sets the\n"
      "                      second record terminal)\n"
      "  gainA 0-3, gainB 0-7, gainC 0-7\n");
  pSet->add_option("IN", set->szIn, "Image file to load")->required();
  pSet->add_option("OUT", set->szOut, "File to write")->required();
  pSet->add_option("NAME=VALUE", set->vAssignments, "Settings, applied in order")->required();
  pSet->add_option("--size", set->szSize, "Image size: 24C02, 24C04, 24C08 or 24C16");
  pSet->callback([&ctx, set]() {
    CImageSession session;
    if (!LoadImageFile(ctx, session, set->szIn)) return;
    if (!ApplySizeOption(ctx, session, set->szSize)) return;
    _INTERNAL_OPT rec = session.m_RecInternalOpt;
    for (const std::string& a : set->vAssignments) {
      const std::string szError = ApplySetting(rec, a);
      if (!szError.empty()) {
        ctx.Fail(szError);
        return;
      }
    }
    session.m_RecInternalOpt = rec;
    SaveImageFile(ctx, session, set->szOut);
  });
}

}  // namespace qrt::cli
