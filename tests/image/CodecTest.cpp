// The general configuration block: decode, read-modify-write encode, the
// default image and the length-field bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "RomDataMgr.h"
#include "SampleImages.h"

using qrt::image::g_btDefaultImage;

namespace {

_INTERNAL_OPT Decode(const std::vector<uint8_t>& img) {
  CRomDataMgr mgr;
  mgr.SetRomData(img.data(), img.size());
  mgr.ParseGenConfig();
  _INTERNAL_OPT r;
  mgr.GetGenConfig(&r);
  return r;
}

// Encodes rec into img (read-modify-write) and returns the first 256 bytes.
std::vector<uint8_t> Encode(const std::vector<uint8_t>& img, const _INTERNAL_OPT& rec) {
  CRomDataMgr mgr;
  mgr.SetRomData(img.data(), img.size());
  mgr.SetGenConfig(&rec);
  mgr.BuildGenConfig();
  std::vector<uint8_t> out(2048);
  mgr.GetRomData(out.data());
  out.resize(256);
  return out;
}

std::string Text(const uint8_t* p) {
  return reinterpret_cast<const char*>(p);
}

}  // namespace

TEST(GenConfigDecode, DefaultImageFields) {
  const _INTERNAL_OPT r = Decode(qrt::test::DefaultImage());
  struct Field {
    const char* name;
    unsigned actual;
    unsigned expected;
  };
  const Field fields[] = {
      {"btSignature", r.btSignature, 0xC7},
      {"btConfig1", r.btConfig1, 0x61},
      {"wVID", r.wVID, 0x3A7C},
      {"wPID", r.wPID, 0x4250},
      {"btProductLen", r.btProductLen, 29},
      {"btManufacturerLen", r.btManufacturerLen, 29},
      {"btPlayVolume", r.btPlayVolume, 53},
      {"btRecordVolume", r.btRecordVolume, 40},
      {"btMixVolume", r.btMixVolume, 1},
      // 0xC9 = 0xF8: (0xF8 & 0x3F) ^ 0x0D = 53, the "0 dB" item.
      {"btMaxPowerGain1", r.btMaxPowerGain1, 53},
      {"btMixMute", r.btMixMute, 1},
      {"btMicBoostCtrl", r.btMicBoostCtrl, 0},
      {"btMicBoostDefault", r.btMicBoostDefault, 1},
      {"btPlayTerminalHi", r.btPlayTerminalHi, 3},
      {"btPlayTerminalLo", r.btPlayTerminalLo, 1},
      {"btRecordTerminalHi", r.btRecordTerminalHi, 2},
      {"btRecordTerminalLo", r.btRecordTerminalLo, 1},
      {"btRecord2TerminalHi", r.btRecord2TerminalHi, 2},
      {"btRecord2TerminalLo", r.btRecord2TerminalLo, 1},
      {"btHpfMode", r.btHpfMode, 3},
      {"btHpfREnable", r.btHpfREnable, 0},
      {"btHpfLEnable", r.btHpfLEnable, 1},
      {"btProductStringCtrl", r.btProductStringCtrl, 1},
      {"btSerialNumberCtrl", r.btSerialNumberCtrl, 0},
      {"btManufacturerStringCtrl", r.btManufacturerStringCtrl, 0},
      {"btGainA", r.btGainA, 1},
      {"btGainB", r.btGainB, 4},
      {"btGainC", r.btGainC, 2},
      {"btVIDRaw[0]", r.btVIDRaw[0], 0x7C},
      {"btVIDRaw[1]", r.btVIDRaw[1], 0x3A},
      {"btPIDRaw[0]", r.btPIDRaw[0], 0x50},
      {"btPIDRaw[1]", r.btPIDRaw[1], 0x42},
  };
  for (const Field& f : fields) EXPECT_EQ(f.actual, f.expected) << f.name;
  EXPECT_EQ(Text(r.szProduct), "USB PnP Audio Device(EEPROM)");
  EXPECT_EQ(Text(r.szManufacturer), "Korvessandrilotech Co.,Ltd.");
  EXPECT_EQ(r.szManufacturer[27], 0);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(r.btSerialNumber[i], 0);
  EXPECT_EQ(0, std::memcmp(r.szStringArea, g_btDefaultImage + 0x22, 56));
  for (int i = 56; i < 64; ++i) EXPECT_EQ(r.szStringArea[i], 0);
}

TEST(GenConfigEncode, UnchangedRecordReproducesImages) {
  // The default image, and one whose strings fill the whole area.
  std::vector<uint8_t> full = qrt::test::DefaultImage();
  full[0x08] = static_cast<uint8_t>((full[0x08] & 3) | (41 << 2));  // 40 bytes
  full[0x07] = static_cast<uint8_t>((full[0x07] & 3) | (17 << 2));  // 16 bytes
  for (int i = 0; i < 56; ++i) full[0x22 + i] = static_cast<uint8_t>('A' + i % 26);
  for (const auto& img : {qrt::test::DefaultImage(), full}) {
    EXPECT_EQ(Encode(img, Decode(img)), img);
  }
}

TEST(GenConfigEncode, KeepsForeignBitsAndStoresFields) {
  struct Case {
    const char* what;
    unsigned nOffset;
    uint8_t btBefore;
    void (*edit)(_INTERNAL_OPT&);
    uint8_t btAfter;
  };
  const Case cases[] = {
      {"0x02 flags clear keep bits 0-3,7", 0x02, 0x8F,
       [](_INTERNAL_OPT& r) { r.btMicBoostCtrl = r.btMicBoostDefault = r.btMixMute = 0; }, 0x8F},
      {"0x02 flags set", 0x02, 0x00,
       [](_INTERNAL_OPT& r) { r.btMicBoostCtrl = r.btMicBoostDefault = r.btMixMute = 1; }, 0x70},
      {"manufacturer length keeps bits 0-1", 0x07, 0x03,
       [](_INTERNAL_OPT& r) { r.btManufacturerLen = 10; }, 0x2B},
      {"max power item 13", 0xC9, 0xC0, [](_INTERNAL_OPT& r) { r.btMaxPowerGain1 = 13; }, 0xC0},
      {"max power item 0", 0xC9, 0xC0, [](_INTERNAL_OPT& r) { r.btMaxPowerGain1 = 0; }, 0xCD},
      {"max power item 63", 0xC9, 0x00, [](_INTERNAL_OPT& r) { r.btMaxPowerGain1 = 63; }, 0x32},
      {"vid low", 0x18, 0x00, [](_INTERNAL_OPT& r) { r.wVID = 0x1234; }, 0x34},
      {"vid high", 0x19, 0x00, [](_INTERNAL_OPT& r) { r.wVID = 0x1234; }, 0x12},
      {"hpf R on clears bit 5", 0xB5, 0xFF, [](_INTERNAL_OPT& r) { r.btHpfREnable = 1; }, 0xDF},
      {"hpf R off sets bit 5", 0xB5, 0x00,
       [](_INTERNAL_OPT& r) {
         r.btHpfREnable = 0;
         r.btHpfLEnable = 0;
         r.btGainA = 0;
       },
       0x20},
      {"gain A bits 6-7", 0xB5, 0x0F,
       [](_INTERNAL_OPT& r) {
         r.btGainA = 3;
         r.btHpfREnable = 1;
         r.btHpfLEnable = 0;
       },
       0xCF},
      {"gain B keeps bit 7 and 0-3", 0xB3, 0x8A, [](_INTERNAL_OPT& r) { r.btGainB = 5; }, 0xDA},
      {"gain C masked to 3 bits", 0xB7, 0x81, [](_INTERNAL_OPT& r) { r.btGainC = 0xFF; }, 0xF1},
      {"play terminal hi keeps 4-7", 0x91, 0xA0, [](_INTERNAL_OPT& r) { r.btPlayTerminalHi = 4; },
       0xA4},
      {"record2 lo keeps 0-3", 0x03, 0x0C, [](_INTERNAL_OPT& r) { r.btRecord2TerminalLo = 4; },
       0x4C},
      {"config1 keeps bits 3-7", 0x01, 0xF8,
       [](_INTERNAL_OPT& r) {
         r.btProductStringCtrl = 1;
         r.btSerialNumberCtrl = 0;
         r.btManufacturerStringCtrl = 1;
       },
       0xFD},
      {"mix volume bits 2-7 of 0x0F", 0x0F, 0x01,
       [](_INTERNAL_OPT& r) {
         r.btMixVolume = 63;
         r.btRecordVolume = 0x10;
       },
       0xFD},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> img = qrt::test::DefaultImage();
    img[c.nOffset] = c.btBefore;
    _INTERNAL_OPT r = Decode(img);
    c.edit(r);
    EXPECT_EQ(Encode(img, r)[c.nOffset], c.btAfter) << c.what;
  }
}

TEST(GenConfigEncode, VolumesSpreadOverThreeBytes) {
  std::vector<uint8_t> img = qrt::test::DefaultImage();
  img[0x0D] = 0x15;  // bits 0-5 foreign
  _INTERNAL_OPT r = Decode(img);
  r.btPlayVolume = 0x2D;    // 10 1101
  r.btRecordVolume = 0x1E;  // 01 1110
  r.btMixVolume = 0x07;
  const auto out = Encode(img, r);
  EXPECT_EQ(out[0x0D], 0x55);  // bits 6-7 = 01
  EXPECT_EQ(out[0x0E], 0xEB);  // play bits 2-5 = 1011, record bits 0-3 = 1110
  EXPECT_EQ(out[0x0F], 0x1D);  // record bits 4-5 = 01, mix = 000111
  const _INTERNAL_OPT back = Decode(out);
  EXPECT_EQ(back.btPlayVolume, 0x2D);
  EXPECT_EQ(back.btRecordVolume, 0x1E);
  EXPECT_EQ(back.btMixVolume, 0x07);
}

// Length fields from outside: whatever they hold, decode reads strings only
// from 0x22-0x59 and encode writes strings only there.
TEST(GenConfigStrings, LengthFieldsNeverLeaveTheArea) {
  struct Case {
    unsigned nProductLen, nManufacturerLen;
    size_t nProduct, nManufacturer;  // expected string lengths after decode
  };
  const Case cases[] = {
      {0, 0, 0, 0},     {0, 10, 0, 9},   {1, 1, 0, 0},     {29, 29, 28, 28},
      {57, 1, 56, 0},   {63, 63, 56, 0}, {30, 29, 29, 27}, {1, 63, 0, 56},
      {29, 40, 28, 28}, {58, 0, 56, 0},  {20, 63, 19, 37}, {63, 0, 56, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> img(256, 0xEE);  // sentinel everywhere outside the area
    img[0] = 0xC7;
    img[0x07] = static_cast<uint8_t>(c.nManufacturerLen << 2);
    img[0x08] = static_cast<uint8_t>(c.nProductLen << 2);
    for (unsigned i = 0; i < 56; ++i) img[0x22 + i] = static_cast<uint8_t>('a' + i % 26);
    const _INTERNAL_OPT r = Decode(img);
    EXPECT_EQ(strnlen(reinterpret_cast<const char*>(r.szProduct), 64), c.nProduct)
        << c.nProductLen << "/" << c.nManufacturerLen;
    EXPECT_EQ(strnlen(reinterpret_cast<const char*>(r.szManufacturer), 64), c.nManufacturer)
        << c.nProductLen << "/" << c.nManufacturerLen;

    // What was decoded encodes and decodes back to the same strings.
    const _INTERNAL_OPT again = Decode(Encode(img, r));
    EXPECT_EQ(0, std::memcmp(again.szProduct, r.szProduct, 64)) << c.nProductLen;
    EXPECT_EQ(0, std::memcmp(again.szManufacturer, r.szManufacturer, 64)) << c.nProductLen;

    // Encoding a record with full 64-byte strings and these lengths.
    _INTERNAL_OPT w = r;
    std::memset(w.szProduct, 'P', 64);
    std::memset(w.szManufacturer, 'M', 64);
    const auto out = Encode(img, w);
    for (unsigned k = 0x5A; k < 0x80; ++k)
      ASSERT_EQ(out[k], img[k]) << "byte " << k << " for " << c.nProductLen;
    for (unsigned k = 0x1C; k < 0x22; ++k)
      ASSERT_EQ(out[k], img[k]) << "byte " << k << " for " << c.nProductLen;
  }
}

TEST(GenConfigStrings, EncodeClearsTheAreaBehindTheStrings) {
  std::vector<uint8_t> img = qrt::test::DefaultImage();
  _INTERNAL_OPT r = Decode(img);
  std::memset(r.szProduct, 0, 64);
  std::memcpy(r.szProduct, "AB", 2);
  std::memset(r.szManufacturer, 0, 64);
  std::memcpy(r.szManufacturer, "xyz", 3);
  r.btProductLen = 3;
  r.btManufacturerLen = 4;
  const auto out = Encode(img, r);
  const uint8_t expected[] = {'A', 'B', 'x', 'y', 'z'};
  EXPECT_EQ(0, std::memcmp(&out[0x22], expected, 5));
  for (int k = 0x27; k <= 0x59; ++k) EXPECT_EQ(out[k], 0) << k;
  EXPECT_EQ(out[0x5A], img[0x5A]);
}

TEST(RomDataMgr, BytesBeyondThePlacedImageReadErased) {
  CRomDataMgr mgr;
  std::vector<uint8_t> ones(2048, 0x11);
  mgr.SetRomData(ones.data(), ones.size());
  mgr.SetRomData(g_btDefaultImage, 256);
  for (int i = 256; i < 4096; ++i) ASSERT_EQ(mgr.Data()[i], 0xFF) << i;
  EXPECT_EQ(0, std::memcmp(mgr.Data(), g_btDefaultImage, 256));
}
