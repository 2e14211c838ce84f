#pragma once
// The settings record decoded from the 256-byte general configuration block
// at the start of every QRT4250 EEPROM image. A plain value: copied whole.
#include <cstdint>

struct _INTERNAL_OPT {
  uint8_t btSignature;               // header byte 0x00
  uint8_t btConfig1;                 // header byte 0x01
  uint16_t wVID;                     // 0x18 (low), 0x19 (high)
  uint16_t wPID;                     // 0x1A (low), 0x1B (high)
  uint8_t btVIDRaw[2];               // bytes 0x18, 0x19 as read
  uint8_t btPIDRaw[2];               // bytes 0x1A, 0x1B as read
  uint8_t szStringArea[64];          // 0x22-0x59 as read, then zeros
  uint8_t szProduct[64];             // product string bytes, zero-padded
  uint8_t szManufacturer[64];        // manufacturer string bytes, zero-padded
  uint8_t btSerialNumber[6];         // 0x1C-0x21
  uint8_t btPlayVolume;              // register code 0-63
  uint8_t btRecordVolume;            // register code 0-63
  uint8_t btMixVolume;               // register code 0-63
  uint8_t btMaxPowerGain1;           // headphone output power item 0-63 (not XOR-ed)
  uint8_t btMixMute;                 // flag
  uint8_t btPlayTerminalHi;          // digit 0-15
  uint8_t btRecord2TerminalHi;       // digit 0-15
  uint8_t btRecordTerminalHi;        // digit 0-15
  uint8_t btHpfMode;                 // byte 0xB5 bits 4-5 as 0-3; read only
  uint8_t btProductLen;              // product string length + 1
  uint8_t btManufacturerLen;         // manufacturer string length + 1
  uint8_t btHpfREnable;              // 1 = filter R on (bit 0xB5.5 = 0)
  uint8_t btHpfLEnable;              // 1 = filter L on (bit 0xB5.4 = 1)
  uint8_t btPlayTerminalLo;          // digit 0-15
  uint8_t btRecord2TerminalLo;       // digit 0-15
  uint8_t btRecordTerminalLo;        // digit 0-15
  uint8_t btProductStringCtrl;       // flag
  uint8_t btSerialNumberCtrl;        // flag
  uint8_t btManufacturerStringCtrl;  // flag
  uint8_t btMicBoostCtrl;            // flag
  uint8_t btMicBoostDefault;         // flag
  uint8_t btGainA;                   // 0-3
  uint8_t btGainB;                   // 0-7
  uint8_t btGainC;                   // 0-7
};

// Natural alignment leaves no padding: 232 bytes in declaration order.
static_assert(sizeof(_INTERNAL_OPT) == 232, "record layout");

// Offsets and limits of the general configuration block.
namespace qrt::image {
inline constexpr unsigned kHeaderSize = 256;
inline constexpr unsigned kStringAreaStart = 0x22;
inline constexpr unsigned kStringAreaEnd = 0x59;  // last byte of the area
inline constexpr unsigned kStringAreaSize = kStringAreaEnd - kStringAreaStart + 1;  // 56
inline constexpr unsigned kMaxImageSize = 2048;                                     // 24C16
inline constexpr unsigned kRomBufferSize = 4096;  // image and load buffers

// True when byte 0 is 0xC7 and byte 1 has bits 5 and 6 set.
inline bool HasQrtSignature(uint8_t bt0, uint8_t bt1) {
  return bt0 == 0xC7 && (bt1 & 0x60) == 0x60;
}
}  // namespace qrt::image
