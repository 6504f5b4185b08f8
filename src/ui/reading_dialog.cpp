#include "ui/reading_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/gui_front_end.h"

namespace tarvel {

ReadingDialog::ReadingDialog(QWidget* owner, const ReadingQuestion& question) : QDialog(owner) {
  setWindowTitle(ToQString(kReadingDialogTitle));
  auto* root = new QVBoxLayout(this);
  if (!question.note.isEmpty()) {
    auto* note = new QLabel(question.note);
    note->setWordWrap(true);
    note->setAccessibleName(ToQString(u"注意"));
    root->addWidget(note);
  }
  auto* form = new QFormLayout;
  original_ = new QLineEdit(question.original);
  original_->setAccessibleName(ToQString(u"元の文字"));
  reading_ = new QLineEdit(question.reading);
  reading_->setAccessibleName(ToQString(u"読み"));
  form->addRow(ToQString(u"元の文字"), original_);
  form->addRow(ToQString(u"読み"), reading_);
  root->addLayout(form);
  auto* hint = new QLabel(ToQString(
      u"元の文字は読み違えた語だけに短くできます。読みは全角カタカナで入力してください。"));
  hint->setWordWrap(true);
  root->addWidget(hint);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(ToQString(u"OK"));
  buttons->button(QDialogButtonBox::Ok)->setAccessibleName(ToQString(u"OK"));
  buttons->button(QDialogButtonBox::Cancel)->setText(ToQString(u"キャンセル"));
  buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(ToQString(u"キャンセル"));
  root->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto update_ok = [this, buttons] {
    buttons->button(QDialogButtonBox::Ok)
        ->setEnabled(!original_->text().trimmed().isEmpty() &&
                     !reading_->text().trimmed().isEmpty());
  };
  connect(original_, &QLineEdit::textChanged, this, update_ok);
  connect(reading_, &QLineEdit::textChanged, this, update_ok);
  update_ok();
  reading_->setFocus();
  reading_->selectAll();
  setMinimumWidth(fontMetrics().horizontalAdvance(QChar(0x3042)) * 28);
}

ReadingAnswer ReadingDialog::Answer() const { return {original_->text(), reading_->text()}; }

ReadingAsk SystemReadingAsk() {
  return [](QWidget* owner, const ReadingQuestion& question) -> std::optional<ReadingAnswer> {
    ReadingDialog dialog(owner, question);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Answer();
  };
}

}  // namespace tarvel
