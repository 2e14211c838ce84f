#pragma once
// Two images compared as qrt4250-cli diff and the window's compare show it:
// the settings that differ, the banks that differ, and the byte ranges no
// setting or bank explains. Qt-free.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "FieldModel.h"
#include "ImageMap.h"
#include "ImageSession.h"

namespace qrt::image {

// One image: the session that accepted it (its image size set) and its
// bytes (the image's size; beyond them it reads as erased, 0xFF).
struct COMPARE_SIDE {
  CImageSession& Session;
  std::span<const uint8_t> Bytes;
};

// One difference, in the order diff prints them.
struct DIFF_ENTRY {
  enum class EKind { kSetting, kBank, kBytes };
  EKind eKind = EKind::kSetting;
  std::string szLine;  // as diff prints it: "playVolume: -7.5 dB -> -3 dB"
  // kSetting: the field (null for the EEPROM type), its name and both values.
  const FIELD_DEF* pField = nullptr;
  std::string szName, szA, szB;
  // kBank: the bank (kI2CInit, kAgcIr or kEq, index from 0) and its name
  // (szName: "I2C init bank 1", "AGC/IR", "EQ bank 2").
  EMapArea eBank = EMapArea::kUnused;
  int nBank = 0;
  // kBytes: the range, inclusive.
  size_t nFrom = 0, nTo = 0;
};

// The differences of b against a: the EEPROM types when the sizes differ;
// each setting (and the second record terminal) whose value differs; each
// bank present on one side only or with other bytes; the byte ranges where
// header bits outside every setting, or bytes behind the banks, differ.
// Empty when the images hold the same.
// bIgnorePerBoard leaves out the fields each board has of its own (the
// serial and its switch), for a board against its golden image.
std::vector<DIFF_ENTRY> CompareImages(COMPARE_SIDE a, COMPARE_SIDE b, bool bIgnorePerBoard = false);

// The bytes of the map's image (side a of the comparison) that an entry
// stands for: the setting's bits, the bank, the range. A bank side a does
// not have, and the EEPROM type, mark nothing.
std::vector<bool> DiffEntryBytes(const CImageMap& map, const DIFF_ENTRY& entry);

}  // namespace qrt::image
