#include "platform/SystemPlatform.h"

#include "WindowsHidPlatform.h"

namespace USB42XX_MGR {

std::unique_ptr<IHidPlatform> CreateSystemPlatform() {
  return std::make_unique<CWindowsHidPlatform>();
}

}  // namespace USB42XX_MGR
