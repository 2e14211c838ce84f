#pragma once
// HID report-descriptor parser: the report lengths of each top-level
// collection, computed the way Windows fills HIDP_CAPS, so that the
// collection of a chip can be chosen by its output report length on Linux
// exactly as on Windows. Platform-neutral and free of I/O.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace USB42XX_MGR {

// One top-level collection of a report descriptor.
struct HID_TOP_COLLECTION {
  uint16_t wUsagePage = 0;
  uint16_t wUsage = 0;
  bool bReportIds = false;  // some report of the collection carries a report ID
  // Largest report of that kind in bytes plus one byte for the report ID (or
  // the 0 byte without IDs); 0 when the collection has no report of that kind.
  uint32_t dwInputReportByteLength = 0;
  uint32_t dwOutputReportByteLength = 0;
  uint32_t dwFeatureReportByteLength = 0;
};

enum class EHidDescriptorStatus {
  Ok = 0,
  Truncated,       // an item's data runs past the end of the buffer
  BadReportId,     // Report ID 0 or above 255
  StackUnderflow,  // Pop without Push, End Collection without Collection
  StackOverflow,   // Push or Collection nesting too deep
  ReportTooLong,   // a report longer than 65535 bytes (HIDP_CAPS holds 16 bits)
};

// Parses nLength bytes at pDescriptor and appends one entry per top-level
// collection to vOut, in descriptor order. Main items outside every
// collection belong to no collection and are ignored. Long items are skipped.
// A collection still open at the end is kept. Returns Ok, or the first
// fault found; on a fault vOut is left empty. Never reads outside the
// buffer.
EHidDescriptorStatus ParseHidReportDescriptor(const uint8_t* pDescriptor, size_t nLength,
                                              std::vector<HID_TOP_COLLECTION>& vOut);

}  // namespace USB42XX_MGR
