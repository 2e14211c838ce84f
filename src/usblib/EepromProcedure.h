#pragma once
// The EEPROM read and write procedures on an opened board, shared by the
// window and the CLI: program the I2C enable and speed registers, read the
// image (or write it, read it back and compare), with progress, the plain
// English messages and the log steps handed to an observer. No Qt here: the
// window shows the messages in boxes and writes the log, the CLI prints to
// stderr.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ReportProtocol.h"

namespace USB42XX_MGR {

class CBoardHandle;

// Timing values a transfer accepts, in ms. A time-out of 0 fails the first
// busy wait, so every read or write would fail; the upper limits keep one
// 2048-byte transfer within hours, not days.
inline constexpr uint32_t kMinTransferTimeOutMs = 1;
inline constexpr uint32_t kMaxTransferTimeOutMs = 60000;
inline constexpr uint32_t kMaxTransferDelayMs = 1000;

// How the EEPROM is transferred. Default: the chip maker's procedure, byte
// mode with the delays of the settings below after every byte. Fast: the
// chip's word mode (two bytes per unit) for the whole transfer, no delay
// after a unit read and only the part's write-cycle time after a unit
// written; the EEPROM ends up with the same bytes. The read, write and
// time-out settings other than the delays apply to both.
enum class ETransferProfile { Default, Fast };

struct EEPROM_TRANSFER_PROFILE {
  ETransferProfile eKind = ETransferProfile::Default;
  // Fast: wait after each unit written. A 24Cxx does not answer during its
  // write cycle (data-sheet maximum 5 ms); a shorter wait loses units and
  // the read-back then fails.
  uint32_t dwWriteCycleMs = 5;
  // Write every unit, also those the previous contents show to hold the
  // new bytes already (a write is then as long as on a blank part).
  bool bWriteAll = false;
};

// The window's transfer settings (its members of the same names).
struct EEPROM_TRANSFER_SETTINGS {
  uint32_t m_dwRomSize = 256;  // bytes read, written and compared (at most 4096)
  uint32_t m_dwReadTimeOut = 128;
  uint32_t m_dwReadSleepTime = 5;
  uint32_t m_dwWriteTimeOut = 128;
  uint32_t m_dwWriteSleepTime = 5;
  bool m_bRWTimeEnabled = false;  // off: 128 ms / 5 ms whatever the values above
  uint32_t m_dwI2CSpeed = 0x20;
  bool m_bI2CEnabled = false;  // off: the speed register gets 0x20
  uint8_t m_bReportId = 0;     // report ID of the I2C transfers
  bool m_bLogEnabled = false;  // observer's log steps are called only when on
  // The window always transfers with the default profile.
  EEPROM_TRANSFER_PROFILE m_Profile;
};

enum class EEepromProgress { Read, Write, Verify, Probe };

// What the EEPROM holds after a write, as far as the procedure can know it:
// every claim comes from bytes read back after the part's write cycle.
struct EEPROM_WRITE_STATE {
  enum class EKind {
    kVerified,       // the whole image, read back and compared (also: no write yet)
    kPartial,        // the write stopped: see nNew and nUnknown
    kCompareFailed,  // the whole image, except where the read-back differed
    kUnknown,        // written, but the read-back failed
  };
  EKind eKind = EKind::kVerified;
  size_t nLength = 0;   // bytes the write was to cover
  size_t nNew = 0;      // kPartial: bytes 0..nNew-1 were read back new
  size_t nUnknown = 0;  // kPartial: the nUnknown bytes after them were sent
                        // but not read back new (or not read back at all);
                        // no byte after those was sent, so all are unchanged
};

// What the EEPROM holds, byte by byte, as far as it is known: vBytes[i]
// counts only where vKnown[i] is set (a byte read, or read back after a
// write). Both have the same length.
struct EEPROM_CONTENTS {
  std::vector<uint8_t> vBytes;
  std::vector<bool> vKnown;
  // nSize bytes, all known.
  static EEPROM_CONTENTS Whole(const uint8_t* pData, size_t nSize);
  // Whether bytes nFrom..nFrom+nCount-1 are all known and equal to pImage's
  // bytes there; false for bytes beyond the contents.
  bool HoldsAlready(const uint8_t* pImage, size_t nFrom, size_t nCount) const;
};

// "0x0020" for one byte, "0x0000-0x00D7" for more.
std::string ByteRangeText(size_t nFrom, size_t nCount);

// The words of a state text in one language; %s in a range phrase takes
// the byte range.
struct EEPROM_STATE_WORDS {
  const char* pszCompareFailed;
  const char* pszUnknown;
  const char* pszUnchanged;
  const char* pszOneNew;
  const char* pszManyNew;
  const char* pszOneUnknown;
  const char* pszManyUnknown;
  const char* pszSeparator;
  const char* pszRestUnchanged;
};
extern const EEPROM_STATE_WORDS kEnglishStateWords;

// One line for the user: "bytes 0x0000-0x00D7 are new, the rest is
// unchanged", "the EEPROM holds the new image except where the comparison
// failed", "the EEPROM is in an unknown state", ...; empty for kVerified.
std::string EepromStateText(const EEPROM_WRITE_STATE& state,
                            const EEPROM_STATE_WORDS& words = kEnglishStateWords);

class IEepromObserver {
 public:
  virtual ~IEepromObserver() = default;
  // A plain English message box text ("Load data from EEPROM OK!", ...).
  virtual void OnPlainMessage(const std::string& szText) = 0;
  // Called after every unit (a byte; two in the fast profile): Read 1..100,
  // Write 0..70, Verify 70..100; Probe (the one-byte read before a write)
  // is not to be shown. This is where the window lets the toolkit process
  // pending messages.
  virtual void OnProgress(EEepromProgress eKind, int nPercent) = 0;
  // At the start, before the registers are programmed.
  virtual void ProcessPendingMessages() {}
  // Log steps, called only while m_bLogEnabled is on: the log is opened,
  // lines of the log-line table written (code, value), the dumps made, the
  // log closed.
  virtual void OnLogOpen() {}
  virtual void OnLogLine(int /*nCode*/, int /*nValue*/) {}
  // A free text line (what a failed write left in the EEPROM).
  virtual void OnLogText(const std::string& /*szText*/) {}
  virtual void OnLogClose() {}
  virtual void OnDumpReadData(const uint8_t* /*pData*/, size_t /*nSize*/) {}
  virtual void OnDumpCompareData(const uint8_t* /*pRead*/, const uint8_t* /*pWritten*/,
                                 size_t /*nSize*/) {}
};

class CEepromProcedure {
 public:
  static constexpr size_t kBufferSize = 4096;

  // Neither is owned; both must outlive the procedure. The board's lock is
  // held by the handle, so the whole transfer runs under it.
  CEepromProcedure(CBoardHandle& board, IEepromObserver& observer);

  EEPROM_TRANSFER_SETTINGS& Settings() { return m_Settings; }
  const EEPROM_TRANSFER_SETTINGS& Settings() const { return m_Settings; }

  // Reads m_dwRomSize bytes (at most 4096) from EEPROM address 0. Returns 0,
  // or the ReadI2C code. Afterwards pLoadBuffer
  // (nLoadBufferSize bytes) holds the bytes read, as many as fit, and 0xFF from the first byte not
  // read to its end, also after a failure; never bytes of an earlier transfer.
  int ReadDataFromEEPROM(uint8_t* pLoadBuffer, size_t nLoadBufferSize);

  // Writes the first m_dwRomSize bytes (at most 4096) of the image (0xFF
  // beyond nImageSize), reads them back and compares them all; pLoadBuffer
  // (may be null) receives the read-back as a read fills it. With pPrevious
  // (what the EEPROM holds, from a read made under the same lock) a unit
  // whose bytes it shows equal to the image is not written, unless the
  // profile's bWriteAll; without it every unit is written. The comparison
  // always covers the whole image.
  // Returns 0 written and verified, 1 WriteI2C failed, 2 the read-back
  // failed or differs. GetLastCode() then tells which,
  // GetWriteState() what the EEPROM now holds; a failure's plain message and
  // log carry that too. After a failed WriteI2C the procedure waits out the
  // write cycle of the unit in flight and reads back what it sent, so that
  // the state comes from the part and whatever follows (a rollback) does not
  // find the part busy; pLoadBuffer is left alone then.
  int WriteDataToEEPROM(const uint8_t* pImage, size_t nImageSize, uint8_t* pLoadBuffer,
                        size_t nLoadBufferSize, const EEPROM_CONTENTS* pPrevious = nullptr);

  // Registers 0x0100 (enable) and 0x0111 (speed); failures go to the
  // observer as plain messages and do not stop the caller. Return 0.
  int SetI2CSpeedRegisters(uint8_t btEnable, uint8_t btSpeed);
  int GetI2CSpeedRegisters();

  // The composite code of the last failed ReadI2C/WriteI2C (0 when the last
  // procedure failed only in the comparison, or succeeded).
  int GetLastCode() const { return m_nLastCode; }
  // Offset of the first byte that differed in the last comparison, or -1.
  int GetFirstMismatch() const { return m_nFirstMismatch; }
  // Bytes transferred by the last procedure (m_dwRomSize, at most 4096).
  size_t GetTransferLength() const { return m_nTransferLength; }
  // What the EEPROM holds after the last WriteDataToEEPROM.
  const EEPROM_WRITE_STATE& GetWriteState() const { return m_WriteState; }
  // The same as contents, for the next write (a rollback): the image where
  // it was verified or read back new, the read-back of a failed comparison,
  // the previous contents where the write left them unchanged; unknown
  // elsewhere (everything after a failed read-back).
  const EEPROM_CONTENTS& GetContentsAfterWrite() const { return m_After; }
  // Bytes the last WriteDataToEEPROM sent (whole units), of GetTransferLength().
  size_t GetBytesWritten() const { return m_nBytesWritten; }

 private:
  size_t TransferLength() const;
  // I2C mode of the transfer and the delays after a unit, from the profile.
  struct SUnitTiming {
    uint8_t btMode;
    uint32_t dwReadDelayMs;
    uint32_t dwWriteDelayMs;
  };
  SUnitTiming UnitTiming(uint32_t dwReadSleepTime, uint32_t dwWriteSleepTime) const;
  // The wait after a unit written before the part is asked again.
  uint32_t WriteCycleWaitMs(const SUnitTiming& timing) const;
  // ReadI2C of wLength bytes from address 0 after a write: 0 with what the
  // EEPROM holds (units read while the part had not yet answered are read
  // again), or the ReadI2C code.
  int ReadBackSettled(const SUnitTiming& timing, uint8_t* pData, uint16_t wLength,
                      uint32_t dwTimeOut, const I2C_PROGRESS_CALLBACK& fnProgress);
  int GetChipInformationForRegisters();

  CBoardHandle& m_Board;
  IEepromObserver& m_Observer;
  EEPROM_TRANSFER_SETTINGS m_Settings;
  // Report ID from the last successful GetChipInformation, used by the
  // register calls (also after a failed one).
  uint8_t m_btRegisterReportId = 0;
  int m_nLastCode = 0;
  int m_nFirstMismatch = -1;
  size_t m_nTransferLength = 0;
  EEPROM_WRITE_STATE m_WriteState;
  EEPROM_CONTENTS m_After;
  size_t m_nBytesWritten = 0;
};

}  // namespace USB42XX_MGR
