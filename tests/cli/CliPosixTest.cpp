// qrt4250-cli as a program on Linux: what only a POSIX system can show.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

// The program's own stdout, not only the stream the tests hand in: a full
// disk (/dev/full) fails the command.
TEST(CliProgram, FullStandardOutputExitsOne) {
  const std::string cli = QRT_CLI_PATH;
  const int nFull = std::system((cli + " show --builtin --json >/dev/full 2>/dev/null").c_str());
  EXPECT_EQ(WIFEXITED(nFull) ? WEXITSTATUS(nFull) : -1, 1);
}
