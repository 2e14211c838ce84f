#include "EepromProcedure.h"

#include <algorithm>
#include <cstdio>

#include "BoardHandle.h"
#include "ChipRegisters.h"
#include "Trace.h"

namespace USB42XX_MGR {

using qrt::diag::Trace;
using qrt::diag::TraceFormat;

namespace {

constexpr uint32_t kDefaultTimeOut = 128;
constexpr uint32_t kDefaultSleepTime = 5;
// The data-sheet maximum of a 24Cxx write cycle: the least wait after a
// unit written before the part is asked anything again.
constexpr uint32_t kPartWriteCycleMs = 5;
// How long a read-back that found no byte but 0xFF waits before it reads
// once more: a part that is still in a (far too long) write cycle does not
// answer, and the bus then reads 0xFF everywhere.
constexpr uint32_t kNoAnswerSettleMs = 250;

// Log-line codes.
constexpr int kLogReadTimeOut = 1;
constexpr int kLogReadSleep = 2;
constexpr int kLogWriteTimeOut = 3;
constexpr int kLogWriteSleep = 4;
constexpr int kLogReadEeprom = 5;
constexpr int kLogWriteEeprom = 6;
constexpr int kLogWriteFail = 7;
constexpr int kLogReadFail = 8;
constexpr int kLogCompareOk = 9;
constexpr int kLogCompareError = 10;

std::string Format(const char* pszFormat, unsigned a, unsigned b) {
  char sz[128];
  std::snprintf(sz, sizeof(sz), pszFormat, a, b);
  return sz;
}

// The first nLength bytes of vData into the caller's buffer, as many as fit,
// and 0xFF behind them to the buffer's end.
void CopyToLoadBuffer(const std::vector<uint8_t>& vData, size_t nLength, uint8_t* pLoadBuffer,
                      size_t nLoadBufferSize) {
  if (pLoadBuffer == nullptr || nLoadBufferSize == 0) return;
  std::fill(pLoadBuffer, pLoadBuffer + nLoadBufferSize, 0xFF);
  const size_t n = std::min({nLength, nLoadBufferSize, vData.size()});
  std::copy(vData.begin(), vData.begin() + static_cast<std::ptrdiff_t>(n), pLoadBuffer);
}

// Whether WriteI2C, failing with nCode inside a unit, may have started that
// unit's EEPROM write. Only two steps of a unit come at or after the
// command register write that starts it: that write (+7000, sub-codes 3 and
// 4: one of its reports failed and may still have arrived) and the busy wait
// after it (+8000, busy-wait sub-codes 1, -1, 2). Every other step of the
// code table comes before, so the unit's bytes are still the old ones. A
// code outside the table counts as started.
bool UnitMayHaveStarted(int nCode) {
  const int nStage = (nCode + 500) / 1000 * 1000;  // 6999 is stage 7000, sub-code -1
  const int nSub = nCode - nStage;
  if (nStage == 7000) return nSub == 3 || nSub == 4;
  if (nStage == 8000) return nSub == 1 || nSub == 2 || nSub == -1;
  return nStage < 0 || nStage > 9000 || nSub < -1 || nSub > 4;
}

// Offset of the first unit (btMode bytes) that holds a byte other than
// 0xFF, or nLength when there is none.
size_t FirstAnsweredUnit(const uint8_t* pData, size_t nLength, uint8_t btMode) {
  const size_t n = std::find_if(pData, pData + nLength, [](uint8_t b) { return b != 0xFF; }) - pData;
  return n - n % btMode;
}

// A run of units to write: bytes nFrom..nFrom+nCount-1.
struct SRun {
  size_t nFrom;
  size_t nCount;
};

// The units of the first nLength image bytes that pPrevious does not show
// to hold the image already, as runs of adjacent units. Each run is one
// WriteI2C: a call costs a few reports more than a unit, a skipped unit
// saves a whole unit and its write cycle, so no equal unit is written to
// join two runs.
std::vector<SRun> RunsToWrite(const uint8_t* pImage, size_t nLength, size_t nUnit,
                              const EEPROM_CONTENTS* pPrevious) {
  if (pPrevious == nullptr) return {{0, nLength}};
  std::vector<SRun> vRuns;
  for (size_t n = 0; n < nLength; n += nUnit) {
    const size_t nCount = std::min(nUnit, nLength - n);
    if (pPrevious->HoldsAlready(pImage, n, nCount)) continue;
    if (!vRuns.empty() && vRuns.back().nFrom + vRuns.back().nCount == n) {
      vRuns.back().nCount += nCount;
    } else {
      vRuns.push_back({n, nCount});
    }
  }
  return vRuns;
}

// What a write that stopped left: the image before nNew, nothing known up
// to nUnknownEnd, the previous contents (where known) after it.
EEPROM_CONTENTS ContentsAfterPartialWrite(const uint8_t* pImage, size_t nLength, size_t nNew,
                                          size_t nUnknownEnd, const EEPROM_CONTENTS* pPrevious) {
  EEPROM_CONTENTS after;
  after.vBytes.assign(pImage, pImage + nLength);
  after.vKnown.assign(nLength, false);
  for (size_t i = 0; i < nLength; ++i) {
    if (i < nNew) {
      after.vKnown[i] = true;
    } else if (i >= nUnknownEnd && pPrevious != nullptr && i < pPrevious->vBytes.size() &&
               i < pPrevious->vKnown.size() && pPrevious->vKnown[i]) {
      after.vBytes[i] = pPrevious->vBytes[i];
      after.vKnown[i] = true;
    }
  }
  return after;
}

}  // namespace

EEPROM_CONTENTS EEPROM_CONTENTS::Whole(const uint8_t* pData, size_t nSize) {
  EEPROM_CONTENTS contents;
  contents.vBytes.assign(pData, pData + nSize);
  contents.vKnown.assign(nSize, true);
  return contents;
}

bool EEPROM_CONTENTS::HoldsAlready(const uint8_t* pImage, size_t nFrom, size_t nCount) const {
  if (nFrom + nCount > vBytes.size() || nFrom + nCount > vKnown.size()) return false;
  for (size_t i = nFrom; i < nFrom + nCount; ++i) {
    if (!vKnown[i] || vBytes[i] != pImage[i]) return false;
  }
  return true;
}

std::string ByteRangeText(size_t nFrom, size_t nCount) {
  char sz[32];
  if (nCount == 1) {
    std::snprintf(sz, sizeof(sz), "0x%04X", static_cast<unsigned>(nFrom));
  } else {
    std::snprintf(sz, sizeof(sz), "0x%04X-0x%04X", static_cast<unsigned>(nFrom),
                  static_cast<unsigned>(nFrom + nCount - 1));
  }
  return sz;
}

const EEPROM_STATE_WORDS kEnglishStateWords = {
    "the EEPROM holds the new image except where the comparison failed",
    "the EEPROM is in an unknown state",
    "the EEPROM is unchanged",
    "byte %s is new",
    "bytes %s are new",
    "byte %s is unknown",
    "bytes %s are unknown",
    ", ",
    ", the rest is unchanged",
};

std::string EepromStateText(const EEPROM_WRITE_STATE& state, const EEPROM_STATE_WORDS& words) {
  using EKind = EEPROM_WRITE_STATE::EKind;
  switch (state.eKind) {
    case EKind::kVerified:
      return {};
    case EKind::kCompareFailed:
      return words.pszCompareFailed;
    case EKind::kUnknown:
      return words.pszUnknown;
    case EKind::kPartial:
      break;
  }
  if (state.nNew == 0 && state.nUnknown == 0) return words.pszUnchanged;
  const auto phrase = [](const char* pszOne, const char* pszMany, size_t nFrom, size_t nCount) {
    std::string szPhrase = nCount == 1 ? pszOne : pszMany;
    const size_t nAt = szPhrase.find("%s");
    if (nAt != std::string::npos) szPhrase.replace(nAt, 2, ByteRangeText(nFrom, nCount));
    return szPhrase;
  };
  std::string szText;
  if (state.nNew > 0) szText = phrase(words.pszOneNew, words.pszManyNew, 0, state.nNew);
  if (state.nUnknown > 0) {
    if (!szText.empty()) szText += words.pszSeparator;
    szText += phrase(words.pszOneUnknown, words.pszManyUnknown, state.nNew, state.nUnknown);
  }
  if (state.nNew + state.nUnknown < state.nLength) szText += words.pszRestUnchanged;
  return szText;
}

CEepromProcedure::CEepromProcedure(CBoardHandle& board, IEepromObserver& observer)
    : m_Board(board), m_Observer(observer) {}

int CEepromProcedure::GetChipInformationForRegisters() {
  uint16_t wChipId = 0;
  uint8_t btFlag = 0;
  uint32_t dwLength = 0;
  int r = m_Board.GetChipInformation(wChipId, btFlag, dwLength);
  if (r != 0) {
    Trace("GetChipInformation Fail!\n");
    m_Observer.OnPlainMessage("GetChipInformation Fail!");
  } else {
    Trace("GetChipInformation ok!\n");
    m_btRegisterReportId = btFlag;
  }
  return r;
}

// The register calls pass length 1: the length counts data bytes in the
// 8-byte layout (a larger value would send bytes from beyond the one data
// byte into the registers after it), and the other layouts ignore it.
int CEepromProcedure::SetI2CSpeedRegisters(uint8_t btEnable, uint8_t btSpeed) {
  GetChipInformationForRegisters();
  if (m_Board.WriteRegister(kRegEnable, &btEnable, 1, m_btRegisterReportId) != 0) {
    std::string szText =
        Format("SetRegisterData(Address1=%04X,btData1[0]=0x%02X) Fail!", kRegEnable, btEnable);
    Trace(szText + "\n");
    m_Observer.OnPlainMessage(szText);
  } else {
    TraceFormat("SetRegisterData(Address1=%04X,btData1[0]=%02X) OK!\n", kRegEnable, btEnable);
  }
  if (m_Board.WriteRegister(kRegSpeed, &btSpeed, 1, m_btRegisterReportId) != 0) {
    std::string szText =
        Format("SetRegisterData(Address2=%04X,btData2[0]=0x%02X) Fail!", kRegSpeed, btSpeed);
    Trace(szText + "\n");
    m_Observer.OnPlainMessage(szText);
  } else {
    TraceFormat("SetRegisterData(Address2=%04X,btData2[0]=0x%02X) OK!\n", kRegSpeed, btSpeed);
  }
  return 0;
}

int CEepromProcedure::GetI2CSpeedRegisters() {
  GetChipInformationForRegisters();
  uint8_t btEnable = 0;
  if (m_Board.ReadRegister(kRegEnable, &btEnable, 1, m_btRegisterReportId) != 0) {
    m_Observer.OnPlainMessage(
        Format("GetRegisterData(Address1=%04X,Enable=%02X) Fail!", kRegEnable, btEnable));
  } else {
    TraceFormat("GetRegisterData(Address1=%04X,Enable=%02X) OK!\n", kRegEnable, btEnable);
  }
  uint8_t btSpeed = 0;
  if (m_Board.ReadRegister(kRegSpeed, &btSpeed, 1, m_btRegisterReportId) != 0) {
    m_Observer.OnPlainMessage(
        Format("GetRegisterData(Address2=%04X,Speed=%02X) Fail!", kRegSpeed, btSpeed));
  } else {
    TraceFormat("GetRegisterData(Address2=%04X,Speed=%02X) OK!\n", kRegSpeed, btSpeed);
  }
  return 0;
}

size_t CEepromProcedure::TransferLength() const {
  return std::min<size_t>(m_Settings.m_dwRomSize, kBufferSize);
}

CEepromProcedure::SUnitTiming CEepromProcedure::UnitTiming(uint32_t dwReadSleepTime,
                                                           uint32_t dwWriteSleepTime) const {
  if (m_Settings.m_Profile.eKind != ETransferProfile::Fast) {
    return {1, dwReadSleepTime, dwWriteSleepTime};
  }
  // Word mode needs an even length; an odd one stays in byte mode, still
  // with the fast profile's waits (the write cycle follows every unit).
  const uint8_t btMode = TransferLength() % 2 == 0 ? 2 : 1;
  return {btMode, 0, m_Settings.m_Profile.dwWriteCycleMs};
}

uint32_t CEepromProcedure::WriteCycleWaitMs(const SUnitTiming& timing) const {
  return std::max(timing.dwWriteDelayMs, kPartWriteCycleMs);
}

// A part in its write cycle does not answer, and a unit read from it gives
// 0xFF. Once any unit has answered with another value the part is idle, and
// (as nothing is written meanwhile) every unit read after it is what the
// EEPROM holds: the 0xFF units before it are read again. When no unit
// answered at all, the whole range is read again after a settle time.
int CEepromProcedure::ReadBackSettled(const SUnitTiming& timing, uint8_t* pData, uint16_t wLength,
                                      uint32_t dwTimeOut, const I2C_PROGRESS_CALLBACK& fnProgress) {
  int r = m_Board.ReadI2C(timing.btMode, 0, pData, wLength, dwTimeOut, fnProgress,
                          timing.dwReadDelayMs, m_Settings.m_bReportId);
  if (r != 0 || wLength == 0) return r;
  size_t nAgain = FirstAnsweredUnit(pData, wLength, timing.btMode);
  if (nAgain == 0) return 0;
  I2C_PROGRESS_CALLBACK fnAgain = [this](uint16_t wTotal, uint16_t wDone) {
    m_Observer.OnProgress(EEepromProgress::Probe, (wDone + 1) * 100 / wTotal);
    return 0;
  };
  if (nAgain == wLength) {
    Trace("No answer but 0xFF in the read-back; reading it again\n");
    m_Board.DelayMs(kNoAnswerSettleMs);
  }
  return m_Board.ReadI2C(timing.btMode, 0, pData, static_cast<uint16_t>(nAgain), dwTimeOut,
                         fnAgain, timing.dwReadDelayMs, m_Settings.m_bReportId);
}

int CEepromProcedure::ReadDataFromEEPROM(uint8_t* pLoadBuffer, size_t nLoadBufferSize) {
  if (pLoadBuffer == nullptr) nLoadBufferSize = 0;
  m_nLastCode = 0;
  m_nFirstMismatch = -1;
  std::vector<uint8_t> vWork(kBufferSize, 0xFF);
  uint32_t dwReadTimeOut = kDefaultTimeOut;
  uint32_t dwReadSleepTime = kDefaultSleepTime;
  m_Observer.ProcessPendingMessages();
  const bool bLog = m_Settings.m_bLogEnabled;
  if (bLog) {
    m_Observer.OnLogOpen();
    m_Observer.OnLogLine(kLogReadEeprom, 0);
    m_Observer.OnLogLine(kLogReadTimeOut, static_cast<int>(m_Settings.m_dwReadTimeOut));
    m_Observer.OnLogLine(kLogReadSleep, static_cast<int>(m_Settings.m_dwReadSleepTime));
  }
  if (m_Settings.m_bRWTimeEnabled) {
    dwReadSleepTime = m_Settings.m_dwReadSleepTime;
    dwReadTimeOut = m_Settings.m_dwReadTimeOut;
  }
  if (!m_Settings.m_bI2CEnabled) m_Settings.m_dwI2CSpeed = 0x20;
  SetI2CSpeedRegisters(1, static_cast<uint8_t>(m_Settings.m_dwI2CSpeed));
  GetI2CSpeedRegisters();

  m_nTransferLength = TransferLength();
  const SUnitTiming timing = UnitTiming(dwReadSleepTime, kDefaultSleepTime);
  // Progress counts the unit just done: (done + 1) in byte mode, so a word
  // mode read also ends at 100.
  const int nUnit = timing.btMode;
  I2C_PROGRESS_CALLBACK fnProgress = [this, nUnit](uint16_t wTotal, uint16_t wDone) {
    m_Observer.OnProgress(EEepromProgress::Read, (wDone + nUnit) * 100 / wTotal);
    return 0;
  };
  int ret = m_Board.ReadI2C(timing.btMode, 0, vWork.data(),
                            static_cast<uint16_t>(m_nTransferLength), dwReadTimeOut, fnProgress,
                            timing.dwReadDelayMs, m_Settings.m_bReportId);
  if (ret != 0) {
    m_Observer.OnPlainMessage("Load data from EEPROM failed!");
    if (bLog) m_Observer.OnLogLine(kLogReadFail, ret);
  } else {
    m_Observer.OnPlainMessage("Load data from EEPROM OK!");
  }
  // The whole load buffer: the bytes read (as many as fit), 0xFF after them.
  CopyToLoadBuffer(vWork, m_nTransferLength, pLoadBuffer, nLoadBufferSize);
  if (bLog) {
    m_Observer.OnDumpReadData(vWork.data(), m_nTransferLength);
    m_Observer.OnLogClose();
  }
  m_nLastCode = ret;
  return ret;
}

int CEepromProcedure::WriteDataToEEPROM(const uint8_t* pImage, size_t nImageSize,
                                        uint8_t* pLoadBuffer, size_t nLoadBufferSize,
                                        const EEPROM_CONTENTS* pPrevious) {
  if (pImage == nullptr) nImageSize = 0;
  if (pLoadBuffer == nullptr) nLoadBufferSize = 0;
  if (m_Settings.m_Profile.bWriteAll) pPrevious = nullptr;
  m_nLastCode = 0;
  m_nFirstMismatch = -1;
  m_WriteState = EEPROM_WRITE_STATE{};
  m_After = EEPROM_CONTENTS{};
  m_nBytesWritten = 0;
  uint32_t dwReadTimeOut = kDefaultTimeOut, dwWriteTimeOut = kDefaultTimeOut;
  uint32_t dwReadSleepTime = kDefaultSleepTime, dwWriteSleepTime = kDefaultSleepTime;
  m_Observer.ProcessPendingMessages();
  if (m_Settings.m_bRWTimeEnabled) {
    dwReadSleepTime = m_Settings.m_dwReadSleepTime;
    dwWriteSleepTime = m_Settings.m_dwWriteSleepTime;
    dwWriteTimeOut = m_Settings.m_dwWriteTimeOut;
    dwReadTimeOut = m_Settings.m_dwReadTimeOut;
  }
  const bool bLog = m_Settings.m_bLogEnabled;
  if (bLog) m_Observer.OnLogOpen();
  if (!m_Settings.m_bI2CEnabled) m_Settings.m_dwI2CSpeed = 0x20;
  SetI2CSpeedRegisters(1, static_cast<uint8_t>(m_Settings.m_dwI2CSpeed));
  GetI2CSpeedRegisters();
  if (bLog) {
    m_Observer.OnLogLine(kLogWriteEeprom, 0);
    m_Observer.OnLogLine(kLogReadTimeOut, static_cast<int>(m_Settings.m_dwReadTimeOut));
    m_Observer.OnLogLine(kLogReadSleep, static_cast<int>(m_Settings.m_dwReadSleepTime));
    m_Observer.OnLogLine(kLogWriteTimeOut, static_cast<int>(m_Settings.m_dwWriteTimeOut));
    m_Observer.OnLogLine(kLogWriteSleep, static_cast<int>(m_Settings.m_dwWriteSleepTime));
  }
  std::vector<uint8_t> vWriteBuffer(kBufferSize, 0xFF);
  std::copy(pImage, pImage + std::min(nImageSize, kBufferSize), vWriteBuffer.begin());
  // The image size decides what is written and compared, whatever room the
  // caller gives for the read-back.
  m_nTransferLength = TransferLength();
  const uint16_t wLength = static_cast<uint16_t>(m_nTransferLength);
  const SUnitTiming timing = UnitTiming(dwReadSleepTime, dwWriteSleepTime);
  const int nUnit = timing.btMode;

  // Probe read of one byte; its result does not matter.
  uint8_t btScratch = 0;
  I2C_PROGRESS_CALLBACK fnProbe = [this](uint16_t wTotal, uint16_t wDone) {
    m_Observer.OnProgress(EEepromProgress::Probe, (wDone + 1) * 100 / wTotal);
    return 0;
  };
  m_Board.ReadI2C(1, 0, &btScratch, 1, dwReadTimeOut, fnProbe, timing.dwReadDelayMs,
                  m_Settings.m_bReportId);

  // WriteI2C reports a unit (one byte, two in word mode) after its write
  // has completed, so the bytes before the unit in flight at a failure are
  // surely new. Units the previous contents show equal are skipped: each
  // run of the others is one WriteI2C from its own address.
  const size_t nWriteUnit = static_cast<size_t>(nUnit);
  const std::vector<SRun> vRuns = RunsToWrite(vWriteBuffer.data(), wLength, nWriteUnit, pPrevious);
  for (const SRun& run : vRuns) m_nBytesWritten += run.nCount;
  size_t nRunFrom = 0, nSentBefore = 0;
  size_t nWriteDone = 0;   // the unit in flight starts here
  size_t nWrittenEnd = 0;  // the end of the last unit written
  I2C_PROGRESS_CALLBACK fnWrite = [&](uint16_t, uint16_t wDone) {
    nWriteDone = nRunFrom + wDone + nWriteUnit;
    nWrittenEnd = nWriteDone;
    m_Observer.OnProgress(
        EEepromProgress::Write,
        static_cast<int>((nSentBefore + wDone + nWriteUnit) * 70 / m_nBytesWritten));
    return 0;
  };
  if (vRuns.empty()) {
    Trace("The EEPROM holds the image already; nothing to write\n");
  } else if (pPrevious != nullptr) {
    TraceFormat("Writing %u of %u bytes (the units that differ)\n",
                static_cast<unsigned>(m_nBytesWritten), static_cast<unsigned>(wLength));
  }
  int ret = 0;
  for (const SRun& run : vRuns) {
    nRunFrom = nWriteDone = run.nFrom;
    ret = m_Board.WriteI2C(timing.btMode, static_cast<uint16_t>(run.nFrom),
                           vWriteBuffer.data() + run.nFrom, static_cast<uint16_t>(run.nCount),
                           dwWriteTimeOut, fnWrite, timing.dwWriteDelayMs, m_Settings.m_bReportId);
    if (ret != 0) break;
    nSentBefore += run.nCount;
  }
  m_WriteState.nLength = wLength;
  if (ret != 0) {
    // The unit in flight may have started its write cycle: whatever comes
    // next (the read-back below, a rollback) waits it out first.
    m_Board.DelayMs(WriteCycleWaitMs(timing));
    // Bytes no write command went out for are unchanged. Of the others only
    // the read-back tells which took the new value.
    size_t nReach = std::min<size_t>(nWriteDone, wLength);
    const bool bStarted = UnitMayHaveStarted(ret);
    if (bStarted) nReach = std::min<size_t>(nReach + nWriteUnit, wLength);
    std::vector<uint8_t> vNow(kBufferSize, 0xFF);
    const int rNow = nReach == 0 ? 0
                                 : ReadBackSettled(timing, vNow.data(),
                                                   static_cast<uint16_t>(nReach), dwReadTimeOut,
                                                   fnProbe);
    size_t nNew = 0;
    if (rNow == 0) {
      nNew = static_cast<size_t>(
          std::mismatch(vNow.begin(), vNow.begin() + static_cast<std::ptrdiff_t>(nReach),
                        vWriteBuffer.begin())
              .first -
          vNow.begin());
    } else {
      TraceFormat("Read-back after the failed write fail. ret = %d\n", rNow);
    }
    m_WriteState.eKind = EEPROM_WRITE_STATE::EKind::kPartial;
    const size_t nUnknown = nReach - nNew;
    // Units skipped after the last one written held the image already: they
    // are unchanged, and so said rather than new.
    if (nUnknown == 0 && !bStarted) nNew = std::min(nNew, nWrittenEnd);
    m_WriteState.nNew = nNew;
    m_WriteState.nUnknown = nUnknown;
    m_After =
        ContentsAfterPartialWrite(vWriteBuffer.data(), wLength, nNew, nNew + nUnknown, pPrevious);
    const std::string szState = EepromStateText(m_WriteState);
    TraceFormat("WriteI2C fail. ret = %d,\n", ret);
    m_Observer.OnPlainMessage("Write data to EEPROM failed!\n" + szState);
    if (bLog) {
      m_Observer.OnLogLine(kLogWriteFail, ret);
      m_Observer.OnLogText(szState);
      m_Observer.OnLogClose();
    }
    m_nLastCode = ret;
    return 1;
  }
  TraceFormat("[[3]m_dwI2CSpeed = 0x%02X\n", m_Settings.m_dwI2CSpeed);

  std::vector<uint8_t> vReadBack(kBufferSize, 0xFF);
  I2C_PROGRESS_CALLBACK fnVerify = [this, nUnit](uint16_t wTotal, uint16_t wDone) {
    m_Observer.OnProgress(EEepromProgress::Verify, (wDone + nUnit) * 30 / wTotal + 70);
    return 0;
  };
  ret = ReadBackSettled(timing, vReadBack.data(), wLength, dwReadTimeOut, fnVerify);
  TraceFormat("[[3]m_dwI2CSpeed = 0x%02X\n", m_Settings.m_dwI2CSpeed);
  CopyToLoadBuffer(vReadBack, wLength, pLoadBuffer, nLoadBufferSize);
  if (ret != 0) {
    // Every byte was sent, but nothing shows that the part kept them.
    m_WriteState.eKind = EEPROM_WRITE_STATE::EKind::kUnknown;
    const std::string szState = EepromStateText(m_WriteState);
    TraceFormat("ReadEEPROM_Ex fail. ret = %d\n", ret);
    char szText[64];
    std::snprintf(szText, sizeof(szText), "[WriteDataToEEPROM] Read fail. ret = %d", ret);
    m_Observer.OnPlainMessage(szText + ("\n" + szState));
    if (bLog) {
      m_Observer.OnLogLine(kLogReadFail, ret);
      m_Observer.OnLogText(szState);
      m_Observer.OnLogClose();
    }
    m_nLastCode = ret;
    return 2;
  }
  if (bLog) m_Observer.OnDumpCompareData(vReadBack.data(), vWriteBuffer.data(), wLength);
  auto mismatch =
      std::mismatch(vReadBack.begin(), vReadBack.begin() + wLength, vWriteBuffer.begin());
  // The read-back is what the part holds, also where it differs.
  m_After = EEPROM_CONTENTS::Whole(vReadBack.data(), wLength);
  if (mismatch.first == vReadBack.begin() + wLength) {
    Trace("Compare Data OK......\n");
    if (bLog) {
      m_Observer.OnLogLine(kLogCompareOk, 0);
      m_Observer.OnLogClose();
    }
    return 0;
  }
  m_nFirstMismatch = static_cast<int>(mismatch.first - vReadBack.begin());
  m_WriteState.eKind = EEPROM_WRITE_STATE::EKind::kCompareFailed;
  Trace("Compare Data FAIL......\n");
  if (bLog) {
    m_Observer.OnLogLine(kLogCompareError, 0);
    m_Observer.OnLogText(EepromStateText(m_WriteState));
    m_Observer.OnLogClose();
  }
  return 2;
}

}  // namespace USB42XX_MGR
