#include "WriteOutcome.h"

#include <cstdio>

namespace qrt::transfer {

using USB42XX_MGR::EEPROM_WRITE_STATE;

namespace {

bool English(ELanguage eLanguage) {
  return eLanguage == ELanguage::kEnglish;
}

const USB42XX_MGR::EEPROM_STATE_WORDS kChineseStateWords = {
    "EEPROM 中为新数据，比较不符之处除外",
    "EEPROM 状态未知",
    "EEPROM 未改变",
    "字节 %s 为新数据",
    "字节 %s 为新数据",
    "字节 %s 状态未知",
    "字节 %s 状态未知",
    "，",
    "，其余未变",
};

}  // namespace

std::string FailureText(const TRANSFER_FAILURE& failure, ELanguage eLanguage) {
  const bool bEn = English(eLanguage);
  const std::string szCode = std::to_string(failure.nCode);
  if (failure.nResult == 1) return (bEn ? "write failed: code " : "写入失败：代码 ") + szCode;
  if (!failure.Compared()) {
    return (bEn ? "verify failed: read-back code " : "校验失败：读回代码 ") + szCode;
  }
  char sz[128];
  std::snprintf(sz, sizeof(sz),
                bEn ? "verify failed: data differ at 0x%04X (wrote 0x%02X, read 0x%02X)"
                    : "校验失败：地址 0x%04X 处不符（写入 0x%02X，读出 0x%02X）",
                static_cast<unsigned>(failure.nMismatchAt), failure.btWritten, failure.btRead);
  return sz;
}

std::string StateText(const EEPROM_WRITE_STATE& state, ELanguage eLanguage) {
  return USB42XX_MGR::EepromStateText(
      state, English(eLanguage) ? USB42XX_MGR::kEnglishStateWords : kChineseStateWords);
}

std::string StopText(const WRITE_OUTCOME& outcome, ELanguage eLanguage) {
  const bool bEn = English(eLanguage);
  switch (outcome.eStopped) {
    case EWriteStep::kDone:
    case EWriteStep::kBeforeWrite:
      return {};
    case EWriteStep::kBackupRead:
      return (bEn ? "cannot read the previous contents for the backup: code "
                  : "无法读出原有内容作备份：代码 ") +
             std::to_string(outcome.nBackupReadCode) + (bEn ? "; nothing written" : "；未写入");
    case EWriteStep::kBackupSave:
      return (bEn ? "cannot save the backup: " : "无法保存备份：") + outcome.szBackupError +
             (bEn ? "; nothing written" : "；未写入");
    case EWriteStep::kWrite:
      break;
  }
  return FailureText(outcome.Write, eLanguage);
}

std::string RollbackText(const WRITE_OUTCOME& outcome, ELanguage eLanguage) {
  const bool bEn = English(eLanguage);
  switch (outcome.eRollback) {
    case ERollback::kNone:
      return {};
    case ERollback::kNotAttempted:
      return bEn ? "not attempted" : "未写回";
    case ERollback::kVerified:
      return bEn ? "rolled back to the previous contents, verified" : "已写回原有内容，校验通过";
    case ERollback::kFailed:
      break;
  }
  // What the EEPROM holds now, in the words of a failed write's line: after
  // a rollback that wrote nothing, what the failed write left.
  const EEPROM_WRITE_STATE& back = outcome.Rollback.State;
  std::string szHolds;
  if (back.eKind == EEPROM_WRITE_STATE::EKind::kPartial && back.nNew == 0 && back.nUnknown == 0) {
    szHolds = (bEn ? "nothing was written back; as the failed write left it, "
                   : "未写回任何数据；写入失败后的状态：") +
              StateText(outcome.Write.State, eLanguage);
  } else {
    szHolds = (bEn ? "writing back the previous contents, " : "写回原有内容时，") +
              StateText(back, eLanguage);
    if (outcome.Rollback.Compared()) {
      // Read back in full: how far it is from the previous contents.
      szHolds += bEn ? "; " + std::to_string(outcome.Rollback.nDiffering) +
                           " byte(s) differ from the previous contents"
                     : "；与原有内容有 " + std::to_string(outcome.Rollback.nDiffering) +
                           " 个字节不同";
    }
  }
  return (bEn ? "rollback failed (" : "写回失败（") + FailureText(outcome.Rollback, eLanguage) +
         (bEn ? "): " : "）：") + szHolds;
}

std::string NotRolledBackText(const WRITE_OUTCOME& outcome, ELanguage eLanguage) {
  return (English(eLanguage) ? "not rolled back; the previous contents are in "
                             : "未写回；原有内容保存在 ") +
         outcome.szBackupFile;
}

std::string OutcomeText(const WRITE_OUTCOME& outcome, ELanguage eLanguage) {
  if (outcome.Passed()) return {};
  const std::string szSep = English(eLanguage) ? "; " : "；";
  // What the EEPROM holds now first (a status line may cut the end), then
  // why, then where the previous contents are.
  std::string szText;
  std::string szBackup = outcome.szBackupFile;
  if (outcome.eStopped == EWriteStep::kWrite) {
    switch (outcome.eRollback) {
      case ERollback::kVerified:
      case ERollback::kFailed:
        szText = RollbackText(outcome, eLanguage) + szSep;
        break;
      case ERollback::kNotAttempted:
        szText = StateText(outcome.Write.State, eLanguage) + szSep +
                 NotRolledBackText(outcome, eLanguage) + szSep;
        szBackup.clear();
        break;
      case ERollback::kNone:
        szText = StateText(outcome.Write.State, eLanguage) + szSep;
        break;
    }
  }
  szText += StopText(outcome, eLanguage);
  if (!szBackup.empty()) {
    szText += szSep + (English(eLanguage) ? "backup " : "备份 ") + szBackup;
  }
  return szText;
}

}  // namespace qrt::transfer
