#pragma once
// Every text of a protected write, made from its facts in one place, in the
// window's two languages: the CLI prints the English ones (and puts them in
// its JSON and the production log), the window shows the one of its
// language.
#include <string>

#include "EepromProcedure.h"
#include "ProtectedWrite.h"

namespace qrt::transfer {

// The window's message-table order: 0 Chinese, 1 English.
enum class ELanguage { kChinese = 0, kEnglish = 1 };

// "write failed: code 8002", "verify failed: read-back code 11004",
// "verify failed: data differ at 0x0020 (wrote 0x00, read 0x04)".
std::string FailureText(const TRANSFER_FAILURE& failure, ELanguage eLanguage);

// What the EEPROM holds after a failed write: "bytes 0x0000-0x00D7 are new,
// the rest is unchanged", ... (the English is EepromStateText's); empty for
// a verified write.
std::string StateText(const USB42XX_MGR::EEPROM_WRITE_STATE& state, ELanguage eLanguage);

// Why the write stopped: "cannot read the previous contents for the backup:
// code 2002; nothing written", "cannot save the backup: ...; nothing
// written", or FailureText of the write. Empty when it passed or the
// caller's step before the write stopped it.
std::string StopText(const WRITE_OUTCOME& outcome, ELanguage eLanguage);

// What the rollback did, as the JSON and the production log name it:
// "rolled back to the previous contents, verified", "rollback failed (...):
// ...", "not attempted"; empty when none was due.
std::string RollbackText(const WRITE_OUTCOME& outcome, ELanguage eLanguage);

// A backup left in place without a rollback: "not rolled back; the previous
// contents are in FILE".
std::string NotRolledBackText(const WRITE_OUTCOME& outcome, ELanguage eLanguage);

// The whole story in one line, for the window: what the EEPROM holds now
// (the rollback's words when there was one), why the write stopped, and the
// backup file, joined by "; ". Empty when it passed.
std::string OutcomeText(const WRITE_OUTCOME& outcome, ELanguage eLanguage);

}  // namespace qrt::transfer
