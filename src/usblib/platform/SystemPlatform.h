#pragma once
// The HID platform of the machine the program runs on: hidraw through
// libudev on Linux, HID.DLL and SetupAPI on Windows. CMake links the one of
// this OS (qrt::usblib_system); the window and the CLI both start here.
#include <memory>

#include "platform/HidPlatform.h"

namespace USB42XX_MGR {

// Never null. A platform whose event source could not be set up still lists
// and opens devices (GetEventHandle() then returns kNoNativeEvent).
std::unique_ptr<IHidPlatform> CreateSystemPlatform();

}  // namespace USB42XX_MGR
