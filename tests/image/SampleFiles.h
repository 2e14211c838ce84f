#pragma once
// The files of tests/data: name and bytes, shared by the generator and the
// test that checks the committed files are current.
#include <cstdint>
#include <string>
#include <vector>

#include "ImageFiles.h"
#include "SampleImages.h"

namespace qrt::test {

struct CSampleFile {
  std::string szName;
  std::vector<uint8_t> bytes;  // file content (hex text for .hex)
};

inline std::vector<CSampleFile> SampleFiles() {
  const auto def = DefaultImage();
  const auto banks = ImageWithBanks({2, true, 2, 512});
  const auto toFile = [](const std::vector<uint8_t>& img, bool bHex) {
    if (!bHex) return img;
    const std::string s = qrt::image::EncodeHexText(img.data(), img.size());
    return std::vector<uint8_t>(s.begin(), s.end());
  };
  return {
      {"default-24c02.bin", toFile(def, false)},
      {"default-24c02.hex", toFile(def, true)},
      {"banks-24c04.bin", toFile(banks, false)},
      {"banks-24c04.hex", toFile(banks, true)},
  };
}

}  // namespace qrt::test
