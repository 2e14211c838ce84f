#pragma once
// A fresh folder under the system's temp folder, for tests that are not about
// POSIX behaviour and run on Windows too (mkdtemp is POSIX only).
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace qrt::test {

// Returns the new folder's path, or an empty path when none could be made.
inline std::filesystem::path MakeTestDirectory(const std::string& szPrefix) {
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) return {};
  std::random_device device;
  std::mt19937_64 random(device());
  for (int nTry = 0; nTry < 100; ++nTry) {
    const std::filesystem::path path = base / (szPrefix + std::to_string(random() % 1000000000));
    // create_directory is false for a folder that exists already: try another name.
    if (std::filesystem::create_directory(path, ec)) return path;
  }
  return {};
}

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

}  // namespace qrt::test
