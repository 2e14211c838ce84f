// read, write, restore and verify: one board's EEPROM against a file.
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "DeviceCommands.h"
#include "DeviceSession.h"
#include "FieldModel.h"
#include "ImageFiles.h"
#include "SettingsRules.h"
#include "TerminalText.h"

namespace qrt::cli {

using namespace qrt::image;
using namespace USB42XX_MGR;
using json = nlohmann::ordered_json;

namespace {

// Loads FILE like a file load and builds the output image like the window's
// write. Returns the image size, 0 on failure (message written).
size_t BuildImageFromFile(CCliContext& ctx, const std::string& szFile, const std::string& szType,
                          uint8_t* pOut) {
  std::vector<uint8_t> buffer(kRomBufferSize, 0xFF);
  long n = ReadImageBytes(ctx, szFile, buffer.data(), buffer.size());
  if (n < 0) return 0;
  CImageSession image;
  EApplyResult eApply = image.ApplyLoadedImage(buffer.data(), static_cast<size_t>(n));
  if (eApply != EApplyResult::kAccepted) {
    ctx.Fail(QuoteText(szFile) + ": " + ApplyResultText(eApply));
    return 0;
  }
  if (image.BanksBeyondEnd()) ctx.Warn(QuoteText(szFile) + ": " + kBanksBeyondEndText);
  image.SetRomSize(static_cast<uint32_t>(n));
  if (!szType.empty()) {
    uint32_t dwSize = RomSizeFromEepromType(szType);
    if (dwSize == 0) {
      ctx.Fail("--eeprom must be 24C02, 24C04, 24C08 or 24C16, not " + szType);
      return 0;
    }
    image.SetRomSize(dwSize);
  }
  size_t nSize = 0;
  EBuildResult eBuild = image.BuildOutputImage(pOut, &nSize);
  if (eBuild != EBuildResult::kOk) {
    ctx.Fail(std::string("cannot build the image: ") + BuildResultText(eBuild));
    return 0;
  }
  return nSize;
}

// Reads a raw image file for write --raw and restore: its bytes as they are.
// The size must be one of the four EEPROM sizes and match --eeprom when
// given. Returns the size, 0 on failure (message written).
size_t LoadRawImage(CCliContext& ctx, const std::string& szFile, const std::string& szType,
                    uint8_t* pOut) {
  std::vector<uint8_t> buffer;
  const std::string szWhy = ReadRawImageFile(szFile, buffer);
  if (!szWhy.empty()) {
    ctx.Fail(szWhy);
    return 0;
  }
  const size_t nSize = buffer.size();
  if (!szType.empty()) {
    uint32_t dwSize = RomSizeFromEepromType(szType);
    if (dwSize == 0) {
      ctx.Fail("--eeprom must be 24C02, 24C04, 24C08 or 24C16, not " + szType);
      return 0;
    }
    if (dwSize != nSize) {
      ctx.Fail(QuoteText(szFile) + ": " + std::to_string(nSize) + " bytes, but --eeprom " + szType +
               " holds " + std::to_string(dwSize));
      return 0;
    }
  }
  std::copy(buffer.begin(), buffer.begin() + static_cast<long>(nSize), pOut);
  return nSize;
}

}  // namespace

void RunRead(CCliContext& ctx, const CDeviceOptions& o, const std::string& szType,
             const std::string& szOut) {
  CTransferReporter reporter(ctx, "read", o.szProfile, o.bJson);
  reporter.Report().szFile = szOut;
  uint32_t dwSize = RomSizeFromEepromType(szType);
  if (dwSize == 0) {
    ctx.Fail("--eeprom must be 24C02, 24C04, 24C08 or 24C16, not " + szType);
    return;
  }
  if (GetImageFileTypeByPath(szOut) == EImageFileType::kUnknown) {
    ctx.Fail(QuoteText(szOut) + ": the output name needs .bin or .hex");
    return;
  }
  CTransferRun run(ctx, o, reporter.Report());
  if (!run.Start(dwSize)) return;
  int r = run.Read();
  const std::vector<uint8_t>& load = run.Load();
  if (r != 0) {
    ctx.Fail("read failed: code " + std::to_string(r));
    return;
  }
  // Accepted first, as the window's ApplyLoadedImage does; nothing is
  // written otherwise. --raw saves whatever the EEPROM holds (blank, corrupt).
  CImageSession image;
  EApplyResult eApply = o.bRaw ? EApplyResult::kAccepted : image.ApplyLoadedImage(load.data(), dwSize);
  if (eApply != EApplyResult::kAccepted) {
    ctx.Fail(std::string("the EEPROM image was refused: ") + ApplyResultText(eApply));
    return;
  }
  if (image.BanksBeyondEnd()) ctx.Warn(std::string("the EEPROM image: ") + kBanksBeyondEndText);
  if (!WriteImageBytes(ctx, szOut, load.data(), dwSize) || o.bJson) return;
  ctx.out << "read " << dwSize << " bytes (" << EepromTypeText(dwSize) << ") from "
          << qrt::diag::EscapeControls(run.Device())
          << " into " << QuoteText(szOut) << '\n';
}

void RunWrite(CCliContext& ctx, const CDeviceOptions& o, const std::string& szFile,
              const std::string& szType, const char* pszCommand) {
  CTransferReporter reporter(ctx, pszCommand, o.szProfile, o.bJson);
  reporter.Report().szFile = szFile;
  bool bRestore = std::string(pszCommand) == "restore";
  uint8_t image[kMaxImageSize];
  size_t nSize = o.bRaw || bRestore ? LoadRawImage(ctx, szFile, szType, image)
                                    : BuildImageFromFile(ctx, szFile, szType, image);
  if (nSize == 0) return;
  CTransferRun run(ctx, o, reporter.Report());
  if (!run.Start(static_cast<uint32_t>(nSize))) return;
  // A restore puts back contents that are wanted; rolling back to what it
  // replaced would undo that.
  if (!run.ProtectedWrite(image, nSize, !bRestore) || o.bJson) return;
  // "wrote 6 of 2048 bytes": the rest held the image already.
  const size_t nWritten = reporter.Report().nWritten;
  ctx.out << (bRestore ? "restored " : "wrote ")
          << (nWritten < nSize ? std::to_string(nWritten) + " of " : std::string()) << nSize
          << " bytes (" << EepromTypeText(static_cast<uint32_t>(nSize)) << ") to "
          << qrt::diag::EscapeControls(run.Device()) << ", verified";
  if (!reporter.Report().szBackup.empty()) ctx.out << "; backup " << qrt::diag::EscapeControls(reporter.Report().szBackup);
  ctx.out << '\n';
}

void RunVerify(CCliContext& ctx, const CDeviceOptions& o, const std::string& szFile,
               const std::string& szType, const std::string& szIgnore) {
  CTransferReporter reporter(ctx, "verify", o.szProfile, o.bJson);
  reporter.Report().szFile = szFile;
  uint8_t image[kMaxImageSize];
  size_t nSize = BuildImageFromFile(ctx, szFile, szType, image);
  if (nSize == 0) return;
  CTransferRun run(ctx, o, reporter.Report());
  if (!run.Start(static_cast<uint32_t>(nSize))) return;
  int r = run.Read();
  const std::vector<uint8_t>& load = run.Load();
  if (r != 0) {
    ctx.Fail("verify failed: read code " + std::to_string(r));
    return;
  }
  // A golden image has no board's own fields: those bits are left out.
  uint8_t btIgnored[kHeaderSize] = {};
  if (!szIgnore.empty()) PerBoardHeaderBits(btIgnored);
  for (size_t i = 0; i < nSize; ++i) {
    const uint8_t btIgnore = i < kHeaderSize ? btIgnored[i] : 0;
    if (((load[i] ^ image[i]) & ~btIgnore) != 0) {
      char sz[96];
      std::snprintf(sz, sizeof(sz),
                    "verify failed: data differ at 0x%04zX (file 0x%02X, EEPROM 0x%02X)", i,
                    image[i], load[i]);
      reporter.Report().nMismatchAt = i;
      ctx.Fail(sz);
      return;
    }
  }
  if (o.bJson) return;
  ctx.out << "verified " << nSize << " bytes (" << EepromTypeText(static_cast<uint32_t>(nSize))
          << ") on " << qrt::diag::EscapeControls(run.Device())
          << (szIgnore.empty() ? "" : ", serial ignored") << '\n';
}

}  // namespace qrt::cli
