#include "ImageSession.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "BankHeader.h"
#include "ImageFiles.h"
#include "Trace.h"

namespace qrt::image {

const char* ApplyResultText(EApplyResult r) {
  switch (r) {
    case EApplyResult::kAccepted:
      return "accepted";
    case EApplyResult::kNoSignature:
      return "Not QRT bin code,Please select other bin code";
    case EApplyResult::kTooShort:
      return "image shorter than 2 bytes";
    case EApplyResult::kTooLong:
      return "image longer than 2048 bytes";
  }
  return "unknown";
}

const char* BuildResultText(EBuildResult r) {
  switch (r) {
    case EBuildResult::kOk:
      return "ok";
    case EBuildResult::kBanksDoNotFit:
      return "the banks do not fit into the image size";
    case EBuildResult::kEqStartTooHigh:
      return "the EQ extension banks would start beyond offset 1008";
    case EBuildResult::kSizeTooLarge:
      return "image size not between 1 and 2048 bytes";
  }
  return "unknown";
}

const char kBanksBeyondEndText[] =
    "the header announces banks beyond the end of the image; the image is taken without them";

CCodeSizeOffer CheckAgcIrCodeSize(uint32_t dwReadRomSize, uint32_t u) {
  switch (dwReadRomSize) {
    case 256:
      return {true, 512};
    case 512:
      return {u + 32 > 256, 1024};
    case 1024:
      return {u + 32 > 768, 2048};
    case 2048:
      // The chip tool offered 4096 here, which no supported EEPROM has; the
      // real limit of a 24C16 is 1792 bytes of banks.
      return {u + 32 > 1792, 0};
    default:
      return {false, 0};
  }
}

CImageSession::CImageSession() {
  m_RomDataMgr.SetRomData(g_btDefaultImage, kHeaderSize);
  m_RomDataMgr.ParseGenConfig();
  m_RomDataMgr.GetGenConfig(&m_RecInternalOpt);
  m_RecOriginalOpt = m_RecInternalOpt;
}

EApplyResult CImageSession::ApplyLoadedImage(const uint8_t* p, size_t n) {
  if (n < 2 || p == nullptr) return EApplyResult::kTooShort;
  if (n > kMaxImageSize) return EApplyResult::kTooLong;
  if (!HasQrtSignature(p[0], p[1])) return EApplyResult::kNoSignature;

  // An erased EEPROM reads 0xFF: bytes the image does not have are 0xFF,
  // never leftovers of an earlier load.
  std::vector<uint8_t> buffer(kRomBufferSize, 0xFF);
  std::memcpy(buffer.data(), p, n);

  m_I2CInitMgr.Clear();
  m_EQGainMgr.Clear();
  m_RomDataMgr.SetRomData(buffer.data(), kMaxImageSize);
  m_RomDataMgr.ParseGenConfig();
  _INTERNAL_OPT rec;
  m_RomDataMgr.GetGenConfig(&rec);
  m_RecInternalOpt = rec;
  m_RecOriginalOpt = rec;
  ReadBankArea(m_RomDataMgr.Data(), kRomBufferSize, n);
  return EApplyResult::kAccepted;
}

void CImageSession::ReadBankArea(const uint8_t* pImage, size_t nSize, size_t nImageSize) {
  // No AGC/IR bank of the previous image survives.
  m_I2CInitMgr.Clear();
  m_EQGainMgr.Clear();
  m_AgcIrMgr.SetPresent(0);
  m_AgcIrMgr.ZeroBank();
  m_bReadAGCFromOutSide = 0;
  m_bBanksBeyondEnd = false;
  m_bEqListCut = false;
  nImageSize = std::min(nImageSize, nSize);

  // Behind the image's end lies the 0xFF fill, not the image: a bank decoded
  // from it would be made up (an AGC/IR bank with IR on, an all-0xFF EQ bank)
  // and written to the EEPROM as if the image had carried it.
  const CBankHeader header(pImage);
  if (header.ReadsI2CAndAgcIr()) {
    m_I2CInitMgr.Load(pImage, nSize);
    const size_t nAt = 256 + 32 * static_cast<size_t>(m_I2CInitMgr.GetCount());
    if (nAt + CAgcIrMgr::kBankSize <= nImageSize) {
      m_AgcIrMgr.Decode(pImage, nAt);
      m_AgcIrMgr.SetPresent(1);
      m_bReadAGCFromOutSide = 1;
    } else {
      // The I2C initialisation banks go with the AGC/IR bank that ends their
      // list: the chip reads neither without the other.
      m_I2CInitMgr.Clear();
      m_bBanksBeyondEnd = true;
    }
  }
  qrt::diag::TraceFormat("m_bReadAGCFromOutSide = %d\n", m_bReadAGCFromOutSide);
  if (header.HasEqBanks()) {
    m_EQGainMgr.Load(pImage, nSize);
    const size_t nStart = header.EqStart();
    const size_t nInside = nStart < nImageSize ? (nImageSize - nStart) / 16 : 0;
    if (static_cast<size_t>(m_EQGainMgr.GetCount()) > nInside) {
      // A list whose last bank lies beyond the end is cut: without its end
      // the chip would read on into whatever follows. None of it is taken,
      // and the images built from it announce no EQ banks.
      m_EQGainMgr.Clear();
      m_bEqListCut = true;
      m_bBanksBeyondEnd = true;
    }
  }
  if (m_bBanksBeyondEnd)
    qrt::diag::TraceFormat("banks beyond the image end (%d bytes) left out\n",
                           static_cast<int>(nImageSize));
}

void CImageSession::SetRomSize(uint32_t dwRomSize) {
  m_dwRomSize = dwRomSize;
  m_dwReadRomSize = NormaliseRomSize(dwRomSize);
}

uint32_t CImageSession::GetBankAreaSize() {
  uint32_t u = 0;
  if (m_EQGainMgr.IsPresent()) u += 16 * static_cast<uint32_t>(m_EQGainMgr.GetCount());
  if (m_I2CInitMgr.IsPresent()) u += 32 * static_cast<uint32_t>(m_I2CInitMgr.GetCount());
  if (m_AgcIrMgr.IsPresent()) u += 32;
  return u;
}

EBuildResult CImageSession::CheckBankLayout(size_t nImageSize) {
  const uint32_t u = GetBankAreaSize();
  if (u > 0 && kHeaderSize + u > nImageSize) return EBuildResult::kBanksDoNotFit;
  const size_t nEqAt = EqStart();
  if (m_EQGainMgr.IsPresent() && m_EQGainMgr.GetCount() > 0 && nEqAt / 16 > 0x3F)
    return EBuildResult::kEqStartTooHigh;
  return EBuildResult::kOk;
}

size_t CImageSession::EqStart() {
  return kHeaderSize + (m_I2CInitMgr.IsPresent() ? 32u * m_I2CInitMgr.GetCount() : 0u) +
         (m_AgcIrMgr.IsPresent() ? CAgcIrMgr::kBankSize : 0u);
}

EBuildResult CImageSession::BuildBankArea(uint8_t* pImage, size_t nImageSize) {
  // Check everything before the first byte is written. pImage has room for
  // the header even when the image is shorter.
  const EBuildResult rFit = CheckBankLayout(nImageSize);
  if (rFit != EBuildResult::kOk) return rFit;
  const bool bI2C = m_I2CInitMgr.IsPresent() != 0;
  const bool bAgc = m_AgcIrMgr.IsPresent() != 0;
  const bool bEq = m_EQGainMgr.IsPresent() != 0;
  const size_t nEqAt = EqStart();
  const size_t nAgcAt = nEqAt - (bAgc ? CAgcIrMgr::kBankSize : 0);

  if (bI2C) {
    size_t nLength = 0;
    if (nImageSize > kHeaderSize)
      m_I2CInitMgr.Serialize(pImage + kHeaderSize, nImageSize - kHeaderSize, &nLength);
  }
  CBankHeader header(pImage);
  header.SetEqStart(nEqAt);
  header.SetAgcIrBank(bAgc);
  if (bAgc) {
    if (!m_bReadAGCFromOutSide) std::memset(pImage + nAgcAt, 0, CAgcIrMgr::kBankSize);
    m_AgcIrMgr.Encode(nAgcAt, pImage);
  }
  if (bEq) {
    size_t nLength = 0;
    m_EQGainMgr.Serialize(nEqAt, pImage, nImageSize, &nLength);
  } else if (m_bEqListCut) {
    // The built image must not announce the banks it does not carry.
    header.SetEqBanks(false);
  }
  header.Write(pImage);
  return EBuildResult::kOk;
}

EBuildResult CImageSession::BuildOutputImage(uint8_t out[kMaxImageSize], size_t* pnSize) {
  *pnSize = 0;
  if (m_dwRomSize == 0 || m_dwRomSize > kMaxImageSize) return EBuildResult::kSizeTooLarge;
  // Refuse a layout that does not fit before anything is encoded.
  const EBuildResult rFit = CheckBankLayout(m_dwRomSize);
  if (rFit != EBuildResult::kOk) return rFit;

  m_RomDataMgr.SetGenConfig(&m_RecInternalOpt);
  m_RomDataMgr.BuildGenConfig();
  uint8_t work[kMaxImageSize];
  m_RomDataMgr.GetRomData(work);
  BuildBankArea(work, m_dwRomSize);
  const uint32_t nUsed = kHeaderSize + GetBankAreaSize();
  if (nUsed < m_dwRomSize) {
    std::memset(work + nUsed, 0xFF, m_dwRomSize - nUsed);
    qrt::diag::TraceFormat("nNotUsedSize = %d\n", static_cast<int>(m_dwRomSize - nUsed));
  }
  // Only the first m_dwRomSize bytes are the image; the rest of out reads
  // as erased.
  std::memcpy(out, work, m_dwRomSize);
  std::memset(out + m_dwRomSize, 0xFF, kMaxImageSize - m_dwRomSize);
  *pnSize = m_dwRomSize;
  return EBuildResult::kOk;
}

bool CImageSession::RemoveAgcIrBank() {
  if (m_I2CInitMgr.GetCount() > 0) return false;
  m_AgcIrMgr.SetPresent(0);
  m_AgcIrMgr.ZeroBank();
  m_bReadAGCFromOutSide = 0;
  return true;
}

void CImageSession::AddAgcIrBank() {
  m_AgcIrMgr.SetPresent(1);
  if (!m_bReadAGCFromOutSide) m_AgcIrMgr.ResetToDefaults();
}

}  // namespace qrt::image
