#include "sample_library.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <random>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace tarvel::sample {
namespace {

void PutField(std::string& block, std::size_t offset, std::size_t width, std::u16string_view text) {
  std::string bytes = EncodeCp932(text);
  if (bytes.size() > width) bytes.resize(width);
  block.replace(offset, bytes.size(), bytes);
}

std::filesystem::path ToPath(const std::filesystem::path& root, std::u16string_view relative) {
  return root / Utf16ToUtf8(relative);
}

constexpr std::array<std::u16string_view, 24> kArtists = {u"山田太郎",     u"さくら",
                                                          u"カナリア楽団", u"東京フィル",
                                                          u"ＹＵＫＩ",     u"青い鳥",
                                                          u"星野みなと",   u"ミッドナイト",
                                                          u"小林ひとみ",   u"The Rivers",
                                                          u"森の音楽隊",   u"はるかぜ",
                                                          u"ブルームーン", u"Ｊａｚｚ Ｔｒｉｏ",
                                                          u"渡辺・健",     u"つばさ",
                                                          u"レッドスター", u"大阪交響楽団",
                                                          u"こころ",       u"Sunny Day",
                                                          u"月光仮面",     u"ひまわり",
                                                          u"ギター侍",     u"北の国から"};
constexpr std::array<std::u16string_view, 16> kAlbums = {
    u"夏の思い出",   u"ベスト・アルバム",
    u"はじまりの歌", u"Live 2024",
    u"東京物語",     u"冬景色",
    u"ラブソング集", u"夜明け前",
    u"青春の日々",   u"ＧＲＥＡＴＥＳＴ ＨＩＴＳ",
    u"さよなら",     u"風の谷",
    u"未来へ",       u"Acoustic",
    u"桜並木",       u"星空"};
constexpr std::array<std::u16string_view, 32> kWords = {
    u"東京",     u"夜",   u"さくら", u"ありがとう", u"ラブ", u"雨",     u"ドライブ", u"海",
    u"恋人",     u"Love", u"心",     u"ハート",     u"風",   u"空",     u"夢",       u"約束",
    u"メロディ", u"花火", u"星",     u"きみ",       u"ぼく", u"未来",   u"ギター",   u"Blue",
    u"さよなら", u"光",   u"時間",   u"ＳＴＡＲ",   u"月",   u"ハロー", u"旅",       u"Dance"};

}  // namespace

void WriteMp3(const std::filesystem::path& root, std::u16string_view path, std::size_t audio_bytes,
              const std::optional<Tag>& tag) {
  std::filesystem::path full = ToPath(root, path);
  std::filesystem::create_directories(full.parent_path());
  std::string bytes(audio_bytes, '\0');
  // A frame-sync header so that the file looks like MPEG audio to a player.
  if (audio_bytes >= 4) bytes.replace(0, 4, "\xFF\xFB\x90\x64", 4);
  if (tag) {
    std::string block(128, ' ');
    block.replace(0, 3, "TAG");
    PutField(block, 3, 30, tag->title);
    PutField(block, 33, 30, tag->artist);
    PutField(block, 63, 30, tag->album);
    PutField(block, 93, 4, tag->year);
    PutField(block, 97, 30, tag->comment);
    block[127] = static_cast<char>(tag->genre);
    bytes += block;
  }
  int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + full.native());
  bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ::close(fd);
  if (!ok) throw std::runtime_error("cannot write " + full.native());
}

void MakeDemoLibrary(const std::filesystem::path& root) {
  struct File {
    std::u16string_view path;
    std::optional<Tag> tag;
  };
  const File kFiles[] = {
      {u"さくら/01 東京の夜.mp3", Tag{u"東京の夜", u"さくら", u"はじまりの歌", u"2001", u"", 13}},
      {u"さくら/02 ありがとう.mp3",
       Tag{u"ありがとう", u"さくら", u"はじまりの歌", u"2001", u"", 13}},
      {u"さくら/03 ラブソング★.mp3",
       Tag{u"ラブソング★", u"さくら", u"はじまりの歌", u"2001", u"", 13}},
      // Full-width and half-width spellings of one name become duplicates.
      {u"さくら/04 ハロー.mp3", Tag{u"ハロー", u"さくら", u"はじまりの歌", u"2001", u"", 13}},
      {u"さくら/04 ﾊﾛｰ.mp3", Tag{u"ﾊﾛｰ", u"さくら", u"はじまりの歌", u"2001", u"", 13}},
      {u"ＹＵＫＩ/ＢＥＳＴ/Ｔｒａｃｋ０１.mp3",
       Tag{u"Ｔｒａｃｋ０１", u"ＹＵＫＩ", u"ＢＥＳＴ", u"", u"", 0}},
      {u"ＹＵＫＩ/ＢＥＳＴ/冬景色〜Live〜.mp3",
       Tag{u"冬景色〜Live〜", u"ＹＵＫＩ", u"ＢＥＳＴ", u"", u"", 0}},
      // A name with a character a CD-R cannot hold (the Linux name may have
      // it; Windows and ISO 9660 may not).
      {u"ＹＵＫＩ/ＢＥＳＴ/Question?.mp3", std::nullopt},
      // A bad extension: ".mp3" has to come last.
      {u"ミッドナイト/夜明け前.mp3.MP3", Tag{u"夜明け前", u"ミッドナイト", u"", u"", u"", 255}},
      {u"ミッドナイト/深夜/星空のドライブ.mp3",
       Tag{u"星空のドライブ", u"ミッドナイト", u"深夜", u"", u"", 255}},
  };
  for (const auto& f : kFiles) WriteMp3(root, f.path, 2048, f.tag);
  // Not an MP3: left alone.
  std::filesystem::path readme = ToPath(root, u"さくら/メモ.txt");
  int fd = ::open(readme.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) {
    [[maybe_unused]] ssize_t n = ::write(fd, "note\n", 5);
    ::close(fd);
  }
}

std::size_t MakeBenchLibrary(const std::filesystem::path& root, std::size_t files,
                             std::size_t per_album, uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&rng](auto& pool) -> std::u16string_view {
    return pool[std::uniform_int_distribution<std::size_t>(0, pool.size() - 1)(rng)];
  };
  std::size_t written = 0;
  std::size_t album_index = 0;
  if (per_album == 0) per_album = 20;
  while (written < files) {
    std::u16string artist(kArtists[album_index % kArtists.size()]);
    std::u16string album(kAlbums[(album_index / kArtists.size()) % kAlbums.size()]);
    std::u16string folder = artist + u"/" + album;
    if (album_index >= kArtists.size() * kAlbums.size()) {
      folder += u" (" +
                std::u16string(1, u'0' + (album_index / (kArtists.size() * kAlbums.size())) % 10) +
                u")";
      folder += u" " + std::u16string(pick(kWords)) +
                std::u16string(Utf8ToUtf16(std::to_string(album_index)).value());
    }
    for (std::size_t t = 1; t <= per_album && written < files; ++t) {
      std::u16string title = std::u16string(pick(kWords)) + std::u16string(pick(kWords));
      if (rng() % 3 == 0) title += u"の" + std::u16string(pick(kWords));
      std::u16string number = Utf8ToUtf16(std::to_string(100 + t).substr(1)).value();
      std::u16string name = number + u" " + title;
      // Every tenth album holds a full-width and half-width spelling of one
      // name, which collide after conversion.
      if (album_index % 10 == 0 && t == 2) name = u"01 ハロー";
      if (album_index % 10 == 0 && t == 3) name = u"01 ﾊﾛｰ";
      Tag tag{title, artist, album, u"2024", u"", 13};
      WriteMp3(root, folder + u"/" + name + u".mp3", 4096 - 128, tag);
      ++written;
    }
    ++album_index;
  }
  return written;
}

}  // namespace tarvel::sample
