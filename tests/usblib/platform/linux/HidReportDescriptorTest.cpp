// Report lengths from report descriptors, checked against the values Windows
// reports in HIDP_CAPS for the same descriptors.
#include "HidReportDescriptor.h"
#include "HidTestDescriptors.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace USB42XX_MGR {
namespace {

using namespace test;

struct SLengthCase {
  const char* pszName;
  const Bytes* pDescriptor;
  std::vector<HID_TOP_COLLECTION> vExpected;  // usage page, usage, IDs, in, out, feature
};

class HidLengthTest : public testing::TestWithParam<SLengthCase> {};

TEST_P(HidLengthTest, CollectionsAndLengthsMatchHidpCaps) {
  const SLengthCase& c = GetParam();
  std::vector<HID_TOP_COLLECTION> vOut;
  ASSERT_EQ(ParseHidReportDescriptor(c.pDescriptor->data(), c.pDescriptor->size(), vOut),
            EHidDescriptorStatus::Ok);
  ASSERT_EQ(vOut.size(), c.vExpected.size());
  for (size_t i = 0; i < vOut.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(vOut[i].wUsagePage, c.vExpected[i].wUsagePage);
    EXPECT_EQ(vOut[i].wUsage, c.vExpected[i].wUsage);
    EXPECT_EQ(vOut[i].bReportIds, c.vExpected[i].bReportIds);
    EXPECT_EQ(vOut[i].dwInputReportByteLength, c.vExpected[i].dwInputReportByteLength);
    EXPECT_EQ(vOut[i].dwOutputReportByteLength, c.vExpected[i].dwOutputReportByteLength);
    EXPECT_EQ(vOut[i].dwFeatureReportByteLength, c.vExpected[i].dwFeatureReportByteLength);
  }
}

INSTANTIATE_TEST_SUITE_P(
    RealDescriptors, HidLengthTest,
    testing::Values(SLengthCase{"VendorNoIds", &kVendorNoIds, {{0xFF00, 1, false, 5, 5, 0}}},
                    SLengthCase{"VendorId3", &kVendorId3, {{0xFF00, 1, true, 4, 4, 0}}},
                    SLengthCase{"VendorId7", &kVendorId7, {{0xFF01, 1, true, 8, 8, 0}}},
                    SLengthCase{"BootKeyboard", &kBootKeyboard, {{0x0001, 6, false, 9, 2, 0}}},
                    SLengthCase{"Composite",
                                &kComposite,
                                {{0x000C, 1, true, 3, 0, 0},
                                 {0xFF00, 1, true, 9, 8, 3},
                                 {0x0001, 2, true, 4, 0, 0}}}),
    [](const testing::TestParamInfo<SLengthCase>& info) { return info.param.pszName; });

TEST(HidReportDescriptor, RulesForSizesIdsAndScope) {
  struct SCase {
    const char* pszName;
    Bytes descriptor;
    uint32_t dwInput;
    uint32_t dwOutput;
  };
  const SCase cases[] = {
      // Bits round up to whole bytes: 3 bits -> 1 byte + the 0 byte.
      {"bits round up", {0xA1, 0x01, 0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0xC0}, 2, 0},
      // Items of one report ID add up; different IDs compete for the maximum.
      {"sum per id",
       {0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0x81, 0x02,  // ID 1: 4 bytes
        0x85, 0x02, 0x95, 0x03, 0x81, 0x02, 0xC0},                               // ID 2: 3 bytes
       5,
       0},
      // Globals outlive a collection: the second one inherits size, count and ID.
      {"globals persist",
       {0x75, 0x08, 0x95, 0x06, 0xA1, 0x01, 0xC0, 0xA1, 0x01, 0x91, 0x02, 0xC0},
       0,
       7},
      // Pop restores the pushed size and count.
      {"push pop",
       {0xA1, 0x01, 0x75, 0x08, 0x95, 0x04, 0xA4, 0x75, 0x10, 0x95, 0x10, 0xB4, 0x91, 0x02, 0xC0},
       0,
       5},
      // Main items outside any collection belong to none; nested ones to the top one.
      {"scope",
       {0x75, 0x08, 0x95, 0x20, 0x81, 0x02, 0x95, 0x02, 0xA1, 0x01, 0xA1, 0x02, 0x81, 0x02, 0xC0,
        0xC0, 0x81, 0x02},
       3,
       0},
      // A 4-byte Report Count item.
      {"4-byte data",
       {0xA1, 0x01, 0x75, 0x08, 0x97, 0x40, 0x00, 0x00, 0x00, 0x91, 0x02, 0xC0},
       0,
       65},
  };
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.pszName);
    std::vector<HID_TOP_COLLECTION> vOut;
    ASSERT_EQ(ParseHidReportDescriptor(c.descriptor.data(), c.descriptor.size(), vOut),
              EHidDescriptorStatus::Ok);
    ASSERT_FALSE(vOut.empty());
    EXPECT_EQ(vOut.back().dwInputReportByteLength, c.dwInput);
    EXPECT_EQ(vOut.back().dwOutputReportByteLength, c.dwOutput);
  }
}

TEST(HidReportDescriptor, MalformedDescriptorsAreRefused) {
  struct SCase {
    const char* pszName;
    Bytes descriptor;
    EHidDescriptorStatus eStatus;
  };
  Bytes deepPush(17, 0xA4);
  Bytes deepNest;
  for (int i = 0; i < 65; ++i) deepNest.insert(deepNest.end(), {0xA1, 0x00});
  const SCase cases[] = {
      {"report id 0", {0xA1, 0x01, 0x85, 0x00, 0xC0}, EHidDescriptorStatus::BadReportId},
      {"report id 256", {0xA1, 0x01, 0x86, 0x00, 0x01, 0xC0}, EHidDescriptorStatus::BadReportId},
      {"pop without push", {0xB4}, EHidDescriptorStatus::StackUnderflow},
      {"end without collection", {0xA1, 0x01, 0xC0, 0xC0}, EHidDescriptorStatus::StackUnderflow},
      {"push too deep", deepPush, EHidDescriptorStatus::StackOverflow},
      {"nesting too deep", deepNest, EHidDescriptorStatus::StackOverflow},
      {"huge count",
       {0xA1, 0x01, 0x75, 0x20, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02, 0xC0},
       EHidDescriptorStatus::ReportTooLong},
      {"sum too long",
       {0xA1, 0x01, 0x75, 0x08, 0x96, 0xFF, 0x7F, 0x81, 0x02, 0x81, 0x02, 0x81, 0x02, 0xC0},
       EHidDescriptorStatus::ReportTooLong},
      {"long item past end",
       {0xA1, 0x01, 0xFE, 0x05, 0x10, 0x00, 0x00},
       EHidDescriptorStatus::Truncated},
      {"long item header cut", {0xFE, 0x00}, EHidDescriptorStatus::Truncated},
      {"4-byte item cut", {0x97, 0x01, 0x02, 0x03}, EHidDescriptorStatus::Truncated},
  };
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.pszName);
    std::vector<HID_TOP_COLLECTION> vOut(1);
    EXPECT_EQ(ParseHidReportDescriptor(c.descriptor.data(), c.descriptor.size(), vOut), c.eStatus);
    EXPECT_TRUE(vOut.empty());
  }
  // The largest report that still fits: 65534 data bytes + 1.
  const Bytes largest = {0xA1, 0x01, 0x75, 0x08, 0x96, 0xFE, 0xFF, 0x91, 0x02, 0xC0};
  std::vector<HID_TOP_COLLECTION> vOut;
  ASSERT_EQ(ParseHidReportDescriptor(largest.data(), largest.size(), vOut),
            EHidDescriptorStatus::Ok);
  EXPECT_EQ(vOut.at(0).dwOutputReportByteLength, 65535u);
}

// Every prefix of every real descriptor, each in a buffer of exactly its own
// size (so a read past the end trips AddressSanitizer): a cut inside an item
// is Truncated, a cut between items parses.
TEST(HidReportDescriptor, EveryTruncationStaysInsideTheBuffer) {
  for (const Bytes* pFull :
       {&kVendorNoIds, &kVendorId3, &kVendorId7, &kBootKeyboard, &kComposite}) {
    // Item boundaries of the full descriptor.
    std::vector<bool> vBoundary(pFull->size() + 1, false);
    for (size_t nPos = 0; nPos < pFull->size();) {
      vBoundary[nPos] = true;
      const uint8_t b = (*pFull)[nPos];
      nPos += b == 0xFE ? 3 + (*pFull)[nPos + 1] : 1 + ((b & 3) == 3 ? 4 : (b & 3));
    }
    vBoundary[pFull->size()] = true;
    for (size_t nCut = 0; nCut < pFull->size(); ++nCut) {
      SCOPED_TRACE(nCut);
      std::unique_ptr<uint8_t[]> pCopy(new uint8_t[nCut == 0 ? 1 : nCut]);
      std::copy(pFull->begin(), pFull->begin() + static_cast<std::ptrdiff_t>(nCut), pCopy.get());
      std::vector<HID_TOP_COLLECTION> vOut;
      const EHidDescriptorStatus eStatus = ParseHidReportDescriptor(pCopy.get(), nCut, vOut);
      EXPECT_EQ(eStatus,
                vBoundary[nCut] ? EHidDescriptorStatus::Ok : EHidDescriptorStatus::Truncated);
    }
  }
  std::vector<HID_TOP_COLLECTION> vOut;
  EXPECT_EQ(ParseHidReportDescriptor(nullptr, 10, vOut), EHidDescriptorStatus::Ok);
  EXPECT_TRUE(vOut.empty());
}

// Random byte strings (fixed seed, so a failure replays): whatever the
// verdict, a refusal leaves no collections and a success gives lengths
// within the 16-bit range of HIDP_CAPS.
TEST(HidReportDescriptor, RandomBytesNeverEscapeTheBuffer) {
  std::mt19937 rng(4250);
  for (int nRound = 0; nRound < 3000; ++nRound) {
    const size_t nLength = rng() % 96;
    std::unique_ptr<uint8_t[]> pBytes(new uint8_t[nLength == 0 ? 1 : nLength]);
    for (size_t i = 0; i < nLength; ++i) pBytes[i] = static_cast<uint8_t>(rng());
    std::vector<HID_TOP_COLLECTION> vOut;
    if (ParseHidReportDescriptor(pBytes.get(), nLength, vOut) != EHidDescriptorStatus::Ok) {
      EXPECT_TRUE(vOut.empty());
      continue;
    }
    for (const HID_TOP_COLLECTION& c : vOut) {
      EXPECT_LE(c.dwInputReportByteLength, 65535u);
      EXPECT_LE(c.dwOutputReportByteLength, 65535u);
      EXPECT_LE(c.dwFeatureReportByteLength, 65535u);
    }
  }
}

}  // namespace
}  // namespace USB42XX_MGR
