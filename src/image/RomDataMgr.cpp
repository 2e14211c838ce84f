#include "RomDataMgr.h"

#include <algorithm>
#include <cstring>

using namespace qrt::image;

namespace {

// Replaces the bits of mask in *p with the value's bits shifted into place.
inline void PutBits(uint8_t* p, unsigned nShift, unsigned nMask, unsigned nValue) {
  *p = static_cast<uint8_t>((*p & ~(nMask << nShift)) | ((nValue & nMask) << nShift));
}

}  // namespace

int CGenConfigMgr::GetGenConfig(_INTERNAL_OPT* pDest) const {
  std::memcpy(pDest, &m_Rec, sizeof m_Rec);
  return 0;
}

int CGenConfigMgr::SetGenConfig(const _INTERNAL_OPT* pSrc) {
  std::memcpy(&m_Rec, pSrc, sizeof m_Rec);
  return 0;
}

int CGenConfigMgr::ParseRomData(const uint8_t* p) {
  _INTERNAL_OPT& r = m_Rec;
  std::memset(&r, 0, sizeof r);
  r.btSignature = p[0x00];
  r.btConfig1 = p[0x01];
  r.btVIDRaw[0] = p[0x18];
  r.btVIDRaw[1] = p[0x19];
  r.btPIDRaw[0] = p[0x1A];
  r.btPIDRaw[1] = p[0x1B];
  r.wVID = static_cast<uint16_t>(p[0x18] | (p[0x19] << 8));
  r.wPID = static_cast<uint16_t>(p[0x1A] | (p[0x1B] << 8));
  std::memcpy(r.szStringArea, p + kStringAreaStart, kStringAreaSize);
  std::memcpy(r.btSerialNumber, p + 0x1C, 6);
  r.btPlayVolume = static_cast<uint8_t>((p[0x0D] >> 6) | ((p[0x0E] & 0x0F) << 2));
  r.btRecordVolume = static_cast<uint8_t>((p[0x0E] >> 4) | ((p[0x0F] & 0x03) << 4));
  r.btMixVolume = static_cast<uint8_t>(p[0x0F] >> 2);
  r.btMaxPowerGain1 = static_cast<uint8_t>((p[0xC9] & 0x3F) ^ 0x0D);
  r.btMicBoostCtrl = (p[0x02] >> 4) & 1;
  r.btMicBoostDefault = (p[0x02] >> 5) & 1;
  r.btMixMute = (p[0x02] >> 6) & 1;
  r.btPlayTerminalLo = p[0x04] >> 4;
  r.btRecordTerminalLo = p[0x04] & 0x0F;
  r.btRecord2TerminalLo = p[0x03] >> 4;
  r.btPlayTerminalHi = p[0x91] & 0x0F;
  r.btRecordTerminalHi = p[0x90] & 0x0F;
  r.btRecord2TerminalHi = p[0x90] >> 4;
  r.btHpfMode = (p[0xB5] >> 4) & 3;
  r.btHpfREnable = (p[0xB5] & 0x20) ? 0 : 1;
  r.btHpfLEnable = (p[0xB5] >> 4) & 1;
  r.btProductLen = p[0x08] >> 2;
  r.btManufacturerLen = p[0x07] >> 2;

  // Strings, in the layout the encoder writes and the window shows: the
  // product from 0x22, the manufacturer right behind btProductLen - 1 bytes.
  // Lengths come from outside: a field of 0 is an empty string and every
  // copy is clamped to the 56-byte area. For fields up to 29 this is the
  // chip tool's split; longer strings follow the same contiguous rule, so
  // decoding what was encoded gives the same strings back.
  const unsigned nProductAt = r.btProductLen ? std::min(r.btProductLen - 1u, kStringAreaSize) : 0u;
  const unsigned nManufacturer =
      r.btManufacturerLen ? std::min(r.btManufacturerLen - 1u, kStringAreaSize - nProductAt) : 0u;
  const uint8_t* pArea = p + kStringAreaStart;
  std::memcpy(r.szProduct, pArea, nProductAt);
  std::memcpy(r.szManufacturer, pArea + nProductAt, nManufacturer);

  r.btProductStringCtrl = p[0x01] & 1;
  r.btSerialNumberCtrl = (p[0x01] >> 1) & 1;
  r.btManufacturerStringCtrl = (p[0x01] >> 2) & 1;
  r.btGainA = p[0xB5] >> 6;
  r.btGainB = (p[0xB3] >> 4) & 7;
  r.btGainC = (p[0xB7] >> 4) & 7;
  return 0;
}

int CGenConfigMgr::BuildRomData(uint8_t* p) const {
  const _INTERNAL_OPT r = m_Rec;
  p[0x18] = static_cast<uint8_t>(r.wVID & 0xFF);
  p[0x19] = static_cast<uint8_t>(r.wVID >> 8);
  p[0x1A] = static_cast<uint8_t>(r.wPID & 0xFF);
  p[0x1B] = static_cast<uint8_t>(r.wPID >> 8);
  PutBits(&p[0x07], 2, 0x3F, r.btManufacturerLen);
  PutBits(&p[0x08], 2, 0x3F, r.btProductLen);

  // Strings: product at 0x22, manufacturer right behind the product length.
  // Both are cut at the end of the area, whatever the record holds.
  std::memset(p + kStringAreaStart, 0, kStringAreaSize);
  const size_t nProduct = strnlen(reinterpret_cast<const char*>(r.szProduct), sizeof r.szProduct);
  std::memcpy(p + kStringAreaStart, r.szProduct, std::min<size_t>(nProduct, kStringAreaSize));
  const size_t nManufacturerAt = r.btProductLen ? r.btProductLen - 1u : 0u;
  if (nManufacturerAt < kStringAreaSize) {
    const size_t nManufacturer =
        strnlen(reinterpret_cast<const char*>(r.szManufacturer), sizeof r.szManufacturer);
    std::memcpy(p + kStringAreaStart + nManufacturerAt, r.szManufacturer,
                std::min<size_t>(nManufacturer, kStringAreaSize - nManufacturerAt));
  }

  std::memcpy(p + 0x1C, r.btSerialNumber, 6);
  PutBits(&p[0x0D], 6, 0x03, r.btPlayVolume);
  PutBits(&p[0x0E], 0, 0x0F, r.btPlayVolume >> 2);
  PutBits(&p[0x0E], 4, 0x0F, r.btRecordVolume);
  PutBits(&p[0x0F], 0, 0x03, r.btRecordVolume >> 4);
  PutBits(&p[0x0F], 2, 0x3F, r.btMixVolume);
  PutBits(&p[0xC9], 0, 0x3F, (r.btMaxPowerGain1 & 0x3F) ^ 0x0D);
  PutBits(&p[0x02], 5, 1, r.btMicBoostDefault);
  PutBits(&p[0x02], 4, 1, r.btMicBoostCtrl);
  PutBits(&p[0x02], 6, 1, r.btMixMute);
  PutBits(&p[0x04], 4, 0x0F, r.btPlayTerminalLo);
  PutBits(&p[0x04], 0, 0x0F, r.btRecordTerminalLo);
  PutBits(&p[0x03], 4, 0x0F, r.btRecord2TerminalLo);
  PutBits(&p[0xB5], 5, 1, r.btHpfREnable ? 0 : 1);
  PutBits(&p[0xB5], 4, 1, r.btHpfLEnable);
  PutBits(&p[0x90], 0, 0x0F, r.btRecordTerminalHi);
  PutBits(&p[0x90], 4, 0x0F, r.btRecord2TerminalHi);
  PutBits(&p[0x91], 0, 0x0F, r.btPlayTerminalHi);
  PutBits(&p[0x01], 0, 1, r.btProductStringCtrl);
  PutBits(&p[0x01], 1, 1, r.btSerialNumberCtrl);
  PutBits(&p[0x01], 2, 1, r.btManufacturerStringCtrl);
  PutBits(&p[0xB5], 6, 0x03, r.btGainA);
  PutBits(&p[0xB3], 4, 0x07, r.btGainB);
  PutBits(&p[0xB7], 4, 0x07, r.btGainC);
  return 0;
}

CRomDataMgr::CRomDataMgr() {
  std::memset(m_btRomData, 0xFF, sizeof m_btRomData);
  m_GenConfig.ParseRomData(m_btRomData);
}

int CRomDataMgr::SetRomData(const uint8_t* pSrc, size_t n) {
  std::memset(m_btRomData, 0xFF, sizeof m_btRomData);
  if (pSrc != nullptr) std::memcpy(m_btRomData, pSrc, std::min(n, sizeof m_btRomData));
  return 0;
}

int CRomDataMgr::GetRomData(uint8_t* pDest) const {
  std::memcpy(pDest, m_btRomData, kMaxImageSize);
  return 0;
}

int CRomDataMgr::ParseGenConfig() {
  return m_GenConfig.ParseRomData(m_btRomData);
}

int CRomDataMgr::BuildGenConfig() {
  return m_GenConfig.BuildRomData(m_btRomData);
}

namespace qrt::image {

const uint8_t g_btDefaultImage[kHeaderSize] = {
    0xC7, 0x61, 0xEC, 0x17, 0x11, 0x00, 0x00, 0x74, 0x74, 0xF3, 0x7F, 0x00, 0x1C, 0x40, 0x8D, 0x06,
    0xBF, 0xBF, 0xBF, 0xBF, 0x88, 0xBF, 0xBF, 0xFF, 0x7C, 0x3A, 0x50, 0x42, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x55, 0x53, 0x42, 0x20, 0x50, 0x6E, 0x50, 0x20, 0x41, 0x75, 0x64, 0x69, 0x6F, 0x20,
    0x44, 0x65, 0x76, 0x69, 0x63, 0x65, 0x28, 0x45, 0x45, 0x50, 0x52, 0x4F, 0x4D, 0x29, 0x4B, 0x6F,
    0x72, 0x76, 0x65, 0x73, 0x73, 0x61, 0x6E, 0x64, 0x72, 0x69, 0x6C, 0x6F, 0x74, 0x65, 0x63, 0x68,
    0x20, 0x43, 0x6F, 0x2E, 0x2C, 0x4C, 0x74, 0x64, 0x2E, 0x00, 0xFF, 0x80, 0x00, 0x00, 0x3F, 0x3F,
    0x3F, 0x3F, 0x00, 0x2F, 0x3F, 0x00, 0x77, 0xF1, 0xF2, 0xF5, 0xF8, 0xFA, 0xFC, 0x03, 0x13, 0x1F,
    0x10, 0x32, 0x54, 0x00, 0x30, 0x45, 0x00, 0x00, 0x00, 0x03, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0x7D,
    0x00, 0xFF, 0xFF, 0x00, 0x06, 0x00, 0x00, 0x74, 0x01, 0x60, 0x0A, 0xAA, 0x05, 0x10, 0x10, 0x80,
    0x22, 0x03, 0x10, 0x08, 0x89, 0x09, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0x3B, 0x3F, 0x04, 0xFF, 0x3F, 0x7F, 0x00, 0x92, 0x00, 0x00, 0x02, 0x00, 0x01, 0x10, 0xE1,
    0x3F, 0x85, 0x0F, 0x40, 0x01, 0x74, 0x01, 0x20, 0x00, 0x45, 0x7E, 0xD8, 0x05, 0x1C, 0x45, 0x7A,
    0xD8, 0x0D, 0x1C, 0x45, 0x7A, 0xD8, 0x05, 0x1C, 0x84, 0xF8, 0x41, 0x80, 0xB8, 0xA0, 0x81, 0xA1,
    0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0x8B, 0x8C, 0xA4, 0x8A, 0xA2, 0xA3, 0x89, 0x85,
    0x86, 0x87, 0xBA, 0xBB, 0xFF, 0xFF, 0xFF, 0xBD, 0x31, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00,
    0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xAF, 0x1E, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00,
};

}  // namespace qrt::image
