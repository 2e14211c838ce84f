#pragma once
// Runs a check in a forked child that has its own mount namespace with fresh
// tmpfs on /run and /tmp, so tests of the default lock folders never touch
// the machine's /run/lock or /tmp. Needs root (CAP_SYS_ADMIN).
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace qrt::test {

// The child's result (fnCheck's return value, 0-199), or -1 when the private
// mounts could not be made (the caller skips the test then).
inline int RunWithPrivateRunAndTmp(const std::function<int()>& fnCheck) {
  constexpr int kNoNamespace = 200;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0 ||
        ::mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0 ||
        ::mkdir("/run/lock", 01777) != 0 || ::chmod("/run/lock", 01777) != 0) {
      ::_exit(kNoNamespace);
    }
    ::_exit(fnCheck());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 255;
  return WEXITSTATUS(status) == kNoNamespace ? -1 : WEXITSTATUS(status);
}

}  // namespace qrt::test
