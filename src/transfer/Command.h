#pragma once
// Commands a production line runs beside its boards: the site's own serial
// source and the hooks before and after each board. A command is run
// directly (never through a shell unless its words name one), with the
// user's rights, its output collected and a time limit.
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "SerialCounter.h"

namespace qrt::transfer {

// "label-print --copies 2 'Line 7'" into its words: blanks separate them,
// single or double quotes keep blanks inside one, a backslash takes the next
// character as it is (not on Windows, where it separates folders). False with szError for an unclosed quote or no words.
bool SplitCommand(const std::string& szCommand, std::vector<std::string>& vWords,
                  std::string& szError);

constexpr size_t kMaxCommandOutput = 64 * 1024;

struct COMMAND_RESULT {
  bool bStarted = false;   // false: it could not be run (szOutput says why)
  bool bTimedOut = false;  // killed at the time limit
  int nExit = -1;          // its exit status; -1 when it did not exit by itself
  std::string szOutput;    // its standard output and error, at most 64 KiB
  bool Succeeded() const { return bStarted && !bTimedOut && nExit == 0; }
};

// Runs vWords[0] (looked up in PATH) with the rest as its arguments and
// these variables added to the environment, stdin empty. Waits at most
// nTimeOutMs, then kills it.
COMMAND_RESULT RunCommand(const std::vector<std::string>& vWords,
                          const std::map<std::string, std::string>& env, int nTimeOutMs);

namespace platform {
// The OS's half of RunCommand, given at least one word.
COMMAND_RESULT RunCommandWords(const std::vector<std::string>& vWords,
                               const std::map<std::string, std::string>& env, int nTimeOutMs);
}  // namespace platform

// What a command's failure says: "exit status 2: <output>", "killed after
// 10 s", "cannot run it: <why>"; the output's first 200 characters, its
// line ends as blanks.
std::string CommandFailureText(const COMMAND_RESULT& result, int nTimeOutMs);

// A site's own system hands out the serials: the command prints the next
// one as 12 hex digits. Anything else (another output, a failure, the time
// limit) refuses the board with the command's message; the run goes on.
class CSerialCommand : public qrt::production::ISerialSource {
 public:
  CSerialCommand(std::vector<std::string> vWords, std::map<std::string, std::string> env,
                 int nTimeOutMs)
      : m_vWords(std::move(vWords)), m_Env(std::move(env)), m_nTimeOutMs(nTimeOutMs) {}
  qrt::production::ESerialResult Allocate(uint64_t& qwSerial, std::string& szError) override;

 private:
  std::vector<std::string> m_vWords;
  std::map<std::string, std::string> m_Env;
  int m_nTimeOutMs;
  std::mutex m_Mutex;  // one request at a time, in the boards' order
};

}  // namespace qrt::transfer
