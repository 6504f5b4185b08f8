#include "ui/data_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

namespace tarvel {
namespace {

TEST(DataFolderTest, BrowseCancelChangesNothingAndAChoiceSetsBoth) {
  Settings settings;
  settings.PathDataFolder = u"/music";
  QLineEdit edit(QString::fromUtf8("/music"));
  QString asked_start;
  BrowseForDataFolder(nullptr, &edit, settings,
                      [&](QWidget*, const QString&, const QString& start) {
                        asked_start = start;
                        return QString();
                      });
  EXPECT_EQ(asked_start, QString::fromUtf8("/music"));
  EXPECT_EQ(edit.text(), QString::fromUtf8("/music"));
  EXPECT_EQ(settings.PathDataFolder, u"/music");

  BrowseForDataFolder(nullptr, &edit, settings, [](QWidget*, const QString&, const QString&) {
    return QString::fromUtf8("/音楽/アルバム");
  });
  EXPECT_EQ(edit.text(), QString::fromUtf8("/音楽/アルバム"));
  EXPECT_EQ(settings.PathDataFolder, u"/音楽/アルバム");
}

}  // namespace
}  // namespace tarvel
