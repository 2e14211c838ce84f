// Writes the sample images of tests/data into the folder given as argument.
// Run after changing SampleImages.cpp: build/default/tests/image/make_samples tests/data
// It writes the codec corpus too: commit a changed codec-corpus.txt only
// when a codec output is meant to change.
#include <cstdio>
#include <fstream>
#include <string>

#include "CodecCorpus.h"
#include "SampleFiles.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples FOLDER\n");
    return 1;
  }
  for (const auto& f : qrt::test::SampleFiles()) {
    const std::string path = std::string(argv[1]) + "/" + f.szName;
    if (qrt::image::WriteBinFile(path, f.bytes.data(), f.bytes.size()) != 0) {
      std::fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  const std::string path = std::string(argv[1]) + "/codec-corpus.txt";
  std::ofstream corpus(path, std::ios::binary);
  corpus << qrt::test::CodecCorpusText();
  if (!corpus.flush()) {
    std::fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
    return 1;
  }
  return 0;
}
