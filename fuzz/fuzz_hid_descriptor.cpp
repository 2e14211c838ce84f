// libFuzzer target: the HID report-descriptor parser on arbitrary bytes. A
// descriptor comes from whatever device is plugged in, so it is untrusted.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "HidReportDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  std::vector<USB42XX_MGR::HID_TOP_COLLECTION> vOut;
  const auto eStatus = USB42XX_MGR::ParseHidReportDescriptor(pData, nSize, vOut);
  if (eStatus != USB42XX_MGR::EHidDescriptorStatus::Ok && !vOut.empty()) std::abort();
  for (const auto& c : vOut) {
    if (c.dwInputReportByteLength > 65535 || c.dwOutputReportByteLength > 65535 ||
        c.dwFeatureReportByteLength > 65535)
      std::abort();
  }
  return 0;
}
