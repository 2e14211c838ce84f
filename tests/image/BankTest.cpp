// Bank managers and the bank area: reading banks from loaded images and
// placing them into built images, for every combination of bank kinds.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "BankMgrs.h"
#include "ImageSession.h"
#include "SampleImages.h"
#include "Trace.h"

using namespace qrt::image;
using qrt::test::CBankLayout;

namespace {

std::vector<uint8_t> Buffer4096(const std::vector<uint8_t>& img) {
  std::vector<uint8_t> buf(4096, 0xFF);
  std::memcpy(buf.data(), img.data(), img.size());
  return buf;
}

std::vector<uint8_t> Build(CImageSession& s, EBuildResult* pResult = nullptr) {
  std::vector<uint8_t> out(2048, 0x5A);
  size_t n = 0;
  const EBuildResult r = s.BuildOutputImage(out.data(), &n);
  if (pResult) *pResult = r;
  out.resize(n);
  return out;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t at, size_t n) {
  return std::vector<uint8_t>(v.begin() + static_cast<long>(at),
                              v.begin() + static_cast<long>(at + n));
}

// The AGC/IR bank as written back: reserved bits normalised.
std::vector<uint8_t> AgcAsWritten(std::vector<uint8_t> b) {
  b[5] &= 0xFC;
  b[7] &= 0xFC;
  b[10] &= 0x3F;
  b[31] |= 0x7F;
  return b;
}

}  // namespace

TEST(EqBank, PacksTwelveBitValuesInPairs) {
  uint8_t raw[16] = {0x34, 0x12, 0x56, 0, 0, 0, 0, 0xF0, 1, 2, 3, 4, 5, 6, 0x25, 0xFF};
  const _EQ_EXTEND_BANK b = DecodeEqBank(raw);
  EXPECT_EQ(b.value0, 0x234);
  EXPECT_EQ(b.value1, 0x561);
  EXPECT_EQ(b.bit4Flag + b.bit5Flag + b.bit6Flag + b.bit7Flag, 4);
  EXPECT_EQ(b.lastBank, 1);
  uint8_t back[16];
  EncodeEqBank(b, back);
  raw[15] = 0xA5;  // bits 0-6 repeat byte 14
  EXPECT_EQ(0, std::memcmp(raw, back, 16));
}

TEST(I2CInitMgr, ReadsUntilTheRecordThatEndsTheList) {
  // 0x8F = 0x90 with three banks: the AGC/IR bank is decoded at 352.
  auto img = qrt::test::ImageWithBanks({3, true, 0, 1024});
  CImageSession s;
  qrt::diag::CTraceCapture trace;
  ASSERT_EQ(s.ApplyLoadedImage(img.data(), img.size()), EApplyResult::kAccepted);
  EXPECT_EQ(s.I2CInitMgr().GetCount(), 3);
  EXPECT_TRUE(trace.Contains("BankName = I2C Initial Bank2\n"));
  EXPECT_TRUE(trace.Contains("m_bReadAGCFromOutSide = 1"));
  EXPECT_EQ(std::vector<uint8_t>(s.AgcIrMgr().Bytes(), s.AgcIrMgr().Bytes() + 32), [] {
    auto b = qrt::test::SampleAgcBank();
    b[5] &= 0xFC;
    b[7] &= 0xFC;
    b[10] &= 0x3F;
    return b;
  }());
  EXPECT_EQ(s.ReadAGCFromOutSide(), 1);

  // Bit 4 without bit 7: neither I2C banks nor the AGC/IR bank.
  img[0x8F] = 0x10;
  ASSERT_EQ(s.ApplyLoadedImage(img.data(), img.size()), EApplyResult::kAccepted);
  EXPECT_EQ(s.I2CInitMgr().GetCount(), 0);
  EXPECT_EQ(s.AgcIrMgr().IsPresent(), 0);
  EXPECT_EQ(s.ReadAGCFromOutSide(), 0);
}

TEST(I2CInitMgr, GetBankAndSerializeBounds) {
  CI2CInitMgr mgr;
  size_t n = 99;
  uint8_t dest[64];
  EXPECT_EQ(mgr.Serialize(dest, sizeof dest, &n), -1);
  EXPECT_EQ(n, 0u);
  _I2C_INIT_BANK bank{};
  mgr.AddBank(bank);
  mgr.AddBank(bank);
  EXPECT_EQ(mgr.GetBank(2, &bank), 1);
  EXPECT_EQ(mgr.Serialize(dest, 63, &n), 1);  // one byte short
  EXPECT_EQ(mgr.Serialize(dest, 64, &n), 0);
  EXPECT_EQ(n, 64u);
}

TEST(EQGainMgr, ReadsFromTheAnnouncedStart) {
  // 0x8D = 0x01, 0x8E = 0x12: banks at 288 and 304.
  auto img = qrt::test::DefaultImage();
  img.resize(512, 0xFF);
  img[0x8D] = 0x01;
  img[0x8E] = 0x12;
  auto b0 = qrt::test::SampleEqBank(0, false), b1 = qrt::test::SampleEqBank(1, true);
  std::memcpy(&img[288], b0.data(), 16);
  std::memcpy(&img[304], b1.data(), 16);
  const auto buf = Buffer4096(img);
  CEQGainMgr mgr;
  mgr.Load(buf.data(), buf.size());
  EXPECT_EQ(mgr.GetCount(), 2);
  _EQ_EXTEND_BANK b;
  ASSERT_EQ(mgr.GetBank(1, &b), 0);
  EXPECT_EQ(b.value0, 0x101);
  EXPECT_EQ(mgr.GetBank(2, &b), 1);

  // Bit 0 clear: nothing read even though 0x8E points at banks.
  auto off = buf;
  off[0x8D] = 0x00;
  mgr.Load(off.data(), off.size());
  EXPECT_EQ(mgr.GetCount(), 0);
  EXPECT_EQ(mgr.IsPresent(), 0);
}

TEST(EQGainMgr, UnendedListStopsAtTheErasedArea) {
  // Start at 1008 (0x8E = 0x3F), no lastBank flag in the image: the list
  // runs into the 0xFF bytes at 2048 and that record ends it.
  auto img = qrt::test::DefaultImage();
  img.resize(2048, 0x00);
  img[0x8D] = 0x01;
  img[0x8E] = 0x3F;
  const auto buf = Buffer4096(img);
  CEQGainMgr mgr;
  mgr.Load(buf.data(), buf.size());
  EXPECT_EQ(mgr.GetCount(), (2048 - 1008) / 16 + 1);
  _EQ_EXTEND_BANK last;
  ASSERT_EQ(mgr.GetBank(mgr.GetCount() - 1, &last), 0);
  EXPECT_EQ(last.value0, 0xFFF);
  EXPECT_EQ(last.lastBank, 1);

  // A buffer that ends without an erased record: never read past it.
  std::vector<uint8_t> zeros(2048, 0x00);
  std::memcpy(zeros.data(), img.data(), 256);
  mgr.Load(zeros.data(), zeros.size());
  EXPECT_EQ(mgr.GetCount(), (2048 - 1008) / 16);
}

struct LayoutCase {
  const char* name;
  CBankLayout layout;  // what the loaded image carries
  bool bAddAgc;        // the user adds the AGC/IR bank after loading
};

class BankAreaLayouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(BankAreaLayouts, BuildPlacesBanksAndHeaderBits) {
  const LayoutCase& c = GetParam();
  const auto img = qrt::test::ImageWithBanks(c.layout);
  CImageSession s;
  ASSERT_EQ(s.ApplyLoadedImage(img.data(), img.size()), EApplyResult::kAccepted);
  s.SetRomSize(static_cast<uint32_t>(img.size()));
  if (c.bAddAgc) s.AddAgcIrBank();
  const bool bAgc = c.layout.bAgc || c.bAddAgc;

  const uint32_t u = 32u * c.layout.nI2C + (bAgc ? 32u : 0u) + 16u * c.layout.nEq;
  EXPECT_EQ(s.GetBankAreaSize(), u);
  qrt::diag::CTraceCapture trace;
  EBuildResult r;
  const auto out = Build(s, &r);
  ASSERT_EQ(r, EBuildResult::kOk);
  ASSERT_EQ(out.size(), img.size());

  size_t at = 256;
  for (int i = 0; i < c.layout.nI2C; ++i, at += 32)
    EXPECT_EQ(Slice(out, at, 32), qrt::test::SampleI2CBank(i)) << "I2C bank " << i;
  if (bAgc) {
    const auto expected = c.bAddAgc ? std::vector<uint8_t>(CAgcIrMgr::s_btDefaultBank,
                                                           CAgcIrMgr::s_btDefaultBank + 32)
                                    : AgcAsWritten(qrt::test::SampleAgcBank());
    EXPECT_EQ(Slice(out, at, 32), expected);
    at += 32;
  }
  EXPECT_EQ(out[0x8E] & 0x3F, at / 16);
  EXPECT_EQ(out[0x8E] & 0xC0, img[0x8E] & 0xC0);
  EXPECT_EQ((out[0x8F] >> 4) & 1, bAgc ? 1 : 0);
  EXPECT_EQ(out[0x8F] & 0x80, img[0x8F] & 0x80);
  EXPECT_EQ(out[0x8D], img[0x8D]);  // never changed
  for (int i = 0; i < c.layout.nEq; ++i, at += 16)
    EXPECT_EQ(Slice(out, at, 16), qrt::test::SampleEqBank(i, i == c.layout.nEq - 1))
        << "EQ bank " << i;
  EXPECT_EQ(at, 256 + u);
  for (size_t k = at; k < out.size(); ++k) ASSERT_EQ(out[k], 0xFF) << k;
  if (at < out.size()) {
    EXPECT_TRUE(trace.Contains("nNotUsedSize = " + std::to_string(out.size() - at)));
  }

  // The built image loads back to the same banks and builds the same bytes.
  CImageSession again;
  ASSERT_EQ(again.ApplyLoadedImage(out.data(), out.size()), EApplyResult::kAccepted);
  again.SetRomSize(static_cast<uint32_t>(out.size()));
  EXPECT_EQ(Build(again), out);
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, BankAreaLayouts,
    ::testing::Values(LayoutCase{"none", {0, false, 0, 512}, false},
                      LayoutCase{"eq_only", {0, false, 3, 512}, false},
                      LayoutCase{"agc_from_image", {0, true, 0, 512}, false},
                      LayoutCase{"agc_and_eq", {0, true, 2, 512}, false},
                      LayoutCase{"agc_added", {0, false, 0, 512}, true},
                      LayoutCase{"agc_added_before_eq", {0, false, 2, 512}, true},
                      LayoutCase{"i2c_agc", {2, true, 0, 512}, false},
                      LayoutCase{"i2c_agc_eq", {2, true, 3, 1024}, false},
                      LayoutCase{"one_of_each_full", {1, true, 1, 336}, false},
                      LayoutCase{"many_i2c", {20, true, 4, 2048}, false}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

TEST(BankArea, AddedAgcMovesEqBanksAndSetsTheStart) {
  // EQ banks that started at 256 move behind the new AGC/IR bank: 0x8E = 18.
  const auto img = qrt::test::ImageWithBanks({0, false, 2, 512});
  CImageSession s;
  ASSERT_EQ(s.ApplyLoadedImage(img.data(), img.size()), EApplyResult::kAccepted);
  s.SetRomSize(512);
  s.AddAgcIrBank();
  const auto out = Build(s);
  EXPECT_EQ(out[0x8E] & 0x3F, 18);
  EXPECT_EQ(Slice(out, 256, 4), std::vector<uint8_t>({0xFD, 0x46, 0x33, 0x41}));
}

TEST(BankArea, RemoveAndAddGivesTheDefaultBank) {
  const auto img = qrt::test::ImageWithBanks({0, true, 0, 512});
  CImageSession s;
  ASSERT_EQ(s.ApplyLoadedImage(img.data(), img.size()), EApplyResult::kAccepted);
  EXPECT_EQ(s.AgcIrMgr().GetIrEnable(), 1);
  EXPECT_EQ(s.AgcIrMgr().GetNecIrGpoNum(), 5);
  ASSERT_TRUE(s.RemoveAgcIrBank());
  EXPECT_EQ(s.AgcIrMgr().IsPresent(), 0);
  EXPECT_EQ(s.GetBankAreaSize(), 0u);
  s.AddAgcIrBank();
  EXPECT_EQ(0, std::memcmp(s.AgcIrMgr().Bytes(), CAgcIrMgr::s_btDefaultBank, 32));
  EXPECT_EQ(s.AgcIrMgr().GetIrEnable(), 0);

  // With I2C banks in front the bank cannot be removed.
  const auto withI2C = qrt::test::ImageWithBanks({1, true, 0, 512});
  ASSERT_EQ(s.ApplyLoadedImage(withI2C.data(), withI2C.size()), EApplyResult::kAccepted);
  EXPECT_FALSE(s.RemoveAgcIrBank());
  EXPECT_EQ(s.AgcIrMgr().IsPresent(), 1);
}

TEST(BankArea, LayoutsThatDoNotFitAreRefusedUntouched) {
  struct Case {
    const char* name;
    CBankLayout layout;
    bool bAddAgc;
    uint32_t dwSize;
    EBuildResult expected;
  };
  const Case cases[] = {
      {"agc added to a 256-byte image",
       {0, false, 0, 256},
       true,
       256,
       EBuildResult::kBanksDoNotFit},
      {"one byte short", {2, true, 3, 512}, false, 256 + 96 + 48 - 1, EBuildResult::kBanksDoNotFit},
      {"exactly fits", {2, true, 3, 512}, false, 256 + 96 + 48, EBuildResult::kOk},
      {"EQ start beyond six bits", {30, true, 1, 2048}, false, 2048, EBuildResult::kEqStartTooHigh},
      {"EQ start at 992 fits", {22, true, 1, 2048}, false, 2048, EBuildResult::kOk},
      {"no EQ: a high start is harmless", {30, true, 0, 2048}, false, 2048, EBuildResult::kOk},
      {"size above 2048", {0, false, 0, 512}, false, 4096, EBuildResult::kSizeTooLarge},
  };
  for (const Case& c : cases) {
    const auto img = qrt::test::ImageWithBanks(c.layout);
    CImageSession s;
    ASSERT_EQ(s.ApplyLoadedImage(img.data(), img.size()), EApplyResult::kAccepted) << c.name;
    if (c.bAddAgc) s.AddAgcIrBank();
    s.SetRomSize(c.dwSize);
    s.m_RecInternalOpt.wVID = 0x1111;  // an edit that must not reach the image on refusal
    std::vector<uint8_t> out(2048, 0x5A);
    size_t n = 77;
    EXPECT_EQ(s.BuildOutputImage(out.data(), &n), c.expected) << c.name;
    if (c.expected != EBuildResult::kOk) {
      EXPECT_EQ(n, 0u) << c.name;
      EXPECT_EQ(out, std::vector<uint8_t>(2048, 0x5A)) << c.name;
      EXPECT_EQ(s.RomDataMgr().Data()[0x18], img[0x18]) << c.name;
    } else {
      EXPECT_EQ(n, c.dwSize) << c.name;
    }
  }
}

TEST(BankArea, CodeSizeCheckTable) {
  struct Case {
    uint32_t dwShown, u;
    bool bMore;
    uint32_t dwOffer;
  };
  const Case cases[] = {
      {256, 0, true, 512},      {512, 224, false, 1024}, {512, 240, true, 1024},
      {1024, 736, false, 2048}, {1024, 737, true, 2048}, {2048, 768, false, 0},
      {2048, 1760, false, 0},   {2048, 1761, true, 0},   {300, 5000, false, 0},
  };
  for (const Case& c : cases) {
    const CCodeSizeOffer o = CheckAgcIrCodeSize(c.dwShown, c.u);
    EXPECT_EQ(o.bNeedsMoreRoom, c.bMore) << c.dwShown << "/" << c.u;
    if (o.bNeedsMoreRoom) {
      EXPECT_EQ(o.dwOfferedSize, c.dwOffer) << c.dwShown << "/" << c.u;
    }
  }
}

TEST(AgcIrMgr, FieldsAndReservedBits) {
  CAgcIrMgr mgr;
  EXPECT_EQ(mgr.IsPresent(), 0);
  EXPECT_EQ(0, std::memcmp(mgr.Bytes(), CAgcIrMgr::s_btDefaultBank, 32));
  mgr.SetPresent(7);
  EXPECT_EQ(mgr.IsPresent(), 0);
  mgr.SetPresent(1);
  mgr.SetNecIrGpoNum(0xA);
  mgr.SetIrEnable(1);
  EXPECT_EQ(mgr.Bytes()[11], 0x0A);
  EXPECT_EQ(mgr.Bytes()[30], 0x01);
  mgr.ZeroBank();
  EXPECT_EQ(mgr.IsPresent(), 1);
  uint8_t out[40];
  std::memset(out, 0x77, sizeof out);
  mgr.Encode(4, out);
  EXPECT_EQ(out[3], 0x77);
  EXPECT_EQ(out[4 + 31], 0x7F);
  EXPECT_EQ(out[36], 0x77);
}

// Only banks that lie wholly inside the image are taken: behind its end is the
// 0xFF fill, which would decode as an AGC/IR bank with IR on or an all-0xFF
// EQ bank. Such an image still builds at its own size, 0xFF behind the banks.
TEST(BankArea, BanksBeyondTheImageEndAreLeftOut) {
  struct Case {
    const char* name;
    CBankLayout layout;  // built at 512 bytes, then cut to nSize
    size_t nSize;
    int nI2C;
    bool bAgc;
    int nEq;
    bool bBeyond;
  };
  const Case cases[] = {
      {"AGC/IR announced, 256 bytes", {0, true, 0, 512}, 256, 0, false, 0, true},
      {"EQ announced, 256 bytes", {0, false, 2, 512}, 256, 0, false, 0, true},
      {"I2C banks inside, AGC/IR cut", {2, true, 0, 512}, 256 + 64 + 31, 0, false, 0, true},
      {"AGC/IR ends at the image end", {2, true, 0, 512}, 256 + 96, 2, true, 0, false},
      {"EQ list cut in its third bank", {0, true, 3, 512}, 256 + 32 + 40, 0, true, 0, true},
      {"everything inside", {1, true, 2, 512}, 256 + 96, 1, true, 2, false},
  };
  for (const Case& c : cases) {
    auto img = qrt::test::ImageWithBanks(c.layout);
    img.resize(c.nSize);
    CImageSession s;
    ASSERT_EQ(s.ApplyLoadedImage(img.data(), img.size()), EApplyResult::kAccepted) << c.name;
    EXPECT_EQ(s.I2CInitMgr().GetCount(), c.nI2C) << c.name;
    EXPECT_EQ(s.AgcIrMgr().IsPresent(), c.bAgc ? 1 : 0) << c.name;
    EXPECT_EQ(s.EQGainMgr().GetCount(), c.nEq) << c.name;
    EXPECT_EQ(s.BanksBeyondEnd(), c.bBeyond) << c.name;

    s.SetRomSize(static_cast<uint32_t>(c.nSize));
    EBuildResult r = EBuildResult::kOk;
    const auto out = Build(s, &r);
    ASSERT_EQ(r, EBuildResult::kOk) << c.name;
    ASSERT_EQ(out.size(), c.nSize) << c.name;
    const size_t nUsed = 256 + 32 * static_cast<size_t>(c.nI2C) + (c.bAgc ? 32 : 0) + 16 * c.nEq;
    EXPECT_EQ(Slice(out, nUsed, c.nSize - nUsed), std::vector<uint8_t>(c.nSize - nUsed, 0xFF))
        << c.name;
    EXPECT_EQ((out[0x8F] & 0x10) != 0, c.bAgc) << c.name;
    EXPECT_EQ((out[0x8D] & 0x01) != 0, c.nEq > 0) << c.name;
    // Built at a larger size, the image still loads back with the same banks.
    s.SetRomSize(1024);
    const auto larger = Build(s, &r);
    ASSERT_EQ(r, EBuildResult::kOk) << c.name;
    CImageSession again;
    ASSERT_EQ(again.ApplyLoadedImage(larger.data(), larger.size()), EApplyResult::kAccepted);
    EXPECT_EQ(again.GetBankAreaSize(), s.GetBankAreaSize()) << c.name;
  }
}
