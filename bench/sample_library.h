// Generates MP3 libraries in a folder: the small demo sample and the large
// library of the benchmarks. The files are silent stand-ins (zero audio bytes)
// with an ID3v1 block whose texts are in code page 932.
#ifndef TARVEL_BENCH_SAMPLE_LIBRARY_H_
#define TARVEL_BENCH_SAMPLE_LIBRARY_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tarvel::sample {

struct Tag {
  std::u16string title, artist, album, year, comment;
  uint8_t genre = 255;
};

// Writes `path` (UTF-16 path relative to root, '/' separated): `audio_bytes`
// bytes of filler followed by the tag block when there is one.
void WriteMp3(const std::filesystem::path& root, std::u16string_view path, std::size_t audio_bytes,
              const std::optional<Tag>& tag);

// The demo sample: kanji, hiragana, katakana and full-width Latin names, a
// nested folder, two names that become duplicates, a bad extension, a
// character a CD-R cannot hold, tags in code page 932, a text file.
void MakeDemoLibrary(const std::filesystem::path& root);

// How the names of a large library are made.
enum class Names {
  // 24 artists and 16 albums over and over, titles from 32 words: the
  // readings repeat, which the recent-readings memo of the reading service
  // and the tag memo of the pass take advantage of.
  kRepeated,
  // Every artist, album folder and title its own, made of kanji words, kana
  // and Latin words as real libraries have them; nothing repeats but the
  // artist and album of the files of one album.
  kVaried,
};

// A large library: artist/album folders of `per_album` files each, about
// 4 KB per file, Japanese names, some duplicate names. Deterministic for a
// given seed. Returns the number of MP3 files written.
std::size_t MakeBenchLibrary(const std::filesystem::path& root, std::size_t files,
                             std::size_t per_album = 20, uint32_t seed = 1,
                             Names names = Names::kRepeated);

}  // namespace tarvel::sample

#endif  // TARVEL_BENCH_SAMPLE_LIBRARY_H_
