// The image map and the comparison: every bit has one owner, the table's
// header bits are coloured by their rows, the banks lie where the accept
// sequence reads them, and a comparison marks the bytes of what differs.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "FieldModel.h"
#include "ImageCompare.h"
#include "ByteOffsets.h"
#include "ImageMap.h"
#include "SampleImages.h"

using namespace qrt::image;
using qrt::test::SetOffsets;

namespace {

// "NAME FROM-TO" for the runs from nFrom on, "; " between.
std::string RunsFrom(const CImageMap& map, size_t nFrom) {
  std::string s;
  char sz[32];
  for (const MAP_RUN& run : map.Runs()) {
    if (run.nFrom < nFrom) continue;
    std::snprintf(sz, sizeof sz, " 0x%03zX-0x%03zX", run.nFrom, run.nTo);
    s += (s.empty() ? "" : "; ") + MapPartName(run.Part) + sz;
  }
  return s;
}

// The image a session builds.
std::vector<uint8_t> Built(CImageSession& session) {
  std::vector<uint8_t> v;
  EXPECT_EQ(CurrentImage(session, v), EBuildResult::kOk);
  return v;
}

CImageMap MapOf(const std::vector<uint8_t>& v) {
  CImageMap map;
  EXPECT_EQ(map.Build(v.data(), v.size()), EApplyResult::kAccepted);
  return map;
}

}  // namespace

TEST(ImageMapTest, EveryBitHasOneOwnerAndTheTablesBitsAreColouredByTheirRows) {
  // Each field row has a colour of its own, none an area's.
  std::set<uint32_t> colours;
  for (EMapArea eArea : MapAreas()) {
    MAP_PART part;
    part.eArea = eArea;
    if (eArea != EMapArea::kField) colours.insert(MapColour(part));
  }
  for (const FIELD_DEF& def : Fields()) {
    MAP_PART part;
    part.pField = &def;
    part.eArea = EMapArea::kField;
    EXPECT_TRUE(colours.insert(MapColour(part)).second) << def.pszJsonName;
  }

  std::vector<std::vector<uint8_t>> vImages = {qrt::test::DefaultImage(),
                                               qrt::test::ImageWithBanks({2, true, 2, 512})};
  for (uint32_t nSeed = 1; nSeed <= 300; ++nSeed)
    vImages.push_back(qrt::test::RandomLoadableImage(nSeed));
  for (const std::vector<uint8_t>& vImage : vImages) {
    SCOPED_TRACE("image of " + std::to_string(vImage.size()) +
                 " bytes, 0x08 = " + std::to_string(vImage.size() > 8 ? vImage[8] : 0));
    const CImageMap map = MapOf(vImage);
    ASSERT_EQ(map.Size(), vImage.size());
    for (size_t i = 0; i < map.Size(); ++i) {
      unsigned nAll = 0;
      for (const MAP_PART& part : map.Parts(i)) {
        ASSERT_NE(part.btMask, 0);
        ASSERT_EQ(nAll & part.btMask, 0u) << "two owners of a bit of byte " << i;
        nAll |= part.btMask;
      }
      ASSERT_EQ(nAll, 0xFFu) << "a bit of byte " << i << " without owner";
    }
    // Every header bit the table encodes belongs to its row, the strings'
    // bytes to the strings by the length fields.
    const auto owner = [&map](size_t nOffset, const FIELD_DEF& def) -> const MAP_PART* {
      for (const MAP_PART& part : map.Parts(nOffset)) {
        if (part.pField == &def) return &part;
      }
      return nullptr;
    };
    for (const FIELD_DEF& def : Fields()) {
      if (def.eCodec != EFieldCodec::kEncoded || def.eKind == EFieldKind::kText) continue;
      for (const FIELD_BITS& bits : def.Bits) {
        for (size_t i = bits.btOffset; i < bits.btOffset + bits.btCount && i < map.Size(); ++i) {
          const MAP_PART* pPart = owner(i, def);
          ASSERT_NE(pPart, nullptr) << def.pszJsonName << " at " << i;
          EXPECT_EQ(pPart->btMask, bits.btMask) << def.pszJsonName << " at " << i;
        }
      }
    }
    const STRING_EXTENTS ext =
        StringExtents(map.Record().btProductLen, map.Record().btManufacturerLen);
    for (size_t i = kStringAreaStart; i <= kStringAreaEnd && i < map.Size(); ++i) {
      const size_t k = i - kStringAreaStart;
      const FIELD_DEF& string =
          Field(k < ext.nProduct ? EFieldId::kProduct : EFieldId::kManufacturer);
      const bool bString = k < ext.nProduct + ext.nManufacturer;
      EXPECT_EQ(owner(i, string) != nullptr, bString) << "string byte " << i;
      EXPECT_EQ(map.MainPart(i).eArea, bString ? EMapArea::kField : EMapArea::kStringArea) << i;
    }
  }
}

TEST(ImageMapTest, AreasLieWhereTheAcceptSequenceReadsThem) {
  std::vector<uint8_t> vCut = qrt::test::ImageWithBanks({1, true, 1, 512});
  vCut.resize(256 + 40);  // the AGC/IR bank and the EQ bank run past the end
  std::vector<uint8_t> vShort = qrt::test::DefaultImage();
  vShort.resize(100);
  const struct {
    const char* pszName;
    std::vector<uint8_t> vImage;
    const char* pszBanks;  // the runs from 0x100 on
  } cases[] = {
      {"I2C, AGC/IR and EQ banks", qrt::test::ImageWithBanks({2, true, 2, 512}),
       "I2C init bank 1 0x100-0x11F; I2C init bank 2 0x120-0x13F; AGC/IR bank 0x140-0x15F; "
       "EQ bank 1 0x160-0x16F; EQ bank 2 0x170-0x17F; unused 0x180-0x1FF"},
      {"EQ banks alone", qrt::test::ImageWithBanks({0, false, 2, 512}),
       "EQ bank 1 0x100-0x10F; EQ bank 2 0x110-0x11F; unused 0x120-0x1FF"},
      {"banks beyond the end", vCut, "unused 0x100-0x127"},
      {"no banks", qrt::test::ImageWithBanks({0, false, 0, 1024}), "unused 0x100-0x3FF"},
      {"shorter than the header", vShort, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pszName);
    const CImageMap map = MapOf(c.vImage);
    EXPECT_EQ(RunsFrom(map, 0x100), c.pszBanks);
  }

  // The header's own areas, in an image with short strings.
  CImageSession session;
  ASSERT_EQ(ApplyFieldText(Field(EFieldId::kProduct), session.m_RecInternalOpt, "AB"), "");
  ASSERT_EQ(ApplyFieldText(Field(EFieldId::kManufacturer), session.m_RecInternalOpt, "C"), "");
  const CImageMap map = MapOf(Built(session));
  const struct {
    size_t nOffset;
    const char* pszParts;  // NAME/MASK of each owner, highest bits first
  } bytes[] = {
      {0x00, "btSignature/bits 0-7"},
      {0x01, "btConfig1/bits 3-7 manufacturerCtrl/bit 2 serialCtrl/bit 1 productCtrl/bit 0"},
      {0x05, "header/bits 0-7"},
      {0x0E, "recordVolume/bits 4-7 playVolume/bits 0-3"},
      {0x23, "product/bits 0-7"},
      {0x24, "manufacturer/bits 0-7"},
      {0x25, "string area/bits 0-7"},
      {0x59, "string area/bits 0-7"},
      {0x5A, "header/bits 0-7"},
      {0x8D, "header/bits 1-7 bank header/bit 0"},
      {0x8F, "bank header/bits 4, 7 header/bits 0-3, 5-6"},
      {0xB5, "gainA/bits 6-7 hpfR/bit 5 hpfL/bit 4 header/bits 0-3"},
  };
  for (const auto& b : bytes) {
    std::string s;
    for (const MAP_PART& part : map.Parts(b.nOffset)) {
      const std::string szMask = MaskText(part.btMask);
      s +=
          (s.empty() ? "" : " ") + MapPartName(part) + "/" + (szMask.empty() ? "bits 0-7" : szMask);
    }
    EXPECT_EQ(s, b.pszParts) << "byte " << b.nOffset;
  }
}

TEST(ImageMapTest, SettingsNameTheirBytes) {
  const CImageMap map = MapOf(qrt::test::ImageWithBanks({0, true, 0, 512}));
  const struct {
    EFieldId eId;
    std::vector<size_t> vBytes;
  } fields[] = {
      {EFieldId::kVid, {0x18, 0x19}},
      {EFieldId::kPlayVolume, {0x0D, 0x0E}},
      {EFieldId::kPlayDevice, {0x04, 0x91}},
      {EFieldId::kRecordDevice, {0x04, 0x90}},
      {EFieldId::kRecord2Terminal, {0x03, 0x90}},
      {EFieldId::kGainA, {0xB5}},
      {EFieldId::kSignature, {}},
  };
  for (const auto& f : fields) {
    EXPECT_EQ(SetOffsets(map.FieldBytes(Field(f.eId))), f.vBytes) << Field(f.eId).pszJsonName;
  }
  // The product with its length field, the AGC/IR bank whole.
  const std::vector<size_t> vProduct = SetOffsets(map.FieldBytes(Field(EFieldId::kProduct)));
  ASSERT_EQ(vProduct.size(), 1u + 28u);
  EXPECT_EQ(vProduct.front(), 0x08u);
  EXPECT_EQ(vProduct.back(), 0x3Du);
  EXPECT_EQ(SetOffsets(map.BankBytes(EMapArea::kAgcIr, 0)).size(), 32u);

}

TEST(ImageMapTest, ComparisonMarksTheBytesOfWhatDiffers) {
  CImageSession base, edited;
  edited.SetRomSize(512);
  ASSERT_EQ(ApplyFieldText(Field(EFieldId::kPlayVolume), edited.m_RecInternalOpt, "59"), "");
  ASSERT_EQ(ApplyFieldText(Field(EFieldId::kProduct), edited.m_RecInternalOpt, "X"), "");
  edited.AddAgcIrBank();
  std::vector<uint8_t> vEdited = Built(edited);
  vEdited[0x05] ^= 0x01;  // a header bit no setting explains
  CImageMap a = MapOf(Built(base)), b = MapOf(vEdited);

  // Bytes nFrom to nTo after the ones listed.
  const auto bytes = [](std::vector<size_t> v, size_t nFrom = 1, size_t nTo = 0) {
    for (size_t k = nFrom; k <= nTo; ++k) v.push_back(k);
    return v;
  };
  const struct {
    CImageMap* pFrom;
    CImageMap* pTo;
    std::vector<std::string> vLines;
    std::vector<std::vector<size_t>> vMarks;  // per line, the bytes in pFrom's map
  } cases[] = {
      {&a,
       &b,
       {"eepromType: 24C02 (256 bytes) -> 24C04 (512 bytes)",
        "product: \"USB PnP Audio Device(EEPROM)\" -> \"X\"", "playVolume: -7.5 dB -> -3 dB",
        "AGC/IR differs", "bytes 0x0005-0x0005 differ", "bytes 0x008E-0x008F differ"},
       {{}, bytes({0x08}, 0x22, 0x3D), {0x0D, 0x0E}, {}, {0x05}, {0x8E, 0x8F}}},
      {&b,
       &a,
       {"eepromType: 24C04 (512 bytes) -> 24C02 (256 bytes)",
        "product: \"X\" -> \"USB PnP Audio Device(EEPROM)\"", "playVolume: -3 dB -> -7.5 dB",
        "AGC/IR differs", "bytes 0x0005-0x0005 differ", "bytes 0x008E-0x008F differ"},
       {{}, {0x08, 0x22}, {0x0D, 0x0E}, bytes({}, 0x100, 0x11F), {0x05}, {0x8E, 0x8F}}},
  };
  for (const auto& c : cases) {
    const std::vector<DIFF_ENTRY> vDiff =
        CompareImages({c.pFrom->Session(), c.pFrom->Bytes()}, {c.pTo->Session(), c.pTo->Bytes()});
    std::vector<std::string> vLines;
    std::vector<std::vector<size_t>> vMarks;
    for (const DIFF_ENTRY& e : vDiff) {
      vLines.push_back(e.szLine);
      vMarks.push_back(SetOffsets(DiffEntryBytes(*c.pFrom, e)));
    }
    EXPECT_EQ(vLines, c.vLines);
    EXPECT_EQ(vMarks, c.vMarks);
  }
  // The same image compares the same.
  EXPECT_TRUE(CompareImages({a.Session(), a.Bytes()}, {a.Session(), a.Bytes()}).empty());
}

TEST(ImageMapTest, TheCurrentImageIsWhatASaveWritesOrTheHeldImage) {
  CImageSession session;
  ASSERT_EQ(ApplyFieldText(Field(EFieldId::kVid), session.m_RecInternalOpt, "1234"), "");
  std::vector<uint8_t> v;
  ASSERT_EQ(CurrentImage(session, v), EBuildResult::kOk);
  EXPECT_EQ(v[0x18], 0x34);
  // The held image is untouched by it: the session encodes only when it writes.
  EXPECT_EQ(session.RomDataMgr().Data()[0x18], 0x7C);

  const std::vector<uint8_t> vBanks = qrt::test::ImageWithBanks({2, true, 0, 512});
  ASSERT_EQ(session.ApplyLoadedImage(vBanks.data(), vBanks.size()), EApplyResult::kAccepted);
  session.SetRomSize(256);  // the banks no longer fit
  EXPECT_EQ(CurrentImage(session, v), EBuildResult::kBanksDoNotFit);
  EXPECT_EQ(v, std::vector<uint8_t>(vBanks.begin(), vBanks.begin() + 256));
}
