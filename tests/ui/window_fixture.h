// A main window over a portable application folder in a temporary folder:
// dic.csv (and Rome.csv when asked) beside a pretend executable, the settings
// file written by the test, every message recorded instead of shown.
#ifndef TARVEL_TESTS_UI_WINDOW_FIXTURE_H_
#define TARVEL_TESTS_UI_WINDOW_FIXTURE_H_

#include <QString>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/startup.h"
#include "platform/mecab_reading.h"
#include "sample_library.h"
#include "support/test_support.h"
#include "ui/main_window.h"

namespace tarvel::testing {

struct Said {
  QString title;
  QString text;
  bool window_shown;  // the main window was visible when it was said
};

class WindowTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    app_dir_ = dir() / "app";
    std::filesystem::create_directories(app_dir_);
    std::filesystem::copy_file(std::filesystem::path(TARVEL_SOURCE_DIR) / "data/dic.csv",
                               app_dir_ / "dic.csv");
  }
  void TearDown() override {
    window_.reset();
    TempDirTest::TearDown();
  }

  void AddRome() {
    std::filesystem::copy_file(std::filesystem::path(TARVEL_SOURCE_DIR) / "data/Rome.csv",
                               app_dir_ / "Rome.csv",
                               std::filesystem::copy_options::overwrite_existing);
  }
  std::filesystem::path ini() const { return app_dir_ / "tarvel.ini"; }

  // A library at lib/ with kana names, a folder and a tagged file, as a
  // first run meets it.
  std::filesystem::path MakeKanaLibrary() {
    const std::filesystem::path lib = dir() / "lib";
    std::filesystem::create_directories(lib);
    sample::Tag tag;
    tag.title = u"テスト";
    tag.artist = u"アーティスト";
    tag.album = u"アルバム";
    sample::WriteMp3(lib, u"テスト.mp3", 64, tag);
    sample::WriteMp3(lib, u"フォルダ/うた.mp3", 64, std::nullopt);
    return lib;
  }

  // Writes the settings file with `option_lines` ("Key=Value\r\n"...) in
  // section "Option" and `general_lines` in "General", runs start-up and
  // opens the window.
  MainWindow& Open(const std::string& option_lines, const std::string& general_lines = "") {
    std::string text = "[Option]\r\n" + option_lines;
    if (!general_lines.empty()) text += "[General]\r\n" + general_lines;
    WriteBytes(ini(), text);
    StartupResult r = Startup(app_, app_dir_ / "tarvel");
    EXPECT_TRUE(r.ok());
    app_.reading = &reading_;
    MainWindowSeams seams;
    seams.message = [this](QWidget*, const QString& title, const QString& text) {
      said_.push_back({title, text, window_ && window_->isVisible()});
    };
    seams.folder = [this](QWidget*, const QString&, const QString&) { return folder_answer_; };
    seams.open_list = [this](QWidget*, const QString& title, const QString& start) {
      list_dialog_title_ = title;
      list_dialog_start_ = start;
      return list_answer_;
    };
    seams.moved_library = [this](QWidget*, const QString& title, const QString& start) {
      library_dialog_title_ = title;
      library_dialog_start_ = start;
      runs_open_when_asked_ = window_->controls().cmdRestore->isEnabled();
      return library_answer_;
    };
    seams.reading = [this](QWidget*, const ReadingQuestion& question) {
      reading_question_ = question;
      return reading_answer_;
    };
    seams.export_target = [this](QWidget*) { return export_target_; };
    seams.export_folder = [this](QWidget*, const QString&, const QString&) {
      return export_answer_;
    };
    seams.export_image = [this](QWidget*, const QString&, const QString&) {
      return export_answer_;
    };
    window_ = std::make_unique<MainWindow>(app_, std::move(seams));
    window_->Load();
    return *window_;
  }

  const MainWindow::Controls& c() const { return window_->controls(); }
  std::vector<QString> SaidTexts() const {
    std::vector<QString> texts;
    for (const Said& s : said_) texts.push_back(s.text);
    return texts;
  }

  std::filesystem::path app_dir_;
  AppState app_;
  MecabReadingService reading_;
  std::unique_ptr<MainWindow> window_;
  std::vector<Said> said_;
  QString list_answer_;
  QString folder_answer_;  // what the "..." folder chooser answers
  QString list_dialog_title_;
  QString list_dialog_start_;
  // What the moved-library chooser was asked, and its answer.
  QString library_answer_;
  QString library_dialog_title_;
  QString library_dialog_start_;
  bool runs_open_when_asked_ = true;  // 復元 could be pressed while it asked
  // What the reading correction was asked, and its answer (none: cancelled).
  ReadingQuestion reading_question_;
  std::optional<ReadingAnswer> reading_answer_;
  // What the export's questions answer: folder or image, and where.
  ExportTarget export_target_ = ExportTarget::kNone;
  QString export_answer_;
};

}  // namespace tarvel::testing

#endif  // TARVEL_TESTS_UI_WINDOW_FIXTURE_H_
