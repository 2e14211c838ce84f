#include "Command.h"

#include <algorithm>
#include <cstdio>

namespace qrt::transfer {

// A backslash is a folder separator in Windows paths (C:\tools\label.exe),
// so only quotes group words there.
#ifdef _WIN32
constexpr bool kBackslashEscapes = false;
#else
constexpr bool kBackslashEscapes = true;
#endif

bool SplitCommand(const std::string& szCommand, std::vector<std::string>& vWords,
                  std::string& szError) {
  vWords.clear();
  std::string szWord;
  bool bInWord = false;
  char cQuote = 0;
  for (size_t i = 0; i < szCommand.size(); ++i) {
    const char c = szCommand[i];
    if (cQuote != 0) {
      if (c == cQuote) {
        cQuote = 0;
      } else {
        szWord += c;
      }
    } else if (c == '\'' || c == '"') {
      cQuote = c;
      bInWord = true;
    } else if (kBackslashEscapes && c == '\\' && i + 1 < szCommand.size()) {
      szWord += szCommand[++i];
      bInWord = true;
    } else if (c == ' ' || c == '\t') {
      if (bInWord) vWords.push_back(szWord);
      szWord.clear();
      bInWord = false;
    } else {
      szWord += c;
      bInWord = true;
    }
  }
  if (cQuote != 0) {
    szError = "unclosed quote in the command: " + szCommand;
    return false;
  }
  if (bInWord) vWords.push_back(szWord);
  if (vWords.empty()) {
    szError = "the command is empty";
    return false;
  }
  return true;
}

namespace {

// A command's output on one line: its first 200 characters, line ends as
// blanks.
std::string OutputLine(const std::string& szOutput) {
  std::string sz = szOutput.substr(0, 200);
  std::replace_if(sz.begin(), sz.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  while (!sz.empty() && sz.back() == ' ') sz.pop_back();
  return sz;
}

}  // namespace

COMMAND_RESULT RunCommand(const std::vector<std::string>& vWords,
                          const std::map<std::string, std::string>& env, int nTimeOutMs) {
  if (vWords.empty()) {
    COMMAND_RESULT result;
    result.szOutput = "the command is empty";
    return result;
  }
  return platform::RunCommandWords(vWords, env, nTimeOutMs);
}

std::string CommandFailureText(const COMMAND_RESULT& result, int nTimeOutMs) {
  const std::string szOutput = OutputLine(result.szOutput);
  if (!result.bStarted) return "cannot run it: " + szOutput;
  char szLimit[32];
  std::snprintf(szLimit, sizeof(szLimit), "%g", nTimeOutMs / 1000.0);
  std::string szText = result.bTimedOut ? "killed after " + std::string(szLimit) + " s"
                                        : "exit status " + std::to_string(result.nExit);
  return szOutput.empty() ? szText : szText + ": " + szOutput;
}

qrt::production::ESerialResult CSerialCommand::Allocate(uint64_t& qwSerial,
                                                        std::string& szError) {
  std::lock_guard<std::mutex> guard(m_Mutex);
  const COMMAND_RESULT result = RunCommand(m_vWords, m_Env, m_nTimeOutMs);
  if (!result.Succeeded()) {
    szError = "--serial-command: " + CommandFailureText(result, m_nTimeOutMs);
    return qrt::production::ESerialResult::kRefused;
  }
  std::string szOut = result.szOutput;
  while (!szOut.empty() && (szOut.back() == '\n' || szOut.back() == '\r')) szOut.pop_back();
  if (!qrt::production::ParseSerial(szOut, qwSerial)) {
    szError = "--serial-command printed no serial of 12 hex digits: \"" +
              OutputLine(result.szOutput) + "\"";
    return qrt::production::ESerialResult::kRefused;
  }
  return qrt::production::ESerialResult::kOk;
}

}  // namespace qrt::transfer
