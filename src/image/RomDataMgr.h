#pragma once
// The EEPROM image held in memory and the codec of its general configuration
// block. Decoding reads only the header; encoding is read-modify-write, so
// header bits the record does not own keep the loaded image's values.
#include <cstddef>
#include <cstdint>

#include "InternalOpt.h"

// Holds one settings record. The record is undefined until the first decode
// or copy-in. Every operation returns 0.
class CGenConfigMgr {
 public:
  int GetGenConfig(_INTERNAL_OPT* pDest) const;
  int SetGenConfig(const _INTERNAL_OPT* pSrc);
  // Decodes the header of pImage (at least 256 bytes) into the held record.
  // Never reads outside 0x00-0xFF whatever the length fields hold.
  int ParseRomData(const uint8_t* pImage);
  // Encodes the held record into the header of pImage (at least 256 bytes).
  // Strings never reach beyond 0x59 whatever the record holds.
  int BuildRomData(uint8_t* pImage) const;

 private:
  _INTERNAL_OPT m_Rec;
};

// The 4096-byte image buffer. Bytes beyond those last placed read 0xFF.
class CRomDataMgr {
 public:
  CRomDataMgr();

  // Fills the buffer with 0xFF and copies n bytes to its start; n is cut to
  // 4096. Returns 0.
  int SetRomData(const uint8_t* pSrc, size_t n);
  // Copies the first 2048 image bytes to pDest (room for 2048). Returns 0.
  int GetRomData(uint8_t* pDest) const;
  int GetGenConfig(_INTERNAL_OPT* pDest) const { return m_GenConfig.GetGenConfig(pDest); }
  int SetGenConfig(const _INTERNAL_OPT* pSrc) { return m_GenConfig.SetGenConfig(pSrc); }
  // Decodes the own header into the held record. Returns 0.
  int ParseGenConfig();
  // Encodes the held record into the own header. Returns 0.
  int BuildGenConfig();

  // The whole 4096-byte buffer, read only.
  const uint8_t* Data() const { return m_btRomData; }

 private:
  uint8_t m_btRomData[qrt::image::kRomBufferSize];
  CGenConfigMgr m_GenConfig;
};

namespace qrt::image {
// The 256-byte header the tool starts with (no banks).
extern const uint8_t g_btDefaultImage[kHeaderSize];
}  // namespace qrt::image
