// The committed sample images are the ones the generator makes, and each
// loads through the readers and the accept sequence; the codec gives the
// committed corpus's outputs.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "CodecCorpus.h"
#include "ImageSession.h"
#include "SampleFiles.h"
#include "TestDirectory.h"

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

TEST(SampleData, CodecGivesTheCorpusOutputs) {
  const std::string path = std::string(QRT_TEST_DATA_DIR) + "/codec-corpus.txt";
  std::istringstream committed(qrt::test::ReadWholeFile(path));
  std::istringstream now(qrt::test::CodecCorpusText());
  std::string szCommitted, szNow;
  int nLine = 0, nDiffering = 0;
  while (std::getline(now, szNow)) {
    ++nLine;
    ASSERT_TRUE(std::getline(committed, szCommitted)) << path << " ends at line " << nLine;
    if (szNow != szCommitted && ++nDiffering <= 5)
      ADD_FAILURE() << path << " line " << nLine << ": " << szCommitted << " now " << szNow;
  }
  EXPECT_EQ(nDiffering, 0);
  EXPECT_FALSE(std::getline(committed, szCommitted)) << path << " has more lines";
  EXPECT_EQ(nLine, 2 + 2 + static_cast<int>(qrt::test::kCodecCorpusRandomImages));
}
