#pragma once
// Device names in the Windows form "USB#VID_xxxx&PID_xxxx#...": the platform
// lists present USB devices under such names, and hot-plug events carry
// interface names with the same VID_/PID_ parts.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace USB42XX_MGR {

class IHidPlatform;

// Reads the four characters after the first "VID_" and the first "PID_"
// (any case) as hexadecimal; reading stops at the first non-hex character.
// Returns 0 when both were found, 1 when "VID_" is missing (both outputs 0),
// 2 when "PID_" is missing (VID stored, PID 0).
int ParseVidPid(std::string_view szName, uint16_t& wVID, uint16_t& wPID);

// Present USB device names longer than 4 characters that begin with "USB#"
// in any case, in platform order. Returns false when the platform's
// enumeration failed (vNames is then empty).
bool EnumerateUsbDosDevices(IHidPlatform& platform, std::vector<std::string>& vNames);

}  // namespace USB42XX_MGR
