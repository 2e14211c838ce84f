#include "OutputPath.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

namespace qrt::diag::platform {
namespace {

constexpr int kMaxLinks = 40;  // as the kernel allows

// The parts of a path between its slashes, empty ones and "." left out.
void PushParts(const std::string& szPath, std::deque<std::string>& qParts) {
  std::vector<std::string> vParts;
  size_t nStart = 0;
  while (nStart <= szPath.size()) {
    size_t nEnd = szPath.find('/', nStart);
    if (nEnd == std::string::npos) nEnd = szPath.size();
    std::string szPart = szPath.substr(nStart, nEnd - nStart);
    if (!szPart.empty() && szPart != ".") vParts.push_back(std::move(szPart));
    nStart = nEnd + 1;
  }
  qParts.insert(qParts.begin(), vParts.begin(), vParts.end());
}

bool ReadLink(const std::string& szLink, size_t nSize, std::string& szTarget) {
  std::vector<char> buffer(nSize + 1);
  const ssize_t n = ::readlink(szLink.c_str(), buffer.data(), buffer.size());
  if (n < 0 || static_cast<size_t>(n) > nSize) return false;
  szTarget.assign(buffer.data(), static_cast<size_t>(n));
  return !szTarget.empty();
}

}  // namespace

bool ResolveOutputPath(const std::string& szPath, std::string& szResolved, std::string& szError) {
  if (szPath.empty()) {
    szError = "empty path";
    return false;
  }
  // What is resolved so far: no links, no trailing slash ("" is the root).
  std::string szDone;
  if (szPath[0] != '/') {
    std::unique_ptr<char, decltype(&std::free)> pCwd(::getcwd(nullptr, 0), &std::free);
    if (!pCwd) {
      szError = std::string("the current folder: ") + std::strerror(errno);
      return false;
    }
    szDone = pCwd.get();
    if (szDone == "/") szDone.clear();
  }
  std::deque<std::string> qParts;
  PushParts(szPath, qParts);
  int nLinks = 0;
  while (!qParts.empty()) {
    const std::string szPart = qParts.front();
    qParts.pop_front();
    if (szPart == "..") {
      szDone.erase(std::min(szDone.size(), szDone.rfind('/')));
      continue;
    }
    const std::string szNext = szDone + "/" + szPart;
    const bool bLast = qParts.empty();
    struct stat st {};
    if (::lstat(szNext.c_str(), &st) != 0) {
      if (errno == ENOENT && bLast) {
        szDone = szNext;
        break;
      }
      szError = std::strerror(errno);
      return false;
    }
    if (S_ISLNK(st.st_mode)) {
      const std::string szFolder = szDone.empty() ? "/" : szDone;
      struct stat stFolder {};
      if (::lstat(szFolder.c_str(), &stFolder) != 0) {
        szError = std::strerror(errno);
        return false;
      }
      const bool bShared = (stFolder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
      if (bShared && st.st_uid != ::geteuid() && st.st_uid != stFolder.st_uid) {
        szError = szNext + " is a link of another user in the shared folder " + szFolder +
                  "; not followed";
        return false;
      }
      std::string szTarget;
      if (++nLinks > kMaxLinks || !ReadLink(szNext, PATH_MAX, szTarget)) {
        szError = std::strerror(nLinks > kMaxLinks ? ELOOP : errno);
        return false;
      }
      if (szTarget[0] == '/') szDone.clear();
      PushParts(szTarget, qParts);
      continue;
    }
    if (!bLast && !S_ISDIR(st.st_mode)) {
      szError = std::strerror(ENOTDIR);
      return false;
    }
    szDone = szNext;
  }
  szResolved = szDone.empty() ? "/" : szDone;
  return true;
}

}  // namespace qrt::diag::platform
