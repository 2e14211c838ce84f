#include "FileReplace.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "OutputPath.h"

namespace qrt::image {

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kDeclined = 2;

int Fail(std::string* pszError, const std::string& szWhy) {
  if (pszError != nullptr) *pszError = szWhy;
  return kFailed;
}

int FailErrno(std::string* pszError, int nErrno) {
  return Fail(pszError, std::strerror(nErrno));
}

bool WriteAllAt0(int fd, const uint8_t* p, size_t n) {
  if (::lseek(fd, 0, SEEK_SET) != 0) return false;
  while (n > 0) {
    const ssize_t k = ::write(fd, p, n);
    if (k < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

void SyncFolder(const std::string& szDir) {
  const int fd = ::open(szDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // some file systems cannot sync a folder; the rename stands
  ::close(fd);
}

// The file where the bytes must end up: szPath with its links followed, by
// the rule the kernel applies to links in shared folders. Empty with
// pszError set when a link is refused or leads nowhere, or when that is not
// a regular file.
std::string ResolveTarget(const std::string& szPath, bool& bExists, struct stat& st,
                          std::string* pszError) {
  bExists = false;
  std::string szTarget, szWhy;
  if (!qrt::diag::platform::ResolveOutputPath(szPath, szTarget, szWhy)) {
    Fail(pszError, szWhy);
    return {};
  }
  if (::lstat(szTarget.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      FailErrno(pszError, errno);
      return {};
    }
    struct stat stLink {};
    if (::lstat(szPath.c_str(), &stLink) == 0 && S_ISLNK(stLink.st_mode)) {
      Fail(pszError, "the link points to a missing file");
      return {};
    }
    return szTarget;
  }
  if (!S_ISREG(st.st_mode)) {
    Fail(pszError, "not a regular file");
    return {};
  }
  bExists = true;
  return szTarget;
}

// Rewrites an open file in place: the fallback that keeps the owner.
int RewriteInPlace(int fd, const uint8_t* pData, size_t n, std::string* pszError) {
  bool bOk =
      WriteAllAt0(fd, pData, n) && ::ftruncate(fd, static_cast<off_t>(n)) == 0 && ::fsync(fd) == 0;
  const int nError = errno;
  if (::close(fd) != 0 && bOk) return FailErrno(pszError, errno);
  return bOk ? kOk : FailErrno(pszError, nError);
}

}  // namespace

int ReplaceFileContents(const std::string& szPath, const uint8_t* pData, size_t n,
                        const std::function<bool(const std::string&)>& fnConfirm,
                        std::string* pszError) {
  bool bExists = false;
  struct stat st {};
  const std::string szTarget = ResolveTarget(szPath, bExists, st, pszError);
  if (szTarget.empty()) return kFailed;
  if (bExists && fnConfirm && !fnConfirm(szPath)) return kDeclined;

  // The user's right to write the file itself decides, not the folder's.
  int fdTarget = -1;
  if (bExists) {
    fdTarget = ::open(szTarget.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fdTarget < 0) return FailErrno(pszError, errno);
  }

  const size_t nSlash = szTarget.find_last_of('/');
  const std::string szDir = nSlash == std::string::npos ? "." : szTarget.substr(0, nSlash + 1);
  std::string szPrefix =
      "." + (nSlash == std::string::npos ? szTarget : szTarget.substr(nSlash + 1));
  constexpr size_t kSuffix = 7;  // ".XXXXXX"
  if (szPrefix.size() + kSuffix > NAME_MAX) szPrefix.resize(NAME_MAX - kSuffix);
  std::string szTemplate =
      (nSlash == std::string::npos ? std::string() : szDir) + szPrefix + ".XXXXXX";
  std::vector<char> temp(szTemplate.begin(), szTemplate.end());
  temp.push_back('\0');
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    const int nError = errno;
    if (fdTarget >= 0) return RewriteInPlace(fdTarget, pData, n, pszError);
    return FailErrno(pszError, nError);
  }
  const std::string szTemp = temp.data();

  bool bOk = true;
  if (bExists) {
    struct stat stTemp {};
    if (::fstat(fd, &stTemp) != 0 || ((stTemp.st_uid != st.st_uid || stTemp.st_gid != st.st_gid) &&
                                      ::fchown(fd, st.st_uid, st.st_gid) != 0)) {
      // Not allowed to give the file its owner back: write in place.
      ::close(fd);
      ::unlink(szTemp.c_str());
      return RewriteInPlace(fdTarget, pData, n, pszError);
    }
    ::close(fdTarget);
    // After fchown, which clears set-id bits.
    bOk = ::fchmod(fd, st.st_mode & 07777) == 0;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bOk = ::fchmod(fd, 0666 & ~mask) == 0;
  }
  int nError = bOk ? 0 : errno;
  if (bOk && !(WriteAllAt0(fd, pData, n) && ::fsync(fd) == 0)) {
    nError = errno;
    bOk = false;
  }
  if (::close(fd) != 0 && bOk) {
    nError = errno;
    bOk = false;
  }
  if (bOk && ::rename(szTemp.c_str(), szTarget.c_str()) != 0) {
    nError = errno;
    bOk = false;
  }
  if (!bOk) {
    ::unlink(szTemp.c_str());
    return FailErrno(pszError, nError);
  }
  SyncFolder(szDir);
  return kOk;
}

}  // namespace qrt::image
