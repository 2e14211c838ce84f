#include "platform/StartupMessage.h"

#include <cstdio>

namespace qrt::app {

void ShowStartupError(const std::string& szText) {
  std::fprintf(stderr, "qrt4250-config: %s\n", szText.c_str());
}

}  // namespace qrt::app
