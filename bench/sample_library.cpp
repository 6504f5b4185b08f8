#include "sample_library.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <random>
#include <stdexcept>
#include <string_view>
#include <unordered_set>
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

// The pools of the varied library: words as they appear in real titles,
// kanji words (most of them known to the dictionary, a few read kanji by
// kanji), kana and katakana words, Latin words, and people's names.
constexpr std::u16string_view kKanjiWords[] = {
    u"東京",     u"大阪",   u"京都",   u"北海道", u"夜空",   u"月夜",   u"桜",     u"雪",
    u"雨上がり", u"夕焼け", u"真夏",   u"冬",     u"春風",   u"秋",     u"海辺",   u"港",
    u"駅",       u"列車",   u"坂道",   u"街角",   u"故郷",   u"約束",   u"記憶",   u"涙",
    u"笑顔",     u"青春",   u"少年",   u"少女",   u"恋",     u"愛",     u"夢",     u"希望",
    u"未来",     u"過去",   u"永遠",   u"奇跡",   u"運命",   u"天使",   u"太陽",   u"星座",
    u"銀河",     u"宇宙",   u"地球",   u"世界",   u"花束",   u"向日葵", u"紫陽花", u"風鈴",
    u"花火",     u"祭り",   u"灯台",   u"鉄道",   u"鼓動",   u"物語",   u"伝説",   u"旅立ち",
    u"帰り道",   u"自由",   u"平和",   u"勇気",   u"情熱",   u"孤独",   u"静寂",   u"秘密",
    u"真実",     u"言葉",   u"手紙",   u"写真",   u"映画",   u"電話",   u"時計",   u"鏡",
    u"窓",       u"扉",     u"階段",   u"屋上",   u"教室",   u"放課後", u"卒業",   u"誕生日",
    u"日曜日",   u"朝",     u"深夜",   u"明日",   u"昨日",   u"最後",   u"最初",   u"二人",
    u"三日月",   u"百年",   u"千年",   u"白い",   u"赤い",   u"青い",   u"緑",     u"金色",
    u"虹色",     u"走る",   u"歌う",   u"踊る",   u"泣く",   u"笑う",   u"飛ぶ",   u"眠る",
    u"光る",     u"消える", u"始まる", u"終わる", u"美しい", u"優しい", u"遠い",   u"新しい",
    u"湘南",     u"蒼穹",   u"黄昏",   u"残響",   u"刹那",   u"螺旋",   u"蜃気楼", u"陽炎"};
constexpr std::u16string_view kKanaWords[] = {
    u"ありがとう",   u"さよなら",     u"こんにちは", u"おやすみ",   u"ただいま",     u"きらきら",
    u"ふわふわ",     u"どきどき",     u"まぶしい",   u"やさしさ",   u"ひかり",       u"こころ",
    u"きみ",         u"ぼく",         u"わたし",     u"あなた",     u"いつか",       u"どこまでも",
    u"ラブ",         u"ドライブ",     u"メロディ",   u"ハーモニー", u"シンフォニー", u"ストーリー",
    u"パーティー",   u"ダンス",       u"ロック",     u"ブルース",   u"ララバイ",     u"セレナーデ",
    u"カーニバル",   u"サマー",       u"ウィンター", u"スノー",     u"レイン",       u"ミラクル",
    u"ファンタジー", u"ドリーム",     u"ロマンス",   u"グッバイ",   u"ハロー",       u"ナイト",
    u"モーニング",   u"ステーション", u"ハイウェイ", u"ロケット",   u"コスモス",     u"ｽﾀｰﾗｲﾄ"};
constexpr std::u16string_view kLatinWords[] = {
    u"Love",    u"Blue",   u"Night",  u"Dream",    u"Star",     u"Dance",
    u"Rain",    u"Sky",    u"Summer", u"Winter",   u"Forever",  u"Journey",
    u"Heart",   u"Light",  u"Shadow", u"Midnight", u"Sunrise",  u"Paradise",
    u"Freedom", u"Memory", u"Ocean",  u"Fire",     u"Wind",     u"Silver",
    u"Golden",  u"Magic",  u"Tokyo",  u"Road",     u"ＢＡＢＹ", u"ＣＲＡＺＹ"};
constexpr std::u16string_view kJoiners[] = {u"の", u"と", u"に", u"を", u"へ", u"が", u"・", u" "};
constexpr std::u16string_view kFamilyNames[] = {
    u"佐藤", u"鈴木", u"高橋",   u"田中", u"伊藤", u"渡辺", u"山本", u"中村", u"小林", u"加藤",
    u"吉田", u"山田", u"佐々木", u"山口", u"松本", u"井上", u"木村", u"林",   u"斎藤", u"清水",
    u"山崎", u"森",   u"池田",   u"橋本", u"阿部", u"石川", u"山下", u"中島", u"石井", u"小川",
    u"前田", u"岡田", u"長谷川", u"藤田", u"後藤", u"近藤", u"村上", u"遠藤", u"青木", u"坂本"};
constexpr std::u16string_view kGivenNames[] = {
    u"太郎",   u"花子",   u"健一",   u"由美",   u"翔太",   u"美咲",   u"大輔", u"陽子",
    u"直樹",   u"恵",     u"拓也",   u"愛",     u"誠",     u"明美",   u"隆",   u"さくら",
    u"ひとみ", u"みなと", u"あゆみ", u"ゆうき", u"カオリ", u"ケンジ", u"ユウ", u"ミキ"};
constexpr std::u16string_view kBandWords[] = {u"楽団",         u"バンド",     u"ズ",   u"合唱団",
                                              u"オーケストラ", u" & Friends", u"兄弟", u"組"};

// Names that nothing else in the library has: each is drawn again while it
// is taken, and after a few draws given a number.
class VariedNames {
 public:
  explicit VariedNames(std::mt19937& rng) : rng_(rng) {}

  std::u16string Artist() {
    return Unique([this] {
      if (rng_() % 3 == 0) return Word() + std::u16string(Pick(kBandWords));
      return std::u16string(Pick(kFamilyNames)) + (rng_() % 4 == 0 ? u"　" : u"") +
             std::u16string(Pick(kGivenNames));
    });
  }
  // Album and title texts: one to three words, joined as titles are.
  std::u16string Phrase() {
    return Unique([this] {
      std::u16string text = Word();
      for (std::size_t n = rng_() % 3; n > 0; --n) text += std::u16string(Pick(kJoiners)) + Word();
      return text;
    });
  }

 private:
  template <typename Pool>
  std::u16string_view Pick(const Pool& pool) {
    return pool[std::uniform_int_distribution<std::size_t>(0, std::size(pool) - 1)(rng_)];
  }
  std::u16string Word() {
    const uint32_t kind = rng_() % 20;
    if (kind < 10) return std::u16string(Pick(kKanjiWords));
    if (kind < 17) return std::u16string(Pick(kKanaWords));
    return std::u16string(Pick(kLatinWords));
  }
  template <typename Draw>
  std::u16string Unique(Draw&& draw) {
    std::u16string text;
    for (int attempt = 0; attempt < 8; ++attempt) {
      text = draw();
      if (taken_.insert(text).second) return text;
    }
    text += u" " + Utf8ToUtf16(std::to_string(taken_.size())).value();
    taken_.insert(text);
    return text;
  }

  std::mt19937& rng_;
  std::unordered_set<std::u16string> taken_;
};

// The artist/album folder of album `album_index` of the repeated library;
// past the last pair, `word` and the number tell the folders apart.
std::u16string RepeatedFolder(std::size_t album_index, std::u16string_view word) {
  std::u16string artist(kArtists[album_index % kArtists.size()]);
  std::u16string album(kAlbums[(album_index / kArtists.size()) % kAlbums.size()]);
  std::u16string folder = artist + u"/" + album;
  if (album_index >= kArtists.size() * kAlbums.size()) {
    folder += u" (" +
              std::u16string(1, u'0' + (album_index / (kArtists.size() * kAlbums.size())) % 10) +
              u")";
    folder += u" " + std::u16string(word) +
              std::u16string(Utf8ToUtf16(std::to_string(album_index)).value());
  }
  return folder;
}

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
                             std::size_t per_album, uint32_t seed, Names names) {
  std::mt19937 rng(seed);
  auto pick = [&rng](auto& pool) -> std::u16string_view {
    return pool[std::uniform_int_distribution<std::size_t>(0, pool.size() - 1)(rng)];
  };
  VariedNames varied(rng);
  std::u16string artist, album;
  std::size_t written = 0;
  std::size_t album_index = 0;
  if (per_album == 0) per_album = 20;
  while (written < files) {
    std::u16string folder;
    if (names == Names::kVaried) {
      // An artist has one to three albums.
      if (album_index == 0 || rng() % 2 == 0) artist = varied.Artist();
      album = varied.Phrase();
      folder = artist + u"/" + album;
    } else {
      artist = kArtists[album_index % kArtists.size()];
      album = kAlbums[(album_index / kArtists.size()) % kAlbums.size()];
      // The word is drawn only where it is used, as the library always was.
      const bool numbered = album_index >= kArtists.size() * kAlbums.size();
      folder = RepeatedFolder(album_index, numbered ? pick(kWords) : u"");
    }
    for (std::size_t t = 1; t <= per_album && written < files; ++t) {
      std::u16string title;
      if (names == Names::kVaried) {
        title = varied.Phrase();
      } else {
        title = std::u16string(pick(kWords)) + std::u16string(pick(kWords));
        if (rng() % 3 == 0) title += u"の" + std::u16string(pick(kWords));
      }
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
