#pragma once
// Byte sets as the image map hands them out (one flag per byte), turned into
// the list of offsets a test compares.
#include <cstddef>
#include <vector>

namespace qrt::test {

inline std::vector<size_t> SetOffsets(const std::vector<bool>& vFlags) {
  std::vector<size_t> vOut;
  for (size_t i = 0; i < vFlags.size(); ++i) {
    if (vFlags[i]) vOut.push_back(i);
  }
  return vOut;
}

}  // namespace qrt::test
