// The committed sample images are the ones the generator makes, and each
// loads through the readers and the accept sequence.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "ImageSession.h"
#include "SampleFiles.h"

TEST(SampleData, CommittedFilesAreCurrentAndLoad) {
  for (const auto& f : qrt::test::SampleFiles()) {
    const std::string path = std::string(QRT_TEST_DATA_DIR) + "/" + f.szName;
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << path << " is missing: run make_samples tests/data";
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(bytes, f.bytes) << path << " is stale: run make_samples tests/data";

    uint8_t buffer[4096];
    size_t n = 0;
    const bool bHex = qrt::image::GetImageFileTypeByPath(path) == qrt::image::EImageFileType::kHex;
    ASSERT_EQ(bHex ? qrt::image::ReadHexFile(path, buffer, sizeof buffer, &n)
                   : qrt::image::ReadBinFile(path, buffer, sizeof buffer, &n),
              qrt::image::kReadOk);
    qrt::image::CImageSession s;
    EXPECT_EQ(s.ApplyLoadedImage(buffer, n), qrt::image::EApplyResult::kAccepted) << path;
  }
}
