#include "SampleImages.h"

#include <cstring>
#include <random>

#include "BankHeader.h"
#include "RomDataMgr.h"

namespace qrt::test {

std::vector<uint8_t> DefaultImage() {
  return std::vector<uint8_t>(qrt::image::g_btDefaultImage, qrt::image::g_btDefaultImage + 256);
}

std::vector<uint8_t> SampleAgcBank() {
  std::vector<uint8_t> b = {0xC1, 0x85, 0x44, 0x22, 0x07, 0xAB, 0x10, 0x6F, 0x0C, 0x08, 0xF2,
                            0x35, 0x0D, 0x77, 0x17, 0x01, 0x11, 0x33, 0x55, 0x77, 0x99, 0xBB,
                            0xDD, 0xFF, 0x17, 0x01, 0x11, 0x33, 0x55, 0x77, 0x5B, 0x80};
  return b;
}

std::vector<uint8_t> SampleI2CBank(int i) {
  std::vector<uint8_t> b(32);
  for (int k = 0; k < 32; ++k) b[k] = static_cast<uint8_t>(0x10 * (i + 1) + k);
  b[31] &= 0x7F;
  return b;
}

std::vector<uint8_t> SampleEqBank(int i, bool bLast) {
  const unsigned v0 = 0x100 + i, v1 = 0xABC, v2 = 0x123, v3 = 0xFED, v4 = 0x0F0;
  std::vector<uint8_t> b(16);
  b[0] = v0 & 0xFF;
  b[1] = static_cast<uint8_t>((v0 >> 8) | ((v1 & 0xF) << 4));
  b[2] = static_cast<uint8_t>(v1 >> 4);
  b[3] = v2 & 0xFF;
  b[4] = static_cast<uint8_t>((v2 >> 8) | ((v3 & 0xF) << 4));
  b[5] = static_cast<uint8_t>(v3 >> 4);
  b[6] = v4 & 0xFF;
  b[7] = static_cast<uint8_t>((v4 >> 8) | 0xA0);  // bit 7 and bit 5 flags
  for (int k = 8; k < 14; ++k) b[k] = static_cast<uint8_t>(0xE0 + k);
  b[14] = static_cast<uint8_t>(0x40 + i);
  b[15] = static_cast<uint8_t>((b[14] & 0x7F) | (bLast ? 0x80 : 0));
  return b;
}

std::vector<uint8_t> ImageWithBanks(const CBankLayout& l) {
  std::vector<uint8_t> img(l.nSize, 0xFF);
  std::memcpy(img.data(), qrt::image::g_btDefaultImage, 256);
  size_t at = 256;
  CBankHeader header(img.data());
  header.SetAgcIrBank(l.bAgc);
  if (l.bAgc) {
    header.SetBankRead(true);
    for (int i = 0; i < l.nI2C; ++i, at += 32) {
      const auto b = SampleI2CBank(i);
      std::memcpy(&img[at], b.data(), 32);
    }
    const auto agc = SampleAgcBank();
    std::memcpy(&img[at], agc.data(), 32);
    at += 32;
  }
  header.SetEqStart(at);
  header.SetEqBanks(l.nEq > 0);
  header.Write(img.data());
  if (l.nEq > 0) {
    for (int i = 0; i < l.nEq; ++i, at += 16) {
      const auto b = SampleEqBank(i, i == l.nEq - 1);
      std::memcpy(&img[at], b.data(), 16);
    }
  }
  return img;
}

std::vector<uint8_t> RandomLoadableImage(uint32_t nSeed) {
  // mt19937's sequence is fixed by the standard; the distributions are not,
  // so the draws are taken modulo by hand.
  std::mt19937 rng(nSeed);
  const auto draw = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  static const size_t kSizes[] = {256, 512, 1024, 2048};
  std::vector<uint8_t> img;
  if (draw(2) == 0) {
    CBankLayout l;
    l.bAgc = draw(2) == 0;
    l.nI2C = l.bAgc ? static_cast<int>(draw(4)) : 0;
    l.nEq = static_cast<int>(draw(4));
    l.nSize = kSizes[1 + draw(3)];
    img = ImageWithBanks(l);
    for (size_t i = 2; i < 256; ++i) {
      if (i < 0x8D || i > 0x8F) img[i] = static_cast<uint8_t>(draw(256));
    }
  } else {
    img.resize(draw(8) == 0 ? 2 + draw(2047) : kSizes[draw(4)]);
    for (uint8_t& bt : img) bt = static_cast<uint8_t>(draw(256));
    img[0] = 0xC7;
    img[1] |= 0x60;
  }
  return img;
}

}  // namespace qrt::test
