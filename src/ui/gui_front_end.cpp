#include "ui/gui_front_end.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

#include "ui/log_window.h"

namespace tarvel {

MessageSink SystemMessageSink() {
  return [](QWidget* owner, const QString& title, const QString& text) {
    // The texts carry CR LF line ends; a label breaks lines at LF alone.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::NoIcon, title, shown, QMessageBox::Ok, owner);
    box.exec();
  };
}

GuiFrontEnd::GuiFrontEnd(LogWindowHost& log, MessageSink sink, QWidget* owner,
                         std::function<void()> tick)
    : log_(log), sink_(std::move(sink)), owner_(owner), tick_(std::move(tick)) {}

void GuiFrontEnd::AppendLog(std::u16string_view text) { log_.AppendLog(text); }

void GuiFrontEnd::ShowMessage(std::u16string_view text) {
  sink_(owner_, ToQString(kMessageTitle), ToQString(text));
}

void GuiFrontEnd::ShowLog() { log_.Show(); }

void GuiFrontEnd::PumpEvents() { QCoreApplication::processEvents(); }

void GuiFrontEnd::TickCheckOnlyBoxes() {
  if (tick_) tick_();
}

std::optional<std::u16string> GuiFrontEnd::AskLibraryFolder(std::u16string_view missing) {
  if (!library_dialog_) return std::nullopt;
  // The chooser opens where the library used to be, as near as still exists
  // (the media folder of a stick now mounted under another name).
  QString start = QDir::cleanPath(ToQString(missing));
  while (!QFileInfo(start).isDir() && start != QDir::rootPath()) {
    start = QFileInfo(start).path();
  }
  const QString chosen = library_dialog_(owner_, ToQString(kMovedLibraryTitle), start);
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdU16String();
}

void GuiFrontEnd::ShowPlan(std::shared_ptr<const ChangePlan> plan, bool open) {
  if (plan_sink_) plan_sink_(std::move(plan), open);
}

}  // namespace tarvel
