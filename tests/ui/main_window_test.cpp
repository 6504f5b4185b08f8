// The main window: the load order and what follows from it, the enabling
// rules, the level-0 rule, the romaji refusal, the settings after each
// change, the position on close, the buttons and the runs they start.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTranslator>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>

#include "app/settings.h"
#include "files/id3_tag.h"
#include "platform/ini_file.h"
#include "platform/text.h"
#include "sample_library.h"
#include "ui/gui_front_end.h"
#include "ui/instance_lock.h"
#include "ui/presets.h"
#include "ui/qt_japanese.h"
#include "window_fixture.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::U8;
using testing::WriteBytes;

const QString kLevelZero = QString::fromUtf16(kLevelZeroMessage);
const QString kRomaji = QString::fromUtf16(kRomajiRefusedMessage);

class MainWindowTest : public testing::WindowTest {};

TEST_F(MainWindowTest, TitleIsTarvelVerAndTheVersion) {
  MainWindow& w = Open("");
  EXPECT_TRUE(w.windowTitle().contains(QRegularExpression("^Tarvel ver\\d+\\.\\d+\\.\\d+$")));
}

// What the load leaves behind for a stored settings file: the messages in
// order (and whether the window was shown yet) and the settings afterwards.
TEST_F(MainWindowTest, LoadOrderAndItsConsequences) {
  struct Case {
    const char* name;
    bool rome;
    std::string options;
    std::vector<std::pair<QString, bool>> said;  // text, window shown
    std::function<void(const Settings&)> check;
  };
  const Case cases[] = {
      {"defaults",
       true,
       "",
       {},
       [](const Settings& s) {
         Settings d;
         d.PathDataFolder = s.PathDataFolder;
         EXPECT_EQ(s, d);
       }},
      {"stored level 0 says so before the window and clears the full-width check",
       true,
       "ConvertLevelFilename=0\r\n",
       {{kLevelZero, false}},
       [](const Settings& s) {
         EXPECT_EQ(s.ConvertLevelFilename, 0);
         EXPECT_EQ(s.FlagDetectFullCharFilename, 0);
         EXPECT_EQ(s.FlagDetectFullCharID3Tag, 1);
       }},
      {"tag level 0 alone",
       true,
       "ConvertLevelID3Tag=0\r\n",
       {{kLevelZero, false}},
       [](const Settings& s) {
         EXPECT_EQ(s.FlagDetectFullCharFilename, 1);
         EXPECT_EQ(s.FlagDetectFullCharID3Tag, 0);
       }},
      {"romaji without Rome.csv is refused once, right after the window is shown",
       false,
       "ConvertLevelID3Tag=2\r\nConvertLevelFilename=1\r\n",
       {{kRomaji, true}, {kLevelZero, true}, {kLevelZero, true}},
       [](const Settings& s) {
         EXPECT_EQ(s.ConvertLevelFilename, 0);
         EXPECT_EQ(s.ConvertLevelID3Tag, 0);
         EXPECT_EQ(s.FlagDetectFullCharFilename, 0);
         EXPECT_EQ(s.FlagDetectFullCharID3Tag, 0);
       }},
      {"romaji with Rome.csv is kept",
       true,
       "ConvertLevelFilename=2\r\nConvertLevelID3Tag=2\r\n",
       {},
       [](const Settings& s) {
         EXPECT_EQ(s.ConvertLevelFilename, 2);
         EXPECT_EQ(s.ConvertLevelID3Tag, 2);
       }},
      {"a stored preset neither speaks nor overrides the stored options",
       true,
       "Player=2\r\nFlagConvertFilename=1\r\nFlagCheckOnlyID3Tag=0\r\nID3TagArtist=0\r\n",
       {},
       [](const Settings& s) {
         EXPECT_EQ(s.Player, 2);
         EXPECT_EQ(s.FlagConvertFilename, 1);
         EXPECT_EQ(s.FlagCheckOnlyID3Tag, 0);
         EXPECT_EQ(s.ID3TagArtist, 0);
       }},
      {"Z919 stored with other values keeps them",
       true,
       "Player=1\r\nLengthName=12\r\nFlagConvertID3Tag=1\r\nFlagCheckOnlyFilename=0\r\n",
       {},
       [](const Settings& s) {
         EXPECT_EQ(s.LengthName, 12);
         EXPECT_EQ(s.FlagConvertID3Tag, 1);
         EXPECT_EQ(s.FlagCheckOnlyFilename, 0);
       }},
      {"values out of range show and store the default",
       true,
       "FlagDisplayLog=2\r\nLengthName=0\r\nID3TagArtist=7\r\nPlayer=-1\r\nFlagPathSaveCSV=3\r\n",
       {},
       [](const Settings& s) {
         EXPECT_EQ(s.FlagDisplayLog, 1);
         EXPECT_EQ(s.LengthName, 30);
         EXPECT_EQ(s.ID3TagArtist, 0);
         EXPECT_EQ(s.Player, 1);
         EXPECT_EQ(s.FlagPathSaveCSV, 0);
       }},
      {"LengthName above 50 shows the default",
       true,
       "LengthName=51\r\n",
       {},
       [](const Settings& s) { EXPECT_EQ(s.LengthName, 30); }},
      {"values in range load unchanged",
       true,
       "FlagDisplayLog=0\r\nLengthName=50\r\nID3TagTitle=2\r\nFlagPathSaveCSV=1\r\n"
       "FlagRenameSubfolders=0\r\nFlagDicEnabledID3Tag=0\r\n",
       {},
       [](const Settings& s) {
         EXPECT_EQ(s.FlagDisplayLog, 0);
         EXPECT_EQ(s.LengthName, 50);
         EXPECT_EQ(s.ID3TagTitle, 2);
         EXPECT_EQ(s.FlagPathSaveCSV, 1);
         EXPECT_EQ(s.FlagRenameSubfolders, 0);
         EXPECT_EQ(s.FlagDicEnabledID3Tag, 0);
       }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    window_.reset();
    said_.clear();
    app_ = AppState();
    fs::remove(app_dir_ / "Rome.csv");
    if (k.rome) AddRome();
    MainWindow& w = Open(k.options);
    EXPECT_TRUE(w.isVisible());
    ASSERT_EQ(said_.size(), k.said.size());
    for (size_t i = 0; i < said_.size(); ++i) {
      EXPECT_EQ(said_[i].title, "QX");
      EXPECT_EQ(said_[i].text, k.said[i].first);
      EXPECT_EQ(said_[i].window_shown, k.said[i].second) << i;
    }
    k.check(app_.settings);
  }
}

// Each master box enables its dependents exactly when ticked, never changes
// their values, and the settings keep those values.
TEST_F(MainWindowTest, EnablingRules) {
  AddRome();
  // Both conversions stored off: the load's last step greys their dependents.
  Open("FlagConvertFilename=0\r\nFlagConvertID3Tag=0\r\n");
  struct Rule {
    const char* name;
    QCheckBox* master;
    std::vector<QWidget*> dependents;
  };
  std::vector<QWidget*> csv, names, tags;
  for (auto* b : c().optFlagPathSaveCSV->buttons()) csv.push_back(b);
  names = {c().chkFlagCheckOnlyFilename,
           c().chkFlagLimit30Char,
           c().txtLengthName,
           c().chkFlagDicEnabledFilename,
           c().chkFlagDetectFullCharFilename,
           c().chkFlagRenameFolderName};
  for (auto* b : c().optConvertLevelFilename->buttons()) names.push_back(b);
  // The frame "全角日本語を" greys with its levels, its caption too.
  names.push_back(c().optConvertLevelFilename->button(0)->parentWidget());
  tags = {c().chkFlagCheckOnlyID3Tag, c().chkFlagDicEnabledID3Tag, c().chkFlagDetectFullCharID3Tag,
          c().tabID3Tag};
  for (auto* g :
       {c().optID3TagArtist, c().optID3TagAlbum, c().optID3TagTitle, c().optConvertLevelID3Tag}) {
    for (auto* b : g->buttons()) tags.push_back(b);
  }
  tags.push_back(c().optConvertLevelID3Tag->button(0)->parentWidget());
  const Rule rules[] = {{"csv location", c().chkFlagCreateCSVFile, csv},
                        {"file names", c().chkFlagConvertFilename, names},
                        {"tags", c().chkFlagConvertID3Tag, tags}};
  ASSERT_EQ(names.size(), 10u);  // the ten dependents, number box and spin buttons as one, and
                                 // the levels' frame
  for (const auto* stored_off : {&names, &tags}) {
    for (QWidget* d : *stored_off) EXPECT_FALSE(d->isEnabled()) << d->objectName().toStdString();
  }
  c().chkFlagConvertFilename->setChecked(true);
  c().chkFlagConvertID3Tag->setChecked(true);
  for (const Rule& r : rules) {
    SCOPED_TRACE(r.name);
    const Settings before = app_.settings;
    for (QWidget* d : r.dependents) EXPECT_TRUE(d->isEnabled());
    r.master->setChecked(false);
    for (QWidget* d : r.dependents) EXPECT_FALSE(d->isEnabled()) << d->objectName().toStdString();
    Settings expected = before;
    if (r.master == c().chkFlagCreateCSVFile) expected.FlagCreateCSVFile = 0;
    if (r.master == c().chkFlagConvertFilename) expected.FlagConvertFilename = 0;
    if (r.master == c().chkFlagConvertID3Tag) expected.FlagConvertID3Tag = 0;
    EXPECT_EQ(app_.settings, expected);
    r.master->setChecked(true);
    for (QWidget* d : r.dependents) EXPECT_TRUE(d->isEnabled());
    EXPECT_EQ(app_.settings, before);
  }
  // The other boxes enable nothing.
  c().chkFlagDisplayLog->setChecked(false);
  c().chkFlagRenameSubfolders->setChecked(false);
  for (const Rule& r : rules) {
    for (QWidget* d : r.dependents) EXPECT_TRUE(d->isEnabled());
  }
}

TEST_F(MainWindowTest, CsvLocationStaysEnabledWhenStoredOffUntilTheBoxChanges) {
  Open("FlagCreateCSVFile=0\r\n");
  for (auto* b : c().optFlagPathSaveCSV->buttons()) EXPECT_TRUE(b->isEnabled());
  c().chkFlagCreateCSVFile->setChecked(true);
  c().chkFlagCreateCSVFile->setChecked(false);
  for (auto* b : c().optFlagPathSaveCSV->buttons()) EXPECT_FALSE(b->isEnabled());
}

// Every control reaches its member on its own change, by program or user.
TEST_F(MainWindowTest, SettingsFollowEachChange) {
  AddRome();
  Open("");
  struct Change {
    const char* name;
    std::function<void()> act;
    std::function<void(const Settings&)> check;
  };
  const Change changes[] = {
      {"data folder text", [&] { c().txtDataFolder->setText("/x/y"); },
       [](const Settings& s) { EXPECT_EQ(s.PathDataFolder, u"/x/y"); }},
      {"folder chosen with ...",
       [&] {
         folder_answer_ = QString::fromStdString(dir().string());
         c().cmdBrowse->click();
       },
       [&](const Settings& s) { EXPECT_EQ(s.PathDataFolder, dir().u16string()); }},
      {"display log", [&] { c().chkFlagDisplayLog->setChecked(false); },
       [](const Settings& s) { EXPECT_EQ(s.FlagDisplayLog, 0); }},
      {"subfolders", [&] { c().chkFlagRenameSubfolders->setChecked(false); },
       [](const Settings& s) { EXPECT_EQ(s.FlagRenameSubfolders, 0); }},
      {"folder names", [&] { c().chkFlagRenameFolderName->setChecked(false); },
       [](const Settings& s) { EXPECT_EQ(s.FlagRenameFolderName, 0); }},
      {"csv location", [&] { c().optFlagPathSaveCSV->button(1)->setChecked(true); },
       [](const Settings& s) { EXPECT_EQ(s.FlagPathSaveCSV, 1); }},
      {"check only names", [&] { c().chkFlagCheckOnlyFilename->setChecked(false); },
       [](const Settings& s) { EXPECT_EQ(s.FlagCheckOnlyFilename, 0); }},
      {"limit", [&] { c().chkFlagLimit30Char->setChecked(false); },
       [](const Settings& s) { EXPECT_EQ(s.FlagLimit30Char, 0); }},
      {"length", [&] { c().txtLengthName->setValue(12); },
       [](const Settings& s) { EXPECT_EQ(s.LengthName, 12); }},
      {"length typed beyond 50 stays within", [&] { c().txtLengthName->setValue(99); },
       [](const Settings& s) { EXPECT_EQ(s.LengthName, 50); }},
      {"length of one character, the least", [&] { c().txtLengthName->setValue(1); },
       [](const Settings& s) { EXPECT_EQ(s.LengthName, 1); }},
      {"dictionary names", [&] { c().chkFlagDicEnabledFilename->setChecked(false); },
       [](const Settings& s) { EXPECT_EQ(s.FlagDicEnabledFilename, 0); }},
      {"full width names", [&] { c().chkFlagDetectFullCharFilename->setChecked(false); },
       [](const Settings& s) { EXPECT_EQ(s.FlagDetectFullCharFilename, 0); }},
      {"level names romaji", [&] { c().optConvertLevelFilename->button(2)->setChecked(true); },
       [](const Settings& s) { EXPECT_EQ(s.ConvertLevelFilename, 2); }},
      {"check only tags", [&] { c().chkFlagCheckOnlyID3Tag->setChecked(false); },
       [](const Settings& s) { EXPECT_EQ(s.FlagCheckOnlyID3Tag, 0); }},
      {"dictionary tags", [&] { c().chkFlagDicEnabledID3Tag->setChecked(false); },
       [](const Settings& s) { EXPECT_EQ(s.FlagDicEnabledID3Tag, 0); }},
      {"full width tags", [&] { c().chkFlagDetectFullCharID3Tag->setChecked(false); },
       [](const Settings& s) { EXPECT_EQ(s.FlagDetectFullCharID3Tag, 0); }},
      {"level tags romaji", [&] { c().optConvertLevelID3Tag->button(2)->setChecked(true); },
       [](const Settings& s) { EXPECT_EQ(s.ConvertLevelID3Tag, 2); }},
      {"artist", [&] { c().optID3TagArtist->button(1)->setChecked(true); },
       [](const Settings& s) { EXPECT_EQ(s.ID3TagArtist, 1); }},
      {"album", [&] { c().optID3TagAlbum->button(2)->setChecked(true); },
       [](const Settings& s) { EXPECT_EQ(s.ID3TagAlbum, 2); }},
      {"title", [&] { c().optID3TagTitle->button(1)->setChecked(true); },
       [](const Settings& s) { EXPECT_EQ(s.ID3TagTitle, 1); }},
      {"tags off", [&] { c().chkFlagConvertID3Tag->setChecked(false); },
       [](const Settings& s) { EXPECT_EQ(s.FlagConvertID3Tag, 0); }},
      {"names off", [&] { c().chkFlagConvertFilename->setChecked(false); },
       [](const Settings& s) { EXPECT_EQ(s.FlagConvertFilename, 0); }},
      {"csv off", [&] { c().chkFlagCreateCSVFile->setChecked(false); },
       [](const Settings& s) { EXPECT_EQ(s.FlagCreateCSVFile, 0); }},
  };
  for (const Change& ch : changes) {
    SCOPED_TRACE(ch.name);
    ch.act();
    ch.check(app_.settings);
  }
  EXPECT_TRUE(said_.empty());
}

// Typing into the number box: only a whole number from 1 to 50 ever
// reaches LengthName; anything else leaves the last valid number.
TEST_F(MainWindowTest, TypedLengthStaysWithinOneToFifty) {
  Open("LengthName=30\r\n");
  struct Case {
    const char* typed;
    int32_t expected;
  } const cases[] = {
      {"12", 12}, {"0", 30}, {"99", 9}, {"abc", 30}, {"-5", 5}, {"50", 50}, {"", 30}, {"7x", 7},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.typed);
    c().txtLengthName->setValue(30);
    ASSERT_EQ(app_.settings.LengthName, 30);
    c().txtLengthName->setFocus();
    c().txtLengthName->selectAll();
    QTest::keyClick(c().txtLengthName, Qt::Key_Delete);
    QTest::keyClicks(c().txtLengthName, k.typed);
    EXPECT_EQ(app_.settings.LengthName, k.expected);
    EXPECT_GE(app_.settings.LengthName, 1);
    EXPECT_LE(app_.settings.LengthName, 50);
  }
}

TEST_F(MainWindowTest, NothingReachesTheSettingsWhileTheWindowIsHidden) {
  MainWindow& w = Open("");
  w.hide();
  const Settings before = app_.settings;
  c().chkFlagDisplayLog->setChecked(false);
  c().txtDataFolder->setText("/elsewhere");
  c().optConvertLevelFilename->button(0)->setChecked(true);  // the rule still speaks
  EXPECT_EQ(app_.settings, before);
  EXPECT_EQ(SaidTexts(), std::vector<QString>{kLevelZero});
}

TEST_F(MainWindowTest, LevelZeroRuleClearsTheFullWidthCheckWhichMayBeTickedAgain) {
  AddRome();
  Open("");
  struct Case {
    QButtonGroup* group;
    QCheckBox* detect;
    int32_t Settings::*member;
  };
  const Case cases[] = {
      {c().optConvertLevelFilename, c().chkFlagDetectFullCharFilename,
       &Settings::FlagDetectFullCharFilename},
      {c().optConvertLevelID3Tag, c().chkFlagDetectFullCharID3Tag,
       &Settings::FlagDetectFullCharID3Tag},
  };
  for (const Case& k : cases) {
    said_.clear();
    k.group->button(0)->setChecked(true);
    EXPECT_EQ(SaidTexts(), std::vector<QString>{kLevelZero});
    EXPECT_FALSE(k.detect->isChecked());
    EXPECT_EQ(app_.settings.*k.member, 0);
    k.detect->setChecked(true);
    EXPECT_EQ(app_.settings.*k.member, 1);
    k.group->button(0)->setChecked(true);  // already selected: nothing runs
    EXPECT_EQ(said_.size(), 1u);
    k.group->button(1)->setChecked(true);
    EXPECT_TRUE(k.detect->isChecked());
  }
}

// The refusal looks at the disk at every change.
TEST_F(MainWindowTest, RomajiRefusalFollowsTheDisk) {
  AddRome();
  Open("");
  c().optConvertLevelFilename->button(2)->setChecked(true);
  EXPECT_TRUE(said_.empty());
  EXPECT_EQ(app_.settings.ConvertLevelFilename, 2);

  fs::remove(app_dir_ / "Rome.csv");
  c().optConvertLevelFilename->button(1)->setChecked(true);
  said_.clear();
  c().optConvertLevelID3Tag->button(2)->setChecked(true);
  EXPECT_EQ(SaidTexts(), (std::vector<QString>{kRomaji, kLevelZero, kLevelZero}));
  EXPECT_EQ(c().optConvertLevelFilename->checkedId(), 0);
  EXPECT_EQ(c().optConvertLevelID3Tag->checkedId(), 0);
  EXPECT_EQ(app_.settings.ConvertLevelFilename, 0);
  EXPECT_EQ(app_.settings.ConvertLevelID3Tag, 0);

  // Any change checks again: a stored romaji level is refused at the next.
  AddRome();
  said_.clear();
  c().optConvertLevelFilename->button(2)->setChecked(true);
  EXPECT_TRUE(said_.empty());
  EXPECT_EQ(app_.settings.ConvertLevelFilename, 2);
}

TEST_F(MainWindowTest, PositionIsReadOnLoadAndWrittenOnEveryClose) {
  MainWindow& w = Open("", "FormTop=1500\r\nFormLeft=3000\r\n");
  EXPECT_EQ(w.pos(), QPoint(200, 100));
  w.move(40, 30);
  c().chkFlagDisplayLog->setChecked(false);  // unsaved: lost without a question
  c().cmdExit->click();
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(IniFile::Load(ini()).ReadInt(u"General", u"FormTop", -1), 450);
  EXPECT_EQ(IniFile::Load(ini()).ReadInt(u"General", u"FormLeft", -1), 600);
  EXPECT_EQ(IniFile::Load(ini()).ReadInt(u"Option", u"FlagDisplayLog", -1), -1);
  EXPECT_TRUE(said_.empty());
}

// A stored position on no screen (a screen since removed) is not taken: the
// window would open where nobody sees it.
// At twice the scale on a 1280 × 900 screen (640 × 450 at scale 1) the
// whole window fits beside a title bar and a panel: at its smallest the
// options scroll, and every button stays in view. A stored place that
// would put part of it below the screen moves it up.
TEST_F(MainWindowTest, FitsASmallScreenWithEveryButtonInView) {
  MainWindow& w = Open("", "FormTop=6000\r\nFormLeft=1500\r\n");  // 400 and 100 pixels
  const QRect screen = w.screen()->availableGeometry();
  EXPECT_LE(w.geometry().bottom(), screen.bottom());
  EXPECT_EQ(w.x(), 100);
  const QSize least = w.minimumSizeHint();
  EXPECT_LE(least.width(), 640 - 8);
  EXPECT_LE(least.height(), 450 - 24 - 24);
  w.resize(least);
  QApplication::processEvents();
  for (QWidget* button :
       std::initializer_list<QWidget*>{c().cmdRename, c().cmdRestore, c().cmdSaveOption,
                                       c().cmdExit, c().cmdChanges, c().cmdHistory}) {
    const QRect at(button->mapTo(&w, QPoint(0, 0)), button->size());
    EXPECT_TRUE(w.rect().contains(at)) << button->objectName().toStdString();
  }
}

// The browse button stands right of the folder box, and the presets' note
// stays right under the three presets when the window grows: the room goes
// below it.
TEST_F(MainWindowTest, BrowseButtonAndPresetNoteKeepTheirPlaces) {
  MainWindow& w = Open("");
  w.resize(w.width(), w.height() + 300);
  QApplication::processEvents();
  auto at = [&](QWidget* x) { return QRect(x->mapTo(&w, QPoint(0, 0)), x->size()); };
  EXPECT_GT(at(c().cmdBrowse).left(), at(c().txtDataFolder).right());
  QLabel* note = nullptr;
  for (QLabel* label : c().fraPlayer->findChildren<QLabel*>()) {
    if (label->text() == ToQString(kPresetNote)) note = label;
  }
  ASSERT_NE(note, nullptr);
  const QList<QAbstractButton*> presets = c().optPlayer->buttons();
  int lowest = 0;
  for (QAbstractButton* preset : presets) lowest = std::max(lowest, at(preset).bottom());
  EXPECT_LT(at(note).top() - lowest, 20);
  EXPECT_GT(at(c().fraPlayer).bottom() - at(note).bottom(), 100);
}

// Made taller, the ID3Tag tab keeps its rows together; the room goes below.
// The options scroll only up and down, even when a larger font makes a page
// wider than its tab.
TEST_F(MainWindowTest, OptionsKeepTheirPlacesWhenTheWindowOrFontGrows) {
  MainWindow& w = Open("");
  c().SSTab1->setCurrentIndex(2);
  w.resize(w.width(), w.height() + 300);
  QApplication::processEvents();
  EXPECT_EQ(c().tabID3Tag->height(), c().tabID3Tag->sizeHint().height());
  QFont larger = w.font();
  larger.setPointSizeF(larger.pointSizeF() * 1.5);
  w.setFont(larger);
  w.resize(w.minimumSizeHint());
  for (int tab = 0; tab < c().SSTab1->count(); ++tab) {
    c().SSTab1->setCurrentIndex(tab);
    QApplication::processEvents();
    auto* area = qobject_cast<QScrollArea*>(c().SSTab1->currentWidget());
    ASSERT_NE(area, nullptr);
    EXPECT_FALSE(area->horizontalScrollBar()->isVisible()) << tab;
  }
}

// While the window is there it takes what runs say; once it is gone, the
// front end from before it is back.
TEST_F(MainWindowTest, FrontEndFromBeforeTheWindowIsBackWhenItGoes) {
  RecordingFrontEnd early;
  app_.ui = &early;
  Open("");
  EXPECT_NE(app_.ui, &early);
  window_.reset();
  EXPECT_EQ(app_.ui, &early);
}

TEST_F(MainWindowTest, PositionOnNoScreenIsNotTaken) {
  MainWindow& w = Open("", "FormTop=-150000\r\nFormLeft=900000\r\n");
  EXPECT_NE(QGuiApplication::screenAt(w.pos()), nullptr);
}

TEST_F(MainWindowTest, SaveWritesTheSettingsAndSaysWhenItCannot) {
  Open("");
  c().txtLengthName->setValue(17);
  c().cmdSaveOption->click();
  EXPECT_EQ(IniFile::Load(ini()).ReadInt(u"Option", u"LengthName", -1), 17);
  // The tag level is written last, after the three tag sources.
  EXPECT_TRUE(ReadBytes(ini()).ends_with(
      "ID3TagArtist=0\r\nID3TagAlbum=0\r\nID3TagTitle=0\r\nConvertLevelID3Tag=1\r\n"))
      << ReadBytes(ini());
  EXPECT_TRUE(said_.empty());
  EXPECT_TRUE(QToolTip::isVisible());
  EXPECT_EQ(QToolTip::text().toStdU16String(), kSavedMessage);
  QToolTip::hideText();
  QApplication::processEvents();

  // A settings path that is a folder cannot be written: said with the file
  // it is about, also when that path is not UTF-8, and not hidden.
  for (const char* name : {"folder.ini", "\xFF folder.ini"}) {
    said_.clear();
    app_.IniPath = dir() / name;
    fs::create_directories(app_.IniPath);
    c().cmdSaveOption->click();
    ASSERT_EQ(said_.size(), 1u) << name;
    EXPECT_TRUE(said_[0].text.startsWith(QString::fromUtf16(kSaveFailedMessage))) << name;
    EXPECT_TRUE(said_[0].text.contains(QStringLiteral("folder.ini"))) << name;
    EXPECT_FALSE(QToolTip::isVisible());
  }
}

// A message is a plain box over its window: the title and text given (CR LF
// shown as a line break), an OK button alone and no icon.
TEST(MessageBoxTest, OkOnlyNoIconTitleAndText) {
  QWidget owner;
  owner.show();
  struct Seen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QMessageBox::StandardButtons buttons;
    qsizetype button_count = 0;
    QWidget* parent = nullptr;
  } seen;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {  // not modal: close whatever box there is rather than hang
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = qobject_cast<QMessageBox*>(w)) b->done(0);
      }
      return;
    }
    seen = {box->windowTitle(),     box->text(),           box->icon(),
            box->standardButtons(), box->buttons().size(), box->parentWidget()};
    box->button(QMessageBox::Ok)->click();
  });
  SystemMessageSink()(&owner, "QX", QString::fromUtf16(u"一行目\r\n二行目"));
  EXPECT_EQ(seen.title, "QX");
  EXPECT_EQ(seen.text, QString::fromUtf16(u"一行目\n二行目"));
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(seen.button_count, 1);
  EXPECT_EQ(seen.parent, &owner);
}

// The export's question answers the button pressed; closed, nothing.
TEST(ExportAskTest, AnswersFolderImageOrNothing) {
  struct {
    const char16_t* press;  // null: the box's cancel button
    ExportTarget expected;
  } kCases[] = {
      {u"フォルダ", ExportTarget::kFolder},
      {u"CDイメージ", ExportTarget::kImage},
      {nullptr, ExportTarget::kNone},
  };
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.press == nullptr ? "cancel" : U8(k.press));
    QTimer::singleShot(0, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box == nullptr || !box->isVisible()) continue;
        QAbstractButton* pressed = box->button(QMessageBox::Cancel);
        for (QAbstractButton* b : box->buttons()) {
          if (k.press != nullptr && b->text() == QString::fromUtf16(k.press)) pressed = b;
        }
        pressed->click();
      }
    });
    EXPECT_EQ(SystemExportAsk()(nullptr), k.expected);
  }
}

// The restore's chooser opens at the folder given, read-only, and takes only
// a file that exists; cancelled with a file selected, it gives nothing.
TEST_F(MainWindowTest, ListChooserTakesAnExistingFileAndChangesNothing) {
  WriteBytes(dir() / "list.csv", "");
  for (bool accept : {true, false}) {
    struct {
      QFileDialog::FileMode mode = QFileDialog::AnyFile;
      bool read_only = false;
      QString title;
    } seen;
    QTimer::singleShot(0, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (dialog == nullptr || !dialog->isVisible()) continue;
        seen = {dialog->fileMode(), dialog->testOption(QFileDialog::ReadOnly),
                dialog->windowTitle()};
        dialog->selectFile(QStringLiteral("list.csv"));
        if (accept) {
          static_cast<QDialog*>(dialog)->accept();  // the chooser's own check runs
        } else {
          dialog->reject();
        }
      }
    });
    const QString chosen =
        SystemListDialog()(nullptr, QStringLiteral("T"), QString::fromStdString(dir().string()));
    EXPECT_EQ(seen.mode, QFileDialog::ExistingFile);
    EXPECT_TRUE(seen.read_only);
    EXPECT_EQ(seen.title, QStringLiteral("T"));
    EXPECT_EQ(chosen.toStdString(), accept ? (dir() / "list.csv").string() : "");
  }
}

// Qt's own texts (standard buttons, the file chooser) are Japanese; without
// the translation installed they stay English and nothing fails.
TEST(QtJapaneseTest, StandardTextsAreJapaneseWhenInstalled) {
  QTranslator* translator = InstallQtJapanese(*QCoreApplication::instance());
  ASSERT_NE(translator, nullptr) << "qt6-translations-l10n is not installed";
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdU16String(),
            u"キャンセル");
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:").toStdU16String(), u"アドレス:");
  QCoreApplication::removeTranslator(translator);
  delete translator;
  EXPECT_EQ(InstallQtJapanese(*QCoreApplication::instance(), "/nonexistent"), nullptr);
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
}

TEST_F(MainWindowTest, SecondLockForTheSameUserIsRefusedUntilTheFirstEnds) {
  const QString path = QString::fromStdString((dir() / "instance.lock").string());
  auto first = AcquireInstanceLock(path);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(AcquireInstanceLock(path), nullptr);
  first.reset();
  EXPECT_NE(AcquireInstanceLock(path), nullptr);
}

// A lock file left over is taken only when its holder is known to be gone:
// one from another machine stays, however old.
TEST_F(MainWindowTest, LeftOverLockIsTakenOnlyFromAHolderKnownGone) {
  const fs::path file = dir() / "instance.lock";
  const struct {
    const char* what;
    std::string holder;  // pid, program, host, machine id
    bool taken;
  } kCases[] = {
      {"ended here",
       "2147483646\ntarvel\n" + QSysInfo::machineHostName().toStdString() + "\n" +
           QSysInfo::machineUniqueId().toStdString() + "\n",
       true},
      {"on another machine", "1\ntarvel\nelsewhere\nanother-machine\n", false},
  };
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.what);
    WriteBytes(file, k.holder);
    fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
    EXPECT_EQ(AcquireInstanceLock(QString::fromStdString(file.string())) != nullptr, k.taken);
  }
}

// The real program, started while this process holds the user's lock, ends
// at once without a window and without touching its settings file; with
// the lock free it starts and keeps running.
TEST_F(MainWindowTest, SecondCopyEndsSilently) {
  const fs::path copy = dir() / "portable";
  fs::create_directories(copy);
  fs::copy_file(fs::path(TARVEL_BINARY_DIR) / "tarvel", copy / "tarvel");
  fs::copy_file(app_dir_ / "dic.csv", copy / "dic.csv");
  const fs::path runtime = dir() / "runtime";
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  for (bool held : {true, false}) {
    SCOPED_TRACE(held ? "lock held" : "lock free");
    auto lock = held ? AcquireInstanceLock(QString::fromStdString(
                           (runtime / "io.github.tarvel.Tarvel.lock").string()))
                     : nullptr;
    ASSERT_EQ(lock != nullptr, held);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.string()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(QString::fromStdString((copy / "tarvel").string()), {});
    if (held) {
      ASSERT_TRUE(p.waitForFinished(20000)) << "the second copy kept running";
      EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
      EXPECT_EQ(p.exitCode(), 0);
      EXPECT_FALSE(fs::exists(copy / "tarvel.ini"));
    } else {
      EXPECT_FALSE(p.waitForFinished(1500)) << "the only copy ended: " << p.exitCode();
      p.kill();
      p.waitForFinished(5000);
    }
  }
}

// The program's icon marks the windows without one of their own, such as the
// message a copy without dic.csv shows before it ends.
TEST_F(MainWindowTest, EarlyMessageCarriesTheProgramsIcon) {
  const QString xvfb = QStandardPaths::findExecutable("xvfb-run");
  if (xvfb.isEmpty() || QStandardPaths::findExecutable("xprop").isEmpty() ||
      QStandardPaths::findExecutable("xwininfo").isEmpty()) {
    GTEST_SKIP() << "xvfb-run, xprop and xwininfo are needed";
  }
  const fs::path copy = dir() / "portable";
  fs::create_directories(copy / "runtime");
  fs::permissions(copy / "runtime", fs::perms::owner_all);
  fs::copy_file(fs::path(TARVEL_BINARY_DIR) / "tarvel", copy / "tarvel");
  // Waits until the box is on screen, says its icon and ends the program.
  const char* script =
      "echo display; \"$1\" & pid=$!\n"
      "for i in $(seq 150); do\n"
      "  xwininfo -name QX 2>/dev/null | grep -q IsViewable && break; sleep 0.1\n"
      "done\n"
      "xprop -name QX _NET_WM_ICON; kill $pid\n";
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString((copy / "runtime").string()));
  env.insert("QT_QPA_PLATFORM", "xcb");
  p.setProcessEnvironment(env);
  p.start(xvfb,
          {"-a", "sh", "-c", script, "sh", QString::fromStdString((copy / "tarvel").string())});
  ASSERT_TRUE(p.waitForFinished(60000));
  const QString said = QString::fromUtf8(p.readAllStandardOutput());
  if (!said.startsWith("display")) {
    GTEST_SKIP() << "no virtual display: " << p.readAllStandardError().toStdString();
  }
  EXPECT_TRUE(said.contains("Icon (")) << said.toStdString();
}

// Screen readers and UI automation find every control by its caption (the
// tooltip or the frame where it has none); frames and tabs show theirs.
TEST_F(MainWindowTest, EveryControlIsNamedByItsCaption) {
  Open("");
  auto name = [](QObject* o) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(o);
    return a ? a->text(QAccessible::Name).toStdU16String() : std::u16string(u"(none)");
  };
  const std::u16string_view kLevels[] = {u"変換なし", u"半角ｶﾅに変換する", u"ローマ字に変換する"};
  const std::u16string_view kSources[] = {u"現在のID3Tagを変換する（ID3Tagが無いときは付加しない）",
                                          u"ファイル名を埋め込む（現在のID3Tagに上書き）",
                                          u"フォルダ名を埋め込む（現在のID3Tagに上書き）"};
  std::vector<std::pair<QObject*, std::u16string_view>> cases = {
      {c().txtDataFolder, u"データフォルダ"},
      {c().txtDataFolder->parentWidget(), u"データフォルダ"},
      {c().cmdBrowse, u"フォルダを選択"},
      {c().fraPlayer, u"プレーヤー プリセット"},
      {c().optPlayer->button(1), u"Kenwood Z919"},
      {c().optPlayer->button(2), u"Kenwood f-CD7"},
      {c().optPlayer->button(0), u"それ以外"},
      {c().fraPlayer->findChild<QLabel*>(),
       u"プリセット選択時はチェックのみになっていますので、確認後、はずしてください。"},
      {c().cmdRename, u"変換開始"},
      {c().cmdRestore, u"復元"},
      {c().cmdSaveOption, u"設定保存"},
      {c().cmdExit, u"終了"},
      {c().cmdChanges, u"変更一覧"},
      {c().cmdHistory, u"履歴"},
      {c().chkFlagDisplayLog, u"変換ログを表示する"},
      {c().chkFlagRenameSubfolders, u"サブフォルダもチェック（変換）"},
      {c().chkFlagCreateCSVFile, u"変換するファイル名のCSVファイルを作成する"},
      {c().optFlagPathSaveCSV->button(0), u"CSVファイルはインストールフォルダに作成"},
      {c().optFlagPathSaveCSV->button(1), u"CSVファイルはデータフォルダに作成"},
      {c().chkFlagConvertFilename, u"ファイル名変換を有効にする"},
      {c().chkFlagCheckOnlyFilename, u"チェックのみで、変換は行わない"},
      {c().chkFlagDicEnabledFilename, u"辞書ファイルによる定型変換を有効にする"},
      {c().chkFlagDetectFullCharFilename, u"全角を検出したら変換停止"},
      {c().chkFlagLimit30Char, u"拡張子を除くファイル名を　　　　　　文字に制限する"},
      {c().txtLengthName, u"文字数"},
      {c().chkFlagRenameFolderName, u"フォルダ名も変換対象にする"},
      {c().optConvertLevelFilename->button(0)->parentWidget(), u"全角日本語を"},
      {c().chkFlagConvertID3Tag, u"ID3Tag変換を有効にする"},
      {c().chkFlagCheckOnlyID3Tag, u"チェックのみで、変換は行わない"},
      {c().chkFlagDicEnabledID3Tag, u"辞書ファイルによる定型変換を有効にする"},
      {c().chkFlagDetectFullCharID3Tag, u"全角を検出したら変換停止"},
      {c().optConvertLevelID3Tag->button(0)->parentWidget(), u"全角日本語を"},
  };
  for (int i = 0; i < 3; ++i) {
    cases.emplace_back(c().optConvertLevelFilename->button(i), kLevels[i]);
    cases.emplace_back(c().optConvertLevelID3Tag->button(i), kLevels[i]);
    for (QButtonGroup* g : {c().optID3TagArtist, c().optID3TagAlbum, c().optID3TagTitle}) {
      cases.emplace_back(g->button(i), kSources[i]);
    }
  }
  for (const auto& [object, caption] : cases) {
    EXPECT_EQ(name(object), caption) << U8(caption);
  }
  const std::pair<QTabWidget*, std::vector<std::u16string>> tabs[] = {
      {c().SSTab1, {u"全般", u"ファイル名", u"ID3Tag"}},
      {c().tabID3Tag, {u"アーティスト名", u"アルバム名", u"タイトル名"}}};
  for (const auto& [widget, captions] : tabs) {
    std::vector<std::u16string> shown;
    for (int i = 0; i < widget->count(); ++i) shown.push_back(widget->tabText(i).toStdU16String());
    EXPECT_EQ(shown, captions);
  }
  EXPECT_EQ(c().SSTab1->currentIndex(), 0);
  EXPECT_EQ(c().cmdBrowse->text(), "...");
  // Scripts and assistive tools also find the controls by their names.
  for (const auto& [object, expected] :
       std::initializer_list<std::pair<QObject*, const char*>>{{c().txtDataFolder, "txtDataFolder"},
                                                               {c().fraPlayer, "fraPlayer"},
                                                               {c().SSTab1, "SSTab1"},
                                                               {c().tabID3Tag, "tabID3Tag"}}) {
    EXPECT_EQ(object->objectName(), expected);
  }
  const std::pair<QToolButton*, std::u16string_view> tips[] = {
      {c().cmdRename, u"現在の設定で変換を開始します"},
      {c().cmdSaveOption, u"現在の設定を保存します"},
      {c().cmdExit, u"終了"},
      {c().cmdRestore, u""},
  };
  for (const auto& [button, tip] : tips) {
    EXPECT_EQ(button->toolTip().toStdU16String(), tip);
    // A picture button: its icon draws.
    EXPECT_FALSE(button->icon().pixmap(32).isNull()) << button->objectName().toStdString();
  }
  EXPECT_EQ(c().txtDataFolder->toolTip().toStdU16String(), u"フォルダをドロップしてください");
  // Where "インストールフォルダ" really is, in its tip and for assistive tools.
  const QString where = QString::fromUtf16(u"作成先：") + QString::fromStdString(app_dir_.string());
  EXPECT_EQ(c().optFlagPathSaveCSV->button(0)->toolTip(), where);
  EXPECT_EQ(c().optFlagPathSaveCSV->button(0)->accessibleDescription(), where);
  EXPECT_TRUE(c().optFlagPathSaveCSV->button(1)->accessibleDescription().isEmpty());
}

// Tab walks the window top to bottom: folder, presets, buttons, then tabs.
TEST_F(MainWindowTest, TabOrderFollowsTheLayout) {
  MainWindow& w = Open("");
  const std::vector<std::string> expected = {"txtDataFolder",
                                             "cmdBrowse",
                                             "optPlayer_1",
                                             "optPlayer_2",
                                             "optPlayer_0",
                                             "cmdRename",
                                             "cmdRestore",
                                             "cmdSaveOption",
                                             "cmdExit",
                                             "SSTab1",
                                             "chkFlagDisplayLog",
                                             "chkFlagRenameSubfolders",
                                             "chkFlagCreateCSVFile",
                                             "optFlagPathSaveCSV_0",
                                             "optFlagPathSaveCSV_1",
                                             "chkFlagSplitFolders",
                                             "chkFlagConvertFilename",
                                             "chkFlagCheckOnlyFilename",
                                             "chkFlagDicEnabledFilename",
                                             "chkFlagDetectFullCharFilename",
                                             "chkFlagLimit30Char",
                                             "txtLengthName",
                                             "chkFlagRenameFolderName",
                                             "optConvertLevelFilename_0",
                                             "optConvertLevelFilename_1",
                                             "optConvertLevelFilename_2",
                                             "chkFlagConvertID3Tag",
                                             "chkFlagCheckOnlyID3Tag",
                                             "chkFlagDicEnabledID3Tag",
                                             "chkFlagDetectFullCharID3Tag",
                                             "optConvertLevelID3Tag_0",
                                             "optConvertLevelID3Tag_1",
                                             "optConvertLevelID3Tag_2",
                                             "tabID3Tag",
                                             "optID3TagArtist_0",
                                             "optID3TagArtist_1",
                                             "optID3TagArtist_2",
                                             "optID3TagAlbum_0",
                                             "optID3TagAlbum_1",
                                             "optID3TagAlbum_2",
                                             "optID3TagTitle_0",
                                             "optID3TagTitle_1",
                                             "optID3TagTitle_2",
                                             "cmdChanges",
                                             "cmdHistory",
                                             "cmdExport"};
  const QRegularExpression ours("^(txt|cmd|opt|chk|SSTab|tabID3Tag$)");
  std::vector<std::string> seen;
  QWidget* at = c().txtDataFolder;
  while (seen.size() < expected.size()) {
    if (ours.match(at->objectName()).hasMatch() && (at->focusPolicy() & Qt::TabFocus)) {
      seen.push_back(at->objectName().toStdString());
    }
    at = at->nextInFocusChain();
    if (at == c().txtDataFolder || at == &w) break;
  }
  EXPECT_EQ(seen, expected);
  // On each tab the check boxes stand in that order from top to bottom.
  const std::vector<std::pair<int, std::vector<QWidget*>>> kColumns = {
      {0, {c().chkFlagDisplayLog, c().chkFlagRenameSubfolders, c().chkFlagCreateCSVFile}},
      {1,
       {c().chkFlagConvertFilename, c().chkFlagCheckOnlyFilename, c().chkFlagDicEnabledFilename,
        c().chkFlagDetectFullCharFilename, c().chkFlagLimit30Char, c().chkFlagRenameFolderName}},
      {2,
       {c().chkFlagConvertID3Tag, c().chkFlagCheckOnlyID3Tag, c().chkFlagDicEnabledID3Tag,
        c().chkFlagDetectFullCharID3Tag}},
  };
  for (const auto& [tab, boxes] : kColumns) {
    c().SSTab1->setCurrentIndex(tab);
    QApplication::processEvents();
    for (size_t i = 1; i < boxes.size(); ++i) {
      EXPECT_LT(boxes[i - 1]->mapTo(&w, QPoint(0, 0)).y(), boxes[i]->mapTo(&w, QPoint(0, 0)).y())
          << boxes[i]->objectName().toStdString();
    }
  }
  // The buttons under the tabs stand left to right in the same order.
  EXPECT_LT(c().cmdChanges->x(), c().cmdHistory->x());
  EXPECT_LT(c().cmdHistory->x(), c().cmdExport->x());
}

// The number box stands in the blank of its caption: check box, box, then
// the caption's end right after it, on one line.
TEST_F(MainWindowTest, LengthBoxSitsInsideItsCaption) {
  Open("");
  c().SSTab1->setCurrentIndex(1);
  const QRect check = c().chkFlagLimit30Char->geometry();
  const QRect box = c().txtLengthName->geometry();
  const QRect end = c().lblLimit30Char->geometry();
  EXPECT_LE(check.right(), box.left());
  EXPECT_LT(box.right(), end.left());
  EXPECT_LE(end.left() - box.right(), 12);
  EXPECT_LE(std::abs(check.center().y() - box.center().y()), 4);
  EXPECT_LE(std::abs(end.center().y() - box.center().y()), 4);
}

// The buttons work from the keyboard: Tab reaches them, Space presses.
TEST_F(MainWindowTest, ButtonsWorkFromTheKeyboard) {
  MainWindow& w = Open("");
  EXPECT_NE(c().cmdSaveOption->focusPolicy() & Qt::TabFocus, 0);
  c().txtLengthName->setValue(9);
  QTest::keyClick(c().cmdSaveOption, Qt::Key_Space);
  EXPECT_EQ(IniFile::Load(ini()).ReadInt(u"Option", u"LengthName", -1), 9);
  QTest::keyClick(c().cmdExit, Qt::Key_Space);
  EXPECT_FALSE(w.isVisible());
}

// A library with kana names, a folder and tags, converted from the start
// button and then restored from the restore button.
class WindowRunTest : public testing::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    lib_ = MakeKanaLibrary();
  }
  std::string Options(const std::string& extra) const {
    return "PathDataFolder=" + lib_.string() +
           "\r\nFlagCheckOnlyFilename=0\r\nFlagCheckOnlyID3Tag=0\r\nFlagPathSaveCSV=1\r\n" + extra;
  }
  fs::path lib_;
};

TEST_F(WindowRunTest, ConvertThenRestoreFromTheButtons) {
  AddRome();
  MainWindow& w = Open(Options("Player=0\r\n"));
  c().cmdRename->click();
  EXPECT_FALSE(w.busy());
  EXPECT_TRUE(fs::exists(lib_ / "ﾃｽﾄ.mp3"));
  EXPECT_TRUE(fs::exists(lib_ / "ﾌｫﾙﾀﾞ" / "ｳﾀ.mp3"));
  EXPECT_FALSE(fs::exists(lib_ / "テスト.mp3"));
  ID3TagData tag;
  ASSERT_EQ(ReadID3Tag(Utf8ToUtf16((lib_ / "ﾃｽﾄ.mp3").string()).value(), tag), 1);
  EXPECT_EQ(U8(tag.Title), U8(u"ﾃｽﾄ"));
  EXPECT_EQ(U8(tag.Artist), U8(u"ｱｰﾃｨｽﾄ"));
  ASSERT_TRUE(fs::exists(lib_ / "list.csv"));
  ASSERT_NE(w.log().window(), nullptr);
  EXPECT_TRUE(w.log().window()->isVisible());
  EXPECT_NE(w.log().LogText().find(u"ファイル名の取得を開始しています"), std::u16string::npos);
  EXPECT_TRUE(c().cmdRestore->isEnabled());
  EXPECT_TRUE(said_.empty());

  // Cancelling the open dialog does nothing.
  const std::u16string log_before = w.log().LogText();
  list_answer_.clear();
  c().cmdRestore->click();
  EXPECT_EQ(list_dialog_title_, QString::fromUtf16(kRestoreDialogTitle));
  EXPECT_EQ(list_dialog_start_, QString::fromStdString(lib_.string()));
  EXPECT_EQ(w.log().LogText(), log_before);
  EXPECT_TRUE(fs::exists(lib_ / "ﾃｽﾄ.mp3"));

  list_answer_ = QString::fromStdString((lib_ / "list.csv").string());
  c().cmdRestore->click();
  EXPECT_TRUE(fs::exists(lib_ / "テスト.mp3"));
  EXPECT_TRUE(fs::exists(lib_ / "フォルダ" / "うた.mp3"));
  ASSERT_EQ(ReadID3Tag(Utf8ToUtf16((lib_ / "テスト.mp3").string()).value(), tag), 1);
  EXPECT_EQ(U8(tag.Title), U8(u"テスト"));
  EXPECT_NE(w.log().LogText().find(u"復元を開始します。"), std::u16string::npos);
}

// "書き出し" writes a converted copy to a folder or an image, the library
// untouched, and refuses a copy that breaks a limit of the player, its rows
// marked in the change table.
TEST_F(WindowRunTest, ExportButtonWritesACopyOrRefusesOneBreakingALimit) {
  AddRome();
  const auto before = testing::ExactTree(lib_);
  struct Case {
    const char* name;
    std::string options;
    ExportTarget target;
    std::string where;                 // below dir()
    std::vector<std::string> written;  // below dir()
    std::u16string said;               // the start of the message; empty: nothing said
    bool marked;                       // rows carry the limit's notice
  } const kCases[] = {
      {"folder",
       "",
       ExportTarget::kFolder,
       "stick",
       {"stick/ﾃｽﾄ.mp3", "stick/ﾌｫﾙﾀﾞ/ｳﾀ.mp3"},
       u"書き出しました",
       false},
      {"image", "", ExportTarget::kImage, "disc.iso", {"disc.iso"}, u"書き出しました", false},
      {"a name too long",
       "MaxNameLength=4\r\n",
       ExportTarget::kFolder,
       "stick2",
       {},
       u"書き出せませんでした。\r\nname length: the name ﾃｽﾄ.mp3",
       true},
      {"cancelled", "", ExportTarget::kNone, "stick3", {}, u"", false},
  };
  for (const Case& k : kCases) {
    SCOPED_TRACE(k.name);
    window_.reset();
    said_.clear();
    app_ = AppState();
    Open(Options("Player=0\r\n" + k.options));
    export_target_ = k.target;
    export_answer_ = QString::fromStdString((dir() / k.where).string());
    // While the export goes on, no run can be started.
    bool start_shut = true;
    if (k.target != ExportTarget::kNone) {
      start_shut = false;
      QTimer::singleShot(0, window_.get(), [&] { start_shut = !c().cmdRename->isEnabled(); });
    }
    c().cmdExport->click();
    EXPECT_TRUE(start_shut);
    EXPECT_FALSE(window_->busy());
    for (const std::string& file : k.written) {
      EXPECT_TRUE(fs::is_regular_file(dir() / file)) << file;
    }
    if (k.written.empty()) {
      EXPECT_FALSE(fs::exists(dir() / k.where));
    }
    EXPECT_EQ(testing::ExactTree(lib_), before);
    if (k.said.empty()) {
      EXPECT_TRUE(said_.empty());
      EXPECT_EQ(window_->plan(), nullptr);
      continue;
    }
    ASSERT_EQ(said_.size(), 1u);
    EXPECT_TRUE(said_[0].text.startsWith(QString::fromStdU16String(k.said)))
        << said_[0].text.toStdString();
    ASSERT_NE(window_->plan(), nullptr);
    bool marked = false;
    for (const PlanRow& row : window_->plan()->rows)
      marked |= (row.notices & kNoticePlayerLimit) != 0;
    EXPECT_EQ(marked, k.marked);
  }
  EXPECT_EQ(c().cmdExport->accessibleName(), QString::fromUtf16(u"書き出し"));
}

// A library copied elsewhere (the original gone) is restored where it lies
// now, chosen in the folder chooser the restore opens; cancelled, nothing
// changes.
TEST_F(WindowRunTest, RestoreOfAMovedLibraryAsksWhereItIsNow) {
  AddRome();
  const auto before = testing::ExactTree(lib_);
  MainWindow& w = Open(Options("Player=0\r\n"));
  c().cmdRename->click();
  ASSERT_TRUE(fs::exists(lib_ / "ﾃｽﾄ.mp3"));
  const fs::path moved = dir() / "stick2" / "lib";
  fs::create_directories(moved.parent_path());
  ASSERT_EQ(std::system(("cp -a '" + lib_.string() + "' '" + moved.string() + "'").c_str()), 0);
  fs::remove_all(lib_);
  const auto converted = testing::ExactTree(moved);
  struct {
    const char* what;
    QString answer;
    bool restored;
  } kCases[] = {
      {"cancelled", QString(), false},
      {"the new place chosen", QString::fromStdString(moved.string()), true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    library_answer_ = c.answer;
    library_dialog_title_.clear();
    list_answer_ = QString::fromStdString((moved / "list.csv").string());
    this->c().cmdRestore->click();
    // While it asks, the window's runs and options are shut; after, open.
    EXPECT_FALSE(runs_open_when_asked_);
    EXPECT_FALSE(w.busy());
    EXPECT_EQ(library_dialog_title_, QString::fromUtf16(kMovedLibraryTitle));
    // It opens at the nearest folder that is still there.
    EXPECT_EQ(library_dialog_start_, QString::fromStdString(dir().string()));
    EXPECT_EQ(testing::ExactTree(moved), c.restored ? before : converted);
  }
  EXPECT_NE(w.log().LogText().find(u"変換したフォルダが見つかりません。"), std::u16string::npos);
}

TEST_F(WindowRunTest, RestoreDialogOpensWhereTheListIsWritten) {
  Open(Options("FlagPathSaveCSV=0\r\n"));
  c().optFlagPathSaveCSV->button(0)->setChecked(true);
  c().cmdRestore->click();
  EXPECT_EQ(list_dialog_start_, QString::fromStdString(app_.folder.list_dir.string()));
}

TEST_F(WindowRunTest, WithoutTheLogMessagesAreBoxesTitledQX) {
  Open("PathDataFolder=" + (dir() / "nothing-here").string() + "\r\nFlagDisplayLog=0\r\n");
  c().cmdRename->click();
  ASSERT_EQ(said_.size(), 1u);
  EXPECT_EQ(said_[0].title, "QX");
  EXPECT_EQ(said_[0].text, QString::fromUtf16(u"データフォルダが無効です"));
  EXPECT_EQ(window_->log().LogText(), u"");
}

// A character that stays full-width switches the run to check-only: the two
// boxes are ticked and the settings follow; nothing is renamed.
TEST_F(WindowRunTest, FullWidthStopTicksTheCheckOnlyBoxes) {
  sample::WriteMp3(lib_, u"∴.mp3", 64, std::nullopt);
  Open(Options(""));
  ASSERT_FALSE(c().chkFlagCheckOnlyFilename->isChecked());
  c().cmdRename->click();
  EXPECT_TRUE(c().chkFlagCheckOnlyFilename->isChecked());
  EXPECT_TRUE(c().chkFlagCheckOnlyID3Tag->isChecked());
  EXPECT_EQ(app_.settings.FlagCheckOnlyFilename, 1);
  EXPECT_EQ(app_.settings.FlagCheckOnlyID3Tag, 1);
  EXPECT_TRUE(fs::exists(lib_ / "テスト.mp3"));
}

// During a run nothing that starts another run or changes an option can be
// used, and closing the window waits for the run to end.
// The romaji level stays as the run read it even when Rome.csv goes.
TEST_F(WindowRunTest, DuringARunOptionsAndRunsAreShutAndCloseWaits) {
  AddRome();
  MainWindow& w = Open(Options("ConvertLevelFilename=2\r\n"));
  struct Seen {
    bool busy = false, rename = true, restore = true, tabs = true, presets = true, folder = true;
    bool exit_enabled = false, visible_after_close = false, romaji_kept = false;
  } seen;
  QTimer::singleShot(0, &w, [&] {
    fs::remove(app_dir_ / "Rome.csv");
    w.UpdateSettings();
    seen.romaji_kept = said_.empty() && c().optConvertLevelFilename->checkedId() == 2 &&
                       app_.settings.ConvertLevelFilename == 2;
    seen.busy = w.busy();
    seen.rename = c().cmdRename->isEnabled();
    seen.restore = c().cmdRestore->isEnabled();
    seen.tabs = c().chkFlagDisplayLog->isEnabled();
    seen.presets = c().optPlayer->button(0)->isEnabled();
    seen.folder = c().txtDataFolder->isEnabled();
    seen.exit_enabled = c().cmdExit->isEnabled();
    c().cmdRename->click();  // shut: ignored
    c().cmdExit->click();
    seen.visible_after_close = w.isVisible();
  });
  c().cmdRename->click();
  EXPECT_TRUE(seen.busy);
  EXPECT_FALSE(seen.rename);
  EXPECT_FALSE(seen.restore);
  EXPECT_FALSE(seen.tabs);
  EXPECT_FALSE(seen.presets);
  EXPECT_FALSE(seen.folder);
  EXPECT_TRUE(seen.exit_enabled);
  EXPECT_TRUE(seen.visible_after_close);
  EXPECT_TRUE(seen.romaji_kept);
  // The run went to its end, once, and then the window closed.
  EXPECT_FALSE(fs::exists(lib_ / "テスト.mp3"));
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(IniFile::Load(ini()).ReadInt(u"General", u"FormTop", -1), w.y() * 15);
  EXPECT_FALSE(app_.run_in_progress);
}

}  // namespace
}  // namespace tarvel
