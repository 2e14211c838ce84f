#pragma once
// The Linux device-id store: one system-wide INI file, one section per group
// name, values "1", "2", ... in it:
//
//   [QRT AUDIO DeviceId Group]
//   1 = VID_3A7C&PID_42XX,<Base64 cipher text>
//
// The file is read with libinih. A line longer than the parser's line buffer
// (199 characters with Debian's build), a line with a NUL byte, and a value
// given twice in a section (also through an indented continuation line) make
// that value unreadable rather than truncated or merged.
#include <map>
#include <string>

#include "DeviceIdStore.h"

namespace USB42XX_MGR {

inline constexpr const char* kDefaultDeviceIdStorePath = "/etc/qrt4250/deviceid-groups.ini";

class CIniDeviceIdStore : public IDeviceIdStore {
 public:
  explicit CIniDeviceIdStore(std::string szPath = kDefaultDeviceIdStorePath);

  // Reads the file afresh. True when it is a readable regular file with a
  // section of that name holding at least one value (libinih reports no empty
  // sections; an empty group and a missing one both leave the group empty).
  bool OpenGroup(const std::string& szGroupName) override;

  // Answers from the contents read by the last OpenGroup of that group.
  // False when the group was not opened, the value is missing, unreadable
  // (see above) or longer than 2048 bytes.
  bool ReadValue(const std::string& szGroupName, const std::string& szValueName,
                 std::string& szValue) override;

  const std::string& Path() const { return m_szPath; }

 private:
  struct SValue {
    std::string szText;
    bool bReadable = true;
  };
  using Section = std::map<std::string, SValue>;

  std::string m_szPath;
  std::map<std::string, Section> m_mapOpenGroups;  // group name -> values as last read
};

}  // namespace USB42XX_MGR
