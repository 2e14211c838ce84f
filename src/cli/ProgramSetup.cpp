// program's set-up: the options checked into the run's image, serial
// source, log, facts and hooks before any board is touched.
#include "ProgramSetup.h"

#include <filesystem>
#include <map>
#include <ostream>

#include "CliApp.h"
#include "DeviceOptions.h"
#include "Command.h"
#include "ImageFiles.h"

#ifndef QRT_VERSION
#define QRT_VERSION "0.0.0"
#endif

namespace qrt::cli {

using namespace qrt::image;
using qrt::production::FormatSerial;

namespace {

// "000000000100" from 1 to 12 hex digits. False (message written) otherwise.
bool SerialOption(CCliContext& ctx, const char* pszName, const std::string& szText,
                  uint64_t& qwSerial) {
  std::string szPadded = szText;
  if (szPadded.size() < 12) szPadded.insert(0, 12 - szPadded.size(), '0');
  if (szText.empty() || !qrt::production::ParseSerial(szPadded, qwSerial)) {
    ctx.Fail(std::string(pszName) + " must be 1 to 12 hex digits, not " + szText);
    return false;
  }
  return true;
}

// The base image and the run's files from the options.
bool PrepareRun(CCliContext& ctx, const CProgramOptions& p, CImageSession& base,
                std::unique_ptr<qrt::production::CSerialCounter>& pCounter,
                qrt::production::CProductionLog& log) {
  // The image of every board: --image BASE or the built-in default image,
  // then the template; a template that does not load stops the run here.
  if (p.szImage.empty() && p.szTemplate.empty()) {
    ctx.Fail("program needs --template T.json or --image BASE (or both)");
    return false;
  }
  if (!p.szImage.empty() && !LoadImageFile(ctx, base, p.szImage)) return false;
  if (!p.szTemplate.empty() && !ApplyTemplateFile(ctx, base, p.szTemplate)) return false;
  if (!p.szType.empty()) {
    const uint32_t dwSize = RomSizeFromEepromType(p.szType);
    if (dwSize == 0) {
      ctx.Fail("--eeprom must be 24C02, 24C04, 24C08 or 24C16, not " + p.szType);
      return false;
    }
    base.SetRomSize(dwSize);
  }
  if (p.bWait && p.bAll) {
    ctx.Fail("--wait and --all exclude each other");
    return false;
  }
  qrt::transfer::PRODUCTION_FILES files;
  files.szSerialFile = p.szSerialFile;
  files.szLog = p.szLog;
  if ((!p.szSerialStart.empty() || !p.szSerialEnd.empty()) && p.szSerialFile.empty()) {
    ctx.Fail(std::string(p.szSerialStart.empty() ? "--serial-end" : "--serial-start") +
             " needs --serial-file");
    return false;
  }
  uint64_t qwEnd = qrt::production::kLastSerial;
  if (!p.szSerialStart.empty()) {
    uint64_t qwStart = 0;
    if (!SerialOption(ctx, "--serial-start", p.szSerialStart, qwStart)) return false;
    files.qwSerialStart = qwStart;
  }
  if (!p.szSerialEnd.empty() && !SerialOption(ctx, "--serial-end", p.szSerialEnd, qwEnd)) {
    return false;
  }
  std::string szError;
  bool bMissing = false;
  if (!qrt::transfer::PrepareProduction(base, files, pCounter, log, szError, &bMissing)) {
    ctx.Fail(szError + (bMissing ? " (--serial-start HEX creates it)" : ""));
    return false;
  }
  if (pCounter && !p.szSerialEnd.empty()) {
    pCounter->SetLast(qwEnd);
    uint64_t qwNext = 0;
    pCounter->Peek(qwNext, szError);  // answered a moment ago in PrepareProduction
    const uint64_t qwLeft = qwNext > qwEnd ? 0 : qwEnd - qwNext + 1;
    ctx.err << "qrt4250-cli: " << qwLeft << " serial(s) left in the work order ("
            << FormatSerial(qwNext) << "-" << FormatSerial(qwEnd) << ")" << std::endl;
  }
  return true;
}

// What every log line says about the line.
qrt::transfer::LINE_FACTS LineFacts(const CDeviceOptions& o, const CProgramOptions& p) {
  qrt::transfer::LINE_FACTS facts;
  facts.szStation = p.szStation.empty() ? qrt::production::HostName() : p.szStation;
  facts.szOperator = p.szOperator;
  facts.szWorkOrder = p.szWorkOrder;
  facts.szToolVersion = QRT_VERSION;
  facts.szProfile = o.szProfile;
  for (const std::string& szFile : {p.szImage, p.szTemplate}) {
    if (szFile.empty()) continue;
    if (!facts.szGolden.empty()) facts.szGolden += " + ";
    facts.szGolden += std::filesystem::path(szFile).filename().string();
  }
  return facts;
}

// The words of a command option; false (message written) when it has none.
bool CommandWords(CCliContext& ctx, const char* pszOption, const std::string& szCommand,
                  std::vector<std::string>& vWords) {
  std::string szError;
  if (szCommand.empty() || qrt::transfer::SplitCommand(szCommand, vWords, szError)) return true;
  ctx.Fail(std::string(pszOption) + ": " + szError);
  return false;
}

}  // namespace

qrt::production::ISerialSource* PROGRAM_SETUP::Serials() const {
  if (pCommand) return pCommand.get();
  if (pLease) return pLease.get();
  return pCounter.get();
}

bool PrepareProgram(CCliContext& ctx, const CDeviceOptions& o, const CProgramOptions& p,
                    PROGRAM_SETUP& setup) {
  setup.Facts = LineFacts(o, p);
  const int nTimeOutMs = p.nHookTimeOutS * 1000;
  std::vector<std::string> vSerialCommand;
  if (!CommandWords(ctx, "--before", p.szBefore, setup.vBefore) ||
      !CommandWords(ctx, "--after", p.szAfter, setup.vAfter) ||
      !CommandWords(ctx, "--serial-command", p.szSerialCommand, vSerialCommand)) {
    return false;
  }
  if (!p.szSerialCommand.empty() && (!p.szSerialFile.empty() || p.nSerialBlock != 0)) {
    ctx.Fail("--serial-command excludes --serial-file and --serial-block");
    return false;
  }
  if (p.nSerialBlock != 0 && p.szSerialFile.empty()) {
    ctx.Fail("--serial-block needs --serial-file");
    return false;
  }
  if (!PrepareRun(ctx, p, setup.Base, setup.pCounter, setup.Log)) return false;
  if (!vSerialCommand.empty()) {
    setup.pCommand = std::make_unique<qrt::transfer::CSerialCommand>(
        vSerialCommand,
        std::map<std::string, std::string>{{"QRT_STATION", setup.Facts.szStation},
                                           {"QRT_WORK_ORDER", setup.Facts.szWorkOrder}},
        nTimeOutMs);
  }
  if (p.nSerialBlock != 0 && setup.pCounter) {
    const std::string szFile = p.szSerialLease.empty()
                                   ? qrt::transfer::DefaultLeaseFile(setup.Facts.szStation)
                                   : p.szSerialLease;
    std::string szError;
    if (szFile.empty()) {
      ctx.Fail("--serial-block needs --serial-lease FILE here (no state folder)");
      return false;
    }
    setup.pLease =
        qrt::transfer::OpenSerialLease(*setup.pCounter, szFile, p.nSerialBlock, szError);
    if (!setup.pLease) {
      ctx.Fail(szError);
      return false;
    }
  }
  return true;
}

void EndProgram(CCliContext& ctx, PROGRAM_SETUP& setup) {
  if (!setup.pLease) return;
  qrt::transfer::LEASE_RETURN returned;
  std::string szError;
  const bool bEnded =
      qrt::transfer::EndSerialLease(*setup.pLease, setup.Log, setup.Facts.szStation, returned, szError);
  if (returned.bReturned) ctx.err << "qrt4250-cli: " << returned.Text() << std::endl;
  if (!bEnded) ctx.Fail(szError);
}

}  // namespace qrt::cli
