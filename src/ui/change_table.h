// The change table ("変更一覧"): every row of a run's plan that changes a
// name or a tag text, or that the conversion said something about, in a
// table that can be sorted by any column, narrowed to the rows with a
// notice and searched. The plan comes from the core; the table only shows
// it. A row's reading can be corrected from here ("読みを修正", or a
// double-click), which the main window carries out.
#ifndef TARVEL_UI_CHANGE_TABLE_H_
#define TARVEL_UI_CHANGE_TABLE_H_

#include <QAbstractTableModel>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/change_plan.h"

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace tarvel {

inline constexpr char16_t kChangeTableTitle[] = u"変更一覧";

// The columns, in their order.
enum ChangeColumn : int {
  kColumnFolder,
  kColumnKind,
  kColumnOldName,
  kColumnNewName,
  kColumnTitle,
  kColumnArtist,
  kColumnAlbum,
  kColumnNotices,
  kChangeColumnCount,
};

// The plan's rows as a table model: the rows shown (after the filter) in
// the order of the last sort.
class ChangeTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit ChangeTableModel(QObject* parent = nullptr);

  // Shows `plan` with the current filter and sort.
  void SetPlan(std::shared_ptr<const ChangePlan> plan);
  const std::shared_ptr<const ChangePlan>& plan() const { return plan_; }
  // Only rows with a notice, and only rows one of whose texts contains
  // `search` (letter case aside); an empty search takes every row.
  void SetFilter(bool notices_only, const QString& search);

  // The plan row shown at `row`, or nothing.
  const PlanRow* RowAt(int row) const;
  // How many rows the plan has in all.
  int TotalRows() const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 private:
  void Rebuild();
  bool Matches(const PlanRow& row) const;

  std::shared_ptr<const ChangePlan> plan_;
  std::vector<int32_t> shown_;  // indices into plan_->rows
  bool notices_only_ = false;
  QString search_;
  int sort_column_ = -1;  // -1: the plan's own order
  Qt::SortOrder sort_order_ = Qt::AscendingOrder;
};

// The text of one cell, as the table shows it.
QString ChangeCellText(const PlanRow& row, int column);

class ChangeTableWindow : public QWidget {
  Q_OBJECT
 public:
  // A separate top-level window that stays above `owner`. `correct` is
  // called with the selected row when the user asks to correct its reading.
  ChangeTableWindow(QWidget* owner, std::function<void(const PlanRow&)> correct);

  void SetPlan(std::shared_ptr<const ChangePlan> plan);

  ChangeTableModel& model() { return model_; }
  QTableView* view() const { return view_; }
  QCheckBox* notices_only() const { return notices_only_; }
  QLineEdit* search() const { return search_; }
  QLabel* count() const { return count_; }
  QPushButton* correct_button() const { return correct_button_; }
  // The row selected in the view, or nothing.
  const PlanRow* SelectedRow() const;
  // Asks to correct the selected row's reading (the button's action).
  void CorrectSelected();

 private:
  QHBoxLayout* BuildFilterBar();
  QTableView* BuildView();
  void ApplyFilter();
  void UpdateCount();

  ChangeTableModel model_;
  std::function<void(const PlanRow&)> correct_;
  QTableView* view_ = nullptr;
  QCheckBox* notices_only_ = nullptr;
  QLineEdit* search_ = nullptr;
  QLabel* count_ = nullptr;
  QPushButton* correct_button_ = nullptr;
};

}  // namespace tarvel

#endif  // TARVEL_UI_CHANGE_TABLE_H_
