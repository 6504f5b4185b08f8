#include "ui/data_folder.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "support/test_support.h"

namespace tarvel {
namespace {

using testing::U8;
using testing::WriteBytes;

QString Q(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

class DataFolderTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    for (const char* f : {"a.mp3", "b.mp3", "c.mp3"}) WriteBytes(dir() / f, "ID3");
    std::filesystem::create_directory(dir() / u8"フォルダA");
    std::filesystem::create_directory(dir() / "B");
    std::filesystem::create_symlink(dir() / "nowhere", dir() / "dangling");
  }
  // A local file URL for a name in the temporary folder, as a file manager
  // gives it (percent-encoded).
  QUrl Local(const char* name) const {
    return QUrl::fromLocalFile(QString::fromStdString((dir() / name).string()));
  }
  QString Path(const char* name) const {
    return QString::fromStdString((dir() / name).lexically_normal().string());
  }
};

TEST_F(DataFolderTest, FirstDroppedFolder) {
  const char* kA = "フォルダA";
  struct {
    const char* name;
    std::vector<QUrl> urls;
    std::optional<QString> folder;
  } const kCases[] = {
      {"three files then a folder",
       {Local("a.mp3"), Local("b.mp3"), Local("c.mp3"), Local(kA)},
       Path(kA)},
      {"two folders: the first in the drop's order", {Local("B"), Local(kA)}, Path("B")},
      {"files only", {Local("a.mp3"), Local("b.mp3")}, std::nullopt},
      {"non-local URLs are passed over",
       {QUrl("https://example.com/music/"), QUrl("smb://server/share"), Local(kA)},
       Path(kA)},
      {"only non-local URLs", {QUrl("https://example.com/music/")}, std::nullopt},
      {"a missing item ends the search", {Local("a.mp3"), Local("gone"), Local(kA)}, std::nullopt},
      {"a broken link ends the search", {Local("dangling"), Local("B")}, std::nullopt},
      {"a folder before a missing item counts", {Local("B"), Local("gone")}, Path("B")},
      {"a trailing slash is dropped", {QUrl::fromLocalFile(Path("B") + "/")}, Path("B")},
      {"nothing dropped", {}, std::nullopt},
  };
  for (const auto& c : kCases) {
    std::optional<QString> got = FirstDroppedFolder(QList<QUrl>(c.urls.begin(), c.urls.end()));
    EXPECT_EQ(got.value_or("(none)").toStdString(), c.folder.value_or("(none)").toStdString())
        << c.name;
  }
}

TEST_F(DataFolderTest, DropOnTheBoxSetsOnlyAFolder) {
  const QString start = QStringLiteral("/start");
  struct {
    const char* name;
    std::vector<QUrl> urls;  // empty: a drop of plain text
    QString text;
  } const kCases[] = {
      {"three files then a folder",
       {Local("a.mp3"), Local("b.mp3"), Local("c.mp3"), Local("B")},
       Path("B")},
      {"two folders", {Local("フォルダA"), Local("B")}, Path("フォルダA")},
      {"files only", {Local("a.mp3")}, start},
      {"a non-local URL", {QUrl("https://example.com/music/")}, start},
      {"plain text, no file list", {}, start},
  };
  for (const auto& c : kCases) {
    DataFolderEdit edit;
    edit.setText(start);
    QSignalSpy changed(&edit, &QLineEdit::textChanged);
    QMimeData mime;
    if (c.urls.empty()) {
      mime.setText(QStringLiteral("/typed/path"));
    } else {
      mime.setUrls(QList<QUrl>(c.urls.begin(), c.urls.end()));
    }
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&edit, &enter);
    EXPECT_EQ(enter.isAccepted(), !c.urls.empty()) << c.name;
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&edit, &drop);
    EXPECT_EQ(drop.isAccepted(), !c.urls.empty()) << c.name;  // the source learns it was taken
    EXPECT_EQ(edit.text(), c.text) << c.name;
    // The main window takes the box's changes into the settings.
    EXPECT_EQ(changed.count(), c.text == start ? 0 : 1) << c.name;
  }
}

TEST(DataFolderBrowseTest, CancelChangesNothingAndAChoiceSetsBoth) {
  const std::u16string long_path = u"/" + std::u16string(200, u'音');
  struct {
    const char* name;
    QString answer;
    std::u16string expected;
  } const kCases[] = {
      {"cancel", QString(), u"/music"},
      {"a choice", QStringLiteral(u"/音楽/アルバム"), u"/音楽/アルバム"},
      {"a path beyond the old 259 bytes", Q(long_path), long_path},
  };
  for (const auto& c : kCases) {
    Settings settings;
    settings.PathDataFolder = u"/music";
    QWidget owner;
    QLineEdit edit(QStringLiteral("/music"));
    QWidget* asked_owner = nullptr;
    QString asked_title;
    QString asked_start;
    BrowseForDataFolder(&owner, &edit, settings,
                        [&](QWidget* o, const QString& title, const QString& start) {
                          asked_owner = o;
                          asked_title = title;
                          asked_start = start;
                          return c.answer;
                        });
    EXPECT_EQ(asked_owner, &owner) << c.name;
    EXPECT_EQ(asked_title, QStringLiteral(u"ＭＰ３ファイルのあるディレクトリを選択してください。"))
        << c.name;
    EXPECT_EQ(asked_start, QStringLiteral("/music")) << c.name;
    EXPECT_EQ(edit.text(), Q(c.expected)) << c.name;
    EXPECT_EQ(U8(settings.PathDataFolder), U8(c.expected)) << c.name;
  }
}

// A chosen folder survives saving and loading whole, however long: cut to
// the 254 bytes of the old fixed buffer it would name another folder.
TEST_F(DataFolderTest, AChosenFolderLoadsBackWhole) {
  const std::u16string kPaths[] = {
      u"/" + std::u16string(253, u'a'),  // 254 bytes
      u"/" + std::u16string(400, u'a'),
      u"/home/user/" + std::u16string(150, u'曲'),  // 311 bytes in code page 932
      u"/home/user/" + std::u16string(140, u'a') + u"/" + std::u16string(140, u'b'),
  };
  const std::filesystem::path ini = dir() / "tarvel.ini";
  for (const auto& path : kPaths) {
    Settings settings;
    settings.PathDataFolder = path;
    ASSERT_TRUE(SaveSettings(settings, ini));
    EXPECT_EQ(U8(LoadSettings(ini, u"/default").PathDataFolder), U8(path));
  }
}

TEST(StartFolderTest, FolderOnTheCommandLine) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString folder = dir.path() + QString::fromUtf8("/音楽");
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString file = dir.path() + "/a.mp3";
  QFile(file).open(QIODevice::WriteOnly);
  const QString program = "tarvel";
  struct {
    QStringList arguments;
    std::optional<QString> expected;
    QString missing;
  } cases[] = {
      {{program}, std::nullopt, ""},
      {{program, folder}, folder, ""},
      {{program, folder + "/"}, folder, ""},
      {{program, QUrl::fromLocalFile(folder).toString()}, folder, ""},
      {{program, "--unknown-option", folder}, folder, ""},
      {{program, file}, std::nullopt, file},
      {{program, dir.path() + "/gone"}, std::nullopt, dir.path() + "/gone"},
  };
  for (const auto& c : cases) {
    QString missing;
    EXPECT_EQ(FolderFromArguments(c.arguments, &missing), c.expected)
        << c.arguments.join(' ').toStdString();
    EXPECT_EQ(missing, c.missing) << c.arguments.join(' ').toStdString();
  }
}

}  // namespace
}  // namespace tarvel
