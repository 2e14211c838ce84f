#pragma once
// A fresh directory under the temp folder for one test, removed afterwards.
#include <filesystem>
#include <fstream>
#include <string>

#include "TestDirectory.h"

class CTempDir {
 public:
  CTempDir() {
    m_szPath = qrt::test::MakeTestDirectory("qrt-test-").string();
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
