#include "SettingsRules.h"

#include <algorithm>
#include <cstring>

namespace qrt::editor {

namespace {

std::string ShownText(const _INTERNAL_OPT& r, unsigned nStart, unsigned nLength) {
  std::string s;
  for (unsigned i = 0; i < nLength && nStart + i < kMaxStringBytes; ++i) {
    const uint8_t c = r.szStringArea[nStart + i];
    if (c == 0) break;
    s.push_back(static_cast<char>(c));
  }
  return s;
}

}  // namespace

bool IsHexText(std::string_view szText) {
  return std::all_of(szText.begin(), szText.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

bool ParseSerialNumber(std::string_view szText, uint8_t btOut[6]) {
  if (szText.size() > 12) return false;
  std::string szPadded(12 - szText.size(), '0');
  szPadded.append(szText);
  for (int i = 0; i < 6; ++i) {
    const int hi = HexDigitValue(szPadded[2 * i]);
    const int lo = HexDigitValue(szPadded[2 * i + 1]);
    btOut[i] = (hi < 0 || lo < 0) ? 0 : static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

bool Utf8ToLatin1(std::string_view s, std::string& szOut) {
  std::string r;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      r.push_back(static_cast<char>(c));
      ++i;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < s.size()) {
      const unsigned char c2 = static_cast<unsigned char>(s[i + 1]);
      if ((c2 & 0xC0) != 0x80) return false;
      const unsigned cp = ((c & 0x1Fu) << 6) | (c2 & 0x3Fu);
      if (cp < 0x80 || cp > 0xFF) return false;  // overlong, or beyond Latin-1
      r.push_back(static_cast<char>(cp));
      i += 2;
    } else {
      return false;  // three- and four-byte forms are all above U+00FF
    }
  }
  szOut = std::move(r);
  return true;
}

std::string Latin1ToUtf8(std::string_view s) {
  std::string r;
  for (const char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      r.push_back(static_cast<char>(c));
    } else {
      r.push_back(static_cast<char>(0xC0 | (c >> 6)));
      r.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return r;
}

int PackStrings(_INTERNAL_OPT& r, std::string_view szProduct, std::string_view szManufacturer,
                bool bFromProduct, bool bFromManufacturer) {
  const size_t nP = szProduct.size(), nM = szManufacturer.size();
  if (nP + nM > kMaxStringBytes) return kPackTooLong;
  r.btProductLen = static_cast<uint8_t>(nP + 1);
  r.btManufacturerLen = static_cast<uint8_t>(nM + 1);
  if (bFromProduct) r.btProductStringCtrl = nP > 0 ? 1 : 0;
  if (bFromManufacturer) r.btManufacturerStringCtrl = nM > 0 ? 1 : 0;
  std::memset(r.szProduct, 0, sizeof r.szProduct);
  std::memcpy(r.szProduct, szProduct.data(), nP);
  std::memset(r.szManufacturer, 0, sizeof r.szManufacturer);
  std::memcpy(r.szManufacturer, szManufacturer.data(), nM);
  std::memset(r.szStringArea, 0, sizeof r.szStringArea);
  std::memcpy(r.szStringArea, szProduct.data(), nP);
  std::memcpy(r.szStringArea + nP, szManufacturer.data(), nM);
  return kPackOk;
}

std::string ShownProductText(const _INTERNAL_OPT& r) {
  return ShownText(r, 0, r.btProductLen ? r.btProductLen - 1u : 0u);
}

std::string ShownManufacturerText(const _INTERNAL_OPT& r) {
  const unsigned nStart = r.btProductLen ? r.btProductLen - 1u : 0u;
  return ShownText(r, nStart, r.btManufacturerLen ? r.btManufacturerLen - 1u : 0u);
}

bool SetPlayDevice(_INTERNAL_OPT& r, int nItem) {
  static const uint8_t kDigits[3][2] = {{3, 1}, {4, 2}, {3, 2}};
  if (nItem < 0 || nItem > 2) return false;
  r.btPlayTerminalHi = kDigits[nItem][0];
  r.btPlayTerminalLo = kDigits[nItem][1];
  return true;
}

bool SetRecordDevice(_INTERNAL_OPT& r, int nItem) {
  static const uint8_t kDigits[3][2] = {{2, 1}, {4, 2}, {2, 5}};
  if (nItem < 0 || nItem > 2) return false;
  r.btRecordTerminalHi = kDigits[nItem][0];
  r.btRecordTerminalLo = kDigits[nItem][1];
  if (nItem == kRecordHeadset) {
    r.btRecord2TerminalHi = 4;
    r.btRecord2TerminalLo = 2;
  }
  return true;
}

CDeviceItems ShownDeviceItems(const _INTERNAL_OPT& r) {
  const uint16_t wPlay = TerminalType(r.btPlayTerminalHi, r.btPlayTerminalLo);
  const uint16_t wRecord = TerminalType(r.btRecordTerminalHi, r.btRecordTerminalLo);
  CDeviceItems items{kPlayHeadset, kRecordMic};
  if (wPlay == 0x0301) items.nPlay = kPlaySpeaker;
  if (wPlay == 0x0302) items.nPlay = kPlayHeadphone;
  if (wRecord == 0x0205) items.nRecord = kRecordMicArray;
  if (wRecord == 0x0402) items.nRecord = kRecordHeadset;
  if (wPlay == 0x0402 || wRecord == 0x0402) items = {kPlayHeadset, kRecordHeadset};
  return items;
}

const char* PlayDeviceName(int nItem) {
  switch (nItem) {
    case kPlaySpeaker:
      return "Speaker";
    case kPlayHeadset:
      return "Headset";
    case kPlayHeadphone:
      return "Headphone";
    default:
      return "";
  }
}

const char* RecordDeviceName(int nItem) {
  switch (nItem) {
    case kRecordMic:
      return "Mic";
    case kRecordHeadset:
      return "Headset";
    case kRecordMicArray:
      return "Mic array";
    default:
      return "";
  }
}

}  // namespace qrt::editor
