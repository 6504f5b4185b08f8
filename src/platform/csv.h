// The CSV codec of list.csv, dic.csv and Rome.csv. It does no file I/O:
// callers read or write the whole file as one text.
#ifndef TARVEL_PLATFORM_CSV_H_
#define TARVEL_PLATFORM_CSV_H_

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// A two-dimensional table of texts addressed (column, row), both from 1, as
// ParseCSV fills it. A default-made table is "unloaded": it has no
// dimensions. A cell that a short record did not reach is unset and reads as
// empty text.
class CsvTable {
 public:
  CsvTable() = default;
  CsvTable(int32_t columns, int32_t rows);

  // True once the table has dimensions (at least one column and one row).
  bool IsLoaded() const { return columns_ > 0 && !rows_.empty(); }
  int32_t Columns() const { return columns_; }
  int32_t Rows() const { return static_cast<int32_t>(rows_.size()); }

  // The cell's text; empty for an unset cell or one outside the table.
  const std::u16string& Cell(int32_t column, int32_t row) const;
  bool IsSet(int32_t column, int32_t row) const;
  // Sets a cell inside the table's dimensions (no effect outside them).
  void SetCell(int32_t column, int32_t row, std::u16string text);
  // Appends a row of unset cells and returns its index.
  int32_t AddRow();
  // Appends a row whose first cells are `fields` (at most Columns() are kept).
  int32_t AddRow(std::vector<std::u16string> fields);
  void Clear();

  // Changes whenever the table's contents may have changed, so that a user of
  // the table can keep something derived from it (an index) and know when it
  // is stale. Unique across all tables of the program.
  uint64_t version() const { return version_; }

 private:
  void Touch();

  int32_t columns_ = 0;
  uint64_t version_ = 0;
  // Each row holds its set cells 1..n (n <= columns_); cells beyond are unset.
  std::vector<std::vector<std::u16string>> rows_;
};

inline constexpr char16_t kCsvFieldSeparator = u',';
inline constexpr std::u16string_view kCsvLineSeparator = u"\r\n";
inline constexpr char16_t kCsvQuote = u'"';
// The most columns a parsed table has. Column numbers are kept within a
// 16-bit signed range so that every table the program reads can also be
// written by any CSV tool that counts columns that way; fields of the first
// record beyond this are dropped like the extra fields of later records.
inline constexpr int32_t kMaxCsvColumns = 32767;

// Builds CSV text: every cell of every row quoted (quotes inside doubled),
// fields joined by the field separator, every row followed by the line
// separator.
std::u16string BuildCSV(const CsvTable& table, char16_t field_separator,
                        std::u16string_view line_separator, char16_t quote);

// Appends one record built the same way: every field quoted, quotes inside
// doubled, the line separator after it. Lets a large text be built row by row
// without a table in between.
void AppendCSVRecord(std::u16string& out, std::span<const std::u16string_view> fields,
                     char16_t field_separator, std::u16string_view line_separator, char16_t quote);

// Parses CSV text into `table` (whatever it held before is dropped). Returns
// the number of records read; 0 means the text yielded no record (a failure
// the caller must handle), and the table is then left unloaded. The first
// record fixes the number of columns (at most kMaxCsvColumns); fields beyond
// it are dropped and a shorter record leaves its remaining cells unset.
//
// Each line (up to the line separator) begins a record. Lines are taken while
// at least two characters are left, so a last line of one character without a
// line separator is not read. A field starting with the quote character is
// quoted: a doubled quote inside stands for one quote, and the field may run
// over line ends. After a closing quote, the field separator ends the field;
// a closing quote that is the last or second-to-last character of the line
// ends the field and the record, which then gets one more, empty field (so
// `"a","b"` has three fields and a single character other than a quote after
// such a quote is dropped; a quote there is a doubled quote, so a value with a
// quote just before a line break reads back whole); any other character after a closing quote stays
// in the field, and the scan goes on to the next quote, which is dropped. A quoted field that is
// never closed takes in the rest of the text. Other fields are taken literally up to the next field
// separator. Runs in time linear in the text. An empty line separator never matches: the whole text
// is then one line.
int32_t ParseCSV(std::u16string_view text, CsvTable& table, char16_t field_separator,
                 std::u16string_view line_separator, char16_t quote);

// Reads the records of `text` as ParseCSV does, one at a time, with no table:
// `take` gets each record's fields (as many as the record has, at most the
// first record's count, which is `columns`) and may take them over; it
// returns false to stop. Returns the number of records given to `take`. A
// large text is read this way in the room of one record.
using CsvRecordTaker = std::function<bool(std::vector<std::u16string>& fields, int32_t columns)>;
int32_t ForEachCSVRecord(std::u16string_view text, char16_t field_separator,
                         std::u16string_view line_separator, char16_t quote,
                         const CsvRecordTaker& take);

// A text that comes in pieces: each call appends the next piece to its
// argument and returns true, or returns false when the text has ended.
using CsvTextSource = std::function<bool(std::u16string& text)>;
// The same for a text given in pieces, which may end anywhere: the records
// are the ones of the whole text, read in the room of a piece or two.
int32_t ForEachCSVRecord(const CsvTextSource& source, char16_t field_separator,
                         std::u16string_view line_separator, char16_t quote,
                         const CsvRecordTaker& take);

}  // namespace tarvel

#endif  // TARVEL_PLATFORM_CSV_H_
