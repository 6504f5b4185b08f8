// tarvel: the window program. Start-up is shared with tarvel-cli; the main
// window itself is still a bare frame that shows what was loaded.
#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QString>

#include "app/app_state.h"
#include "app/startup.h"
#include "platform/mecab_reading.h"
#include "platform/text.h"

namespace {

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName("tarvel");

  tarvel::AppState state;
  tarvel::MecabReadingService reading;
  state.reading = &reading;
  auto exe = tarvel::ExecutablePath();
  tarvel::StartupResult startup =
      tarvel::Startup(state, exe ? *exe : std::filesystem::path(argv[0]));
  if (!startup.ok()) {
    QMessageBox::information(nullptr, "QX", ToQString(startup.message), QMessageBox::Ok);
    return 1;
  }

  QMainWindow window;
  window.setWindowTitle("QX");
  auto* text = new QPlainTextEdit(&window);
  text->setReadOnly(true);
  QString summary = QString("settings: %1\ndata folder: %2\ndic.csv: %3 rows\nRome.csv: %4 rows\n")
                        .arg(QString::fromStdString(state.IniPath.string()))
                        .arg(ToQString(state.settings.PathDataFolder))
                        .arg(state.DicTable.Rows())
                        .arg(state.RomeTable.Rows());
  for (const auto& line : startup.notices) summary += ToQString(line) + "\n";
  text->setPlainText(summary);
  window.setCentralWidget(text);
  window.resize(520, 320);
  window.show();
  return app.exec();
}
