// The ID3v1 reader on any file.
#include <cstddef>
#include <cstdint>

#include "files/id3_tag.h"
#include "fuzz_support.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvel;
  const std::filesystem::path path = fuzz::ScratchFile("song.mp3", data, size);
  ID3TagData tag;
  TagIoStatus status;
  const int32_t found = ReadID3Tag(Utf8ToUtf16Lossy(path.native()), tag, &status);
  if (found == 1 && tag.Header != u"TAG") __builtin_trap();
  if (tag.Genre < 0 || tag.Genre > 255) __builtin_trap();
  (void)DescribeTagIoStatus(status);
  (void)CutAtNull(tag.Title);
  (void)FitTagField(tag.Artist, 30);
  return 0;
}
