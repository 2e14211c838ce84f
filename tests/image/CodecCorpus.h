#pragma once
// What the codec makes of the sample images and of 5,000 random loadable
// images, one digest per image, kept in tests/data/codec-corpus.txt. The
// committed file was written by the codec before it was rebuilt on the field
// table; a change to decode or encode that alters any byte shows here.
#include <string>

namespace qrt::test {

inline constexpr unsigned kCodecCorpusRandomImages = 5000;

// The file's text: comment lines, then one line per image (the two sample
// images, then seeds 1 to 5000): 16 hex digits of a 64-bit FNV-1a over the
// accept result, the decoded record, the build result and output image at
// the image's own size, and the header that encoding the record onto the
// previous image's header gives (bits the record does not own kept).
std::string CodecCorpusText();

}  // namespace qrt::test
