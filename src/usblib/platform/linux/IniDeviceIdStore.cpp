#include "IniDeviceIdStore.h"

#include <fcntl.h>
#include <ini.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "Trace.h"

namespace USB42XX_MGR {
namespace {

constexpr size_t kMaxValueBytes = 2048;
// A store file is a few lines; anything this large is not one.
constexpr long kMaxFileBytes = 1 << 20;

struct SParse {
  FILE* pFile = nullptr;
  long nBytesRead = 0;
  bool bTooLarge = false;
  // Set by the reader when the line it just handed over was cut short or
  // held a NUL byte; libinih calls the handler for that line before it asks
  // for the next one.
  bool bLineDamaged = false;
  std::map<std::string, std::map<std::string, std::pair<std::string, bool>>> sections;
};

int ReadChar(SParse& parse) {
  if (parse.nBytesRead >= kMaxFileBytes) {
    parse.bTooLarge = true;
    return EOF;
  }
  int c = std::fgetc(parse.pFile);
  if (c != EOF) ++parse.nBytesRead;
  return c;
}

// A header line libinih refuses: no ']' before the end of the line or before
// an inline comment (';' after a blank). libinih reports it and keeps the
// section before, so the values after it would join that section.
bool IsBrokenSectionHeader(const char* pszHeader) {
  bool bWasSpace = false;
  for (const char* p = pszHeader + 1; *p != '\0'; ++p) {
    if (*p == ']') return false;
    if (bWasSpace && *p == ';') return true;
    bWasSpace = std::isspace(static_cast<unsigned char>(*p)) != 0;
  }
  return true;
}

// libinih's reader: one line into str (at most num - 1 characters with the
// line feed). libinih would parse the rest of an over-long line as a line of
// its own, so the rest is skipped here and the line is flagged: the handler
// then marks the value it belongs to unreadable. A NUL byte, where libinih
// would silently end the line, is flagged the same way.
char* ReadLine(char* str, int num, void* stream) {
  SParse& parse = *static_cast<SParse*>(stream);
  parse.bLineDamaged = false;
  if (num < 8) return nullptr;
  size_t nMax = static_cast<size_t>(num) - 1;
  size_t n = 0;
  bool bEnded = false;
  int c = EOF;
  while (n < nMax && (c = ReadChar(parse)) != EOF) {
    if (c == '\0') parse.bLineDamaged = true;
    str[n++] = static_cast<char>(c);
    if (c == '\n') {
      bEnded = true;
      break;
    }
  }
  if (n == 0) return nullptr;
  if (!bEnded && n == nMax) {
    // A line of exactly nMax characters is whole when its line feed or the
    // end of the file comes next.
    c = ReadChar(parse);
    if (c != EOF && c != '\n') {
      parse.bLineDamaged = true;
      while (c != EOF && c != '\n') c = ReadChar(parse);
    }
  }
  str[n] = '\0';
  // A header line is always a header: libinih would take an indented one
  // for the continuation of the value before and keep its section, and a
  // cut or malformed one for an error and keep its section too; either way
  // the values after it would join the group before. A broken header
  // becomes a section no group has. Other cut lines need no change: the flag
  // marks the value libinih hands over for them.
  const size_t start = std::strspn(str, " \t\r\n\v\f");
  if (str[start] != '[') return str;
  if (parse.bLineDamaged || IsBrokenSectionHeader(str + start)) {
    std::strcpy(str, "[]\n");
  } else if (start > 0) {
    std::memmove(str, str + start, n - start + 1);
  }
  return str;
}

int OnValue(void* user, const char* section, const char* name, const char* value) {
  SParse& parse = *static_cast<SParse*>(user);
  auto& values = parse.sections[section];
  auto [it, bNew] = values.emplace(name, std::make_pair(std::string(value), true));
  // A second value of the same name (or a continuation line) leaves the
  // value ambiguous: refuse it rather than pick one.
  if (!bNew || parse.bLineDamaged) it->second.second = false;
  return 1;
}

}  // namespace

CIniDeviceIdStore::CIniDeviceIdStore(std::string szPath) : m_szPath(std::move(szPath)) {}

bool CIniDeviceIdStore::OpenGroup(const std::string& szGroupName) {
  m_mapOpenGroups.erase(szGroupName);

  // O_NONBLOCK: a FIFO put in the file's place must not hang the program.
  int fd = ::open(m_szPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  FILE* pFile = ::fdopen(fd, "r");
  if (pFile == nullptr) {
    ::close(fd);
    return false;
  }
  SParse parse;
  parse.pFile = pFile;
  int nResult = ini_parse_stream(ReadLine, &parse, OnValue, &parse);
  bool bReadError = std::ferror(pFile) != 0;
  std::fclose(pFile);
  if (bReadError || parse.bTooLarge || nResult < 0) {
    qrt::diag::TraceFormat("***** Device id store %s cannot be read *****\n", m_szPath.c_str());
    return false;
  }
  if (nResult > 0) {
    qrt::diag::TraceFormat("***** Device id store %s: line %d not understood *****\n",
                           m_szPath.c_str(), nResult);
  }

  auto it = parse.sections.find(szGroupName);
  if (it == parse.sections.end()) return false;
  Section& section = m_mapOpenGroups[szGroupName];
  for (auto& [name, value] : it->second) {
    section[name] = SValue{std::move(value.first), value.second};
  }
  return true;
}

bool CIniDeviceIdStore::ReadValue(const std::string& szGroupName, const std::string& szValueName,
                                  std::string& szValue) {
  auto group = m_mapOpenGroups.find(szGroupName);
  if (group == m_mapOpenGroups.end()) return false;
  auto value = group->second.find(szValueName);
  if (value == group->second.end()) return false;
  if (!value->second.bReadable || value->second.szText.size() > kMaxValueBytes) return false;
  szValue = value->second.szText;
  return true;
}

std::unique_ptr<IDeviceIdStore> CreateSystemDeviceIdStore() {
  return std::make_unique<CIniDeviceIdStore>();
}

}  // namespace USB42XX_MGR
