// qrt4250-cli diff and templates, in process on the sample images.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "CliApp.h"
#include "CliRun.h"
#include "FieldModel.h"
#include "ImageFiles.h"
#include "SampleFiles.h"
#include "SampleImages.h"
#include "TestDirectory.h"

namespace fs = std::filesystem;
using namespace qrt::image;
using json = nlohmann::json;

namespace {

using qrt::test::CRun;
constexpr auto& Cli = qrt::test::RunCliWith;

class FieldCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = qrt::test::MakeTestDirectory("qrt-cli-fields-");
    ASSERT_FALSE(m_dir.empty());
    const auto banks = qrt::test::ImageWithBanks({2, true, 2, 512});
    WriteBinFile(P("banks.bin"), banks.data(), banks.size());
    const auto def = qrt::test::DefaultImage();
    WriteBinFile(P("default.bin"), def.data(), def.size());
  }
  void TearDown() override { fs::remove_all(m_dir); }
  std::string P(const std::string& name) const { return (m_dir / name).string(); }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(P(name), std::ios::binary) << text;
  }

  fs::path m_dir;
};

}  // namespace

TEST_F(FieldCommandsTest, ExportThenApplyOntoTheDefaultReproducesTheSettings) {
  // An image with every kind of setting changed and banks of each kind.
  ASSERT_EQ(Cli({"set", P("banks.bin"), P("edited.bin"), "vid=1234", "serial=ABC",
                 "product=Héadset", "manufacturer=Q", "playVolume=50", "recordDevice=micarray",
                 "playDevice=speaker", "gainB=5", "hpfR=0", "serialCtrl=0"})
                .nExit,
            0);
  const CRun exported = Cli({"template", "export", P("edited.bin")});
  ASSERT_EQ(exported.nExit, 0) << exported.err;
  Write("t.json", exported.out);
  const CRun applied =
      Cli({"set", P("default.bin"), P("out.bin"), "--template", P("t.json"), "--size", "24C04"});
  ASSERT_EQ(applied.nExit, 0) << applied.err;
  EXPECT_EQ(Cli({"template", "export", P("out.bin")}).out, exported.out);
  EXPECT_EQ(json::parse(exported.out)["banks"]["eq"].size(), 2u);
  // The settings listed after the template win.
  ASSERT_EQ(Cli({"set", P("default.bin"), P("out2.bin"), "--template", P("t.json"), "--size",
                 "24C04", "playVolume=7"})
                .nExit,
            0);
  EXPECT_EQ(json::parse(Cli({"template", "export", P("out2.bin")}).out)["playVolume"], 7);
}

TEST_F(FieldCommandsTest, ExportThenApplyReproducesEverySampleImage) {
  // The files of tests/data, and each .bin with terminal digits no device
  // list item stands for (play 3/5, record 1/1, second record 6/0).
  std::vector<std::string> vNames;
  for (const qrt::test::CSampleFile& f : qrt::test::SampleFiles()) {
    Write(f.szName, std::string(f.bytes.begin(), f.bytes.end()));
    vNames.push_back(f.szName);
    if (f.szName.find(".bin") == std::string::npos) continue;
    std::string odd(f.bytes.begin(), f.bytes.end());
    odd[0x03] = static_cast<char>(odd[0x03] & 0x0F);
    odd[0x04] = 0x51;
    odd[0x90] = 0x61;
    odd[0x91] = static_cast<char>((odd[0x91] & 0xF0) | 0x03);
    Write("odd-" + f.szName, odd);
    vNames.push_back("odd-" + f.szName);
  }
  for (const std::string& szName : vNames) {
    SCOPED_TRACE(szName);
    // As the tool writes the image (the AGC/IR bank's byte 31 as it encodes it).
    ASSERT_EQ(Cli({"convert", P(szName), P("saved.bin")}).nExit, 0);
    const CRun shown = Cli({"show", P("saved.bin")});
    ASSERT_EQ(shown.nExit, 0) << shown.err;
    const CRun exported = Cli({"template", "export", P(szName)});
    ASSERT_EQ(exported.nExit, 0) << exported.err;
    Write("t.json", exported.out);
    const std::string szType = json::parse(Cli({"show", P(szName), "--json"}).out)["eepromType"];
    ASSERT_EQ(Cli({"set", P("default.bin"), P("out.bin"), "--template", P("t.json"), "--size",
                   szType})
                  .nExit,
              0);
    // Every show line: settings, digits, strings, size and banks.
    EXPECT_EQ(Cli({"show", P("out.bin")}).out, shown.out);
    const CRun diff = Cli({"diff", P("saved.bin"), P("out.bin")});
    EXPECT_EQ(diff.nExit, 0) << diff.out;
  }
}

TEST_F(FieldCommandsTest, BadTemplatesAreRefusedAndNothingIsWritten) {
  const struct {
    const char* pszName;
    std::string szText;
    const char* pszError;
  } cases[] = {
      {"not json", "{\"vid\": ", "not a JSON document"},
      {"array", "[1, 2]", "must be a JSON object"},
      {"duplicate", "{\"vid\": \"1\", \"vid\": \"2\"}", "\"vid\" is given twice"},
      {"unknown", "{\"volume\": 3}", "unknown setting \"volume\""},
      {"number as text", "{\"playVolume\": \"3\"}", "playVolume: a whole number is expected"},
      {"text as number", "{\"vid\": 4660}", "vid: a string is expected"},
      {"negative", "{\"gainA\": -1}", "gainA: a whole number is expected"},
      {"out of range", "{\"gainA\": 4}", "\"gainA=4\": a whole number 0-3 is expected"},
      {"control character", "{\"serial\": \"\\u001b[2J\"}", "\"serial=\\x1B[2J\": up to 12"},
      {"beyond Latin-1", "{\"product\": \"\\u20ac\"}", "only characters up to U+00FF"},
      {"bad bank", "{\"banks\": {\"eq\": [\"00\"]}}", "banks.eq: each bank is 32 hex digits"},
      {"too large", "{\"vid\": \"1\"" + std::string(1 << 20, ' ') + "}", "at most 1 MiB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    Write("bad.json", c.szText);
    const CRun r = Cli({"set", P("default.bin"), P("out.bin"), "--template", P("bad.json")});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_NE(r.err.find(c.pszError), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";
    EXPECT_FALSE(fs::exists(P("out.bin")));
  }
}

TEST_F(FieldCommandsTest, DiffListsSettingsBanksAndBytes) {
  ASSERT_EQ(Cli({"set", P("default.bin"), P("a.bin"), "playVolume=53"}).nExit, 0);
  ASSERT_EQ(Cli({"set", P("default.bin"), P("b.bin"), "playVolume=59", "product=X"}).nExit, 0);
  std::string b;
  {
    std::ifstream f(P("b.bin"), std::ios::binary);
    b.assign(std::istreambuf_iterator<char>(f), {});
  }
  b[0x05] = static_cast<char>(b[0x05] ^ 0x01);  // a header byte no setting explains
  Write("b.bin", b);

  const CRun same = Cli({"diff", P("a.bin"), P("a.bin")});
  EXPECT_EQ(same.nExit, 0);
  EXPECT_EQ(same.out, "");
  const CRun text = Cli({"diff", P("a.bin"), P("b.bin")});
  EXPECT_EQ(text.nExit, 1) << text.err;
  EXPECT_EQ(text.out,
            "product: \"USB PnP Audio Device(EEPROM)\" -> \"X\"\n"
            "playVolume: -7.5 dB -> -3 dB\n"
            "bytes 0x0005-0x0005 differ\n");
  const json j = json::parse(Cli({"diff", P("a.bin"), P("b.bin"), "--json"}).out);
  EXPECT_EQ(j["settings"][1], (json{{"name", "playVolume"}, {"a", "-7.5 dB"}, {"b", "-3 dB"}}));
  EXPECT_EQ(j["bytes"], json::parse(R"([{"from": 5, "to": 5}])"));

  const CRun banks = Cli({"diff", P("default.bin"), P("banks.bin"), "--json"});
  EXPECT_EQ(banks.nExit, 1);
  EXPECT_EQ(json::parse(banks.out)["banks"],
            json::parse(R"(["I2C init bank 1", "I2C init bank 2", "AGC/IR", "EQ bank 1",
                            "EQ bank 2"])"));

  // Trouble is exit 2 with the load error; --json adds the error object.
  const CRun missing = Cli({"diff", P("a.bin"), P("none.bin"), "--json"});
  EXPECT_EQ(missing.nExit, 2);
  EXPECT_NE(missing.err.find("none.bin\": Load File fail (cannot open)"), std::string::npos);
  EXPECT_TRUE(json::parse(missing.out).contains("error"));
  const CRun gone =
      Cli({"diff", "device", P("a.bin"), "--simulate", "--sim-fault", "unplug:1"});
  EXPECT_EQ(gone.nExit, 2) << gone.err;
  // The simulated board holds the built-in image.
  EXPECT_EQ(Cli({"diff", "device", P("default.bin"), "--simulate"}).nExit, 0);
  // One board on both sides is refused before anything is read.
  const CRun twice = Cli({"diff", "device", "device", "--simulate", "--sim-fault", "unplug:1"});
  EXPECT_EQ(twice.nExit, 2);
  EXPECT_NE(twice.err.find("both the chosen board"), std::string::npos) << twice.err;
}

TEST_F(FieldCommandsTest, ShowMapAnnotatesEveryByte) {
  // Plain off a terminal: the hex rows, then each owner's bytes and value.
  const CRun plain = Cli({"show", P("banks.bin"), "--map"});
  ASSERT_EQ(plain.nExit, 0) << plain.err;
  std::istringstream lines(plain.out);
  std::vector<std::string> vLines;
  for (std::string szLine; std::getline(lines, szLine);) vLines.push_back(szLine);
  ASSERT_GT(vLines.size(), 2u + 32u);
  EXPECT_EQ(vLines[0], "Image map: 512 bytes (24C04), as a save writes it");
  EXPECT_EQ(vLines[2], "0x0000  C7 61 EC 17 11 00 00 74 74 F3 7F 00 1C 40 8D 06");
  EXPECT_EQ(vLines[2 + 31].substr(0, 8), "0x01F0  ");
  const auto line = [&vLines](const std::string& szPlace) {
    for (const std::string& s : vLines) {
      if (s.rfind(szPlace + " ", 0) == 0) {
        std::istringstream words(s.substr(szPlace.size()));
        std::string szWord, szRest;
        for (words >> szWord; words >> szRest;) szWord += " " + szRest;
        return szWord;
      }
    }
    return std::string("missing");
  };
  EXPECT_EQ(line("0x0018-0x0019"), "vid 3A7C");
  EXPECT_EQ(line("0x0091 bits 0-3"), "btPlayTerminalHi 3 (playDevice speaker)");
  EXPECT_EQ(line("0x008F bits 4, 7"), "bank header");
  EXPECT_EQ(line("0x0100-0x011F"), "I2C init bank 1");
  EXPECT_EQ(line("0x0140-0x015F"), "AGC/IR bank NEC_IR_GPO_NUM 5, IR enable 1");
  EXPECT_EQ(line("0x0180-0x01FF"), "unused");

  // Coloured, the same text with SGR sequences around the owners.
  const CRun colour = Cli({"show", P("banks.bin"), "--map", "--color", "always"});
  EXPECT_NE(colour.out.find("\x1b[48;5;"), std::string::npos);
  std::string szStripped;
  for (size_t i = 0; i < colour.out.size(); ++i) {
    if (colour.out[i] == '\x1b') {
      i = colour.out.find('m', i);
      continue;
    }
    szStripped += colour.out[i];
  }
  EXPECT_EQ(szStripped, plain.out);

  // JSON: the runs tile the image.
  const json j = json::parse(Cli({"show", P("banks.bin"), "--map", "--json"}).out);
  EXPECT_EQ(j["size"], 512);
  size_t nNext = 0;
  for (const json& run : j["map"]) {
    EXPECT_LE(run["from"].get<size_t>(), nNext);
    nNext = std::max(nNext, run["to"].get<size_t>() + 1);
  }
  EXPECT_EQ(nNext, 512u);

  // A control character of an image string never reaches the terminal raw.
  ASSERT_EQ(Cli({"set", P("default.bin"), P("ctl.bin"),
                 "product=A\x1b]0;x\x07"
                 "B"})
                .nExit,
            0);
  const CRun ctl = Cli({"show", P("ctl.bin"), "--map"});
  EXPECT_EQ(ctl.out.find('\x1b'), std::string::npos);
  EXPECT_NE(ctl.out.find("\"A\\x1B]0;x\\x07B\""), std::string::npos) << ctl.out;
}

TEST_F(FieldCommandsTest, SetJudgesTheStringsOfOneCommandTogether) {
  const std::string p29(29, 'p'), m27(27, 'm'), s56(56, 's');
  const struct {
    std::vector<std::string> vSettings;
    const char* pszProduct;  // nullptr: refused with "Max Length is 56"
    const char* pszManufacturer;
  } cases[] = {
      {{"product=" + p29, "manufacturer=" + m27}, "29", "27"},
      {{"manufacturer=" + m27, "product=" + p29}, "29", "27"},
      {{"product=" + s56, "manufacturer="}, "56", "0"},
      {{"manufacturer=", "product=" + s56}, "56", "0"},
      {{"manufacturer=" + s56, "product="}, "0", "56"},
      {{"product=" + p29}, nullptr, nullptr},  // the image's manufacturer takes 28 bytes
      {{"product=" + p29, "manufacturer=" + m27 + "m"}, nullptr, nullptr},
      {{"product=" + s56 + "s", "manufacturer="}, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vSettings.front().substr(0, 14) + " +" + std::to_string(c.vSettings.size()));
    fs::remove(P("out.bin"));
    std::vector<std::string> args = {"set", P("default.bin"), P("out.bin")};
    args.insert(args.end(), c.vSettings.begin(), c.vSettings.end());
    const CRun r = Cli(args);
    if (c.pszProduct == nullptr) {
      EXPECT_EQ(r.nExit, 1);
      EXPECT_TRUE(r.err.find("Max Length is 56") != std::string::npos ||
                  r.err.find("longer than 56") != std::string::npos)
          << r.err;
      EXPECT_FALSE(fs::exists(P("out.bin")));
      continue;
    }
    ASSERT_EQ(r.nExit, 0) << r.err;
    const json j = json::parse(Cli({"show", P("out.bin"), "--json"}).out);
    EXPECT_EQ(std::to_string(j["szProduct"].get<std::string>().size()), c.pszProduct);
    EXPECT_EQ(std::to_string(j["szManufacturer"].get<std::string>().size()), c.pszManufacturer);
  }
}

TEST_F(FieldCommandsTest, TemplatesOfRandomImagesRoundTrip) {
  // Export, then set --template onto the image itself, gives what a plain
  // save of it gives.
  int nCompared = 0;
  for (uint32_t nSeed = 1; nSeed <= 40; ++nSeed) {
    SCOPED_TRACE("seed " + std::to_string(nSeed));
    const std::vector<uint8_t> img = qrt::test::RandomLoadableImage(nSeed);
    ASSERT_EQ(WriteBinFile(P("x.bin"), img.data(), img.size()), kWriteOk);
    const CRun exported = Cli({"template", "export", P("x.bin")});
    ASSERT_EQ(exported.nExit, 0) << exported.err;
    Write("t.json", exported.out);
    fs::remove(P("saved.bin"));
    const CRun saved = Cli({"convert", P("x.bin"), P("saved.bin")});
    const CRun applied = Cli({"set", P("x.bin"), P("out.bin"), "--template", P("t.json")});
    // Banks that do not fit the image's own size refuse both alike.
    EXPECT_EQ(applied.nExit, saved.nExit) << applied.err << saved.err;
    if (applied.nExit != 0 || saved.nExit != 0) continue;
    const CRun diff = Cli({"diff", P("saved.bin"), P("out.bin")});
    EXPECT_EQ(diff.nExit, 0) << diff.out << diff.err;
    ++nCompared;
  }
  EXPECT_GE(nCompared, 35);
}

TEST_F(FieldCommandsTest, ContradictingDeviceSettingsAreRefusedInAnyOrder) {
  // "headset" pairs the second record terminal with the record terminal.
  for (const char* pszTemplate : {R"({"recordDevice": "headset", "record2Terminal": "2/1"})",
                                  R"({"record2Terminal": "2/1", "recordDevice": "headset"})"}) {
    SCOPED_TRACE(pszTemplate);
    Write("t.json", pszTemplate);
    const CRun r = Cli({"set", P("default.bin"), P("out.bin"), "--template", P("t.json")});
    EXPECT_EQ(r.nExit, 1);
    EXPECT_NE(r.err.find("recordDevice=headset"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("record2Terminal=2/1"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(P("out.bin")));
  }
  for (const auto& args :
       {std::vector<std::string>{"recordDevice=headset", "record2Terminal=2/1"},
        std::vector<std::string>{"record2Terminal=2/1", "recordDevice=headset"}}) {
    const CRun r = Cli({"set", P("default.bin"), P("out.bin"), args[0], args[1]});
    EXPECT_EQ(r.nExit, 1) << args[0];
    EXPECT_NE(r.err.find("record2Terminal=2/1"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(P("out.bin")));
  }
  // Agreeing values, and the listed settings on top of a template, are taken.
  Write("t.json", R"({"record2Terminal": "4/2", "recordDevice": "headset"})");
  ASSERT_EQ(Cli({"set", P("default.bin"), P("out.bin"), "--template", P("t.json"),
                 "record2Terminal=2/1"})
                .nExit,
            0);
  const json j = json::parse(Cli({"template", "export", P("out.bin")}).out);
  EXPECT_EQ(j["recordDevice"], "4/2");
  EXPECT_EQ(j["record2Terminal"], "2/1");
}

TEST(FieldDocs, SetHelpAndTheDocumentationListEverySetting) {
  const std::string szList = SettableFieldList();
  EXPECT_NE(Cli({"set", "--help"}).out.find(szList), std::string::npos);
  // README.md, or a page under docs/, has the same lines (indented as a code
  // block there).
  const auto trimmed = [](const std::string& szText) {
    std::vector<std::string> v;
    std::istringstream in(szText);
    for (std::string s; std::getline(in, s);) {
      const size_t nFrom = s.find_first_not_of(' ');
      v.push_back(
          nFrom == std::string::npos ? "" : s.substr(nFrom, s.find_last_not_of(' ') + 1 - nFrom));
    }
    return v;
  };
  const std::vector<std::string> vList = trimmed(szList);
  std::vector<fs::path> vPages = {fs::path(QRT_SOURCE_DIR) / "README.md"};
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(QRT_SOURCE_DIR) / "docs", ec))
    if (entry.path().extension() == ".md") vPages.push_back(entry.path());
  bool bFound = false;
  for (const fs::path& page : vPages) {
    const std::vector<std::string> vLines = trimmed(qrt::test::ReadWholeFile(page));
    bFound = bFound ||
             std::search(vLines.begin(), vLines.end(), vList.begin(), vList.end()) != vLines.end();
  }
  EXPECT_TRUE(bFound) << "README.md or docs/*.md lacks the list of set --help:\n" << szList;
}
