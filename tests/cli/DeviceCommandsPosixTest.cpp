// qrt4250-cli device commands against the lock folder and a lock that
// another process holds with flock, in private /run and /tmp mounts (Linux
// only).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../usblib/PrivateMounts.h"
#include "CliRun.h"
#include "HeldLock.h"
#include "NamedMutex.h"
#include "SimPlatform.h"
#include "Usb42xxMgr.h"

using qrt::test::CHeldLock;
using qrt::test::CRun;
using qrt::test::RunCliWith;
using USB42XX_MGR::CNamedMutex;

namespace {

const std::vector<std::string> kRead = {"read", "--simulate", "--eeprom", "24C02",
                                        "-o",   "/tmp/out.bin", "--lock-timeout", "0"};

std::string SharedLockPath(const char* pszMutexName) {
  return "/run/lock/qrt4250/" + CNamedMutex::LockFileName(pszMutexName);
}

}  // namespace

// Another program holds a device lock. The simulated boards have their own:
// the machine's lock does not hold a simulated run up, the simulator's does
// (it gives up after --lock-timeout, 0 here, names the holder and writes
// nothing).
TEST(DeviceCommandsPosix, SimulatedRunsMeetOnlyOnTheSimulatorsLock) {
  struct CASE {
    const char* pszHeld;
    bool bGivesUp;
  };
  for (const CASE& c : {CASE{USB42XX_MGR::kHidMutexName, false},
                        CASE{qrt::sim::kSimMutexNames.pszHid, true}}) {
    SCOPED_TRACE(c.pszHeld);
    const int nResult = qrt::test::RunWithPrivateRunAndTmp([&] {
      if (::mkdir("/run/lock/qrt4250", 01777) != 0) return 10;
      const std::string szLock = SharedLockPath(c.pszHeld);
      CHeldLock held(szLock);
      if (!held.Held()) return 11;
      const CRun run = RunCliWith(kRead);
      std::fputs(run.err.c_str(), stderr);
      const bool bWritten = ::access("/tmp/out.bin", F_OK) == 0;
      if (!c.bGivesUp) return run.nExit == 0 && bWritten ? 0 : 1;
      if (run.nExit != 1 || bWritten) return 2;
      const std::string szExpected = "qrt4250-cli: error: the device is in use: its lock " + szLock +
                                     " is held by process " + std::to_string(::getpid());
      if (run.err.find(szExpected) != 0) return 3;
      return run.err.find("gave up after 0 s") == std::string::npos ? 4 : 0;
    });
    if (nResult < 0) GTEST_SKIP() << "no private mount namespace (needs root)";
    EXPECT_EQ(nResult, 0);
  }
}

// The shared lock folder belongs to another user (it made the folder first):
// the command falls back to /tmp/qrt4250-locks and says so once.
TEST(DeviceCommandsPosix, FallBackFromTheSharedLockFolderIsTold) {
  const int nResult = qrt::test::RunWithPrivateRunAndTmp([] {
    if (::mkdir("/run/lock/qrt4250", 01777) != 0 || ::chmod("/run/lock/qrt4250", 01777) != 0 ||
        ::chown("/run/lock/qrt4250", 4242, 4242) != 0) {
      return 10;
    }
    const CRun run = RunCliWith(kRead);
    std::fputs(run.err.c_str(), stderr);
    if (run.nExit != 0) return 1;
    const std::string szWarning =
        "qrt4250-cli: warning: /run/lock/qrt4250 cannot be used (the lock folder belongs to "
        "another user, or others may write to it without the sticky bit): the device lock falls "
        "back to /tmp/qrt4250-locks";
    const size_t nAt = run.err.find(szWarning);
    if (nAt == std::string::npos) return 2;
    if (run.err.find(szWarning, nAt + 1) != std::string::npos) return 3;
    // Owned by root, the folder is used and nothing is said.
    if (::chown("/run/lock/qrt4250", 0, 0) != 0) return 11;
    return RunCliWith(kRead).err.find("warning") == std::string::npos ? 0 : 4;
  });
  if (nResult < 0) GTEST_SKIP() << "no private mount namespace (needs root)";
  EXPECT_EQ(nResult, 0);
}
