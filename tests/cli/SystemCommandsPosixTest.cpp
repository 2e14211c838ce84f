// qrt4250-cli monitor on Linux: SIGINT ends it and its handler goes again.
#include <gtest/gtest.h>
#include <signal.h>

#include <sstream>

#include "DeviceMonitor.h"
#include "ScriptedPlatform.h"

using qrt::test::CScriptedPlatform;

TEST(DeviceMonitor, AnInterruptEndsIt) {
  CScriptedPlatform platform(true);
  std::ostringstream out, err;
  qrt::cli::DEVICE_MONITOR_OPTIONS options;
  options.nPollMs = 0;
  int nChecks = 0;
  // The signal is raised between two waits (it stays blocked until the next
  // wait); the monitor must end there instead of running on to the cap.
  options.fnStop = [&] {
    if (++nChecks == 2) raise(SIGINT);
    return nChecks > 50;
  };
  EXPECT_EQ(qrt::cli::RunDeviceMonitor(platform, out, err, options), 0);
  EXPECT_EQ(nChecks, 2);
  // The program's own SIGINT handling is back afterwards.
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}
