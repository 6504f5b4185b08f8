// The whole-file text decoder: any bytes decode, and text that the encoder
// writes decodes back to itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/text_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvel;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string text = DecodeTextBytes(bytes);
  const std::string encoded = EncodeTextBytes(text);
  if (DecodeTextBytes(encoded) != text) __builtin_trap();
  return 0;
}
