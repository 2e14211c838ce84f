// The accept and output sequences of CImageSession.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImageFiles.h"
#include "ImageSession.h"
#include "SampleImages.h"
#include "Trace.h"

using namespace qrt::image;

namespace {

// Everything a refused image must leave alone.
struct CSnapshot {
  std::vector<uint8_t> rom;
  _INTERNAL_OPT internal, original;
  int nI2C, nEq, bAgc, bFromImage;
  std::vector<uint8_t> agc;
  uint32_t dwSize, dwShown;

  explicit CSnapshot(CImageSession& s)
      : rom(s.RomDataMgr().Data(), s.RomDataMgr().Data() + kRomBufferSize),
        internal(s.m_RecInternalOpt),
        original(s.m_RecOriginalOpt),
        nI2C(s.I2CInitMgr().GetCount()),
        nEq(s.EQGainMgr().GetCount()),
        bAgc(s.AgcIrMgr().IsPresent()),
        bFromImage(s.ReadAGCFromOutSide()),
        agc(s.AgcIrMgr().Bytes(), s.AgcIrMgr().Bytes() + 32),
        dwSize(s.GetRomSize()),
        dwShown(s.GetReadRomSize()) {}

  bool operator==(const CSnapshot& o) const {
    return rom == o.rom && !std::memcmp(&internal, &o.internal, sizeof internal) &&
           !std::memcmp(&original, &o.original, sizeof original) && nI2C == o.nI2C &&
           nEq == o.nEq && bAgc == o.bAgc && bFromImage == o.bFromImage && agc == o.agc &&
           dwSize == o.dwSize && dwShown == o.dwShown;
  }
};

}  // namespace

TEST(ImageSession, StartsWithTheDefaultImage) {
  CImageSession s;
  EXPECT_EQ(s.GetRomSize(), 256u);
  EXPECT_EQ(s.GetReadRomSize(), 256u);
  EXPECT_EQ(0, std::memcmp(s.RomDataMgr().Data(), g_btDefaultImage, 256));
  for (unsigned i = 256; i < kRomBufferSize; ++i) ASSERT_EQ(s.RomDataMgr().Data()[i], 0xFF);
  EXPECT_EQ(s.m_RecInternalOpt.wVID, 0x3A7C);
  EXPECT_EQ(s.m_RecInternalOpt.btMaxPowerGain1, 53);
  EXPECT_EQ(0, std::memcmp(&s.m_RecInternalOpt, &s.m_RecOriginalOpt, sizeof(_INTERNAL_OPT)));
  EXPECT_EQ(s.GetBankAreaSize(), 0u);
}

TEST(ImageSession, RefusedImagesChangeNothing) {
  std::vector<uint8_t> tooLong(2049, 0xFF);
  tooLong[0] = 0xC7;
  tooLong[1] = 0x60;
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    EApplyResult expected;
  };
  const Case cases[] = {
      {"empty", {}, EApplyResult::kTooShort},
      {"one byte with the signature's first byte", {0xC7}, EApplyResult::kTooShort},
      {"too long", tooLong, EApplyResult::kTooLong},
      {"byte 0 wrong", {0xC6, 0x61}, EApplyResult::kNoSignature},
      {"bit 5 missing", {0xC7, 0x41}, EApplyResult::kNoSignature},
      {"bit 6 missing", {0xC7, 0x21}, EApplyResult::kNoSignature},
  };
  // Start from a loaded image with every kind of bank and an edited record.
  const auto banks = qrt::test::ImageWithBanks({2, true, 2, 1024});
  CImageSession s;
  ASSERT_EQ(s.ApplyLoadedImage(banks.data(), banks.size()), EApplyResult::kAccepted);
  s.SetRomSize(1024);
  s.m_RecInternalOpt.wPID = 0x9999;
  for (const Case& c : cases) {
    const CSnapshot before(s);
    EXPECT_EQ(s.ApplyLoadedImage(c.bytes.data(), c.bytes.size()), c.expected) << c.name;
    EXPECT_TRUE(CSnapshot(s) == before) << c.name;
  }
}

TEST(ImageSession, BytesBeyondTheImageReadErasedNotLeftovers) {
  // A 1024-byte image with banks, then a 256-byte file whose header announces
  // banks: nothing of the first image may show up.
  const auto banks = qrt::test::ImageWithBanks({2, true, 2, 1024});
  auto small = qrt::test::DefaultImage();
  small[0x8F] |= 0x90;
  small[0x8D] |= 0x01;
  small[0x8E] = 0x10;
  CImageSession s;
  ASSERT_EQ(s.ApplyLoadedImage(banks.data(), banks.size()), EApplyResult::kAccepted);
  ASSERT_EQ(s.ApplyLoadedImage(small.data(), small.size()), EApplyResult::kAccepted);
  for (unsigned i = 256; i < kRomBufferSize; ++i) ASSERT_EQ(s.RomDataMgr().Data()[i], 0xFF) << i;
  // Nor is a bank made up from the erased bytes.
  EXPECT_EQ(s.I2CInitMgr().GetCount(), 0);
  EXPECT_EQ(s.AgcIrMgr().IsPresent(), 0);
  EXPECT_EQ(s.EQGainMgr().GetCount(), 0);
  EXPECT_TRUE(s.BanksBeyondEnd());

  // A two-byte image: the header beyond it is erased too.
  const uint8_t two[] = {0xC7, 0x61};
  ASSERT_EQ(s.ApplyLoadedImage(two, 2), EApplyResult::kAccepted);
  for (unsigned i = 2; i < kRomBufferSize; ++i) ASSERT_EQ(s.RomDataMgr().Data()[i], 0xFF) << i;
  EXPECT_EQ(s.m_RecInternalOpt.wVID, 0xFFFF);
}

TEST(ImageSession, AcceptReplacesBothRecordsAndTraces) {
  const auto img = qrt::test::ImageWithBanks({0, true, 1, 512});
  CImageSession s;
  s.m_RecInternalOpt.wVID = 0x1234;
  qrt::diag::CTraceCapture trace;
  ASSERT_EQ(s.ApplyLoadedImage(img.data(), img.size()), EApplyResult::kAccepted);
  EXPECT_EQ(s.m_RecInternalOpt.wVID, 0x3A7C);
  EXPECT_EQ(0, std::memcmp(&s.m_RecInternalOpt, &s.m_RecOriginalOpt, sizeof(_INTERNAL_OPT)));
  EXPECT_TRUE(trace.Contains("m_bReadAGCFromOutSide = 1\n"));
  EXPECT_TRUE(trace.Contains("BankName = EQ Extern Bank0\n"));
  // The image size is the caller's: it stays until SetRomSize.
  EXPECT_EQ(s.GetRomSize(), 256u);
}

TEST(ImageSession, SizeDisplayNormalisation) {
  struct Case {
    uint32_t dwSize, dwShown;
    const char* type;
  };
  const Case cases[] = {{256, 256, "24C02"},   {512, 512, "24C04"}, {1024, 1024, "24C08"},
                        {2048, 2048, "24C16"}, {300, 256, "24C02"}, {4096, 256, "24C02"},
                        {2, 256, "24C02"}};
  CImageSession s;
  for (const Case& c : cases) {
    s.SetRomSize(c.dwSize);
    EXPECT_EQ(s.GetRomSize(), c.dwSize);
    EXPECT_EQ(s.GetReadRomSize(), c.dwShown) << c.dwSize;
    EXPECT_STREQ(EepromTypeText(s.GetReadRomSize()), c.type) << c.dwSize;
  }
}

TEST(ImageSession, OutputIsEncodedHeaderThenErased) {
  CImageSession s;
  s.SetRomSize(512);
  s.m_RecInternalOpt.wVID = 0x1234;
  qrt::diag::CTraceCapture trace;
  std::vector<uint8_t> out(2048, 0);
  size_t n = 0;
  ASSERT_EQ(s.BuildOutputImage(out.data(), &n), EBuildResult::kOk);
  ASSERT_EQ(n, 512u);
  EXPECT_EQ(out[0x18], 0x34);
  EXPECT_EQ(out[0x19], 0x12);
  EXPECT_EQ(out[0x8E] & 0x3F, 16);
  EXPECT_EQ(out[0x8F] & 0x10, 0);
  for (size_t k = 256; k < 2048; ++k) ASSERT_EQ(out[k], 0xFF) << k;
  EXPECT_TRUE(trace.Contains("nNotUsedSize = 256\n"));
  // Building does not touch the records.
  EXPECT_EQ(s.m_RecOriginalOpt.wVID, 0x3A7C);

  // A 300-byte image keeps its size; a short image keeps its header part.
  s.SetRomSize(300);
  ASSERT_EQ(s.BuildOutputImage(out.data(), &n), EBuildResult::kOk);
  EXPECT_EQ(n, 300u);
  s.SetRomSize(100);
  ASSERT_EQ(s.BuildOutputImage(out.data(), &n), EBuildResult::kOk);
  EXPECT_EQ(n, 100u);
  EXPECT_EQ(out[0x18], 0x34);
  EXPECT_EQ(out[100], 0xFF);
}
