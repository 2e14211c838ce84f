// qrt4250-cli: the image commands run in process on sample files, and the
// built program once for its exit status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "CliApp.h"
#include "CliRun.h"
#include "ImageFiles.h"
#include "ImageSession.h"
#include "SampleImages.h"
#include "TestDirectory.h"
#include "TestEnvironment.h"

namespace fs = std::filesystem;
using namespace qrt::image;

namespace {

using qrt::test::CRun;
using qrt::test::RunCliWith;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = qrt::test::MakeTestDirectory("qrt-cli-");
    ASSERT_FALSE(m_dir.empty());
    const auto banks = qrt::test::ImageWithBanks({2, true, 2, 512});
    WriteBinFile(P("banks.bin"), banks.data(), banks.size());
    const auto def = qrt::test::DefaultImage();
    WriteHexFile(P("default.hex"), def.data(), def.size());
  }
  void TearDown() override { fs::remove_all(m_dir); }
  std::string P(const std::string& name) const { return (m_dir / name).string(); }

  // The accept sequence on a written file.
  CImageSession Load(const std::string& name, size_t* pnSize = nullptr) {
    uint8_t buffer[4096];
    size_t n = 0;
    const bool bHex = GetImageFileTypeByPath(name) == EImageFileType::kHex;
    EXPECT_EQ(bHex ? ReadHexFile(P(name), buffer, sizeof buffer, &n)
                   : ReadBinFile(P(name), buffer, sizeof buffer, &n),
              kReadOk);
    CImageSession s;
    EXPECT_EQ(s.ApplyLoadedImage(buffer, n), EApplyResult::kAccepted);
    if (pnSize) *pnSize = n;
    return s;
  }

  std::string ReadRaw(const std::string& name) { return qrt::test::ReadWholeFile(P(name)); }

  fs::path m_dir;
};

}  // namespace

TEST_F(CliTest, ShowJsonHasEveryFieldAndTheBanks) {
  const CRun r = RunCliWith({"show", P("banks.bin"), "--json"});
  ASSERT_EQ(r.nExit, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["btSignature"], 0xC7);
  EXPECT_EQ(j["wVID"], 0x3A7C);
  EXPECT_EQ(j["btMaxPowerGain1"], 53);
  EXPECT_EQ(j["szProduct"], "USB PnP Audio Device(EEPROM)");
  EXPECT_EQ(j["btVIDRaw"], "7C3A");
  EXPECT_EQ(j["btSerialNumber"], "000000000000");
  EXPECT_EQ(j["szStringArea"].get<std::string>().size(), 128u);
  EXPECT_EQ(j["romSize"], 512);
  EXPECT_EQ(j["eepromType"], "24C04");
  ASSERT_EQ(j["i2cInitBanks"].size(), 2u);
  EXPECT_EQ(j["i2cInitBanks"][0].get<std::string>().substr(0, 6), "101112");
  ASSERT_TRUE(j["agcIrBank"].is_object());
  EXPECT_EQ(j["agcIrBank"]["irEnable"], 1);
  EXPECT_EQ(j["agcIrBank"]["necIrGpoNum"], 5);
  ASSERT_EQ(j["eqBanks"].size(), 2u);
  EXPECT_EQ(j["eqBanks"][1]["value0"], 0x101);
  EXPECT_EQ(j["eqBanks"][1]["lastBank"], 1);
  // 32 record fields + romSize, eepromType and the three bank entries.
  EXPECT_EQ(j.size(), 34u + 5u);
}

TEST_F(CliTest, ShowBuiltinAndHexText) {
  CRun r = RunCliWith({"show", "--builtin", "--json"});
  ASSERT_EQ(r.nExit, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_TRUE(j["agcIrBank"].is_null());
  EXPECT_EQ(j["romSize"], 256);
  r = RunCliWith({"show", P("default.hex")});
  ASSERT_EQ(r.nExit, 0) << r.err;
  EXPECT_NE(r.out.find("Speaker"), std::string::npos);
  EXPECT_NE(r.out.find("24C02"), std::string::npos);
}

TEST_F(CliTest, ConvertBetweenFormatsKeepsTheImage) {
  ASSERT_EQ(RunCliWith({"convert", P("banks.bin"), P("banks.hex")}).nExit, 0);
  ASSERT_EQ(RunCliWith({"convert", P("banks.hex"), P("again.bin")}).nExit, 0);
  EXPECT_EQ(ReadRaw("banks.hex").size(), 3u * 512u);
  // The only changes are the AGC/IR bank's reserved bits (bank at 320).
  std::string expected = ReadRaw("banks.bin");
  expected[320 + 5] = static_cast<char>(expected[320 + 5] & 0xFC);
  expected[320 + 7] = static_cast<char>(expected[320 + 7] & 0xFC);
  expected[320 + 10] = static_cast<char>(expected[320 + 10] & 0x3F);
  expected[320 + 31] = static_cast<char>(expected[320 + 31] | 0x7F);
  ASSERT_NE(expected, ReadRaw("banks.bin"));
  EXPECT_EQ(ReadRaw("again.bin"), expected);

  // A bigger EEPROM: same banks, erased tail.
  ASSERT_EQ(RunCliWith({"convert", P("banks.bin"), P("big.bin"), "--size", "24C16"}).nExit, 0);
  const std::string big = ReadRaw("big.bin");
  ASSERT_EQ(big.size(), 2048u);
  EXPECT_EQ(big.substr(0, 512), expected);
  EXPECT_EQ(big.substr(512), std::string(1536, '\xFF'));
}

TEST_F(CliTest, RefusalsExitOneWithOneLineAndWriteNothing) {
  std::ofstream(P("nosig.bin"), std::ios::binary) << std::string("\xC7\x01", 2);
  std::ofstream(P("one.bin"), std::ios::binary) << std::string("\xC7", 1);
  std::ofstream(P("long.bin"), std::ios::binary) << std::string(2049, '\xC7');
  std::ofstream(P("letters.hex"), std::ios::binary) << "C7\r61\rZZ\r";
  std::ofstream(P("image.txt"), std::ios::binary) << "C7 61";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* pszReason = "";  // a part of the error line
  };
  const std::string out = P("out.bin");
  const Case cases[] = {
      {"no signature", {"convert", P("nosig.bin"), out}},
      {"one byte", {"convert", P("one.bin"), out}},
      {"too long", {"convert", P("long.bin"), out}},
      {"letters in hex", {"convert", P("letters.hex"), out}},
      {"unknown input type", {"convert", P("image.txt"), out}},
      {"missing input", {"convert", P("missing.bin"), out}},
      {"drive letter and backslashes", {"convert", "Q:\\missing\\in.bin", out}, "Q:\\\\missing"},
      {"unknown output type", {"convert", P("banks.bin"), P("out.img")}},
      {"banks do not fit", {"convert", P("banks.bin"), out, "--size", "24C02"}},
      {"bad size", {"convert", P("banks.bin"), out, "--size", "24C32"}},
      {"volume out of range", {"set", P("banks.bin"), out, "playVolume=64"}},
      {"flag out of range", {"set", P("banks.bin"), out, "mixMute=2"}},
      {"gainA out of range", {"set", P("banks.bin"), out, "gainA=4"}},
      {"gainB out of range", {"set", P("banks.bin"), out, "gainB=8"}},
      {"negative", {"set", P("banks.bin"), out, "mixVolume=-1"}},
      {"vid not hex", {"set", P("banks.bin"), out, "vid=12G4"}},
      {"vid too long", {"set", P("banks.bin"), out, "vid=12345"}},
      {"serial too long", {"set", P("banks.bin"), out, "serial=1234567890ABC"}},
      {"serial not hex", {"set", P("banks.bin"), out, "serial=12 4"}},
      {"strings over 56",
       {"set", P("banks.bin"), out, "product=" + std::string(30, 'p'),
        "manufacturer=" + std::string(27, 'm')}},
      {"beyond Latin-1", {"set", P("banks.bin"), out, "product=\xE2\x82\xAC"}, "up to U+00FF"},
      {"invalid UTF-8", {"set", P("banks.bin"), out, "product=ab\xC3"}, "not valid UTF-8"},
      {"line break in a name", {"convert", P("miss\ning.bin"), out}, "miss\\ning.bin\""},
      {"line break in a setting", {"set", P("banks.bin"), out, "vid=1\n2"}, "\"vid=1\\n2\""},
      {"unknown device", {"set", P("banks.bin"), out, "playDevice=radio"}},
      {"unknown name", {"set", P("banks.bin"), out, "volume=3"}},
      {"no equals sign", {"set", P("banks.bin"), out, "vid"}},
      {"a good setting then a bad one", {"set", P("banks.bin"), out, "vid=1234", "gainC=9"}},
      {"unknown option", {"show", P("banks.bin"), "--xml"}},
      // Not a Windows-style option on Windows either.
      {"a name that begins with a slash", {"show", "/qrt-missing/in.bin"},
       "\"/qrt-missing/in.bin\": Load File fail"},
      {"no command", {}},
      {"convert without OUT", {"convert", P("banks.bin")}, "IN and OUT"},
      {"convert --builtin without OUT", {"convert", "--builtin"}, "--builtin and OUT"},
      {"convert --builtin with IN", {"convert", "--builtin", P("banks.bin"), out}},
      {"template of a file and the built-in image", {"template", "export", "--builtin", P("banks.bin")}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> storage{"qrt4250-cli"};
    storage.insert(storage.end(), c.args.begin(), c.args.end());
    std::vector<const char*> argv;
    for (const auto& s : storage) argv.push_back(s.c_str());
    std::ostringstream o, e;
    EXPECT_EQ(qrt::cli::RunCli(static_cast<int>(argv.size()), argv.data(), o, e), 1) << c.name;
    const std::string err = e.str();
    EXPECT_EQ(err.rfind("qrt4250-cli: error: ", 0), 0u) << c.name << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.name << ": " << err;
    EXPECT_NE(err.find(c.pszReason), std::string::npos) << c.name << ": " << err;
    EXPECT_FALSE(fs::exists(out)) << c.name;
  }
}

TEST_F(CliTest, RefusedSetLeavesAnExistingOutputAlone) {
  std::ofstream(P("keep.bin"), std::ios::binary) << "keep";
  EXPECT_EQ(RunCliWith({"set", P("banks.bin"), P("keep.bin"), "recordVolume=99"}).nExit, 1);
  EXPECT_EQ(ReadRaw("keep.bin"), "keep");
}

TEST_F(CliTest, SetChangesEachNamedSetting) {
  struct Case {
    std::string assignment;
    bool (*check)(const _INTERNAL_OPT&);
  };
  const Case cases[] = {
      {"vid=1234", [](const _INTERNAL_OPT& r) { return r.wVID == 0x1234; }},
      {"pid=0xbeef", [](const _INTERNAL_OPT& r) { return r.wPID == 0xBEEF; }},
      {"serial=ABC",
       [](const _INTERNAL_OPT& r) {
         return r.btSerialNumber[4] == 0x0A && r.btSerialNumber[5] == 0xBC &&
                r.btSerialNumber[0] == 0;
       }},
      {"playVolume=63", [](const _INTERNAL_OPT& r) { return r.btPlayVolume == 63; }},
      {"recordVolume=0", [](const _INTERNAL_OPT& r) { return r.btRecordVolume == 0; }},
      {"mixVolume=17", [](const _INTERNAL_OPT& r) { return r.btMixVolume == 17; }},
      {"maxPowerGain1=13", [](const _INTERNAL_OPT& r) { return r.btMaxPowerGain1 == 13; }},
      {"mixMute=0", [](const _INTERNAL_OPT& r) { return r.btMixMute == 0; }},
      {"micBoostDefault=0", [](const _INTERNAL_OPT& r) { return r.btMicBoostDefault == 0; }},
      {"micBoostCtrl=1", [](const _INTERNAL_OPT& r) { return r.btMicBoostCtrl == 1; }},
      {"hpfL=0", [](const _INTERNAL_OPT& r) { return r.btHpfLEnable == 0; }},
      {"hpfR=1", [](const _INTERNAL_OPT& r) { return r.btHpfREnable == 1; }},
      {"productCtrl=0", [](const _INTERNAL_OPT& r) { return r.btProductStringCtrl == 0; }},
      {"serialCtrl=1", [](const _INTERNAL_OPT& r) { return r.btSerialNumberCtrl == 1; }},
      {"manufacturerCtrl=1",
       [](const _INTERNAL_OPT& r) { return r.btManufacturerStringCtrl == 1; }},
      {"gainA=3", [](const _INTERNAL_OPT& r) { return r.btGainA == 3; }},
      {"gainB=7", [](const _INTERNAL_OPT& r) { return r.btGainB == 7; }},
      {"gainC=0", [](const _INTERNAL_OPT& r) { return r.btGainC == 0; }},
      {"playDevice=headphone",
       [](const _INTERNAL_OPT& r) { return r.btPlayTerminalHi == 3 && r.btPlayTerminalLo == 2; }},
      {"recordDevice=micarray",
       [](const _INTERNAL_OPT& r) {
         return r.btRecordTerminalHi == 2 && r.btRecordTerminalLo == 5 &&
                r.btRecord2TerminalHi == 2 && r.btRecord2TerminalLo == 1;
       }},
      {"recordDevice=headset",
       [](const _INTERNAL_OPT& r) {
         return r.btRecordTerminalHi == 4 && r.btRecordTerminalLo == 2 &&
                r.btRecord2TerminalHi == 4 && r.btRecord2TerminalLo == 2 && r.btPlayTerminalHi == 3;
       }},
      {"product=Gr\xC3\xBC\xC3\x9F"
       "e",
       [](const _INTERNAL_OPT& r) {
         return r.btProductLen == 6 &&
                std::string(reinterpret_cast<const char*>(r.szProduct)) ==
                    "Gr\xFC\xDF"
                    "e" &&
                r.btProductStringCtrl == 1 &&
                std::string(reinterpret_cast<const char*>(r.szManufacturer)) ==
                    "Korvessandrilotech Co.,Ltd.";
       }},
      {"manufacturer=",
       [](const _INTERNAL_OPT& r) {
         return r.btManufacturerLen == 1 && r.btManufacturerStringCtrl == 0 && r.btProductLen == 29;
       }},
  };
  for (const Case& c : cases) {
    const std::string outName = "set.hex";
    fs::remove(P(outName));
    const CRun r = RunCliWith({"set", P("banks.bin"), P(outName), c.assignment});
    ASSERT_EQ(r.nExit, 0) << c.assignment << ": " << r.err;
    size_t n = 0;
    CImageSession s = Load(outName, &n);
    EXPECT_EQ(n, 512u) << c.assignment;
    EXPECT_TRUE(c.check(s.m_RecInternalOpt)) << c.assignment;
    // The banks travel unchanged.
    EXPECT_EQ(s.I2CInitMgr().GetCount(), 2) << c.assignment;
    EXPECT_EQ(s.EQGainMgr().GetCount(), 2) << c.assignment;
    EXPECT_EQ(s.AgcIrMgr().IsPresent(), 1) << c.assignment;
  }
}

TEST_F(CliTest, HelpVersionAndTrace) {
  for (const char* cmd : {"show", "convert", "set"}) {
    const CRun r = RunCliWith({cmd, "--help"});
    EXPECT_EQ(r.nExit, 0) << cmd;
    EXPECT_NE(r.out.find(cmd), std::string::npos) << cmd;
  }
  const CRun v = RunCliWith({"--version"});
  EXPECT_EQ(v.nExit, 0);
  EXPECT_EQ(v.out, std::string("qrt4250-cli ") + QRT_VERSION + "\n");
  const CRun t = RunCliWith({"--trace", "convert", P("banks.bin"), P("t.bin"), "--size", "24C08"});
  EXPECT_EQ(t.nExit, 0);
  EXPECT_NE(t.err.find("m_bReadAGCFromOutSide = 1"), std::string::npos);
  EXPECT_NE(t.err.find("nNotUsedSize = 640"), std::string::npos);
}

TEST_F(CliTest, ProgramExitStatus) {
  using qrt::test::Quoted;
  using qrt::test::RunQuietly;
  const std::string cli = Quoted(QRT_CLI_PATH);
  EXPECT_EQ(RunQuietly(cli + " --version"), 0);
  EXPECT_EQ(RunQuietly(cli + " show --builtin"), 0);
  EXPECT_EQ(RunQuietly(cli + " show " + Quoted(P("banks.bin")) + " --json"), 0);
  EXPECT_EQ(
      RunQuietly(cli + " set " + Quoted(P("banks.bin")) + " " + Quoted(P("x.bin")) + " gainA=9"),
      1);
  EXPECT_FALSE(fs::exists(P("x.bin")));
  EXPECT_EQ(RunQuietly(cli + " show " + Quoted(P("missing.bin"))), 1);
}

// A 256-byte image whose header announces an AGC/IR bank (0x8F = 0x90) and EQ
// banks (0x8D bit 0) has none: they would lie beyond its end. It converts at
// its own size with one warning, and show lists no bank.
TEST_F(CliTest, BanksAnnouncedBeyondTheEndAreLeftOutWithAWarning) {
  auto img = qrt::test::DefaultImage();
  img[0x8F] = 0x90;
  img[0x8D] |= 0x01;
  WriteBinFile(P("short.bin"), img.data(), img.size());
  const CRun c = RunCliWith({"convert", P("short.bin"), P("out.bin")});
  EXPECT_EQ(c.nExit, 0) << c.err;
  EXPECT_EQ(c.err, "qrt4250-cli: warning: " + QuoteText(P("short.bin")) +
                       ": the header announces banks beyond the end of the image; the image "
                       "is taken without them\n");
  const std::string out = ReadRaw("out.bin");
  ASSERT_EQ(out.size(), 256u);
  EXPECT_EQ(static_cast<uint8_t>(out[0x8F]), 0x80);
  const CRun j = RunCliWith({"show", P("short.bin"), "--json"});
  ASSERT_EQ(j.nExit, 0);
  const auto json = nlohmann::json::parse(j.out);
  EXPECT_TRUE(json["agcIrBank"].is_null());
  EXPECT_TRUE(json["eqBanks"].empty());
  EXPECT_TRUE(json["i2cInitBanks"].empty());
}

// Strings of an image, file names and arguments reach the terminal with their
// control characters escaped: a product string that sets the window title
// and clears the screen is shown, not obeyed.
TEST_F(CliTest, OutsideTextReachesTheTerminalEscaped) {
  const std::string szTitle = "\x1B]0;PWNED\a\x1B[2J";
  ASSERT_EQ(RunCliWith({"set", P("banks.bin"), P("esc.bin"), "product=" + szTitle}).nExit, 0);
  ASSERT_EQ(RunCliWith({"set", P("banks.bin"), P("csi.bin"), "product=\xC2\x9B" "2J"}).nExit, 0);
  const struct {
    std::vector<std::string> args;
    const char* pszShown;  // what stands in the output instead
  } cases[] = {
      {{"show", P("esc.bin")}, "\\x1B]0;PWNED\\x07\\x1B[2J"},
      {{"show", P("csi.bin")}, "\\u009B2J"},
      {{"diff", P("esc.bin"), P("csi.bin")}, "\\x1B]0;PWNED\\x07\\x1B[2J"},
      {{"show", P("esc.bin"), "--x\x1B[2J"}, "--x\\x1B[2J"},
      {{"convert", P("esc.bin"), P("\x1B[2J.img")}, "\\x1B[2J.img"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.pszShown);
    const CRun r = RunCliWith(c.args);
    const std::string szAll = r.out + r.err;
    EXPECT_NE(szAll.find(c.pszShown), std::string::npos) << szAll;
    for (size_t i = 0; i < szAll.size(); ++i) {
      const unsigned char ch = static_cast<unsigned char>(szAll[i]);
      const bool bC1 = ch == 0xC2 && i + 1 < szAll.size() &&
                       static_cast<unsigned char>(szAll[i + 1]) < 0xA0;
      EXPECT_FALSE((ch < 0x20 && ch != '\n') || ch == 0x7F || bC1) << "raw byte at " << i;
    }
  }
}

// The built-in default image as a file of any size, and as a template.
TEST_F(CliTest, BuiltinImageAsAFileAndATemplate) {
  const auto def = qrt::test::DefaultImage();
  struct Case {
    std::vector<std::string> args;
    const char* pszName;
    size_t nSize;
  };
  const Case cases[] = {
      {{"convert", "--builtin"}, "b.bin", 256},
      {{"convert", "--builtin", "--eeprom", "24C04"}, "b.hex", 512},
      {{"convert", "--size", "24C16", "--builtin"}, "b.bin", 2048},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back(P(c.pszName));
    const CRun r = RunCliWith(args);
    ASSERT_EQ(r.nExit, 0) << r.err;
    size_t n = 0;
    Load(c.pszName, &n);
    EXPECT_EQ(n, c.nSize);
    uint8_t buffer[4096];
    ASSERT_EQ(ReadImageFile(P(c.pszName), buffer, sizeof buffer, &n), kReadOk);
    EXPECT_TRUE(std::equal(def.begin(), def.end(), buffer)) << c.pszName;
    EXPECT_TRUE(std::all_of(buffer + 256, buffer + n, [](uint8_t b) { return b == 0xFF; }));
    fs::remove(P(c.pszName));
  }
  const CRun builtin = RunCliWith({"template", "export", "--builtin"});
  ASSERT_EQ(builtin.nExit, 0) << builtin.err;
  EXPECT_EQ(builtin.out, RunCliWith({"template", "export", P("default.hex")}).out);
}
