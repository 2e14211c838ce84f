#pragma once
// A device-id group: patterns "VID_xxxx&PID_xxxx" (X = any hex digit), each
// stored with an enciphered copy of itself so that only entries made with the
// group key are accepted.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "DeviceList.h"

namespace USB42XX_MGR {

class IDeviceIdStore;
class IHidPlatform;

// The four group names, in the facade's construction order. The third one
// (AUDIO) is the one searched.
inline constexpr const char* kUsbDeviceIdGroupName = "QRT USB DeviceId Group";
inline constexpr const char* kHidDeviceIdGroupName = "QRT HID DeviceId Group";
inline constexpr const char* kAudioDeviceIdGroupName = "QRT AUDIO DeviceId Group";
inline constexpr const char* kHidSymDeviceIdGroupName = "QRT HIDSYM DeviceId Group";

class CDeviceIdMgr {
 public:
  // Neither reference is owned; both must outlive the group.
  CDeviceIdMgr(IDeviceIdStore& store, IHidPlatform& platform);

  // Loads the group from the store. Returns 0 when every line was parsed, 1
  // when the group does not open (the group then keeps its contents), 2 when
  // parsing stopped at a line with an empty pattern or cipher (lines accepted
  // before it stay accepted).
  int GetDeviceIdGroupFromRegistry(const std::string& szGroupName);

  // True when an accepted pattern matches the pair.
  bool IsDeviceIdContainGroupEx(uint16_t wVID, uint16_t wPID) const;

  // Appends the present USB devices that belong to the group (distinct, at
  // most 128) to list. Returns 0, or 1 when the device enumeration failed.
  int SearchPresentDevice(DEVICE_LIST& list) const;

  const std::vector<std::string>& GetRawLines() const { return m_vRawLines; }
  const std::map<std::string, std::string>& GetAcceptedIds() const { return m_mapDeviceIds; }

 private:
  IDeviceIdStore& m_Store;
  IHidPlatform& m_Platform;
  std::vector<std::string> m_vRawLines;
  std::map<std::string, std::string> m_mapDeviceIds;  // pattern -> cipher text
};

// Deciphers a group entry: strict Base64, DES-CBC with a zero IV under the
// group key, PKCS#5 padding. Returns 0 with the plain text, or nonzero (plain
// text empty) for bad Base64, a length that is not a multiple of 8, bad
// padding, or more than 4096 bytes.
int QRT_Decrypt(const std::string& szCipherBase64, std::string& szPlain);

// The reverse, for making store entries ("qrt4250-cli deviceid encode") and
// for tests. Returns 0, or nonzero for a text longer than 4096 bytes.
int QRT_Encrypt(const std::string& szPlain, std::string& szCipherBase64);

}  // namespace USB42XX_MGR
