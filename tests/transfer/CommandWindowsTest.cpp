// The hooks' runner on Windows: words quoted back as the C runtime splits
// them, the added variables seen, output and exit status kept, the time
// limit kills, a missing program said; paths keep their backslashes.
#include <gtest/gtest.h>

#include "Command.h"

namespace qrt::transfer {
namespace {

TEST(CommandWindows, RunsTheWordsWithTheBoardsFacts) {
  const struct {
    std::vector<std::string> vWords;
    bool bSucceeds;
    int nExit;           // -1: not checked
    const char* pszOut;  // in the output; nullptr: not checked
  } cases[] = {
      {{"cmd", "/c", "echo %QRT_SERIAL%"}, true, 0, "0000000000AB"},
      {{"cmd", "/c", "echo label jammed& exit 2"}, false, 2, "label jammed"},
      {{"no-such-program-qrt.exe"}, false, -1, "no-such-program-qrt.exe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vWords.back());
    const COMMAND_RESULT result = RunCommand(c.vWords, {{"QRT_SERIAL", "0000000000AB"}}, 10000);
    EXPECT_EQ(result.Succeeded(), c.bSucceeds) << result.szOutput;
    if (c.nExit >= 0) {
      EXPECT_EQ(result.nExit, c.nExit);
    }
    if (c.pszOut != nullptr) {
      EXPECT_NE(result.szOutput.find(c.pszOut), std::string::npos) << result.szOutput;
    }
  }
  const COMMAND_RESULT slow =
      RunCommand({"cmd", "/c", "for /L %i in (1,1,100000000) do @rem"}, {}, 200);
  EXPECT_TRUE(slow.bStarted && slow.bTimedOut);

  // Windows paths keep their backslashes.
  std::vector<std::string> vWords;
  std::string szError;
  ASSERT_TRUE(SplitCommand(R"("C:\Program Files\label.exe" C:\jobs\a.txt)", vWords, szError));
  EXPECT_EQ(vWords,
            (std::vector<std::string>{R"(C:\Program Files\label.exe)", R"(C:\jobs\a.txt)"}));
}

}  // namespace
}  // namespace qrt::transfer
