#include "platform/SystemPlatform.h"

#include "LinuxHidPlatform.h"

namespace USB42XX_MGR {

std::unique_ptr<IHidPlatform> CreateSystemPlatform() {
  return std::make_unique<CLinuxHidPlatform>();
}

}  // namespace USB42XX_MGR
