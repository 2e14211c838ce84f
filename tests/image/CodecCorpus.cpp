#include "CodecCorpus.h"

#include <cstdio>
#include <vector>

#include "ImageSession.h"
#include "RomDataMgr.h"
#include "SampleImages.h"

namespace qrt::test {

namespace {

using namespace qrt::image;

struct CDigest {
  uint64_t qw = 14695981039346656037ull;
  void Add(const void* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      qw ^= static_cast<const uint8_t*>(p)[i];
      qw *= 1099511628211ull;
    }
  }
  void Add(int n) { Add(&n, sizeof n); }
};

uint64_t DigestOf(const std::vector<uint8_t>& img, const std::vector<uint8_t>& base) {
  CDigest d;
  CImageSession session;
  const EApplyResult rApply = session.ApplyLoadedImage(img.data(), img.size());
  d.Add(static_cast<int>(rApply));
  if (rApply != EApplyResult::kAccepted) return d.qw;
  session.SetRomSize(static_cast<uint32_t>(img.size()));
  const _INTERNAL_OPT rec = session.m_RecInternalOpt;
  d.Add(&rec, sizeof rec);
  uint8_t out[kMaxImageSize];
  size_t n = 0;
  d.Add(static_cast<int>(session.BuildOutputImage(out, &n)));
  d.Add(out, n);

  CRomDataMgr cross;
  cross.SetRomData(base.data(), base.size());
  cross.SetGenConfig(&rec);
  cross.BuildGenConfig();
  d.Add(cross.Data(), kHeaderSize);
  return d.qw;
}

}  // namespace

std::string CodecCorpusText() {
  std::vector<std::vector<uint8_t>> vImages = {DefaultImage(), ImageWithBanks({2, true, 2, 512})};
  for (uint32_t nSeed = 1; nSeed <= kCodecCorpusRandomImages; ++nSeed)
    vImages.push_back(RandomLoadableImage(nSeed));
  std::string s =
      "# Codec digests (tests/image/CodecCorpus.h): the default image, the banks\n"
      "# sample, then RandomLoadableImage(1..5000). Written by make_samples.\n";
  for (size_t i = 0; i < vImages.size(); ++i) {
    const std::vector<uint8_t>& base = vImages[i == 0 ? vImages.size() - 1 : i - 1];
    char sz[24];
    std::snprintf(sz, sizeof sz, "%016llx\n",
                  static_cast<unsigned long long>(DigestOf(vImages[i], base)));
    s += sz;
  }
  return s;
}

}  // namespace qrt::test
