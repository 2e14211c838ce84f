#include "BankMgrs.h"

#include <cstring>

#include "BankHeader.h"
#include "Trace.h"

using qrt::diag::Trace;

namespace {
// The three separate writes of the original debugger output.
void TraceBankName(const std::string& szName) {
  Trace("BankName = ");
  Trace(szName);
  Trace("\n");
}
}  // namespace

// --- I2C initialisation banks -------------------------------------------

int CI2CInitMgr::Load(const uint8_t* pImage, size_t nSize) {
  Clear();
  m_nExists = CBankHeader(pImage).HasAgcIrBank() ? 1 : 0;
  if (!m_nExists || nSize < 256 + 64) return 0;
  const size_t nLimit = (nSize - 256) / 32 - 1;
  for (size_t i = 0; i < nLimit; ++i) {
    const uint8_t* r = pImage + 256 + 32 * i;
    if (r[31] & 0x80) break;
    _I2C_INIT_BANK bank;
    std::memcpy(bank.btData, r, sizeof bank.btData);
    AddBank(bank);
  }
  return 0;
}

void CI2CInitMgr::AddBank(const _I2C_INIT_BANK& bank) {
  std::string szName = "I2C Initial Bank" + std::to_string(m_BankList.size());
  m_BankList.emplace_back(szName, bank);
  m_nExists = 1;
  TraceBankName(szName);
}

int CI2CInitMgr::GetCount() {
  m_nCount = static_cast<int>(m_BankList.size());
  return m_nCount;
}

int CI2CInitMgr::GetBank(int nIndex, _I2C_INIT_BANK* pDest) const {
  if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_BankList.size()) return 1;
  *pDest = m_BankList[static_cast<size_t>(nIndex)].second;
  return 0;
}

int CI2CInitMgr::Serialize(uint8_t* pDest, size_t nDestSize, size_t* pnLength) const {
  *pnLength = 0;
  if (m_BankList.empty()) return -1;
  if (nDestSize < 32 * m_BankList.size()) return 1;
  for (size_t i = 0; i < m_BankList.size(); ++i)
    std::memcpy(pDest + 32 * i, m_BankList[i].second.btData, 32);
  *pnLength = 32 * m_BankList.size();
  return 0;
}

int CI2CInitMgr::Clear() {
  m_BankList.clear();
  m_nCount = 0;
  m_nExists = 0;
  return 0;
}

// --- EQ extension banks ---------------------------------------------------

namespace qrt::image {

_EQ_EXTEND_BANK DecodeEqBank(const uint8_t* p) {
  _EQ_EXTEND_BANK b{};
  b.value0 = static_cast<uint16_t>(p[0] | ((p[1] & 0x0F) << 8));
  b.value1 = static_cast<uint16_t>((p[1] >> 4) | (p[2] << 4));
  b.value2 = static_cast<uint16_t>(p[3] | ((p[4] & 0x0F) << 8));
  b.value3 = static_cast<uint16_t>((p[4] >> 4) | (p[5] << 4));
  b.value4 = static_cast<uint16_t>(p[6] | ((p[7] & 0x0F) << 8));
  b.bit4Flag = (p[7] >> 4) & 1;
  b.bit5Flag = (p[7] >> 5) & 1;
  b.bit6Flag = (p[7] >> 6) & 1;
  b.bit7Flag = (p[7] >> 7) & 1;
  std::memcpy(b.bytes8to13, p + 8, 6);
  b.byte14 = p[14];
  b.lastBank = (p[15] >> 7) & 1;
  return b;
}

void EncodeEqBank(const _EQ_EXTEND_BANK& b, uint8_t* p) {
  std::memset(p, 0, 16);
  const unsigned v0 = b.value0 & 0xFFF, v1 = b.value1 & 0xFFF, v2 = b.value2 & 0xFFF;
  const unsigned v3 = b.value3 & 0xFFF, v4 = b.value4 & 0xFFF;
  p[0] = static_cast<uint8_t>(v0 & 0xFF);
  p[1] = static_cast<uint8_t>((v0 >> 8) | ((v1 & 0x0F) << 4));
  p[2] = static_cast<uint8_t>(v1 >> 4);
  p[3] = static_cast<uint8_t>(v2 & 0xFF);
  p[4] = static_cast<uint8_t>((v2 >> 8) | ((v3 & 0x0F) << 4));
  p[5] = static_cast<uint8_t>(v3 >> 4);
  p[6] = static_cast<uint8_t>(v4 & 0xFF);
  p[7] = static_cast<uint8_t>((v4 >> 8) | ((b.bit4Flag & 1) << 4) | ((b.bit5Flag & 1) << 5) |
                              ((b.bit6Flag & 1) << 6) | ((b.bit7Flag & 1) << 7));
  std::memcpy(p + 8, b.bytes8to13, 6);
  p[14] = b.byte14;
  p[15] = static_cast<uint8_t>((b.byte14 & 0x7F) | ((b.lastBank & 1) << 7));
}

}  // namespace qrt::image

int CEQGainMgr::Load(const uint8_t* pImage, size_t nSize) {
  Clear();
  const CBankHeader header(pImage);
  m_nExists = header.HasEqBanks() ? 1 : 0;
  const size_t nStart = header.EqStart();
  if (!m_nExists || nSize < 256 + 32) return 0;
  const size_t nLimit = (nSize - 256) / 16 - 1;
  for (size_t i = 0; i < nLimit; ++i) {
    const size_t nAt = nStart + 16 * i;
    if (nAt + 16 > nSize) break;  // a start near the end must not read past the buffer
    const _EQ_EXTEND_BANK bank = qrt::image::DecodeEqBank(pImage + nAt);
    AddBank(bank);
    ++m_nCount;
    if (bank.lastBank) break;
  }
  return 0;
}

void CEQGainMgr::AddBank(const _EQ_EXTEND_BANK& bank) {
  std::string szName = "EQ Extern Bank" + std::to_string(m_BankList.size());
  m_BankList.emplace_back(szName, bank);
  m_nExists = 1;
  TraceBankName(szName);
}

int CEQGainMgr::GetBank(int nIndex, _EQ_EXTEND_BANK* pDest) const {
  if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_BankList.size()) return 1;
  *pDest = m_BankList[static_cast<size_t>(nIndex)].second;
  return 0;
}

int CEQGainMgr::Serialize(size_t nStart, uint8_t* pImage, size_t nImageSize,
                          size_t* pnLength) const {
  *pnLength = 0;
  if (m_BankList.empty()) return -1;
  const size_t nLength = 16 * m_BankList.size();
  if (nStart > nImageSize || nImageSize - nStart < nLength) return -2;
  for (size_t i = 0; i < m_BankList.size(); ++i)
    qrt::image::EncodeEqBank(m_BankList[i].second, pImage + nStart + 16 * i);
  *pnLength = nLength;
  return 0;
}

int CEQGainMgr::Clear() {
  m_BankList.clear();
  m_nCount = 0;
  m_nExists = 0;
  return 0;
}

// --- AGC / IR bank ----------------------------------------------------------

const uint8_t CAgcIrMgr::s_btDefaultBank[kBankSize] = {
    0xFD, 0x46, 0x33, 0x41, 0x03, 0xFC, 0x08, 0x5C, 0x0B, 0x07, 0x33, 0x00, 0x0C, 0x76, 0x16, 0x00,
    0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0x16, 0x00, 0x10, 0x32, 0x54, 0x76, 0x00, 0xFF,
};

CAgcIrMgr::CAgcIrMgr() {
  ResetToDefaults();
}

int CAgcIrMgr::Decode(const uint8_t* pImage, size_t nOffset) {
  const uint8_t nKeep10 = m_btBank[10] & 0xC0;  // not read: keeps the record's value
  std::memcpy(m_btBank, pImage + nOffset, kBankSize);
  m_btBank[5] &= 0xFC;
  m_btBank[7] &= 0xFC;
  m_btBank[10] = static_cast<uint8_t>((m_btBank[10] & 0x3F) | nKeep10);
  return 0;
}

int CAgcIrMgr::Encode(size_t nOffset, uint8_t* pImage) {
  m_btBank[31] |= 0x7F;
  std::memcpy(pImage + nOffset, m_btBank, kBankSize);
  pImage[nOffset + 10] &= 0x3F;
  return 0;
}

void CAgcIrMgr::ZeroBank() {
  std::memset(m_btBank, 0, kBankSize);
}

void CAgcIrMgr::ResetToDefaults() {
  std::memcpy(m_btBank, s_btDefaultBank, kBankSize);
}

void CAgcIrMgr::SetIrEnable(int nOn) {
  m_btBank[30] = static_cast<uint8_t>((m_btBank[30] & 0xFE) | (nOn ? 1 : 0));
}

void CAgcIrMgr::SetNecIrGpoNum(int nNum) {
  m_btBank[11] = static_cast<uint8_t>((m_btBank[11] & 0xF0) | (nNum & 0x0F));
}
