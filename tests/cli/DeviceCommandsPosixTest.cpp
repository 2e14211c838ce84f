// qrt4250-cli device commands against a lock that another process holds with
// flock, in private /run and /tmp mounts (Linux only).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../usblib/PrivateMounts.h"
#include "CliRun.h"

using qrt::test::CRun;
using qrt::test::RunCliWith;

// Another program holds the device lock: the command gives up after
// --lock-timeout (real time, so 0 here) with exit 1, names the holder and
// writes nothing. Private /run and /tmp keep the machine's lock folders out
// of it. The holder's name, which any process may choose, is printed with
// its control characters escaped.
TEST(DeviceCommandsPosix, LockHeldElsewhereEndsTheCommandAfterTheTimeOut) {
  const int nResult = qrt::test::RunWithPrivateRunAndTmp([] {
    if (::mkdir("/run/lock/qrt4250", 01777) != 0) return 10;
    const int fd = ::open("/run/lock/qrt4250/QRT_HidMutex_{7D2A9E41-3C5B-4A86-9F10-6E4B2C8D1A57}",
                          O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) return 11;
    if (::prctl(PR_SET_NAME, "\x1B]0;PWNED\a\x1B[2J") != 0) return 12;
    const CRun run = RunCliWith(
        {"read", "--simulate", "--eeprom", "24C02", "-o", "/tmp/out.bin", "--lock-timeout", "0"});
    std::fputs(run.err.c_str(), stderr);
    if (run.nExit != 1) return 1;
    if (run.err.find("qrt4250-cli: error: the device is in use: its lock "
                     "/run/lock/qrt4250/QRT_HidMutex_{7D2A9E41-3C5B-4A86-9F10-6E4B2C8D1A57} is "
                     "held by process " +
                     std::to_string(::getpid()) + " (\\x1B]0;PWNED\\x07\\x1B[2J)") != 0) {
      return 2;
    }
    if (run.err.find("gave up after 0 s") == std::string::npos) return 3;
    return ::access("/tmp/out.bin", F_OK) == 0 ? 4 : 0;
  });
  if (nResult < 0) GTEST_SKIP() << "no private mount namespace (needs root)";
  EXPECT_EQ(nResult, 0);
}
