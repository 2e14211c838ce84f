#include "HidReportDescriptor.h"

#include <map>

namespace USB42XX_MGR {
namespace {

// Item types and tags (HID 1.11, 6.2.2).
constexpr uint8_t kTypeMain = 0;
constexpr uint8_t kTypeGlobal = 1;
constexpr uint8_t kTypeLocal = 2;

constexpr uint8_t kMainInput = 0x8;
constexpr uint8_t kMainOutput = 0x9;
constexpr uint8_t kMainFeature = 0xB;
constexpr uint8_t kMainCollection = 0xA;
constexpr uint8_t kMainEndCollection = 0xC;

constexpr uint8_t kGlobalUsagePage = 0x0;
constexpr uint8_t kGlobalReportSize = 0x7;
constexpr uint8_t kGlobalReportId = 0x8;
constexpr uint8_t kGlobalReportCount = 0x9;
constexpr uint8_t kGlobalPush = 0xA;
constexpr uint8_t kGlobalPop = 0xB;

constexpr uint8_t kLocalUsage = 0x0;

constexpr uint8_t kLongItemPrefix = 0xFE;

constexpr size_t kMaxPushDepth = 16;
constexpr uint32_t kMaxCollectionDepth = 64;
// HIDP_CAPS keeps report lengths in 16 bits; one byte goes to the report ID.
constexpr uint64_t kMaxReportDataBits = uint64_t{65534} * 8;

struct SGlobalState {
  uint16_t wUsagePage = 0;
  uint32_t dwReportSize = 0;
  uint32_t dwReportCount = 0;
  uint8_t btReportId = 0;
};

enum EKind { kInput = 0, kOutput = 1, kFeature = 2 };

struct SCollectionBits {
  HID_TOP_COLLECTION info;
  // Bits per (kind, report ID): key = kind * 256 + report ID.
  std::map<uint32_t, uint64_t> mapBits;
};

uint32_t ReadUnsigned(const uint8_t* p, size_t nSize) {
  uint32_t dwValue = 0;
  for (size_t i = 0; i < nSize; ++i) dwValue |= uint32_t{p[i]} << (8 * i);
  return dwValue;
}

uint32_t LengthFromBits(uint64_t qwBits) {
  return qwBits == 0 ? 0 : static_cast<uint32_t>((qwBits + 7) / 8 + 1);
}

}  // namespace

EHidDescriptorStatus ParseHidReportDescriptor(const uint8_t* pDescriptor, size_t nLength,
                                              std::vector<HID_TOP_COLLECTION>& vOut) {
  vOut.clear();
  if (pDescriptor == nullptr) nLength = 0;

  SGlobalState global;
  std::vector<SGlobalState> vStack;
  std::vector<SCollectionBits> vCollections;
  uint32_t dwDepth = 0;
  uint32_t dwLastUsage = 0;  // last local Usage before a main item; 32-bit form keeps its page
  bool bHaveUsage = false;
  bool bUsageHasPage = false;

  size_t nPos = 0;
  while (nPos < nLength) {
    const uint8_t btPrefix = pDescriptor[nPos];
    if (btPrefix == kLongItemPrefix) {
      // Long item: prefix, data size, tag, data. No long item tags are
      // defined, so its content is skipped.
      if (nLength - nPos < 3) return EHidDescriptorStatus::Truncated;
      const size_t nDataSize = pDescriptor[nPos + 1];
      if (nLength - nPos - 3 < nDataSize) return EHidDescriptorStatus::Truncated;
      nPos += 3 + nDataSize;
      continue;
    }
    const size_t nSize = (btPrefix & 0x3) == 3 ? 4 : (btPrefix & 0x3);
    const uint8_t btType = (btPrefix >> 2) & 0x3;
    const uint8_t btTag = btPrefix >> 4;
    if (nLength - nPos - 1 < nSize) return EHidDescriptorStatus::Truncated;
    const uint32_t dwData = ReadUnsigned(pDescriptor + nPos + 1, nSize);
    nPos += 1 + nSize;

    if (btType == kTypeMain) {
      switch (btTag) {
        case kMainCollection:
          if (dwDepth >= kMaxCollectionDepth) return EHidDescriptorStatus::StackOverflow;
          if (dwDepth == 0) {
            SCollectionBits collection;
            collection.info.wUsagePage =
                bUsageHasPage ? static_cast<uint16_t>(dwLastUsage >> 16) : global.wUsagePage;
            collection.info.wUsage = bHaveUsage ? static_cast<uint16_t>(dwLastUsage) : 0;
            vCollections.push_back(std::move(collection));
          }
          ++dwDepth;
          break;
        case kMainEndCollection:
          if (dwDepth == 0) return EHidDescriptorStatus::StackUnderflow;
          --dwDepth;
          break;
        case kMainInput:
        case kMainOutput:
        case kMainFeature: {
          if (dwDepth == 0 || vCollections.empty()) break;  // belongs to no collection
          const EKind eKind = btTag == kMainInput    ? kInput
                              : btTag == kMainOutput ? kOutput
                                                     : kFeature;
          // Both factors are at most 32 bits wide, so the product fits in 64.
          const uint64_t qwBits = uint64_t{global.dwReportSize} * global.dwReportCount;
          if (qwBits > kMaxReportDataBits) return EHidDescriptorStatus::ReportTooLong;
          SCollectionBits& collection = vCollections.back();
          uint64_t& qwSum = collection.mapBits[eKind * 256u + global.btReportId];
          qwSum += qwBits;
          if (qwSum > kMaxReportDataBits) return EHidDescriptorStatus::ReportTooLong;
          if (global.btReportId != 0) collection.info.bReportIds = true;
          break;
        }
        default:
          break;  // reserved main tags carry nothing we need
      }
      // Local items apply to the next main item only.
      bHaveUsage = false;
      bUsageHasPage = false;
      dwLastUsage = 0;
    } else if (btType == kTypeGlobal) {
      switch (btTag) {
        case kGlobalUsagePage:
          global.wUsagePage = static_cast<uint16_t>(dwData);
          break;
        case kGlobalReportSize:
          global.dwReportSize = dwData;
          break;
        case kGlobalReportCount:
          global.dwReportCount = dwData;
          break;
        case kGlobalReportId:
          if (dwData == 0 || dwData > 0xFF) return EHidDescriptorStatus::BadReportId;
          global.btReportId = static_cast<uint8_t>(dwData);
          break;
        case kGlobalPush:
          if (vStack.size() >= kMaxPushDepth) return EHidDescriptorStatus::StackOverflow;
          vStack.push_back(global);
          break;
        case kGlobalPop:
          if (vStack.empty()) return EHidDescriptorStatus::StackUnderflow;
          global = vStack.back();
          vStack.pop_back();
          break;
        default:
          break;  // logical/physical ranges and units do not change lengths
      }
    } else if (btType == kTypeLocal) {
      if (btTag == kLocalUsage && !bHaveUsage) {
        // The first Usage names the collection that follows.
        dwLastUsage = dwData;
        bHaveUsage = true;
        bUsageHasPage = nSize == 4;
      }
    }
    // Type 3 (reserved) short items are skipped like long items.
  }

  for (SCollectionBits& collection : vCollections) {
    uint64_t qwMax[3] = {0, 0, 0};
    for (const auto& [dwKey, qwBits] : collection.mapBits) {
      const uint32_t dwKind = dwKey / 256;
      if (qwBits > qwMax[dwKind]) qwMax[dwKind] = qwBits;
    }
    collection.info.dwInputReportByteLength = LengthFromBits(qwMax[kInput]);
    collection.info.dwOutputReportByteLength = LengthFromBits(qwMax[kOutput]);
    collection.info.dwFeatureReportByteLength = LengthFromBits(qwMax[kFeature]);
    vOut.push_back(collection.info);
  }
  return EHidDescriptorStatus::Ok;
}

}  // namespace USB42XX_MGR
