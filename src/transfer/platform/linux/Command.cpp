#include "Command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace qrt::transfer {

COMMAND_RESULT platform::RunCommandWords(const std::vector<std::string>& vWords,
                                         const std::map<std::string, std::string>& env,
                                         int nTimeOutMs) {
  COMMAND_RESULT result;
  // The environment: the process's own with these added or replaced.
  std::vector<std::string> vEnv;
  for (char** pp = environ; *pp != nullptr; ++pp) {
    const std::string szVar = *pp;
    if (env.count(szVar.substr(0, szVar.find('='))) == 0) vEnv.push_back(szVar);
  }
  for (const auto& [szName, szValue] : env) vEnv.push_back(szName + "=" + szValue);
  std::vector<char*> vEnvp;
  for (std::string& s : vEnv) vEnvp.push_back(s.data());
  vEnvp.push_back(nullptr);
  std::vector<std::string> vArgs = vWords;
  std::vector<char*> vArgv;
  for (std::string& s : vArgs) vArgv.push_back(s.data());
  vArgv.push_back(nullptr);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    result.szOutput = std::strerror(errno);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  // Its own process group, so the time limit kills what it started too.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attr, 0);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);  // not the run's held-back interrupts
  pid_t pid = 0;
  const int nSpawn =
      posix_spawnp(&pid, vArgv[0], &actions, &attr, vArgv.data(), vEnvp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(fds[1]);
  if (nSpawn != 0) {
    close(fds[0]);
    result.szOutput = vWords[0] + ": " + std::strerror(nSpawn);
    return result;
  }
  result.bStarted = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeOutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.bTimedOut = true;
      break;
    }
    pollfd pfd{fds[0], POLLIN, 0};
    const int nReady = poll(&pfd, 1, static_cast<int>(left.count()));
    if (nReady < 0 && errno == EINTR) continue;
    if (nReady <= 0) continue;
    char buf[4096];
    const ssize_t n = read(fds[0], buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // every writer closed: it ended (or closed its output)
    const size_t nTake = std::min(static_cast<size_t>(n), kMaxCommandOutput - std::min(kMaxCommandOutput, result.szOutput.size()));
    result.szOutput.append(buf, nTake);
  }
  close(fds[0]);
  int nStatus = 0;
  if (result.bTimedOut) {
    kill(-pid, SIGKILL);
    waitpid(pid, &nStatus, 0);
    return result;
  }
  // Its output closed; it may still run (a daemon it started keeps none).
  for (;;) {
    const pid_t r = waitpid(pid, &nStatus, WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) return result;
    if (std::chrono::steady_clock::now() >= deadline) {
      result.bTimedOut = true;
      kill(-pid, SIGKILL);
      waitpid(pid, &nStatus, 0);
      return result;
    }
    poll(nullptr, 0, 5);
  }
  if (WIFEXITED(nStatus)) result.nExit = WEXITSTATUS(nStatus);
  return result;
}

}  // namespace qrt::transfer
