#pragma once
// A fresh folder under the system's temp folder, for tests that are not about
// POSIX behaviour and run on Windows too (mkdtemp is POSIX only), and the
// whole of a file.
#include <cstddef>
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

// Writes the bytes as the whole file.
inline void WriteWholeFile(const std::filesystem::path& path, const std::string& szBytes) {
  std::ofstream(path, std::ios::binary) << szBytes;
}

// A fresh folder for one test, removed with everything in it afterwards.
class CTempDir {
 public:
  explicit CTempDir(const std::string& szPrefix = "qrt-test-")
      : m_szPath(MakeTestDirectory(szPrefix).string()) {}
  ~CTempDir() {
    std::error_code ec;
    if (!m_szPath.empty()) std::filesystem::remove_all(m_szPath, ec);
  }
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;

  const std::string& Path() const { return m_szPath; }
  std::string File(const std::string& szName) const { return m_szPath + "/" + szName; }
  std::string operator/(const std::string& szName) const { return File(szName); }
  // Writes the bytes to a file of the folder; returns its path.
  std::string Write(const std::string& szName, const std::string& szContent) const {
    const std::string szFile = File(szName);
    WriteWholeFile(szFile, szContent);
    return szFile;
  }
  // Entries in the folder.
  size_t Count() const {
    return static_cast<size_t>(
        std::distance(std::filesystem::directory_iterator(m_szPath), {}));
  }

 private:
  std::string m_szPath;
};

}  // namespace qrt::test
