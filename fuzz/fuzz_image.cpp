// libFuzzer target: arbitrary bytes through both file readers, the accept
// sequence and the output sequence at every image size. Checks that the
// output never reaches past the image size, that the banks fit, and that
// decode-encode-decode is stable (a built image, loaded again, builds the
// same bytes and gives the same record), and that the image map gives every
// bit one owner.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ImageCompare.h"
#include "ImageFiles.h"
#include "ImageMap.h"
#include "ImageSession.h"

using namespace qrt::image;

namespace {

#define FUZZ_CHECK(cond)                                                     \
  do {                                                                       \
    if (!(cond)) {                                                           \
      std::fprintf(stderr, "check failed: %s (line %d)\n", #cond, __LINE__); \
      std::abort();                                                          \
    }                                                                        \
  } while (0)

std::string g_szDir;

void WriteFile(const std::string& path, const uint8_t* p, size_t n) {
  FILE* f = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(f != nullptr);
  if (n) FUZZ_CHECK(std::fwrite(p, 1, n, f) == n);
  std::fclose(f);
}

bool SameRecordSettings(const _INTERNAL_OPT& a, const _INTERNAL_OPT& b) {
  // Everything but the string fields, which the first encode normalises.
  _INTERNAL_OPT x = a, y = b;
  std::memset(x.szStringArea, 0, 64);
  std::memset(y.szStringArea, 0, 64);
  std::memset(x.szProduct, 0, 64);
  std::memset(y.szProduct, 0, 64);
  std::memset(x.szManufacturer, 0, 64);
  std::memset(y.szManufacturer, 0, 64);
  return std::memcmp(&x, &y, sizeof x) == 0;
}

void CheckOutputs(CImageSession& session, size_t nLoaded) {
  const _INTERNAL_OPT rec = session.m_RecInternalOpt;
  const uint32_t sizes[] = {0, 100, 256, static_cast<uint32_t>(nLoaded), 512, 1024, 2048, 2049};
  for (const uint32_t dwSize : sizes) {
    session.SetRomSize(dwSize);
    // Exactly 2048 bytes on the heap: ASan sees any write past them.
    std::vector<uint8_t> out(kMaxImageSize, 0xA5);
    size_t n = 0;
    const EBuildResult r = session.BuildOutputImage(out.data(), &n);
    if (dwSize == 0 || dwSize > kMaxImageSize) FUZZ_CHECK(r == EBuildResult::kSizeTooLarge);
    if (r != EBuildResult::kOk) {
      FUZZ_CHECK(n == 0);
      for (uint8_t b : out) FUZZ_CHECK(b == 0xA5);  // refused: nothing written
      continue;
    }
    FUZZ_CHECK(n == dwSize);
    const uint32_t u = session.GetBankAreaSize();
    FUZZ_CHECK(u == 0 || 256 + u <= dwSize);
    for (size_t k = dwSize; k < kMaxImageSize; ++k) FUZZ_CHECK(out[k] == 0xFF);
    for (size_t k = 256 + u; k < dwSize; ++k) FUZZ_CHECK(out[k] == 0xFF);
    if (dwSize < 256) continue;  // a cut header does not load back the same

    // Load the built image and build it again.
    CImageSession again;
    FUZZ_CHECK(again.ApplyLoadedImage(out.data(), n) == EApplyResult::kAccepted);
    FUZZ_CHECK(SameRecordSettings(again.m_RecInternalOpt, rec));
    FUZZ_CHECK(again.GetBankAreaSize() == u);
    again.SetRomSize(dwSize);
    std::vector<uint8_t> out2(kMaxImageSize, 0x5A);
    size_t n2 = 0;
    FUZZ_CHECK(again.BuildOutputImage(out2.data(), &n2) == EBuildResult::kOk);
    FUZZ_CHECK(n2 == n);
    FUZZ_CHECK(out2 == out);
    CImageSession third;
    FUZZ_CHECK(third.ApplyLoadedImage(out2.data(), n2) == EApplyResult::kAccepted);
    FUZZ_CHECK(
        std::memcmp(&third.m_RecInternalOpt, &again.m_RecInternalOpt, sizeof(_INTERNAL_OPT)) == 0);
  }
}

// The map of an accepted image gives every bit of it exactly one owner, and
// the image compares the same as itself.
void CheckMap(const uint8_t* buffer, size_t n) {
  CImageMap map;
  FUZZ_CHECK(map.Build(buffer, n) == EApplyResult::kAccepted);
  FUZZ_CHECK(map.Size() == n);
  for (size_t i = 0; i < n; ++i) {
    unsigned nBits = 0;
    for (const MAP_PART& part : map.Parts(i)) {
      FUZZ_CHECK(part.btMask != 0 && (nBits & part.btMask) == 0);
      nBits |= part.btMask;
    }
    FUZZ_CHECK(nBits == 0xFF);
  }
  FUZZ_CHECK(CompareImages({map.Session(), map.Bytes()}, {map.Session(), map.Bytes()}).empty());
}

void Accept(const uint8_t* buffer, size_t n) {
  CImageSession session;
  const _INTERNAL_OPT before = session.m_RecInternalOpt;
  const EApplyResult r = session.ApplyLoadedImage(buffer, n);
  if (r != EApplyResult::kAccepted) {
    FUZZ_CHECK(std::memcmp(&before, &session.m_RecInternalOpt, sizeof before) == 0);
    FUZZ_CHECK(session.GetBankAreaSize() == 0);
    return;
  }
  FUZZ_CHECK(n >= 2 && n <= kMaxImageSize);
  for (size_t k = n; k < kRomBufferSize; ++k) FUZZ_CHECK(session.RomDataMgr().Data()[k] == 0xFF);
  CheckMap(buffer, n);
  CheckOutputs(session, n);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/qrt-fuzz-XXXXXX";
  const char* p = ::mkdtemp(tmpl);
  FUZZ_CHECK(p != nullptr);
  g_szDir = p;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The same bytes as a .bin file and as .hex text.
  const std::string bin = g_szDir + "/in.bin", hex = g_szDir + "/in.hex";
  WriteFile(bin, data, size);
  WriteFile(hex, data, size);

  uint8_t buffer[kRomBufferSize];
  size_t n = 0;
  int r = ReadBinFile(bin, buffer, sizeof buffer, &n);
  FUZZ_CHECK(r == kReadOk || r == kReadTooLarge);
  if (r == kReadOk) {
    FUZZ_CHECK(n == size);
    Accept(buffer, n);
  }

  r = ReadHexFile(hex, buffer, sizeof buffer, &n);
  FUZZ_CHECK(r == kReadOk || r == kReadTooLarge || r == kReadCorrupt);
  if (r == kReadOk) {
    FUZZ_CHECK(n <= kMaxImageSize && n <= size / 2);
    Accept(buffer, n);
  }
  return 0;
}
