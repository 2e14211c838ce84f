// qrt4250-cli device commands, run in process on the simulated chip.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "CliApp.h"
#include "CliRun.h"
#include "DeviceCommands.h"
#include "DeviceSession.h"
#include "ImageFiles.h"
#include "ImageSession.h"
#include "LogLines.h"
#include "ProductionLog.h"
#include "RomDataMgr.h"
#include "SerialCounter.h"
#include "SettingsRules.h"
#include "TestDirectory.h"
#include "TestEnvironment.h"

#ifdef __linux__
#include "PrivateMounts.h"
#endif

namespace fs = std::filesystem;

namespace {

using qrt::test::CRun;
using qrt::test::RunCliWith;
using qrt::test::BoardLines;
using qrt::test::LogLines;

std::vector<uint8_t> ReadFile(const std::string& szPath) {
  std::ifstream f(szPath, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void WriteFile(const std::string& szPath, const std::vector<uint8_t>& data) {
  std::ofstream f(szPath, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// The output image the window would write for a file of these bytes.
std::vector<uint8_t> OutputImageOf(const std::vector<uint8_t>& file) {
  qrt::image::CImageSession session;
  EXPECT_EQ(session.ApplyLoadedImage(file.data(), file.size()),
            qrt::image::EApplyResult::kAccepted);
  session.SetRomSize(static_cast<uint32_t>(file.size()));
  uint8_t out[qrt::image::kMaxImageSize];
  size_t n = 0;
  EXPECT_EQ(session.BuildOutputImage(out, &n), qrt::image::EBuildResult::kOk);
  return std::vector<uint8_t>(out, out + n);
}

class DeviceCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Dir = qrt::test::MakeTestDirectory("qrt-cli-dev-");
    ASSERT_FALSE(m_Dir.empty());
    // Backups of every write land here, not in the user's state folder.
    ASSERT_TRUE(qrt::test::SetEnvironment(qrt::test::kUserStateVariable, P("state")));
  }
  void TearDown() override { fs::remove_all(m_Dir); }
  std::string P(const std::string& name) const { return (m_Dir / name).string(); }

  // The built-in header (no banks) followed by varied bytes.
  std::vector<uint8_t> MakeImage(size_t n, uint8_t btSeed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(btSeed + i * 29 + (i >> 7));
    std::copy(qrt::image::g_btDefaultImage, qrt::image::g_btDefaultImage + 256, v.begin());
    return v;
  }

  fs::path m_Dir;
};

}  // namespace

TEST_F(DeviceCommandsTest, ListShowsTheSimulatedChip) {
  for (const char* pszLayout : {"0", "1", "2"}) {
    CRun r = RunCliWith({"list", "--simulate", "--sim-layout", pszLayout});
    EXPECT_EQ(r.nExit, 0) << r.err;
    EXPECT_EQ(
        r.out.rfind(
            "VID = 0x3A7C, PID = 0x4250, chip id = 0x8042, layout " + std::string(pszLayout), 0),
        0u)
        << r.out;
  }
}

TEST_F(DeviceCommandsTest, ReadWriteVerifyEverySizeAndLayout) {
  const char* types[] = {"24C02", "24C04", "24C08", "24C16"};
  for (int nType = 0; nType < 4; ++nType) {
    size_t nSize = 256u << nType;
    for (const char* pszLayout : {"0", "1", "2"}) {
      SCOPED_TRACE(std::string(types[nType]) + " layout " + pszLayout);
      auto image = MakeImage(nSize, static_cast<uint8_t>(nType * 3 + 1));
      WriteFile(P("in.bin"), image);
      CRun w = RunCliWith({"write", P("in.bin"), "--simulate", "--sim-eeprom", types[nType],
                           "--sim-layout", pszLayout, "--sim-save", P("chip.bin")});
      ASSERT_EQ(w.nExit, 0) << w.err;
      auto expected = OutputImageOf(image);
      EXPECT_EQ(ReadFile(P("chip.bin")), expected);

      // The read gives the EEPROM bytes as they are.
      CRun rd = RunCliWith({"read", "--eeprom", types[nType], "-o", P("out.hex"), "--simulate",
                            "--sim-image", P("in.bin"), "--sim-eeprom", types[nType],
                            "--sim-layout", pszLayout});
      ASSERT_EQ(rd.nExit, 0) << rd.err;
      uint8_t buffer[4096];
      size_t n = 0;
      ASSERT_EQ(qrt::image::ReadHexFile(P("out.hex"), buffer, sizeof buffer, &n), 0);
      EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + n), image);

      CRun v = RunCliWith({"verify", P("in.bin"), "--simulate", "--sim-image", P("chip.bin"),
                           "--sim-eeprom", types[nType], "--sim-layout", pszLayout});
      EXPECT_EQ(v.nExit, 0) << v.err;
    }
  }
}

TEST_F(DeviceCommandsTest, FailuresExitOneWithTheCode) {
  auto image = MakeImage(512, 5);
  WriteFile(P("in.bin"), image);
  WriteFile(P("zeros.bin"), std::vector<uint8_t>(512, 0x00));  // differs from every image byte
  struct Case {
    std::vector<std::string> args;
    const char* pszError;
  };
  // The write cases skip the backup so that report numbers count from the write;
  // --write-all writes byte 0x20, which the board already holds.
  const Case cases[] = {
      {{"write", P("in.bin"), "--no-backup", "--simulate", "--sim-eeprom", "24C04", "--sim-fault",
        "refuse-output:300"},
       "write failed: code "},
      {{"write", P("in.bin"), "--no-backup", "--simulate", "--sim-eeprom", "24C04", "--sim-fault",
        "stay-busy"},
       "\nthe EEPROM is unchanged\n"},
      {{"write", P("in.bin"), "--no-backup", "--simulate", "--sim-eeprom", "24C04", "--sim-image",
        P("zeros.bin"), "--sim-fault", "refuse-output:287"},
       " is unknown, the rest is unchanged\n"},
      {{"write", P("in.bin"), "--no-backup", "--simulate", "--sim-eeprom", "24C04", "--sim-fault",
        "refuse-output:1000"},
       " are new, the rest is unchanged\n"},
      {{"write", P("in.bin"), "--simulate", "--sim-eeprom", "24C04", "--write-all", "--sim-fault",
        "flip:0x20:4"},
       "verify failed: data differ at 0x0020"},
      {{"write", P("in.bin"), "--simulate", "--sim-eeprom", "24C04", "--write-all", "--sim-fault",
        "flip:0x20:4"},
       "the EEPROM holds the new image except where the comparison failed\n"},
      {{"read", "--eeprom", "24C02", "-o", P("x.bin"), "--simulate", "--i2c-speed", "0x100"},
       "--i2c-speed must be a hex byte"},
      {{"write", P("in.bin"), "--simulate", "--sim-eeprom", "24C04", "--sim-image", P("zeros.bin"),
        "--write-delay", "2"},
       "verify failed: data differ"},
      {{"write", P("in.bin"), "--simulate", "--sim-eeprom", "24C04", "--sim-image", P("zeros.bin"),
        "--profile", "fast", "--write-cycle", "2"},
       "verify failed: data differ"},
      {{"write", P("in.bin"), "--simulate", "--profile", "quick"}, "--profile"},
      {{"write", P("in.bin"), "--no-backup", "--simulate", "--sim-eeprom", "24C04", "--sim-fault",
        "unplug:4000"},
       "failed: "},
      {{"read", "--eeprom", "24C04", "-o", P("x.bin"), "--simulate", "--sim-fault", "stay-busy"},
       "read failed: code 2002"},
      {{"verify", P("in.bin"), "--simulate", "--sim-eeprom", "24C04", "--sim-image",
        P("zeros.bin")},
       "verify failed: data differ at 0x0000"},
      {{"read", "--eeprom", "24C05", "-o", P("x.bin"), "--simulate"}, "--eeprom must be"},
      {{"list", "--simulate", "--sim-fault", "unplug:0"}, "--sim-fault: bad fault spec"},
      {{"list", "--simulate", "--sim-layout", "3"}, "--sim-layout must be"},
      {{"read", "--eeprom", "24C02", "-o", P("x.bin"), "--simulate", "--device", "1234:5678"},
       "device 1234:5678 is not present"},
  };
  for (const auto& c : cases) {
    CRun r = RunCliWith(c.args);
    EXPECT_EQ(r.nExit, 1) << c.args[0] << " " << c.pszError;
    EXPECT_NE(r.err.find(c.pszError), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(P("x.bin"))) << "a failed read writes no file";
}

TEST_F(DeviceCommandsTest, ReadRefusesAnEepromWithoutTheSignatureUnlessRaw) {
  std::vector<uint8_t> blank(256, 0xFF);
  blank[7] = 0x12;
  WriteFile(P("blank.bin"), blank);
  CRun r = RunCliWith({"read", "--eeprom", "24C02", "-o", P("out.bin"), "--simulate", "--sim-image",
                       P("blank.bin")});
  EXPECT_EQ(r.nExit, 1);
  EXPECT_NE(r.err.find("refused"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(P("out.bin")));

  r = RunCliWith({"read", "--raw", "--eeprom", "24C02", "-o", P("out.bin"), "--simulate",
                  "--sim-image", P("blank.bin")});
  EXPECT_EQ(r.nExit, 0) << r.err;
  EXPECT_EQ(ReadFile(P("out.bin")), blank);
  // ... and write --raw puts those bytes back unchanged, no header re-encoding.
  r = RunCliWith({"write", "--raw", P("out.bin"), "--simulate", "--sim-save", P("chip.bin")});
  EXPECT_EQ(r.nExit, 0) << r.err;
  EXPECT_EQ(ReadFile(P("chip.bin")), blank);
}

// Backup before the write and rollback after a failed one: what the EEPROM
// holds at the end, and what the user is told.
TEST_F(DeviceCommandsTest, FailedWriteRollsBackToTheBackup) {
  auto before = MakeImage(512, 3);
  auto image = MakeImage(512, 7);
  WriteFile(P("before.bin"), before);
  WriteFile(P("in.bin"), image);
  struct {
    std::vector<std::string> extra;
    int nExit;
    std::string szSays;
    bool bEndsAsBefore;
  } cases[] = {
      {{}, 0, "; backup ", false},
      {{"--sim-fault", "flip-once:0x140"},
       1,
       "rolled back to the previous contents, verified",
       true},
      {{"--sim-fault", "flip:0x140"},
       1,
       "rollback failed (verify failed: data differ at 0x0140",
       false},
      {{"--sim-fault", "flip-once:0x140", "--no-rollback"}, 1, "not rolled back", false},
      {{"--sim-fault", "flip-once:0x140", "--backup", P("mine.bin")},
       1,
       "backup " + P("mine.bin"),
       true},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"write", P("in.bin"), "--simulate", "--sim-eeprom", "24C04",
                                     "--sim-image", P("before.bin"), "--sim-save", P("chip.bin")};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    CRun r = RunCliWith(args);
    SCOPED_TRACE(r.err);
    EXPECT_EQ(r.nExit, c.nExit);
    EXPECT_NE((r.out + r.err).find(c.szSays), std::string::npos);
    EXPECT_EQ(ReadFile(P("chip.bin")) == before, c.bEndsAsBefore);
  }
  // Every write left its backup, each holding the previous contents.
  size_t nBackups = 0;
  for (const auto& e : fs::directory_iterator(P("state/qrt4250/backups"))) {
    EXPECT_EQ(ReadFile(e.path().string()), before) << e.path();
    ++nBackups;
  }
  EXPECT_EQ(nBackups, 4u);
  EXPECT_EQ(ReadFile(P("mine.bin")), before);

  // A part far slower than the data sheet loses units in the write and in
  // the rollback: the count of differing bytes is what the part holds.
  for (const char* pszProfile : {"default", "fast"}) {
    CRun slow = RunCliWith({"write", P("in.bin"), "--simulate", "--sim-eeprom", "24C04",
                            "--sim-image", P("before.bin"), "--sim-save", P("chip.bin"),
                            "--profile", pszProfile, "--sim-fault", "write-cycle-us:200000"});
    EXPECT_EQ(slow.nExit, 1);
    const auto chip = ReadFile(P("chip.bin"));
    ASSERT_EQ(chip.size(), before.size());
    size_t nDiffer = 0;
    for (size_t i = 0; i < chip.size(); ++i) nDiffer += chip[i] != before[i];
    const std::string szSays =
        nDiffer == 0 ? "rolled back to the previous contents, verified"
                     : "; " + std::to_string(nDiffer) + " byte(s) differ from the previous";
    EXPECT_NE(slow.err.find(szSays), std::string::npos) << pszProfile << "\n" << slow.err;
  }

  // A backup that cannot be saved stops the write before any byte goes out.
  ASSERT_TRUE(qrt::test::SetEnvironment(qrt::test::kUserStateVariable, P("before.bin")));
  CRun r = RunCliWith({"write", P("in.bin"), "--simulate", "--sim-eeprom", "24C04", "--sim-image",
                       P("before.bin"), "--sim-save", P("chip.bin"), "--json"});
  EXPECT_EQ(r.nExit, 1);
  EXPECT_NE(r.err.find("cannot save the backup"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(P("chip.bin")), before);

  // restore puts a backup back by hand.
  r = RunCliWith({"restore", P("mine.bin"), "--simulate", "--sim-eeprom", "24C04", "--sim-image",
                  P("in.bin"), "--sim-save", P("chip.bin"), "--no-backup"});
  EXPECT_EQ(r.nExit, 0) << r.err;
  EXPECT_EQ(ReadFile(P("chip.bin")), before);
}

// Every hex option takes its digits with or without 0x.
TEST_F(DeviceCommandsTest, HexOptionsTakeAnOptional0x) {
  for (const char* pszSpeed : {"0x2F", "2F", "0X2f"}) {
    CRun r = RunCliWith({"read", "--eeprom", "24C02", "-o", P("r.bin"), "--simulate", "--device",
                         "0x3A7C:4250", "--i2c-speed", pszSpeed});
    EXPECT_EQ(r.nExit, 0) << pszSpeed << ": " << r.err;
  }
  CRun r = RunCliWith({"--trace", "read", "--eeprom", "24C02", "-o", P("r.bin"), "--simulate",
                       "--i2c-speed", "0x2F"});
  EXPECT_NE(r.err.find("btData2[0]=0x2F) OK!"), std::string::npos) << r.err;
}

// A stdout that cannot take the output (a full disk, a closed pipe) is a
// failure with one error line, not a silent success.
TEST_F(DeviceCommandsTest, UnwritableOutputFails) {
  struct CFullBuf : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
  };
  const std::vector<std::vector<std::string>> commands = {
      {"show", "--builtin", "--json"},
      {"show", "--builtin"},
      {"list", "--simulate"},
      {"read", "--eeprom", "24C02", "-o", P("r.bin"), "--simulate"},
      {"deviceid", "encode", "VID_3A7C&PID_42XX"},
  };
  for (auto args : commands) {
    args.insert(args.begin(), "qrt4250-cli");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    CFullBuf full;
    std::ostream out(&full);
    std::ostringstream err;
    EXPECT_EQ(qrt::cli::RunCli(static_cast<int>(argv.size()), argv.data(), out, err), 1) << args[1];
    const std::string szErr = err.str();
    EXPECT_EQ(szErr.find("qrt4250-cli: error: "), szErr.rfind("qrt4250-cli: error: ")) << szErr;
    EXPECT_NE(szErr.find("standard output"), std::string::npos) << args[1] << ": " << szErr;
  }
}

// A 24C04 read as a 24C02 gives a 256-byte image whose header announces the
// AGC/IR bank at 0x100. Written back as a 24C04 it carries no bank: the
// EEPROM holds its header and 0xFF after it, not a bank made up of the fill.
TEST_F(DeviceCommandsTest, ShortReadWrittenBackLeavesOnlyErasedBytesBehindTheHeader) {
  auto chip = MakeImage(512, 9);
  chip[0x8F] |= 0x90;  // AGC/IR bank at 0x100 (byte 31 bit 7 ends the I2C list)
  chip[0x100 + 31] |= 0x80;
  WriteFile(P("chip.bin"), chip);
  CRun rd = RunCliWith({"read", "--eeprom", "24C02", "-o", P("short.bin"), "--simulate",
                        "--sim-eeprom", "24C04", "--sim-image", P("chip.bin")});
  ASSERT_EQ(rd.nExit, 0) << rd.err;
  EXPECT_NE(rd.err.find("warning: the EEPROM image: the header announces banks beyond"),
            std::string::npos)
      << rd.err;
  CRun wr = RunCliWith({"write", P("short.bin"), "--eeprom", "24C04", "--simulate", "--sim-eeprom",
                        "24C04", "--sim-image", P("chip.bin"), "--sim-save", P("after.bin")});
  ASSERT_EQ(wr.nExit, 0) << wr.err;
  const auto after = ReadFile(P("after.bin"));
  ASSERT_EQ(after.size(), 512u);
  EXPECT_EQ(std::vector<uint8_t>(after.begin() + 256, after.end()),
            std::vector<uint8_t>(256, 0xFF));
  EXPECT_EQ(after[0x8F] & 0x10, 0) << "no AGC/IR bank announced";
}

TEST_F(DeviceCommandsTest, TwoIdenticalBoardsAreChosenByPath) {
  CRun list = RunCliWith({"list", "--simulate", "--sim-boards", "2"});
  ASSERT_EQ(list.nExit, 0) << list.err;
  EXPECT_EQ(list.out,
            "VID = 0x3A7C, PID = 0x4250, chip id = 0x8042, layout 0 (5-byte reports), path sim:1\n"
            "VID = 0x3A7C, PID = 0x4250, chip id = 0x8042, layout 0 (5-byte reports), path sim:2\n");

  // Board 1 never answers the I2C master: a transfer that reached it fails.
  auto image = MakeImage(256, 9);
  image[0x18] = 0x34;  // a VID the seeded boards do not have
  WriteFile(P("in.bin"), image);
  CRun w = RunCliWith({"write", P("in.bin"), "--simulate", "--sim-boards", "2", "--path", "sim:2",
                       "--sim-fault", "1@stay-busy", "--sim-save", P("chip.bin")});
  ASSERT_EQ(w.nExit, 0) << w.err;
  EXPECT_NE(w.out.find("at sim:2"), std::string::npos) << w.out;
  EXPECT_EQ(ReadFile(P("chip.2.bin")), OutputImageOf(image));
  EXPECT_NE(ReadFile(P("chip.bin")), OutputImageOf(image));
  CRun r = RunCliWith({"read", "--eeprom", "24C02", "-o", P("two.bin"), "--simulate", "--sim-boards",
                       "2", "--path", "sim:2", "--sim-fault", "1@stay-busy"});
  EXPECT_EQ(r.nExit, 0) << r.err;

  struct Case {
    std::vector<std::string> args;
    const char* pszError;
  };
  const Case cases[] = {
      {{"--device", "3A7C:4250"}, "qrt4250-cli: error: 2 boards match 3A7C:4250; choose one with --path\n"},
      {{}, "qrt4250-cli: error: 2 boards match 3A7C:4250; choose one with --path\n"},
      {{"--path", "sim:3"}, "qrt4250-cli: error: no board at sim:3\n"},
      {{"--path", "sim:2", "--device", "3A7C:4251"},
       "qrt4250-cli: error: the board at sim:2 is 3A7C:4250, not 3A7C:4251\n"},
      {{"--path", "sim:2", "--sim-fault", "2@unplug:1"}, "qrt4250-cli: error: no board at sim:2\n"},
      {{"--sim-fault", "3@stay-busy"}, "qrt4250-cli: error: --sim-fault: no simulated board 3 (1..2)\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"read",     "--eeprom",     "24C02", "-o", P("x.bin"),
                                      "--simulate", "--sim-boards", "2"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    CRun x = RunCliWith(args);
    EXPECT_EQ(x.nExit, 1) << c.pszError;
    EXPECT_EQ(x.err, c.pszError);
  }
  EXPECT_FALSE(fs::exists(P("x.bin")));
}

TEST_F(DeviceCommandsTest, JsonDocumentsOfTheDeviceCommands) {
  using json = nlohmann::json;
  auto image = MakeImage(256, 3);
  image[0x18] = 0x34;  // differs from the built-in image the boards hold
  WriteFile(P("in.bin"), image);
  const json list = json::parse(RunCliWith({"list", "--json", "--simulate", "--sim-boards", "2"}).out);
  EXPECT_TRUE(list["elapsed_s"].is_number());
  EXPECT_EQ(list["boards"][1],
            json::parse(R"({"path": "sim:2", "vid": "3A7C", "pid": "4250", "chipId": "8042",
                            "layout": 0, "usb": null, "serial": null})"));
  struct Case {
    std::vector<std::string> args;
    int nExit;
    const char* pszOutcome;
    int nCode;
  };
  const Case cases[] = {
      {{"read", "--eeprom", "24C02", "-o", P("r.bin")}, 0, "pass", 0},
      {{"write", P("in.bin")}, 0, "pass", 0},
      {{"verify", P("in.bin")}, 1, "fail", 0},  // the board holds the built-in image
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--json", "--simulate", "--sim-boards", "2", "--path", "sim:2"});
    const CRun r = RunCliWith(args);
    SCOPED_TRACE(c.args[0] + " " + r.err);
    EXPECT_EQ(r.nExit, c.nExit);
    const json j = json::parse(r.out);
    EXPECT_EQ(j["board"]["path"], "sim:2");
    EXPECT_EQ(j["file"], c.args[0] == "read" ? P("r.bin") : P("in.bin"));
    EXPECT_EQ(j["outcome"], c.pszOutcome);
    EXPECT_EQ(j["code"], c.nCode);
    EXPECT_EQ(j["bytes"], 256);
    // 256 bytes with the 5 ms delay after each, on the virtual clock.
    EXPECT_GE(j["simulated_s"].get<double>(), 1.28);
    EXPECT_EQ(j.contains("error"), c.nExit != 0);
  }
  // A refusal before any transfer carries the error and no board.
  const CRun none =
      RunCliWith({"read", "--eeprom", "24C02", "-o", P("x.bin"), "--json", "--simulate", "--path", "sim:9"});
  const json j = json::parse(none.out);
  EXPECT_EQ(j["error"], "no board at sim:9");
  EXPECT_EQ(j["board"], nullptr);
  const CRun encode = RunCliWith({"deviceid", "encode", "VID_3A7C&PID_42XX", "--json"});
  EXPECT_EQ(json::parse(encode.out)["pattern"], "VID_3A7C&PID_42XX");
}

// write and restore send only the bytes the backup read shows to differ
// (whole units: two bytes in the fast profile), every byte with --write-all
// or without a backup; the board holds the image either way.
TEST_F(DeviceCommandsTest, WritesSendOnlyTheBytesThatDiffer) {
  const auto image = MakeImage(256, 3);
  WriteFile(P("in.bin"), image);
  const auto output = OutputImageOf(image);
  WriteFile(P("out.bin"), output);
  auto board = output;
  for (size_t i : {0xA0, 0xA1, 0xF0}) board[i] ^= 0x01;
  WriteFile(P("board.bin"), board);
  const struct {
    std::vector<std::string> args;
    const char* pszBoard;
    int nWritten;
  } cases[] = {
      {{"write", P("in.bin")}, "board.bin", 3},
      {{"write", P("in.bin"), "--profile", "fast"}, "board.bin", 4},
      {{"restore", P("out.bin")}, "board.bin", 3},
      {{"write", P("in.bin"), "--write-all"}, "board.bin", 256},
      {{"restore", P("out.bin"), "--no-backup"}, "board.bin", 256},
      {{"write", P("in.bin")}, "out.bin", 0},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--json", "--simulate", "--sim-image", P(c.pszBoard), "--sim-save",
                             P("s.bin")});
    const CRun r = RunCliWith(args);
    SCOPED_TRACE(args[0] + " " + args[2] + " " + r.err);
    ASSERT_EQ(r.nExit, 0);
    EXPECT_EQ(nlohmann::json::parse(r.out)["written"], c.nWritten);
    EXPECT_EQ(ReadFile(P("s.bin")), output);
  }
  const CRun line = RunCliWith({"write", P("in.bin"), "--simulate", "--sim-image", P("board.bin")});
  EXPECT_EQ(line.out.rfind("wrote 3 of 256 bytes (24C02) to 3A7C:4250 at sim:1, verified", 0), 0u)
      << line.out;
}

// The final test station: a programmed board against its golden image.
// --ignore serial leaves out the serial and its string switch, nothing else.
TEST_F(DeviceCommandsTest, GoldenCheckIgnoresTheSerialOnly) {
  WriteFile(P("golden.bin"), OutputImageOf(MakeImage(256, 4)));
  const auto boardImage = [&](int nPlayVolume) {
    qrt::image::CImageSession session;
    const auto golden = ReadFile(P("golden.bin"));
    EXPECT_EQ(session.ApplyLoadedImage(golden.data(), golden.size()),
              qrt::image::EApplyResult::kAccepted);
    EXPECT_TRUE(
        qrt::editor::ParseSerialNumber("000000000123", session.m_RecInternalOpt.btSerialNumber));
    session.m_RecInternalOpt.btSerialNumberCtrl = 1;
    if (nPlayVolume >= 0) session.m_RecInternalOpt.btPlayVolume = static_cast<uint8_t>(nPlayVolume);
    uint8_t out[qrt::image::kMaxImageSize];
    size_t n = 0;
    EXPECT_EQ(session.BuildOutputImage(out, &n), qrt::image::EBuildResult::kOk);
    return std::vector<uint8_t>(out, out + n);
  };
  WriteFile(P("serial.bin"), boardImage(-1));
  WriteFile(P("volume.bin"), boardImage(7));
  const struct {
    const char* pszBoard;
    bool bIgnore;
    int nExit;
    const char* pszSays;  // verify's line; diff prints the fields that differ
    const char* pszDiff;
  } cases[] = {
      {"serial.bin", false, 1, "verify failed: data differ at 0x0001", "serial: "},
      {"serial.bin", true, 0, "verified 256 bytes (24C02) on 3A7C:4250 at sim:1, serial ignored",
       ""},
      {"volume.bin", true, 1, "verify failed: data differ at 0x000", "playVolume: "},
      {"golden.bin", true, 0, "verified 256 bytes", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pszBoard) + (c.bIgnore ? " --ignore serial" : ""));
    std::vector<std::string> sim = {"--simulate", "--sim-image", P(c.pszBoard)};
    if (c.bIgnore) sim.insert(sim.end(), {"--ignore", "serial"});
    std::vector<std::string> verify = {"verify", P("golden.bin")},
                             diff = {"diff", P("golden.bin"), "device"};
    verify.insert(verify.end(), sim.begin(), sim.end());
    diff.insert(diff.end(), sim.begin(), sim.end());
    const CRun v = RunCliWith(verify), d = RunCliWith(diff);
    EXPECT_EQ(v.nExit, c.nExit);
    EXPECT_NE((v.out + v.err).find(c.pszSays), std::string::npos) << v.out << v.err;
    EXPECT_EQ(d.nExit, c.nExit) << d.out << d.err;
    EXPECT_EQ(d.out.rfind(c.pszDiff, 0), 0u) << d.out;
    if (c.bIgnore) {
      EXPECT_EQ(d.out.find("serial"), std::string::npos) << d.out;
    }
  }
  const CRun other = RunCliWith({"verify", P("golden.bin"), "--simulate", "--ignore", "vid"});
  EXPECT_NE(other.nExit, 0);
  EXPECT_NE(other.err.find("--ignore: vid not in {serial}"), std::string::npos) << other.err;
}

// The time figures: the simulated device's clock under --simulate, as a line
// after the result or in the --json object; the fast profile at a real
// board's 1 ms per report takes at most half the default's device time.
TEST_F(DeviceCommandsTest, TransfersReportElapsedAndSimulatedTime) {
  auto image = MakeImage(2048, 9);
  WriteFile(P("in.bin"), image);
  double dSimulated[2] = {};
  for (int nFast = 0; nFast < 2; ++nFast) {
    const char* pszProfile = nFast ? "fast" : "default";
    SCOPED_TRACE(pszProfile);
    CRun w = RunCliWith({"write", P("in.bin"), "--simulate", "--sim-eeprom", "24C16", "--sim-fault",
                         "latency-us:1000,write-cycle-us:5000", "--profile", pszProfile, "--json",
                         "--sim-save", P("chip.bin")});
    ASSERT_EQ(w.nExit, 0) << w.err;
    const auto j = nlohmann::json::parse(w.out);
    EXPECT_EQ(j["command"], "write");
    EXPECT_EQ(j["outcome"], "pass");
    EXPECT_EQ(j["code"], 0);
    EXPECT_EQ(j["bytes"], 2048);
    EXPECT_EQ(j["profile"], pszProfile);
    EXPECT_GE(j["elapsed_s"].get<double>(), 0.0);
    dSimulated[nFast] = j["simulated_s"].get<double>();
    EXPECT_EQ(ReadFile(P("chip.bin")), OutputImageOf(image));

    CRun v = RunCliWith({"verify", P("in.bin"), "--simulate", "--sim-image", P("chip.bin"),
                         "--sim-eeprom", "24C16", "--profile", pszProfile});
    ASSERT_EQ(v.nExit, 0) << v.err;
    EXPECT_NE(v.out.find("\nelapsed "), std::string::npos) << v.out;
    EXPECT_NE(v.out.find(std::string("simulated device time ")), std::string::npos) << v.out;
  }
  EXPECT_GT(dSimulated[1], 0.0);
  EXPECT_LE(dSimulated[1] * 2, dSimulated[0]);

  // A failure still prints the one object, with its code.
  CRun f = RunCliWith({"read", "--eeprom", "24C02", "-o", P("x.bin"), "--simulate", "--sim-fault",
                       "stay-busy", "--json"});
  EXPECT_EQ(f.nExit, 1);
  const auto j = nlohmann::json::parse(f.out);
  EXPECT_EQ(j["outcome"], "fail");
  EXPECT_EQ(j["code"], 2002);
}

// A production run on one board: the serial goes into the image, the counter
// advances before the write, a rolled-back board burns its serial, and a bad
// counter stops the run before any board or log line.
TEST_F(DeviceCommandsTest, ProgramAllocatesSerialsAndLogsEveryBoard) {
  WriteFile(P("base.bin"), MakeImage(256, 1));
  const std::vector<std::string> common = {"program", "--image", P("base.bin"), "--serial-file",
                                           P("c"), "--log", P("p.jsonl"), "--simulate"};
  auto run = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = common;
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCliWith(args);
  };
  CRun r = run({});
  EXPECT_EQ(r.nExit, 1);
  EXPECT_NE(r.err.find("--serial-start HEX creates it"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(P("p.jsonl")));
  // An image the size cannot hold (an I2C bank on a 24C02) stops the run
  // before the counter, the log or a board is touched.
  {
    std::ofstream f(P("banks.json"));
    f << R"({"banks": {"i2cInit": [")" << std::string(64, 'A') << R"("]}})";
  }
  r = RunCliWith({"program", "--template", P("banks.json"), "--eeprom", "24C02", "--serial-file",
                  P("c"), "--serial-start", "100", "--log", P("p.jsonl"), "--simulate"});
  EXPECT_EQ(r.nExit, 1);
  EXPECT_NE(r.err.find("no board was touched"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(P("c")) || fs::exists(P("p.jsonl")));

  r = run({"--serial-start", "000000000100", "--sim-save", P("chip.bin")});
  ASSERT_EQ(r.nExit, 0) << r.err;
  EXPECT_NE(r.out.find("sim:1 3A7C:4250: pass, serial 000000000100"), std::string::npos) << r.out;
  auto chip = ReadFile(P("chip.bin"));
  ASSERT_EQ(chip.size(), 256u);
  EXPECT_EQ(std::vector<uint8_t>(chip.begin() + 0x1C, chip.begin() + 0x22),
            (std::vector<uint8_t>{0, 0, 0, 0, 1, 0}));

  // Only the serial's last byte differs from what the board holds.
  r = run({"--serial-start", "000000000100", "--sim-image", P("chip.bin"), "--sim-fault",
           "flip-once:0x21", "--retries", "0"});
  EXPECT_EQ(r.nExit, 1);
  EXPECT_NE(r.out.find("rolled-back, burned serial 000000000101"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(P("c")), (std::vector<uint8_t>{'0', '0', '0', '0', '0', '0', '0', '0', '0',
                                                    '1', '0', '2', '\n'}));

  // The same marginal cell with the default retry: the board passes on its
  // second attempt, and a run whose every board passed exits 0.
  r = run({"--sim-image", P("chip.bin"), "--sim-fault", "flip-once:0x21"});
  EXPECT_EQ(r.nExit, 0) << r.err;
  EXPECT_NE(r.out.find("pass, serial 000000000102, 2 attempts"), std::string::npos) << r.out;

  WriteFile(P("c"), {'x', '\n'});
  r = run({});
  EXPECT_EQ(r.nExit, 1);
  EXPECT_NE(r.err.find("does not hold a serial of 12 hex digits"), std::string::npos) << r.err;

  // Each of the three runs that reached a board wrote its start line first.
  const auto all = LogLines(P("p.jsonl"));
  ASSERT_EQ(all.size(), 7u);
  EXPECT_EQ(all[0]["event"], "start");
  EXPECT_EQ(all[0]["image_sha256"].get<std::string>().size(), 64u);
  EXPECT_EQ(all[2]["event"], "start");
  EXPECT_EQ(all[4]["event"], "start");
  const auto lines = BoardLines(P("p.jsonl"));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2]["result"], "retry");
  EXPECT_EQ(lines[3]["result"], "pass");
  EXPECT_EQ(lines[0]["result"], "pass");
  EXPECT_EQ(lines[0]["serial"], "000000000100");
  EXPECT_EQ(lines[1]["result"], "rolled-back");
  EXPECT_EQ(lines[1]["serial"], "000000000101");
  EXPECT_EQ(ReadFile(lines[1]["backup"].get<std::string>()), chip) << "the backup is the board as it was";
}

// A counter whose folder takes no new file cannot be advanced: the run stops
// at its start, before the log or a board is touched (each board would
// otherwise be backed up and then fail). A read-only mount stands for the
// folder, so the check holds for root too.
#ifdef __linux__
TEST_F(DeviceCommandsTest, ProgramRefusesACounterItCannotAdvance) {
  const int nResult = qrt::test::RunWithPrivateRunAndTmp([this] {
    { std::ofstream("/tmp/c") << "000000000100\n"; }
    WriteFile("/run/base.bin", MakeImage(256, 1));
    if (::mount(nullptr, "/tmp", nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) return 10;
    const CRun r = RunCliWith({"program", "--image", "/run/base.bin", "--serial-file", "/tmp/c",
                               "--log", "/run/p.jsonl",
                               "--simulate", "--sim-save", "/run/chip.bin"});
    if (r.nExit != 1) return 1;
    if (r.err.find("cannot advance the serial counter") == std::string::npos) return 2;
    if (r.err.find("no board was touched") == std::string::npos) return 3;
    return fs::exists("/run/p.jsonl") || fs::exists("/run/chip.bin") ? 4 : 0;
  });
  if (nResult == -1) GTEST_SKIP() << "needs root for a private mount";
  EXPECT_EQ(nResult, 0);
}
#endif

// What program writes is what it logs: the board holds the serial with the
// serial string switched on (the base image has it off), and the log's hash
// is that of the bytes on the board. An 11-digit start gets its leading zero.
// A counter that runs out after board 1 leaves board 2 as it was, logged as
// failed without a serial, and stops the run.
TEST_F(DeviceCommandsTest, ProgramWritesTheSerialItLogs) {
  WriteFile(P("base.bin"), MakeImage(256, 1));
  const std::vector<uint8_t> blank(qrt::image::g_btDefaultImage,
                                   qrt::image::g_btDefaultImage + 256);  // a fresh simulated board
  const struct {
    const char* pszStart;
    const char* pszSerials[2];  // per board; "" untouched
    const char* pszSummary;
  } cases[] = {
      {"FFFFFFFFFFF", {"0FFFFFFFFFFF", "100000000000"},
       "2 passed, 0 failed, 2 serial(s) used (0FFFFFFFFFFF-100000000000)"},
      {"FFFFFFFFFFFF", {"FFFFFFFFFFFF", ""}, "1 passed, 1 failed, 1 serial(s) used (FFFFFFFFFFFF)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszStart);
    fs::remove(P("c"));
    fs::remove(P("p.jsonl"));
    const CRun r = RunCliWith({"program", "--image", P("base.bin"), "--serial-file", P("c"),
                               "--serial-start", c.pszStart, "--log", P("p.jsonl"), "--all",
                               "--simulate", "--sim-boards", "2", "--sim-save", P("s.bin")});
    EXPECT_NE(r.out.find(c.pszSummary), std::string::npos) << r.out;
    const auto lines = BoardLines(P("p.jsonl"));
    ASSERT_EQ(lines.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
      const std::string szSerial = c.pszSerials[i];
      const std::string szFile = P(i == 0 ? "s.bin" : "s.2.bin");
      const auto board = ReadFile(szFile);
      if (szSerial.empty()) {
        EXPECT_EQ(r.nExit, 1);
        EXPECT_NE(r.err.find("every serial up to FFFFFFFFFFFF has been used"), std::string::npos);
        EXPECT_EQ(board, blank) << "a board without a serial was written";
        EXPECT_EQ(lines[i]["result"], "fail");
        EXPECT_TRUE(lines[i]["serial"].is_null());
        continue;
      }
      EXPECT_EQ(lines[i]["result"], "pass");
      EXPECT_EQ(lines[i]["serial"], szSerial);
      EXPECT_EQ(lines[i]["image_sha256"], qrt::production::Sha256Hex(board.data(), board.size()));
      const auto shown = nlohmann::json::parse(RunCliWith({"show", szFile, "--json"}).out);
      EXPECT_EQ(shown["btSerialNumber"], szSerial);
      EXPECT_EQ(shown["btSerialNumberCtrl"], 1);
    }
  }
}

// The production line on three boards: a template on the built-in image,
// serials from the counter into each board (checked in what the boards hold),
// the counter left at the next serial, a second run continuing from it; a
// marginal cell on board 2 rolls it back to its backup, a dead one makes the
// rollback fail and say what the EEPROM holds; a board unplugged mid-write or
// gone before its turn still gets its log line.
TEST_F(DeviceCommandsTest, ProgramAllOnThreeBoards) {
  {
    std::ofstream f(P("t.json"));
    f << R"({"product": "Line 7", "playVolume": 50})";
  }
  auto run = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {"program",       "--template",   P("t.json"),
                                     "--serial-file", P("c"),         "--serial-start",
                                     "000000000100",  "--log",        P("p.jsonl"),
                                     "--all",         "--simulate",   "--sim-boards",
                                     "3",             "--sim-save",   P("s.bin")};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCliWith(args);
  };
  auto serialOf = [&](const std::string& szFile) {
    auto chip = ReadFile(P(szFile));
    return chip.size() < 0x22 ? std::vector<uint8_t>{}
                              : std::vector<uint8_t>(chip.begin() + 0x1C, chip.begin() + 0x22);
  };
  auto logLines = [&] { return BoardLines(P("p.jsonl")); };
  auto counter = [&] {
    auto c = ReadFile(P("c"));
    return std::string(c.begin(), c.end());
  };

  CRun r = run({});
  ASSERT_EQ(r.nExit, 0) << r.err;
  for (const char* psz : {"sim:1 3A7C:4250: pass, serial 000000000100",
                          "sim:2 3A7C:4250: pass, serial 000000000101",
                          "sim:3 3A7C:4250: pass, serial 000000000102",
                          "3 passed, 0 failed, 3 serial(s) used (000000000100-000000000102)"})
    EXPECT_NE(r.out.find(psz), std::string::npos) << r.out;
  EXPECT_EQ(serialOf("s.bin"), (std::vector<uint8_t>{0, 0, 0, 0, 1, 0x00}));
  EXPECT_EQ(serialOf("s.2.bin"), (std::vector<uint8_t>{0, 0, 0, 0, 1, 0x01}));
  EXPECT_EQ(serialOf("s.3.bin"), (std::vector<uint8_t>{0, 0, 0, 0, 1, 0x02}));
  CRun shown = RunCliWith({"show", P("s.2.bin"), "--json"});
  EXPECT_EQ(nlohmann::json::parse(shown.out)["szProduct"], "Line 7");
  EXPECT_EQ(counter(), "000000000103\n");
  auto lines = logLines();
  ASSERT_EQ(lines.size(), 3u);
  for (const auto& line : lines) EXPECT_EQ(line["result"], "pass");
  EXPECT_NE(lines[1]["backup"].get<std::string>().find("_3A7C-4250_sim-2.bin"), std::string::npos);

  // A second run continues at 0x103; --json gives one document.
  r = run({"--json"});
  ASSERT_EQ(r.nExit, 0) << r.err;
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["boards"][0]["serial"], "000000000103");
  EXPECT_EQ(doc["boards"][2]["path"], "sim:3");
  // The key the log has for the same fact.
  EXPECT_TRUE(doc["boards"][0].contains("mismatch_at") && doc["boards"][0]["mismatch_at"].is_null());
  EXPECT_EQ(doc["totals"]["passed"], 3);
  EXPECT_EQ(serialOf("s.bin"), (std::vector<uint8_t>{0, 0, 0, 0, 1, 0x03}));

  // A marginal cell on board 2 without a retry: rolled back to exactly its
  // backup.
  r = run({"--sim-fault", "2@flip-once:0x40", "--retries", "0"});
  EXPECT_EQ(r.nExit, 1);
  EXPECT_NE(r.out.find("sim:2 3A7C:4250: rolled-back, burned serial 000000000107"),
            std::string::npos) << r.out;
  lines = logLines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[6]["result"], "pass");
  EXPECT_EQ(lines[7]["result"], "rolled-back");
  // The transfer went well, the comparison did not: the log says where.
  EXPECT_EQ(lines[7]["code"], 0);
  EXPECT_EQ(lines[7]["mismatch_at"], 0x40);
  EXPECT_TRUE(lines[6]["mismatch_at"].is_null());
  EXPECT_EQ(lines[8]["result"], "pass");
  EXPECT_EQ(ReadFile(P("s.2.bin")), ReadFile(lines[7]["backup"].get<std::string>()));

  // Every write to 0x40 corrupted: the rollback fails and says what is there.
  r = run({"--sim-fault", "2@flip:0x40"});
  EXPECT_EQ(r.nExit, 1);
  EXPECT_NE(r.err.find("rollback failed (verify failed: data differ at 0x0040"), std::string::npos);
  EXPECT_NE(r.err.find("writing back the previous contents, the EEPROM holds the new image except "
                       "where the comparison failed; 1 byte(s) differ from the previous contents"),
            std::string::npos) << r.err;
  EXPECT_EQ(logLines().back()["result"], "pass");
  EXPECT_EQ(logLines()[10]["result"], "fail");

  // Unplugged mid-write: the rollback cannot run and says what the write
  // left; gone before its turn: logged, no serial taken. Both get a line.
  const struct {
    const char* pszFault;
    std::string szSays;
  } gone[] = {
      {"2@unplug:3000", "rollback failed (write failed: code -1): nothing was written back; as the "
                        "failed write left it, bytes 0x0000-"},
      {"2@unplug:5", "sim:2 3A7C:4250: fail (the board is gone)"},
      {"2@unplug:80", "cannot read the previous contents for the backup"},
  };
  for (const auto& g : gone) {
    SCOPED_TRACE(g.pszFault);
    const size_t nBefore = logLines().size();
    r = run({"--sim-fault", g.pszFault});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_NE((r.out + r.err).find(g.szSays), std::string::npos) << r.out << r.err;
    lines = logLines();
    ASSERT_EQ(lines.size(), nBefore + 3);
    EXPECT_EQ(lines[nBefore + 1]["result"], "fail");
    EXPECT_EQ(lines[nBefore + 1]["path"], "sim:2");
    // No serial goes to a board that is never written.
    if (g.szSays.find("rollback") == std::string::npos) {
      EXPECT_TRUE(lines[nBefore + 1]["serial"].is_null());
    }
  }
  EXPECT_EQ(counter(), "000000000113\n");
}

// A board the platform lists but whose chip probe fails is a present board:
// list shows it with what failed, program --all counts it failed and logs
// it with the reason, and the exit is 0 only when every board passed.
TEST_F(DeviceCommandsTest, BoardsWhoseProbeFailsAreListedAndCountedFailed) {
  WriteFile(P("base.bin"), MakeImage(256, 1));
  auto program = [&](const std::string& szFault, std::vector<nlohmann::json>& lines) {
    fs::remove(P("p.jsonl"));
    CRun r = RunCliWith({"program", "--all", "--image", P("base.bin"), "--log", P("p.jsonl"),
                         "--simulate", "--sim-boards", "3", "--sim-fault", szFault});
    lines = BoardLines(P("p.jsonl"));
    return r;
  };
  const struct {
    const char* pszFault;
    std::string szWhy;
  } cases[] = {
      {"2@fail-input:1", "chip id not read (layout 0, code 1004)"},
      {"2@refuse-output:1", "chip id not read (layout 0, code 1003)"},
      {"2@refuse-output:2", "chip id not read (layout 0, code 2003)"},
      {"2@fail-input:2", "chip id not read (layout 0, code 2004)"},
  };
  std::vector<nlohmann::json> lines;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszFault);
    const CRun list =
        RunCliWith({"list", "--simulate", "--sim-boards", "3", "--sim-fault", c.pszFault});
    EXPECT_EQ(list.nExit, 0);
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 3) << list.out;
    EXPECT_NE(list.out.find("VID = 0x3A7C, PID = 0x4250, chip probe failed: " + c.szWhy +
                            ", path sim:2\n"),
              std::string::npos)
        << list.out;
    const CRun r = program(c.pszFault, lines);
    EXPECT_EQ(r.nExit, 1);
    EXPECT_NE(r.out.find("2 passed, 1 failed"), std::string::npos) << r.out;
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1]["path"], "sim:2");
    EXPECT_EQ(lines[1]["result"], "fail");
    EXPECT_EQ(lines[1]["note"], "chip probe failed: " + c.szWhy);
  }
  // Report faults anywhere on board 2 (probe, backup, write, rollback): every
  // board has its line, and exit 0 goes with three passes only.
  int nExits[2] = {};
  for (uint32_t dwSeed = 1; dwSeed <= 12; ++dwSeed) {
    SCOPED_TRACE(dwSeed);
    const CRun r = program("2@random:" + std::to_string(dwSeed) + ":0.0004", lines);
    ASSERT_EQ(lines.size(), 3u) << r.out << r.err;
    const auto nPassed = std::count_if(lines.begin(), lines.end(),
                                       [](const nlohmann::json& j) { return j["result"] == "pass"; });
    EXPECT_EQ(r.nExit == 0, nPassed == 3) << r.out;
    ++nExits[r.nExit == 0 ? 0 : 1];
  }
  EXPECT_GT(nExits[0], 0);
  EXPECT_GT(nExits[1], 0);
}

// The station: boards present at the start are programmed, then each arrival;
// a board that stays plugged is never programmed twice, one unplugged and
// plugged again is a new board. The hot-plug events come from the simulator
// on its virtual clock, and the stop hook ends the station as Ctrl+C would.
// Another station takes a serial between two of ours: the summary names the
// serials this one used, not the span. The last round fails the read-back's
// last input report: the board is rolled back and its line has no
// mismatch_at (the bytes were never compared).
TEST_F(DeviceCommandsTest, ProgramWaitProgramsEachArrivalOnce) {
  qrt::cli::CDeviceOptions o;
  o.bSimulate = true;
  o.Sim.nBoards = 2;
  qrt::cli::CProgramOptions p;
  p.szImage = P("base.bin");
  p.szSerialFile = P("c");
  p.szSerialStart = "100";
  p.szLog = P("p.jsonl");
  p.bWait = true;
  p.nRetries = 0;
  WriteFile(P("base.bin"), MakeImage(256, 1));
  qrt::production::CSerialCounter other(P("c"));
  uint64_t qwInputsBefore = 0;
  int nStep = 0;
  qrt::cli::STATION_HOOKS hooks;
  hooks.fnBeforeWait = [&](qrt::sim::CSimPlatform* pSim) {
    if (pSim == nullptr) return true;
    qrt::sim::CSimChip& chip = pSim->Chip(1);
    switch (nStep++) {
      case 0: pSim->Unplug(1); return false;  // board 2 leaves; board 1 stays
      case 1: {  // another station takes 102; board 2 comes back: a new board
        uint64_t q = 0;
        std::string szError;
        EXPECT_EQ(other.Allocate(q, szError), qrt::production::ESerialResult::kOk);
        qwInputsBefore = chip.InputReportCount();
        pSim->Plug(1);
        return false;
      }
      case 2: {  // swapped on its port before the station looked again: new too
        qrt::sim::SIM_FAULTS faults;  // a round as the last: its last input report fails
        faults.dwFailInput = static_cast<uint32_t>(chip.InputReportCount() - qwInputsBefore);
        chip.SetFaults(faults);
        pSim->Unplug(1);
        pSim->Plug(1);
        return false;
      }
      default: return true;
    }
  };
  std::ostringstream out, err;
  qrt::cli::CCliContext ctx{out, err};
  qrt::cli::RunProgram(ctx, o, p, hooks);
  EXPECT_EQ(ctx.nExitCode, 1) << err.str();
  const std::string s = out.str();
  auto count = [&s](const std::string& szWhat) {
    size_t n = 0;
    for (size_t at = s.find(szWhat); at != std::string::npos; at = s.find(szWhat, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("sim:1 3A7C:4250: pass"), 1u) << s;
  EXPECT_EQ(count("sim:2 3A7C:4250: pass"), 2u) << s;
  EXPECT_NE(s.find("sim:2 3A7C:4250: pass, serial 000000000103"), std::string::npos) << s;
  EXPECT_NE(s.find("sim:2 3A7C:4250: rolled-back, burned serial 000000000104"), std::string::npos)
      << s << err.str();
  EXPECT_EQ(count("ready for the next board\n"), 3u) << s;
  EXPECT_NE(s.find("3 passed, 1 failed, 4 serial(s) used (000000000100-000000000101, "
                   "000000000103-000000000104)"),
            std::string::npos) << s;
  EXPECT_EQ(nStep, 4);
  const auto lines = BoardLines(P("p.jsonl"));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3]["result"], "rolled-back");
  EXPECT_NE(lines[3]["code"], 0);
  EXPECT_TRUE(lines[3]["mismatch_at"].is_null()) << lines[3];
}

// The station's memory, with the paths of real hidraw nodes. Without
// hot-plug events the listings are all it sees: a board missing from one is
// new when it is back. A removal event forgets that board alone:
// /dev/hidraw1 leaving is not /dev/hidraw10 leaving. The same path with
// another USB serial string is another board.
TEST(StationBoards, EachBoardOnceWhileItStaysPlugged) {
  const struct {
    std::vector<std::string> vListed;  // "PATH" or "PATH#SERIAL"
    const char* pszRemoved;            // a removal event before the listing
    std::vector<std::string> vNew;
  } steps[] = {
      {{"/dev/hidraw1", "/dev/hidraw10"}, nullptr, {"/dev/hidraw1", "/dev/hidraw10"}},
      {{"/dev/hidraw1", "/dev/hidraw10"}, nullptr, {}},
      {{"/dev/hidraw10"}, nullptr, {}},
      {{"/dev/hidraw1", "/dev/hidraw10"}, nullptr, {"/dev/hidraw1"}},
      {{"/dev/hidraw1", "/dev/hidraw10"}, "/dev/hidraw1", {"/dev/hidraw1"}},
      {{"/dev/hidraw1", "/dev/hidraw10#B"}, nullptr, {"/dev/hidraw10#B"}},
  };
  qrt::cli::CStationBoards boards;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.vListed.size());
    if (step.pszRemoved) boards.Removed(step.pszRemoved);
    std::vector<USB42XX_MGR::BOARD_INFO> vListed;
    for (const std::string& sz : step.vListed) {
      USB42XX_MGR::BOARD_INFO board;
      board.Id.szPath = sz.substr(0, sz.find('#'));
      if (sz.find('#') != std::string::npos) board.Id.szUsbSerial = sz.substr(sz.find('#') + 1);
      vListed.push_back(board);
    }
    std::vector<std::string> vNew;
    for (const auto& board : boards.TakeNew(vListed)) {
      const USB42XX_MGR::BOARD_ID& id = board.Id;
      vNew.push_back(id.szPath + (id.szUsbSerial.empty() ? "" : "#" + id.szUsbSerial));
    }
    EXPECT_EQ(vNew, step.vNew);
  }
}

// A work order's range: the run says how many serials it has, takes none
// past its end (that board is left as it was, the run stops), and --json
// carries each board with the keys of its log line.
TEST_F(DeviceCommandsTest, ProgramKeepsToTheWorkOrdersRange) {
  WriteFile(P("base.bin"), MakeImage(256, 1));
  const CRun r = RunCliWith({"program", "--image", P("base.bin"), "--serial-file", P("c"),
                             "--serial-start", "100", "--serial-end", "101", "--log", P("p.jsonl"),
                             "--all", "--json", "--work-order", "WO-7", "--simulate",
                             "--sim-boards", "3", "--sim-save", P("s.bin")});
  EXPECT_EQ(r.nExit, 1);
  EXPECT_NE(r.err.find("2 serial(s) left in the work order (000000000100-000000000101)"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("is past the work order's last, 000000000101"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(P("c")), (std::vector<uint8_t>{'0', '0', '0', '0', '0', '0', '0', '0', '0',
                                                    '1', '0', '2', '\n'}));
  EXPECT_EQ(ReadFile(P("s.3.bin")), std::vector<uint8_t>(qrt::image::g_btDefaultImage,
                                                         qrt::image::g_btDefaultImage + 256))
      << "the board past the range was written";
  const auto doc = nlohmann::ordered_json::parse(r.out);
  const auto lines = BoardLines(P("p.jsonl"));
  ASSERT_EQ(doc["boards"].size(), 3u);
  ASSERT_EQ(lines.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    std::vector<std::string> vDoc, vLog;
    for (auto it = doc["boards"][i].begin(); it != doc["boards"][i].end(); ++it) vDoc.push_back(it.key());
    for (auto it = lines[i].begin(); it != lines[i].end(); ++it) vLog.push_back(it.key());
    std::sort(vLog.begin(), vLog.end());
    std::sort(vDoc.begin(), vDoc.end());
    EXPECT_EQ(vDoc, vLog);
    EXPECT_EQ(doc["boards"][i]["work_order"], "WO-7");
    EXPECT_EQ(doc["boards"][i]["serial"], lines[i]["serial"]);
  }
  EXPECT_EQ(doc["boards"][2]["result"], "fail");
  EXPECT_TRUE(doc["boards"][2]["serial"].is_null());
}
