#include <atomic>

#include "platform/csv.h"

namespace tarvel {
namespace {
const std::u16string kEmpty;
std::atomic<uint64_t> g_next_version{1};
}  // namespace

void CsvTable::Touch() { version_ = g_next_version.fetch_add(1, std::memory_order_relaxed); }

CsvTable::CsvTable(int32_t columns, int32_t rows)
    : columns_(columns > 0 ? columns : 0), rows_(rows > 0 ? static_cast<size_t>(rows) : 0) {
  Touch();
}

const std::u16string& CsvTable::Cell(int32_t column, int32_t row) const {
  if (row < 1 || row > Rows() || column < 1) return kEmpty;
  const auto& cells = rows_[static_cast<size_t>(row - 1)];
  if (static_cast<size_t>(column) > cells.size()) return kEmpty;
  return cells[static_cast<size_t>(column - 1)];
}

bool CsvTable::IsSet(int32_t column, int32_t row) const {
  if (row < 1 || row > Rows() || column < 1) return false;
  return static_cast<size_t>(column) <= rows_[static_cast<size_t>(row - 1)].size();
}

void CsvTable::SetCell(int32_t column, int32_t row, std::u16string text) {
  if (row < 1 || row > Rows() || column < 1 || column > columns_) return;
  Touch();
  auto& cells = rows_[static_cast<size_t>(row - 1)];
  if (static_cast<size_t>(column) > cells.size()) cells.resize(static_cast<size_t>(column));
  cells[static_cast<size_t>(column - 1)] = std::move(text);
}

int32_t CsvTable::AddRow() {
  Touch();
  rows_.emplace_back();
  return Rows();
}

int32_t CsvTable::AddRow(std::vector<std::u16string> fields) {
  Touch();
  if (fields.size() > static_cast<size_t>(columns_)) fields.resize(static_cast<size_t>(columns_));
  rows_.push_back(std::move(fields));
  return Rows();
}

void CsvTable::Clear() {
  Touch();
  columns_ = 0;
  rows_.clear();
}

}  // namespace tarvel
