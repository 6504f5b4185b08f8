#include "ui/log_window.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace tarvel {

// A first, plain version: the text box alone.
struct LogWindow::Impl {
  std::filesystem::path ini_path;
  QPlainTextEdit* monitor = nullptr;
  std::u16string text;
};

LogWindow::LogWindow(std::filesystem::path ini_path, QWidget* owner)
    : QWidget(owner, Qt::Window), impl_(new Impl) {
  impl_->ini_path = std::move(ini_path);
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QString::fromUtf8("ログ"));
  impl_->monitor = new QPlainTextEdit(this);
  impl_->monitor->setReadOnly(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(impl_->monitor);
}

LogWindow::~LogWindow() { delete impl_; }

void LogWindow::AppendLog(std::u16string_view text) {
  impl_->text += text;
  impl_->monitor->setPlainText(
      QString::fromUtf16(impl_->text.data(), static_cast<qsizetype>(impl_->text.size())));
}

std::u16string LogWindow::LogText() const { return impl_->text; }

void LogWindow::ClearLog() {
  impl_->text.clear();
  impl_->monitor->clear();
}

LogWindowHost::LogWindowHost(std::filesystem::path ini_path, QWidget* owner)
    : ini_path_(std::move(ini_path)), owner_(owner) {}

LogWindow* LogWindowHost::Ensure() {
  if (window_.isNull()) window_ = new LogWindow(ini_path_, owner_);
  return window_;
}

void LogWindowHost::AppendLog(std::u16string_view text) { Ensure()->AppendLog(text); }

void LogWindowHost::Show() {
  LogWindow* w = Ensure();
  w->show();
  w->raise();
}

std::u16string LogWindowHost::LogText() const {
  return window_.isNull() ? std::u16string() : window_->LogText();
}

}  // namespace tarvel
