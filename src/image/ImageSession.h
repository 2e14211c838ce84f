#pragma once
// The image workflow shared by the window and the command line: the image
// and bank managers, the two settings records and the image size, the accept
// sequence for every image read (file or EEPROM) and the output sequence for
// every image written (file or EEPROM). Qt-free; the window adds widgets and
// message boxes around it.
//
// Life: construction places the built-in default image exactly as start-up
// does. ApplyLoadedImage replaces image, records and banks, or refuses and
// changes nothing. The caller edits m_RecInternalOpt; BuildOutputImage
// encodes it and places the banks. Single-threaded.
#include <cstddef>
#include <cstdint>

#include "BankMgrs.h"
#include "InternalOpt.h"
#include "RomDataMgr.h"

namespace qrt::image {

enum class EApplyResult {
  kAccepted,
  kNoSignature,  // byte 0 not 0xC7, or byte 1 bits 5-6 not both set
  kTooShort,     // fewer than 2 bytes
  kTooLong,      // more than 2048 bytes
};

enum class EBuildResult {
  kOk,
  kBanksDoNotFit,   // 256 + occupied bank size > image size
  kEqStartTooHigh,  // EQ banks would start at E with E / 16 above 63
  kSizeTooLarge,    // image size above 2048 (or 0)
};

// One line of text per result, for messages and the command line.
const char* ApplyResultText(EApplyResult r);
const char* BuildResultText(EBuildResult r);
// The warning for an image accepted without the banks beyond its end.
extern const char kBanksBeyondEndText[];

// Result of the AGC/IR code-size check when the bank is added.
struct CCodeSizeOffer {
  bool bNeedsMoreRoom;     // the current size leaves no room for 32 more bytes
  uint32_t dwOfferedSize;  // size to offer (512, 1024, 2048); 0 = no room can be offered
};
// The check table: by the shown size dwReadRomSize and the occupied bank size
// u before the bank is added. At 2048 there is nothing larger to offer.
CCodeSizeOffer CheckAgcIrCodeSize(uint32_t dwReadRomSize, uint32_t u);

class CImageSession {
 public:
  // Start-up: SetRomData(default, 256), decode, both records, sizes 256.
  CImageSession();

  // The accept sequence on n bytes (n at most 2048). Bytes beyond n read as
  // 0xFF (an erased EEPROM). Refused images change nothing. On acceptance the
  // image, both records and the banks are replaced; the image size is NOT
  // changed (callers set it: the file length, or the chosen EEPROM size).
  // Only banks that lie wholly inside the n bytes are taken; BanksBeyondEnd()
  // then tells whether the header announced more.
  EApplyResult ApplyLoadedImage(const uint8_t* p, size_t n);

  // True when the last accepted image announced banks that lie (partly)
  // beyond its end and were left out: the AGC/IR bank with the I2C
  // initialisation banks before it, or the EQ list when its last bank does
  // not fit. The images built from it then announce neither.
  bool BanksBeyondEnd() const { return m_bBanksBeyondEnd; }

  // Sets m_dwRomSize and normalises m_dwReadRomSize (256/512/1024/2048, any
  // other size shows as 256).
  void SetRomSize(uint32_t dwRomSize);
  uint32_t GetRomSize() const { return m_dwRomSize; }
  uint32_t GetReadRomSize() const { return m_dwReadRomSize; }

  // The output sequence: SetGenConfig(m_RecInternalOpt), BuildGenConfig,
  // GetRomData, BuildBankArea, 0xFF after the banks. out receives 2048
  // bytes of which the first *pnSize (= m_dwRomSize) are the image. On a
  // refusal nothing is encoded, out is untouched and *pnSize is 0.
  EBuildResult BuildOutputImage(uint8_t out[kMaxImageSize], size_t* pnSize);

  // The bank area. ReadBankArea reads the banks of a freshly placed image
  // (the 4096-byte buffer, of which the image's own nImageSize bytes count)
  // into the managers; BuildBankArea writes them into an image of nImageSize
  // bytes (pImage has room for at least 256 bytes), checking first that they
  // fit: refusals write nothing.
  void ReadBankArea(const uint8_t* pImage, size_t nImageBufferSize, size_t nImageSize);
  EBuildResult BuildBankArea(uint8_t* pImage, size_t nImageSize);
  // Bytes the banks present now occupy behind the header.
  uint32_t GetBankAreaSize();

  // AGC/IR bank as the window's check box handles it.
  // Remove: SetPresent(0), ZeroBank, m_bReadAGCFromOutSide = 0. Refused
  // (false) while I2C initialisation banks precede the bank.
  bool RemoveAgcIrBank();
  // Add: SetPresent(1), then ResetToDefaults unless the bank came from the
  // image. The caller runs CheckAgcIrCodeSize before and grows the size.
  void AddAgcIrBank();

  CRomDataMgr& RomDataMgr() { return m_RomDataMgr; }
  const CRomDataMgr& RomDataMgr() const { return m_RomDataMgr; }
  CAgcIrMgr& AgcIrMgr() { return m_AgcIrMgr; }
  const CAgcIrMgr& AgcIrMgr() const { return m_AgcIrMgr; }
  CI2CInitMgr& I2CInitMgr() { return m_I2CInitMgr; }
  CEQGainMgr& EQGainMgr() { return m_EQGainMgr; }
  const CEQGainMgr& EQGainMgr() const { return m_EQGainMgr; }
  int ReadAGCFromOutSide() const { return m_bReadAGCFromOutSide; }

  // The working record (edited) and the record as last loaded (Reset all).
  _INTERNAL_OPT m_RecInternalOpt;
  _INTERNAL_OPT m_RecOriginalOpt;

 private:
  // Managers in the window's construction order.
  CRomDataMgr m_RomDataMgr;
  CAgcIrMgr m_AgcIrMgr;
  CI2CInitMgr m_I2CInitMgr;
  CEQGainMgr m_EQGainMgr;
  // kOk when the banks present fit nImageSize and the EQ start fits 6 bits.
  EBuildResult CheckBankLayout(size_t nImageSize);
  // Offset E behind the I2C initialisation banks and the AGC/IR bank.
  size_t EqStart();

  uint32_t m_dwRomSize = 256;
  uint32_t m_dwReadRomSize = 256;
  int m_bReadAGCFromOutSide = 0;
  bool m_bBanksBeyondEnd = false;
  bool m_bEqListCut = false;  // EQ banks announced, none taken: 0x8D bit 0 is cleared on build
};

}  // namespace qrt::image
