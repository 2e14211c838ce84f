#pragma once
// A fresh directory under the temp folder for one test, removed afterwards.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class CTempDir {
 public:
  CTempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "qrt-test-XXXXXX").string();
    if (::mkdtemp(templ.data()) != nullptr) m_szPath = templ;
  }
  ~CTempDir() {
    std::error_code ec;
    if (!m_szPath.empty()) std::filesystem::remove_all(m_szPath, ec);
  }
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;

  const std::string& Path() const { return m_szPath; }
  std::string File(const std::string& name) const { return m_szPath + "/" + name; }

  std::string Write(const std::string& name, const std::string& content) const {
    std::string path = File(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

 private:
  std::string m_szPath;
};
