#include "platform/csv.h"

#include <span>

#include <cstddef>
#include <limits>
#include <utility>

namespace tarvel {
namespace {

// Reads the text line by line. A line runs up to the next line separator,
// which is consumed; a last line without a separator is the rest of the text.
class LineReader {
 public:
  LineReader(std::u16string_view text, std::u16string_view separator)
      : text_(text), separator_(separator) {}

  // Whether the main loop takes another line: only while at least two
  // characters are left unread. A final line of one character without a line
  // separator after it is therefore never read as a record of its own (every
  // file we write ends with a line separator, so nothing is lost there).
  bool HasRecordLine() const { return pos_ + 1 < text_.size(); }

  // Whether any character is left unread (a quoted field that runs on over
  // the line end takes in whatever is left, however short).
  bool HasMore() const { return pos_ < text_.size(); }

  // Takes the next line; `ended_by_separator` tells whether a line separator
  // followed it. Call only when HasMore().
  std::u16string_view Next(bool& ended_by_separator) {
    size_t end = separator_.empty() ? std::u16string_view::npos : text_.find(separator_, pos_);
    std::u16string_view line;
    if (end == std::u16string_view::npos) {
      line = text_.substr(pos_);
      pos_ = text_.size();
      ended_by_separator = false;
    } else {
      line = text_.substr(pos_, end - pos_);
      pos_ = end + separator_.size();
      ended_by_separator = true;
    }
    return line;
  }

 private:
  std::u16string_view text_;
  std::u16string_view separator_;
  size_t pos_ = 0;
};

// Reads the fields of one record, which begins with `line` and may take in
// further lines through a quoted field. Fields past `keep` are counted but
// not stored. Returns the number of fields the record has (saturated at
// `keep` + 1 once it is known to be longer).
size_t ReadRecord(LineReader& lines, std::u16string_view line, bool line_has_separator,
                  char16_t field_separator, std::u16string_view line_separator, char16_t quote,
                  size_t keep, std::vector<std::u16string>& fields) {
  fields.clear();
  size_t count = 0;
  std::u16string field;
  auto store = [&](std::u16string&& value) {
    if (count < keep) fields.push_back(std::move(value));
    if (count <= keep) ++count;
  };

  size_t j = 0;  // 0-based position in `line`
  while (true) {
    if (j >= line.size() || line[j] != quote) {
      // Plain field: taken literally up to the next field separator.
      size_t end = j >= line.size() ? std::u16string_view::npos : line.find(field_separator, j);
      if (end == std::u16string_view::npos) {
        store(std::u16string(j < line.size() ? line.substr(j) : std::u16string_view()));
        return count;
      }
      store(std::u16string(line.substr(j, end - j)));
      j = end + 1;
      continue;
    }

    // Quoted field.
    field.clear();
    ++j;
    bool record_ends = false;
    while (true) {
      size_t f = j >= line.size() ? std::u16string_view::npos : line.find(quote, j);
      if (f != std::u16string_view::npos) {
        field.append(line.substr(j, f - j));
        j = f + 1;
        // A closing quote that is the line's last or second-to-last character
        // ends the field and the record, and one more empty field follows.
        // A single character after such a quote is dropped, unless it is a
        // quote: a doubled quote just before a line end belongs to a field
        // that runs on (a value with a quote before a line break, as
        // BuildCSV writes it), and taking it as the end would split that
        // record in two.
        if (j + 1 >= line.size() && !(j < line.size() && line[j] == quote)) {
          record_ends = true;
          break;
        }
        if (line[j] == field_separator) break;
        if (line[j] == quote) {
          field.push_back(quote);
          ++j;
        }
        // Any other character after a closing quote stays in the field and
        // the scan goes on to the next quote.
        continue;
      }
      // No closing quote on this line: the field runs on over the line end.
      if (j < line.size()) field.append(line.substr(j));
      if (!line_has_separator || !lines.HasMore()) {
        // The text ends inside the quoted field: it takes in the rest, the
        // line separator that ended the last line included, and nothing is
        // taken twice.
        if (line_has_separator) field.append(line_separator);
        store(std::move(field));
        return count;
      }
      field.append(line_separator);
      line = lines.Next(line_has_separator);
      j = 0;
    }
    store(std::move(field));
    if (record_ends) {
      store(std::u16string());
      return count;
    }
    ++j;  // skip the field separator
  }
}

}  // namespace

void AppendCSVRecord(std::u16string& out, std::span<const std::u16string_view> fields,
                     char16_t field_separator, std::u16string_view line_separator,
                     char16_t quote) {
  for (size_t c = 0; c < fields.size(); ++c) {
    out.push_back(quote);
    for (char16_t ch : fields[c]) {
      if (ch == quote) out.push_back(quote);
      out.push_back(ch);
    }
    out.push_back(quote);
    if (c + 1 < fields.size()) out.push_back(field_separator);
  }
  out.append(line_separator);
}

std::u16string BuildCSV(const CsvTable& table, char16_t field_separator,
                        std::u16string_view line_separator, char16_t quote) {
  std::u16string out;
  const int32_t columns = table.Columns();
  const int32_t rows = table.Rows();
  size_t size = 0;
  for (int32_t r = 1; r <= rows; ++r) {
    for (int32_t c = 1; c <= columns; ++c) size += table.Cell(c, r).size() + 3;
    size += line_separator.size();
  }
  out.reserve(size);
  std::vector<std::u16string_view> fields(static_cast<size_t>(columns));
  for (int32_t r = 1; r <= rows; ++r) {
    for (int32_t c = 1; c <= columns; ++c) fields[c - 1] = table.Cell(c, r);
    AppendCSVRecord(out, fields, field_separator, line_separator, quote);
  }
  return out;
}

int32_t ParseCSV(std::u16string_view text, CsvTable& table, char16_t field_separator,
                 std::u16string_view line_separator, char16_t quote) {
  table.Clear();
  LineReader lines(text, line_separator);
  std::vector<std::u16string> fields;
  bool first = true;
  while (lines.HasRecordLine()) {
    if (table.Rows() == std::numeric_limits<int32_t>::max()) break;
    bool has_separator = false;
    std::u16string_view line = lines.Next(has_separator);
    size_t keep =
        first ? static_cast<size_t>(kMaxCsvColumns) : static_cast<size_t>(table.Columns());
    size_t count = ReadRecord(lines, line, has_separator, field_separator, line_separator, quote,
                              keep, fields);
    if (first) {
      table = CsvTable(static_cast<int32_t>(count < keep ? count : keep), 0);
      first = false;
    }
    table.AddRow(std::move(fields));
    fields = {};
  }
  return table.Rows();
}

}  // namespace tarvel
