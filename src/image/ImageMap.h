#pragma once
// The map of an image: for every byte, which setting, bank or area its bits
// belong to, and what that part means. Built from the field table and the
// bank layout the accept sequence reads, so the window's map and
// qrt4250-cli show --map render the same annotation. Qt-free.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "FieldModel.h"
#include "ImageSession.h"

namespace qrt::image {

// What the bits of a byte are.
enum class EMapArea : uint8_t {
  kField,       // a row of the field table owns them
  kHeader,      // header bits no row owns: chip configuration kept as loaded
  kBankHeader,  // 0x8D-0x8F: where the banks are and which are present
  kStringArea,  // string area behind the two strings
  kI2CInit,     // an I2C initialisation bank
  kAgcIr,       // the AGC/IR bank
  kEq,          // an EQ extension bank
  kUnused,      // behind the banks: 0xFF in images the tool builds
};

// One owner of some bits of one byte.
struct MAP_PART {
  EMapArea eArea = EMapArea::kUnused;
  const FIELD_DEF* pField = nullptr;  // kField: the row
  int nBank = 0;                      // bank areas: index in its list (0 first)
  uint32_t dwStart = 0;               // first byte of the bank (bank areas)
  uint8_t btMask = 0;                 // the bits of the byte it owns
};

// A map part's owner, the same for every byte of it.
bool SameOwner(const MAP_PART& a, const MAP_PART& b);

// Consecutive bytes whose bits one owner holds with the same mask.
struct MAP_RUN {
  size_t nFrom;
  size_t nTo;  // inclusive
  MAP_PART Part;
};

class CImageMap {
 public:
  // Annotates the n bytes of an image as the accept sequence reads them:
  // header fields by the table (the strings by their length fields), the
  // banks the header announces and that lie inside the n bytes, the rest
  // unused. Refused images (see ApplyLoadedImage) leave the map empty.
  EApplyResult Build(const uint8_t* p, size_t n);

  size_t Size() const { return m_vBytes.size(); }
  const std::vector<uint8_t>& Bytes() const { return m_vBytes; }
  // The owners of byte nOffset (below Size()), highest bits first; their
  // masks are disjoint and together 0xFF.
  std::span<const MAP_PART> Parts(size_t nOffset) const;
  // The owner of most of the byte's bits (of the highest bit on a tie).
  const MAP_PART& MainPart(size_t nOffset) const;
  // The runs of the whole map in byte order (for a byte with several owners,
  // highest bits first).
  std::vector<MAP_RUN> Runs() const;

  // The session that accepted the bytes: decoded record, banks, size.
  CImageSession& Session() { return m_Session; }
  const _INTERNAL_OPT& Record() const { return m_Session.m_RecInternalOpt; }

  // The bytes one setting's bits lie in: the rows set through it (the
  // terminal digits for a device list, the length field for a string).
  std::vector<bool> FieldBytes(const FIELD_DEF& def) const;
  // The bytes of bank nBank of an area (kI2CInit, kAgcIr, kEq).
  std::vector<bool> BankBytes(EMapArea eArea, int nBank) const;

 private:
  std::vector<uint8_t> m_vBytes;
  std::vector<MAP_PART> m_vParts;
  std::vector<size_t> m_vFirstPart;  // Size() + 1 entries into m_vParts
  CImageSession m_Session;
};

// The owner's name: the set name of a field (its record member where set
// has none), "I2C init bank 2", "AGC/IR bank", "EQ bank 1", "header",
// "bank header", "string area", "unused".
std::string MapPartName(const MAP_PART& part);
// What the part holds, for people: a field's value as diff shows it (for
// terminal digits also the list item they make), the AGC/IR bank's NEC IR
// GPO digit and IR enable bit; empty for the other areas.
std::string MapPartValue(const CImageMap& map, const MAP_PART& part);
// "bits 4-7", "bit 0", "bits 0-3, 7"; empty for the whole byte.
std::string MaskText(uint8_t btMask);
// The part's colour as 0xRRGGBB: a field's from its row of the table (light
// tones, black text reads on all of them), each area its own; neighbouring
// banks alternate two shades.
uint32_t MapColour(const MAP_PART& part);
// The areas in the order a legend lists them (kField last: one entry a row).
std::span<const EMapArea> MapAreas();

// The image the window's map shows and show --map prints: the session's
// image as a save would write it now. When the output sequence refuses the
// session's layout, the image as held (its size) and that refusal.
EBuildResult CurrentImage(const CImageSession& session, std::vector<uint8_t>& vImage);

}  // namespace qrt::image
