// The reading correction ("読みの修正"): the text as found ("元の文字"),
// which the user may shorten to the word that was misread, and its reading
// in full-width katakana ("読み"). OK adds the pair to the user's dic.csv.
#ifndef TARVEL_UI_READING_DIALOG_H_
#define TARVEL_UI_READING_DIALOG_H_

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <utility>

class QLabel;
class QLineEdit;

namespace tarvel {

inline constexpr char16_t kReadingDialogTitle[] = u"読みの修正";

// What the dialog starts with: the two fields and a note shown above them
// (empty for none).
struct ReadingQuestion {
  QString original;
  QString reading;
  QString note;
};
// The two fields as the user left them with OK.
struct ReadingAnswer {
  QString original;
  QString reading;
};

// Asks the user; nothing when cancelled. Tests put an answer in its place.
using ReadingAsk =
    std::function<std::optional<ReadingAnswer>(QWidget* owner, const ReadingQuestion& question)>;
// The modal ReadingDialog.
ReadingAsk SystemReadingAsk();

class ReadingDialog : public QDialog {
  Q_OBJECT
 public:
  ReadingDialog(QWidget* owner, const ReadingQuestion& question);
  ReadingAnswer Answer() const;

  QLineEdit* original() const { return original_; }
  QLineEdit* reading() const { return reading_; }

 private:
  QLineEdit* original_ = nullptr;
  QLineEdit* reading_ = nullptr;
};

}  // namespace tarvel

#endif  // TARVEL_UI_READING_DIALOG_H_
