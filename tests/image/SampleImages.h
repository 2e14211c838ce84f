#pragma once
// Sample images for the tests and for tests/data (make_samples writes them there).
// Built from the default header so they carry a valid signature.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qrt::test {

// The 256-byte default header.
std::vector<uint8_t> DefaultImage();

// Bank layout of a sample image.
struct CBankLayout {
  int nI2C = 0;        // I2C initialisation banks (need bAgc: the AGC/IR bank ends the list)
  bool bAgc = false;   // an AGC/IR bank behind them, announced by 0x8F bits 7 + 4
  int nEq = 0;         // EQ extension banks behind the AGC/IR bank (0x8D bit 0)
  size_t nSize = 512;  // image size; 0xFF after the banks
};

// The default header with the given banks. I2C bank i holds bytes 0x10*(i+1)
// + k (byte 31 bit 7 clear); the AGC/IR bank is SampleAgcBank(); EQ bank i
// has value0 = 0x100 + i, byte14 = 0x40 + i, the last one lastBank = 1.
std::vector<uint8_t> ImageWithBanks(const CBankLayout& layout);

// An AGC/IR bank that differs from the default and has every reserved bit
// set the "wrong" way: byte 5 and 7 bits 0-1 set, byte 10 bits 6-7 set,
// byte 31 = 0x80 (bits 0-6 clear). IR enable 1, NEC IR GPO number 5.
std::vector<uint8_t> SampleAgcBank();

// Byte 31 bit 7 clear in I2C bank i.
std::vector<uint8_t> SampleI2CBank(int i);
// Raw 16 bytes of EQ bank i (bLast sets byte 15 bit 7).
std::vector<uint8_t> SampleEqBank(int i, bool bLast);

// An image that loads, made from nSeed alone (the same bytes on every
// platform): the signature and random bytes everywhere else, length fields
// and bank announcements included; one of the four EEPROM sizes or, now and
// then, another length from 2 to 2048. Every other image carries a bank
// layout as the tool writes it under a random header.
std::vector<uint8_t> RandomLoadableImage(uint32_t nSeed);

}  // namespace qrt::test
