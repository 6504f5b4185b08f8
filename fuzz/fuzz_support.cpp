#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tarvel::fuzz {

std::filesystem::path ScratchFile(std::string_view name, const uint8_t* data, size_t size) {
  const char* tmp = std::getenv("TMPDIR");
  std::filesystem::path path =
      std::filesystem::path(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") /
      ("tarvel-fuzz-" + std::to_string(::getpid()) + "-" + std::string(name));
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  return path;
}

}  // namespace tarvel::fuzz
