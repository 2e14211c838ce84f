#pragma once
// The chip's registers the host reaches through its reports: the I2C master
// that moves units between the EEPROM and the data registers, and the chip
// id. One list for the report protocol and the EEPROM procedures.
#include <cstdint>

namespace USB42XX_MGR {

inline constexpr uint16_t kRegControl = 0x0008;  // mode and address bits of a unit
inline constexpr uint16_t kRegData0 = 0x0009;
inline constexpr uint16_t kRegData1 = 0x000A;
inline constexpr uint16_t kRegCommand = 0x000B;  // 0xC0 write, 0x80 read; busy while set
inline constexpr uint16_t kRegEnable = 0x0100;   // bit 0: the I2C master is the host's
inline constexpr uint16_t kRegSlave = 0x0110;    // slave address; bits 2..0 the block
inline constexpr uint16_t kRegSpeed = 0x0111;
inline constexpr uint16_t kRegChipIdHigh = 0x7FF2;
inline constexpr uint16_t kRegChipIdLow = 0x7FF3;

}  // namespace USB42XX_MGR
