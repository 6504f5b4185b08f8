// What the fuzz targets share: a scratch file for readers that only take a
// path.
#ifndef TARVEL_FUZZ_FUZZ_SUPPORT_H_
#define TARVEL_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace tarvel::fuzz {

// Writes `size` bytes at `data` to this process's scratch file named
// `name` (under $TMPDIR or /tmp) and returns its path.
std::filesystem::path ScratchFile(std::string_view name, const uint8_t* data, size_t size);

}  // namespace tarvel::fuzz

#endif  // TARVEL_FUZZ_FUZZ_SUPPORT_H_
