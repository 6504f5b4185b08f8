// tarvel: the window program. One copy per user; start-up (settings and
// tables) is shared with tarvel-cli; then the main window opens.
#include <QApplication>
#include <QIcon>
#include <optional>
#include <string>

#include "app/app_state.h"
#include "app/front_end.h"
#include "app/music_dictionary.h"
#include "app/settings_rules.h"
#include "app/startup.h"
#include "platform/mecab_reading.h"
#include "ui/data_folder.h"
#include "ui/gui_front_end.h"
#include "ui/instance_lock.h"
#include "ui/main_window.h"
#include "ui/qt_japanese.h"

namespace {

struct Failure {
  std::u16string message;
  int status;
};

// Why the program cannot start, and the status it ends with.
std::optional<Failure> StartupFailure(const tarvel::StartupResult& startup,
                                      tarvel::MecabReadingService& reading) {
  if (!startup.ok()) return Failure{startup.message, 1};
  // Without the reading service no run could start: the program ends, with
  // the status tarvel-cli gives a run it refuses for the same reason.
  if (auto refusal = tarvel::ReadingServiceRefusal(reading)) return Failure{*refusal, 2};
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName("tarvel");
  app.setDesktopFileName("io.github.tarvel.Tarvel");
  // The icon also marks the messages shown before the main window exists.
  Q_INIT_RESOURCE(tarvel);
  app.setWindowIcon(QIcon(":/icons/io.github.tarvel.Tarvel.svg"));
  tarvel::InstallQtJapanese(app);

  // A second copy for the same user ends at once, reading and writing nothing.
  std::unique_ptr<QLockFile> lock = tarvel::AcquireInstanceLock();
  if (!lock) return 0;

  // Whatever start-up says before the window exists is kept and said once the
  // window is there (or before ending, when start-up fails).
  tarvel::RecordingFrontEnd early;
  tarvel::AppState state;
  state.ui = &early;
  auto exe = tarvel::ExecutablePath();
  tarvel::StartupResult startup =
      tarvel::Startup(state, exe ? *exe : std::filesystem::path(argv[0]));
  // The music dictionary is found where start-up found the tables.
  tarvel::MecabReadingService reading(tarvel::DefaultMecabDictionaryDir(),
                                      tarvel::MusicDictionaryPath(state.folder));
  state.reading = &reading;
  tarvel::MessageSink say = tarvel::SystemMessageSink();
  const QString title = tarvel::ToQString(tarvel::kMessageTitle);
  if (auto failure = StartupFailure(startup, reading)) {
    for (const auto& text : early.messages) say(nullptr, title, tarvel::ToQString(text));
    say(nullptr, title, tarvel::ToQString(failure->message));
    return failure->status;
  }

  // A folder on the command line is shown in place of the stored one; it is
  // saved only when the user saves the settings.
  QString missing_folder;
  if (auto folder = tarvel::FolderFromArguments(QApplication::arguments(), &missing_folder)) {
    state.settings.PathDataFolder = folder->toStdU16String();
  }

  tarvel::MainWindow window(state);
  window.Load();
  for (const auto& text : early.messages) say(&window, title, tarvel::ToQString(text));
  if (!missing_folder.isEmpty()) {
    say(&window, title,
        QString::fromUtf16(u"指定されたフォルダが見つかりません。") + "\n" + missing_folder);
  }
  std::u16string notices = early.log;
  for (const auto& line : startup.notices) notices += line + u"\r\n";
  if (!notices.empty()) {
    window.log().AppendLog(notices);
    window.log().Show();
  }
  return app.exec();
}
