// The engine's simulator set-up, shared by both programs, the benches and
// the tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "SimSetup.h"
#include "TestDirectory.h"

namespace {

using qrt::transfer::SIM_OPTIONS;
using qrt::transfer::SIM_SPEC;

// Options refused with the words the user sees, whichever program reads them;
// the seed goes through the image readers (a .hex file is text).
TEST(SimSetup, OptionsAreCheckedAndTheSeedIsReadAsAnImageFile) {
  qrt::test::CTempDir dir;
  std::vector<uint8_t> vImage(256);
  for (size_t i = 0; i < vImage.size(); ++i) vImage[i] = static_cast<uint8_t>(i * 7 + 1);
  std::string szHex;
  for (uint8_t bt : vImage) {
    char sz[4];
    std::snprintf(sz, sizeof sz, "%02x\r", bt);
    szHex += sz;
  }
  const std::string szSeed = dir.Write("seed.hex", szHex);
  struct {
    SIM_OPTIONS options;
    const char* pszError;  // empty: accepted
  } cases[] = {
      {{szSeed, "24C04", 2, 3, {}, {}, {"2@flip:0x10", "latency-us:5"}, false}, ""},
      {{"", "24C32", 0, 1, {}, {}, {}, false}, "--sim-eeprom must be 24C02, 24C04, 24C08 or 24C16"},
      {{"", "24C02", 3, 1, {}, {}, {}, false}, "--sim-layout must be 0, 1 or 2"},
      {{"", "24C02", 0, 9, {}, {}, {}, false}, "--sim-boards must be 1 to 8"},
      {{"", "24C02", 0, 2, {}, {}, {"3@stay-busy"}, false}, "--sim-fault: "},
      {{dir.File("none.bin"), "24C02", 0, 1, {}, {}, {}, false}, "none.bin\": "},
  };
  for (const auto& c : cases) {
    SIM_SPEC spec;
    std::string szError;
    const bool bOk = qrt::transfer::ParseSimSpec(c.options, spec, szError);
    EXPECT_EQ(bOk, *c.pszError == '\0') << szError;
    if (!bOk) {
      EXPECT_NE(szError.find(c.pszError), std::string::npos) << szError;
    }
  }
  SIM_SPEC spec;
  std::string szError;
  ASSERT_TRUE(qrt::transfer::ParseSimSpec(cases[0].options, spec, szError));
  auto pRig = qrt::transfer::CreateSimPlatform(spec);
  ASSERT_EQ(pRig->Platform().DeviceCount(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const auto& eeprom = pRig->Platform().Chip(i).Eeprom();
    EXPECT_EQ(eeprom.size(), 512u);
    EXPECT_TRUE(std::equal(vImage.begin(), vImage.end(), eeprom.begin())) << i;
    EXPECT_EQ(pRig->Platform().Chip(i).ReportLength(), 8u);
  }
  EXPECT_EQ(pRig->Platform().BoardOf(2).Label(), "sim:3");
#ifndef _WIN32
  // A FIFO under the seed's name is refused at once instead of waited on.
  SIM_OPTIONS fifo;
  fifo.szImage = dir.File("fifo.bin");
  ASSERT_EQ(::mkfifo(fifo.szImage.c_str(), 0600), 0);
  EXPECT_FALSE(qrt::transfer::ParseSimSpec(fifo, spec, szError));
  EXPECT_NE(szError.find("fifo.bin\": Load File fail (cannot open)"), std::string::npos) << szError;
#endif
}

}  // namespace
