#pragma once
// The optional banks behind the 256-byte header: I2C initialisation banks
// (32 bytes each, carried unread), the one AGC/IR bank (32 bytes) and the EQ
// extension banks (16 bytes each). The managers keep them from one load to
// the next; the bank area of CImageSession places them in an image.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// One I2C initialisation bank: 32 raw bytes. Bit 7 of byte 31 is 0 in a bank;
// a record with that bit set ends the list.
struct _I2C_INIT_BANK {
  uint8_t btData[32];
};

using I2CBANK_MAP = std::pair<std::string, _I2C_INIT_BANK>;

class CI2CInitMgr {
 public:
  // Reads the banks from 256 on while byte 0x8F bit 4 announces them; stops
  // at the first record with byte 31 bit 7 set, after (nSize-256)/32-1
  // records, and never reads past nSize. Clears the list first. Returns 0.
  int Load(const uint8_t* pImage, size_t nSize);
  // Number of banks in the list.
  int GetCount();
  // 0 and the bank's bytes, or 1 (nothing copied) when nIndex is past the end.
  int GetBank(int nIndex, _I2C_INIT_BANK* pDest) const;
  // Writes every bank consecutively to pDest; *pnLength = 32 * count.
  // Returns 0; -1 with length 0 when the list is empty; 1 with length 0 and
  // nothing written when nDestSize is too small.
  int Serialize(uint8_t* pDest, size_t nDestSize, size_t* pnLength) const;
  int IsPresent() const { return m_nExists; }
  int Clear();

  // Appends a bank under the next name and marks the banks present.
  void AddBank(const _I2C_INIT_BANK& bank);

 private:
  std::vector<I2CBANK_MAP> m_BankList;
  int m_nExists = 0;
  int m_nCount = 0;
};

// The decoded 16-byte EQ extension bank (22 bytes, fields in image order of
// the chip's tool).
struct _EQ_EXTEND_BANK {
  uint16_t value0;  // 12 bits used
  uint16_t value1;
  uint16_t value2;
  uint16_t value3;
  uint16_t value4;
  uint8_t bit7Flag;
  uint8_t bit5Flag;
  uint8_t bit6Flag;
  uint8_t bit4Flag;
  uint8_t byte14;
  uint8_t lastBank;  // byte 15 bit 7: 1 in the last bank of the list
  uint8_t bytes8to13[6];
};
static_assert(sizeof(_EQ_EXTEND_BANK) == 22, "EQ bank record layout");

using BANK_MAP = std::pair<std::string, _EQ_EXTEND_BANK>;

namespace qrt::image {
// 16 image bytes <-> record. Encoding writes byte 15 = (byte14 & 0x7F) |
// lastBank << 7 and masks the values to 12 bits.
_EQ_EXTEND_BANK DecodeEqBank(const uint8_t* p16);
void EncodeEqBank(const _EQ_EXTEND_BANK& bank, uint8_t* p16);
}  // namespace qrt::image

class CEQGainMgr {
 public:
  // Reads the list when byte 0x8D bit 0 announces it, from E = (byte 0x8E &
  // 0x3F) * 16, up to and including the first bank with lastBank set, at most
  // (nSize-256)/16-1 banks and never past nSize. Clears the list first.
  // Returns 0.
  int Load(const uint8_t* pImage, size_t nSize);
  int GetCount() const { return static_cast<int>(m_BankList.size()); }
  // 0 and a copy of the record, or 1 when nIndex is past the end.
  int GetBank(int nIndex, _EQ_EXTEND_BANK* pDest) const;
  // Writes every bank from offset nStart of pImage; *pnLength = 16 * count.
  // Returns 0; -1 with length 0 when the list is empty; -2 with length 0 and
  // nothing written when the banks do not fit below nImageSize.
  int Serialize(size_t nStart, uint8_t* pImage, size_t nImageSize, size_t* pnLength) const;
  int IsPresent() const { return m_nExists; }
  int Clear();

  void AddBank(const _EQ_EXTEND_BANK& bank);

 private:
  std::vector<BANK_MAP> m_BankList;
  int m_nCount = 0;
  int m_nExists = 0;
};

// The AGC/IR bank: 32 bytes in the image layout, plus the exists flag.
class CAgcIrMgr {
 public:
  static constexpr size_t kBankSize = 32;
  // The content a bank added by the user gets.
  static const uint8_t s_btDefaultBank[kBankSize];

  CAgcIrMgr();
  // Reads the 32 bytes at nOffset (the caller checks that they lie inside
  // the buffer). Bits 0-1 of bytes 5 and 7 and bits 6-7 of byte 10 read as 0.
  // Returns 0.
  int Decode(const uint8_t* pImage, size_t nOffset);
  // Writes the bank to the 32 bytes at nOffset: byte 10 bits 6-7 as 0,
  // byte 31 bits 0-6 as ones (also in the record). Returns 0.
  int Encode(size_t nOffset, uint8_t* pImage);
  // 1 makes the bank present; any other value absent.
  void SetPresent(int nPresent) { m_nExists = nPresent == 1 ? 1 : 0; }
  int IsPresent() const { return m_nExists; }
  // All 32 bytes 0; the exists flag is untouched.
  void ZeroBank();
  void ResetToDefaults();

  // Byte 30 bit 0.
  int GetIrEnable() const { return m_btBank[30] & 1; }
  void SetIrEnable(int nOn);
  // Byte 11 bits 0-3; bits 4-7 are kept.
  int GetNecIrGpoNum() const { return m_btBank[11] & 0x0F; }
  void SetNecIrGpoNum(int nNum);
  const uint8_t* Bytes() const { return m_btBank; }

 private:
  uint8_t m_btBank[kBankSize];
  int m_nExists = 0;
};
