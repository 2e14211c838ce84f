#pragma once
// One board's protected write: the previous contents read and saved as a
// backup, the image written and verified, and after a failure the backup
// written back and verified. It prints nothing: progress and the
// procedure's messages go to the observer, the facts come back in a
// WRITE_OUTCOME, and the texts are made from them in one place
// (WriteOutcome.h), so the CLI's lines, its JSON, the production log and the
// window say the same thing.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "EepromProcedure.h"

namespace USB42XX_MGR {
class CBoardHandle;
}

namespace qrt::transfer {

// A write or read-back that failed, as the procedure left it.
struct TRANSFER_FAILURE {
  int nResult = 0;  // WriteDataToEEPROM: 1 the write failed, 2 the read-back failed or differed
  int nCode = 0;    // the composite code; 0 when only the comparison failed
  // The comparison (nCode 0): the first differing byte, what was written
  // and read there, and how many bytes differ.
  size_t nMismatchAt = 0;
  uint8_t btWritten = 0;
  uint8_t btRead = 0;
  size_t nDiffering = 0;
  USB42XX_MGR::EEPROM_WRITE_STATE State;  // what the EEPROM holds after it
  bool Compared() const { return nResult == 2 && nCode == 0; }
};

// Where a protected write stopped.
enum class EWriteStep {
  kDone,         // written and verified
  kBackupRead,   // the previous contents could not be read: nothing written
  kBackupSave,   // the backup could not be saved: nothing written
  kBeforeWrite,  // the caller's step before the write said no: nothing written
  kWrite,        // the write or its verification failed
};

enum class ERollback {
  kNone,          // not needed, or no backup was taken
  kNotAttempted,  // the caller asked for none
  kVerified,      // the backup was written back and verified
  kFailed,        // writing the backup back failed (Rollback says how)
};

struct WRITE_OUTCOME {
  EWriteStep eStopped = EWriteStep::kDone;
  int nBackupReadCode = 0;   // kBackupRead: the read's code
  std::string szBackupError;  // kBackupSave: why
  std::string szBackupFile;   // the backup saved, empty when none
  TRANSFER_FAILURE Write;     // kWrite
  ERollback eRollback = ERollback::kNone;
  TRANSFER_FAILURE Rollback;  // kFailed; its nDiffering counts against the backup
  // The write's read-back as the procedure's load buffer holds it (4096
  // bytes, 0xFF beyond what was read); empty when no write was made.
  std::vector<uint8_t> vReadBack;
  size_t nBytes = 0;  // bytes of the last transfer made (0: none was made)

  bool Passed() const { return eStopped == EWriteStep::kDone; }
  // The code of the step that failed: the backup read's, the write's, else 0.
  int Code() const;
};

struct PROTECTED_WRITE_OPTIONS {
  bool bBackup = true;
  std::string szBackupFile;  // chosen file; empty: a new one in the backup folder
  bool bRollback = true;
  // What the caller knows the board to hold at the image size (read or
  // verified since it was plugged): the backup without a read. Null, or
  // another size: the board is read.
  const std::vector<uint8_t>* pKnownContents = nullptr;
  // Once the backup is saved, before the first byte goes out (program takes
  // the serial here and finishes the image); false writes nothing.
  std::function<bool()> fnBeforeWrite;
  // After a failed write, before any rollback: the caller may say so now.
  std::function<void(const WRITE_OUTCOME&)> fnWriteFailed;
};

// Writes the first nSize bytes of pImage (256..2048) to the board with the
// settings given (their m_dwRomSize becomes nSize). The backup read's "Load
// data from EEPROM OK!" is no result of its own and does not reach the
// observer.
WRITE_OUTCOME ProtectedWrite(USB42XX_MGR::CBoardHandle& board,
                             const USB42XX_MGR::EEPROM_TRANSFER_SETTINGS& settings,
                             USB42XX_MGR::IEepromObserver& observer, const uint8_t* pImage,
                             size_t nSize, const PROTECTED_WRITE_OPTIONS& options);

}  // namespace qrt::transfer
