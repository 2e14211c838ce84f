#pragma once
// A production log read back: its JSON lines, and the boards' lines alone.
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qrt::test {

// The production log's lines: each run's start line (with "event") and one
// line per board.
inline std::vector<nlohmann::json> LogLines(const std::string& szPath) {
  std::ifstream log(szPath);
  std::vector<nlohmann::json> lines;
  for (std::string s; std::getline(log, s);) lines.push_back(nlohmann::json::parse(s));
  return lines;
}

// Only the boards' lines of the log; those of one run (boards programmed
// at once finish in any order) by path, a board's attempts in their order.
inline std::vector<nlohmann::json> BoardLines(const std::string& szPath) {
  std::vector<nlohmann::json> lines;
  size_t nRunStart = 0;
  for (nlohmann::json& j : LogLines(szPath)) {
    if (j.contains("event")) {
      nRunStart = lines.size();
      continue;
    }
    lines.push_back(std::move(j));
    std::stable_sort(lines.begin() + static_cast<std::ptrdiff_t>(nRunStart), lines.end(),
                     [](const nlohmann::json& a, const nlohmann::json& b) {
                       return a["path"].get<std::string>() < b["path"].get<std::string>();
                     });
  }
  return lines;
}

}  // namespace qrt::test
