#pragma once
// Header bytes 0x8D-0x8F: how the general configuration block announces the
// banks behind it. This class is the one place that reads or writes them.
//   0x8D bit 0     EQ extension banks present
//   0x8E bits 0-5  start of the EQ extension banks in 16-byte units
//   0x8F bit 4     AGC/IR bank present
//   0x8F bit 7     with bit 4: the chip reads the I2C initialisation banks
//                  and the AGC/IR bank
// Every other bit of the three bytes is chip configuration: Write keeps it.
#include <cstddef>
#include <cstdint>

class CBankHeader {
 public:
  // The announcements of pHeader (at least 0x90 bytes).
  explicit CBankHeader(const uint8_t* pHeader)
      : m_btEq(pHeader[0x8D]), m_btEqStart(pHeader[0x8E]), m_btAgcIr(pHeader[0x8F]) {}

  bool HasEqBanks() const { return (m_btEq & kEqBit) != 0; }
  // Byte offset of the first EQ extension bank (0 to 1008).
  size_t EqStart() const { return static_cast<size_t>(m_btEqStart & kEqStartMask) * 16; }
  bool HasAgcIrBank() const { return (m_btAgcIr & kAgcIrBit) != 0; }
  bool ReadsI2CAndAgcIr() const {
    return (m_btAgcIr & (kAgcIrBit | kBankReadBit)) == (kAgcIrBit | kBankReadBit);
  }

  void SetEqBanks(bool bOn) { Put(m_btEq, kEqBit, bOn ? kEqBit : 0); }
  // nOffset / 16 in six bits; callers check that it fits (offset 1008 at most).
  void SetEqStart(size_t nOffset) {
    Put(m_btEqStart, kEqStartMask, static_cast<uint8_t>(nOffset / 16));
  }
  void SetAgcIrBank(bool bOn) { Put(m_btAgcIr, kAgcIrBit, bOn ? kAgcIrBit : 0); }
  // Bit 7 of 0x8F. The tool sets it only for banks a template brings.
  void SetBankRead(bool bOn) { Put(m_btAgcIr, kBankReadBit, bOn ? kBankReadBit : 0); }

  // The announcement bits of header byte nOffset (0 outside 0x8D-0x8F).
  static constexpr uint8_t AnnouncementBits(size_t nOffset) {
    return nOffset == 0x8D   ? kEqBit
           : nOffset == 0x8E ? kEqStartMask
           : nOffset == 0x8F ? static_cast<uint8_t>(kAgcIrBit | kBankReadBit)
                             : 0;
  }

  // Writes the announcement bits into pHeader; the other bits of its bytes
  // 0x8D-0x8F stay as they are.
  void Write(uint8_t* pHeader) const {
    Put(pHeader[0x8D], kEqBit, m_btEq);
    Put(pHeader[0x8E], kEqStartMask, m_btEqStart);
    Put(pHeader[0x8F], kAgcIrBit | kBankReadBit, m_btAgcIr);
  }

 private:
  static constexpr uint8_t kEqBit = 0x01, kEqStartMask = 0x3F, kAgcIrBit = 0x10,
                           kBankReadBit = 0x80;
  static void Put(uint8_t& bt, uint8_t btMask, uint8_t btValue) {
    bt = static_cast<uint8_t>((bt & ~btMask) | (btValue & btMask));
  }

  uint8_t m_btEq;       // byte 0x8D as read
  uint8_t m_btEqStart;  // byte 0x8E
  uint8_t m_btAgcIr;    // byte 0x8F
};
