#include "ui/gui_front_end.h"

#include <QCoreApplication>
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

}  // namespace tarvel
