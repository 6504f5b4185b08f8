// The window "変換履歴": the current list.csv and every kept run, newest
// first, with what each one changed and whether it was restored from. A run
// is restored from here ("復元", after a Yes/No question) or its list is
// opened in the user's spreadsheet program ("開く"). The window holds no
// knowledge of runs: the main window lists them and restores through the
// same path as its own "復元" button.
#ifndef TARVEL_UI_HISTORY_WINDOW_H_
#define TARVEL_UI_HISTORY_WINDOW_H_

#include <QAbstractTableModel>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <vector>

#include "files/run_history.h"
#include "ui/gui_front_end.h"

class QPushButton;
class QTableView;

namespace tarvel {

inline constexpr char16_t kHistoryWindowTitle[] = u"変換履歴";

// Asks a Yes/No question and returns true for Yes. Tests answer in its place
// so that nothing blocks.
using ConfirmSink = std::function<bool(QWidget* owner, const QString& title, const QString& text)>;
// The system's question box (Yes and No, No the default).
ConfirmSink SystemConfirmSink();

// Opens a file in the program the desktop gives its type; false when none
// could be started. Tests record in its place so that nothing is launched.
using FileOpener = std::function<bool(const QUrl& file)>;
// QDesktopServices::openUrl.
FileOpener SystemFileOpener();

// What the column "状態" says of a run: "現在のリスト" for the current list,
// "未復元" for a kept run never restored from, "復元済み（time）" with the time
// it was last restored from, "読めません" for a list that cannot be read.
QString RunStateText(const HistoryEntry& run);

// The runs as a table, one row a run in the order given.
class HistoryModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kTime, kFolder, kRows, kRenames, kTags, kState, kColumnCount };

  using QAbstractTableModel::QAbstractTableModel;

  void SetRuns(std::vector<HistoryEntry> runs);
  // The run of `row`, or nullptr outside the table.
  const HistoryEntry* RunAt(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<HistoryEntry> runs_;
};

class HistoryWindow : public QWidget {
  Q_OBJECT
 public:
  // What the window does through its owner.
  struct Hooks {
    std::function<std::vector<HistoryEntry>()> list_runs;  // newest first
    // Restores from the list at the path, as the main window's "復元" does.
    std::function<void(const std::filesystem::path&)> restore;
    ConfirmSink confirm;
    FileOpener open;
    MessageSink message;  // says when a list could not be opened
  };

  // A separate window that stays above `owner`; hidden until shown.
  HistoryWindow(Hooks hooks, QWidget* owner);

  // Shows the window beside its owner (the first time) with the runs read
  // again, and brings it to the front.
  void ShowAndRaise();
  // Reads the runs again; the selection stays on the same run when it is
  // still listed.
  void Refresh();
  // While a run is in progress, "復元" cannot be used.
  void SetBusy(bool busy);

  // The buttons: restore from the selected run after asking, open its list.
  void RestoreSelected();
  void OpenSelected();

  QTableView* table() const { return table_; }
  HistoryModel* model() const { return model_; }
  QPushButton* restore_button() const { return restore_; }
  QPushButton* open_button() const { return open_; }
  QPushButton* close_button() const { return close_; }

 private:
  const HistoryEntry* Selected() const;
  void UpdateButtons();

  Hooks hooks_;
  HistoryModel* model_;
  QTableView* table_;
  QPushButton* restore_;
  QPushButton* open_;
  QPushButton* close_;
  bool busy_ = false;
  bool placed_ = false;
};

}  // namespace tarvel

#endif  // TARVEL_UI_HISTORY_WINDOW_H_
