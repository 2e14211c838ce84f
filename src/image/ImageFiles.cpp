#include "ImageFiles.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "FileReplace.h"
#include "ImageFileSystem.h"
#include "InternalOpt.h"
#include "TerminalText.h"
#include "TextNumbers.h"
#include "Trace.h"

namespace qrt::image {

namespace {

size_t MaxImageBytes(size_t nBufferSize) {
  return nBufferSize < kMaxImageSize ? nBufferSize : kMaxImageSize;
}

int WriteImageFile(const std::string& szPath, const uint8_t* pData, size_t n,
                   const ConfirmOverwrite& fnConfirm, std::string* pszError) {
  const int r = ReplaceFileContents(szPath, pData, n, fnConfirm, pszError);
  if (r == kWriteFailed) qrt::diag::Trace("Write File fail.");
  return r;
}

char ToUpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

std::string UpperAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = ToUpperAscii(c);
  return r;
}

}  // namespace

int ReadBinFile(const std::string& szPath, uint8_t* pBuffer, size_t nBufferSize, size_t* pnCount) {
  FILE* f = platform::OpenImageFile(szPath);
  if (f == nullptr) return kReadCannotOpen;
  uint64_t nFileLength = 0;
  if (!platform::OpenFileLength(f, &nFileLength)) {
    std::fclose(f);
    return kReadCannotOpen;
  }
  if (nFileLength > MaxImageBytes(nBufferSize)) {
    std::fclose(f);
    return kReadTooLarge;
  }
  const size_t nLength = static_cast<size_t>(nFileLength);
  // Read into a scratch copy so a short read leaves the buffer alone.
  std::vector<uint8_t> bytes(nLength);
  const size_t nRead = nLength ? std::fread(bytes.data(), 1, nLength, f) : 0;
  std::fclose(f);
  if (nRead != nLength) return kReadShort;
  if (nLength) std::memcpy(pBuffer, bytes.data(), nLength);
  *pnCount = nLength;
  return kReadOk;
}

int DecodeHexText(std::string_view szText, uint8_t* pBuffer, size_t nBufferSize, size_t* pnCount) {
  const size_t nMax = MaxImageBytes(nBufferSize);
  std::vector<uint8_t> bytes;
  bytes.reserve(nMax);
  uint8_t btCurrent = 0;
  bool bHigh = true;
  for (const char ch : szText) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const int v = qrt::diag::HexDigitValue(ch);
    if (v < 0) {
      if ((c >= 'G' && c <= 'Z') || (c >= 'g' && c <= 'z')) return kReadCorrupt;
      continue;  // separators do not break a pair
    }
    if (bHigh) {
      btCurrent = static_cast<uint8_t>(v << 4);
    } else {
      btCurrent = static_cast<uint8_t>(btCurrent | v);
      if (bytes.size() >= nMax) return kReadTooLarge;
      bytes.push_back(btCurrent);
    }
    bHigh = !bHigh;
  }
  std::memset(pBuffer, 0, nBufferSize);
  if (!bytes.empty()) std::memcpy(pBuffer, bytes.data(), bytes.size());
  *pnCount = bytes.size();
  return kReadOk;
}

int ReadHexFile(const std::string& szPath, uint8_t* pBuffer, size_t nBufferSize, size_t* pnCount) {
  FILE* f = platform::OpenImageFile(szPath);
  if (f == nullptr) return kReadCannotOpen;
  // Text of a 2048-byte image is 6 KiB as written; allow generous separators
  // but never hold an unbounded file in memory.
  constexpr size_t kMaxText = 1u << 20;
  std::string szText;
  char chunk[4096];
  size_t k = 0;
  while ((k = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    szText.append(chunk, k);
    if (szText.size() > kMaxText) break;
  }
  const bool bError = std::ferror(f) != 0;
  std::fclose(f);
  if (bError) return kReadCannotOpen;
  if (szText.size() > kMaxText) {
    // Too long to hold: decide on the leading part, which already has more
    // than 2048 bytes unless it is mostly separators.
    size_t n = 0;
    std::vector<uint8_t> scratch(nBufferSize);
    const int nResult = DecodeHexText(szText, scratch.data(), scratch.size(), &n);
    return nResult == kReadOk ? kReadTooLarge : nResult;
  }
  return DecodeHexText(szText, pBuffer, nBufferSize, pnCount);
}

std::string QuoteText(std::string_view szText) {
  return "\"" + qrt::diag::EscapeControls(szText, true) + "\"";
}

int ReadImageFile(const std::string& szPath, uint8_t* pBuffer, size_t nBufferSize,
                  size_t* pnCount) {
  switch (GetImageFileTypeByPath(szPath)) {
    case EImageFileType::kBin:
      return ReadBinFile(szPath, pBuffer, nBufferSize, pnCount);
    case EImageFileType::kHex:
      return ReadHexFile(szPath, pBuffer, nBufferSize, pnCount);
    case EImageFileType::kUnknown:
      break;
  }
  return kReadUnknownType;
}

std::string EncodeHexText(const uint8_t* pData, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(3 * n);
  for (size_t i = 0; i < n; ++i) {
    s.push_back(kDigits[pData[i] >> 4]);
    s.push_back(kDigits[pData[i] & 0x0F]);
    s.push_back('\r');
  }
  return s;
}

int WriteBinFile(const std::string& szPath, const uint8_t* pData, size_t n,
                 const ConfirmOverwrite& fnConfirm, std::string* pszError) {
  return WriteImageFile(szPath, pData, n, fnConfirm, pszError);
}

int WriteHexFile(const std::string& szPath, const uint8_t* pData, size_t n,
                 const ConfirmOverwrite& fnConfirm, std::string* pszError) {
  const std::string szText = EncodeHexText(pData, n);
  return WriteImageFile(szPath, reinterpret_cast<const uint8_t*>(szText.data()), szText.size(),
                        fnConfirm, pszError);
}

EImageFileType GetImageFileTypeByPath(std::string_view szPath) {
  const std::string szUpper = UpperAscii(szPath);
  if (szUpper.find(".BIN") != std::string::npos) return EImageFileType::kBin;
  if (szUpper.find(".HEX") != std::string::npos) return EImageFileType::kHex;
  return EImageFileType::kUnknown;
}

std::string AppendImageExtension(const std::string& szName, EImageFileType type) {
  const std::string szUpper = UpperAscii(szName);
  if (type == EImageFileType::kBin)
    return szUpper.find(".BIN") != std::string::npos ? szName : szName + ".bin";
  if (type == EImageFileType::kHex)
    return szUpper.find(".HEX") != std::string::npos ? szName : szName + ".hex";
  return szName;
}

CUtcDate GetUtcDateNow() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  return CUtcDate{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

std::string MakeDefaultFileName(uint16_t wVID, uint16_t wPID, uint32_t dwRomSize,
                                const UtcDateSource& fnToday) {
  const CUtcDate d = fnToday ? fnToday() : GetUtcDateNow();
  char sz[96];
  std::snprintf(sz, sizeof sz, "QRT4250-VID=%.4X-PID=%.4X-24C%.2d-%.4d%.2d%.2d", wVID, wPID,
                EepromNumber(dwRomSize), d.nYear, d.nMonth, d.nDay);
  return sz;
}

uint32_t NormaliseRomSize(uint32_t dwRomSize) {
  for (const EEPROM_TYPE& type : kEepromTypes) {
    if (type.dwSize == dwRomSize) return dwRomSize;
  }
  return kEepromTypes[0].dwSize;
}

int EepromNumber(uint32_t dwRomSize) {
  for (const EEPROM_TYPE& type : kEepromTypes) {
    if (type.dwSize == dwRomSize) return type.nNumber;
  }
  return kEepromTypes[0].nNumber;
}

const char* EepromTypeText(uint32_t dwRomSize) {
  for (const EEPROM_TYPE& type : kEepromTypes) {
    if (type.dwSize == dwRomSize) return type.pszName;
  }
  return kEepromTypes[0].pszName;
}

uint32_t RomSizeFromEepromType(std::string_view szType) {
  const std::string s = UpperAscii(szType);
  for (const EEPROM_TYPE& type : kEepromTypes) {
    if (s == type.pszName) return type.dwSize;
  }
  return 0;
}

std::string ReadRawImageFile(const std::string& szPath, std::vector<uint8_t>& vImage) {
  std::vector<uint8_t> vBuffer(kRomBufferSize, 0xFF);
  size_t nSize = 0;
  const int r = ReadImageFile(szPath, vBuffer.data(), vBuffer.size(), &nSize);
  if (r != kReadOk) return QuoteText(szPath) + ": " + ReadImageFileError(r);
  // Every EEPROM type's size keeps itself when normalised.
  if (NormaliseRomSize(static_cast<uint32_t>(nSize)) != nSize) {
    return QuoteText(szPath) + ": " + std::to_string(nSize) +
           " bytes; a raw image must be 256, 512, 1024 or 2048 bytes";
  }
  vBuffer.resize(nSize);
  vImage = std::move(vBuffer);
  return std::string();
}

const char* ReadImageFileError(int nResult) {
  switch (nResult) {
    case kReadOk:
      return "read";
    case kReadTooLarge:
      return "image longer than 2048 bytes";
    case kReadCorrupt:
      return "not a hex image (a letter G-Z in the text)";
    case kReadShort:
      return "Load File fail (short read)";
    case kReadUnknownType:
      return "Load File fail (the name has neither .bin nor .hex)";
    default:
      return "Load File fail (cannot open)";
  }
}

}  // namespace qrt::image
