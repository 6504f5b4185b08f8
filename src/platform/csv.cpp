#include "platform/csv.h"

#include <cstddef>
#include <limits>
#include <span>
#include <utility>

namespace tarvel {
namespace {

// Reads the text line by line. A line runs up to the next line separator,
// which is consumed; a last line without a separator is the rest of the text.
// A text given in pieces is taken in as the lines need it: what has been
// read is dropped then, so a line handed out stays valid only until the
// next call.
class LineReader {
 public:
  LineReader(std::u16string_view text, std::u16string_view separator)
      : text_(text), separator_(separator) {}
  LineReader(const CsvTextSource& source, std::u16string_view separator)
      : separator_(separator), source_(&source) {}

  // Whether the main loop takes another line: only while at least two
  // characters are left unread. A final line of one character without a line
  // separator after it is therefore never read as a record of its own (every
  // file we write ends with a line separator, so nothing is lost there).
  bool HasRecordLine() {
    Want(2);
    return pos_ + 1 < text_.size();
  }

  // Whether any character is left unread (a quoted field that runs on over
  // the line end takes in whatever is left, however short).
  bool HasMore() {
    Want(1);
    return pos_ < text_.size();
  }

  // Takes the next line; `ended_by_separator` tells whether a line separator
  // followed it. Call only when HasMore().
  std::u16string_view Next(bool& ended_by_separator) {
    size_t end = std::u16string_view::npos;
    // A separator split between two pieces is found once both are in.
    while ((end = Find()) == std::u16string_view::npos && Refill()) {
    }
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
  size_t Find() const {
    return separator_.empty() ? std::u16string_view::npos : text_.find(separator_, pos_);
  }

  // Takes in pieces until `n` characters are unread or the text ends.
  void Want(size_t n) {
    while (pos_ + n > text_.size() && Refill()) {
    }
  }

  // Drops what has been read and appends the next piece; false at the end.
  bool Refill() {
    if (source_ == nullptr || ended_) return false;
    buffer_.erase(0, pos_);
    pos_ = 0;
    ended_ = !(*source_)(buffer_);
    text_ = buffer_;
    return !ended_;
  }

  std::u16string_view text_;
  std::u16string_view separator_;
  size_t pos_ = 0;
  const CsvTextSource* source_ = nullptr;
  std::u16string buffer_;
  bool ended_ = false;
};

// Reads the records of a text one at a time, in the order of the lines.
class RecordReader {
 public:
  RecordReader(LineReader& lines, char16_t field_separator, std::u16string_view line_separator,
               char16_t quote)
      : lines_(lines),
        field_separator_(field_separator),
        line_separator_(line_separator),
        quote_(quote) {}

  // Reads the fields of one record, which begins with `line` and may take in
  // further lines through a quoted field. Fields past `keep` are counted but
  // not stored. Returns the number of fields the record has (saturated at
  // `keep` + 1 once it is known to be longer).
  size_t Read(std::u16string_view line, bool line_has_separator, size_t keep,
              std::vector<std::u16string>& fields) {
    fields.clear();
    fields_ = &fields;
    keep_ = keep;
    count_ = 0;
    line_ = line;
    line_has_separator_ = line_has_separator;
    j_ = 0;
    bool more = true;
    while (more) {
      more = j_ < line_.size() && line_[j_] == quote_ ? ReadQuotedField() : ReadPlainField();
    }
    return count_;
  }

 private:
  // How a quoted field ended.
  enum class QuotedEnd { kField, kRecord, kText };

  void Store(std::u16string&& value) {
    if (count_ < keep_) fields_->push_back(std::move(value));
    if (count_ <= keep_) ++count_;
  }

  // A plain field is taken literally up to the next field separator. Returns
  // whether another field follows in the record.
  bool ReadPlainField() {
    size_t end = j_ >= line_.size() ? std::u16string_view::npos : line_.find(field_separator_, j_);
    if (end == std::u16string_view::npos) {
      Store(std::u16string(j_ < line_.size() ? line_.substr(j_) : std::u16string_view()));
      return false;
    }
    Store(std::u16string(line_.substr(j_, end - j_)));
    j_ = end + 1;
    return true;
  }

  // Reads the quoted field whose opening quote is at j_. Returns whether
  // another field follows in the record.
  bool ReadQuotedField() {
    std::u16string field;
    ++j_;
    QuotedEnd end = ScanQuoted(field);
    Store(std::move(field));
    if (end == QuotedEnd::kRecord) Store(std::u16string());
    if (end != QuotedEnd::kField) return false;
    ++j_;  // skip the field separator
    return true;
  }

  // Gathers a quoted field's text into `field` up to its closing quote.
  QuotedEnd ScanQuoted(std::u16string& field) {
    while (true) {
      size_t f = j_ >= line_.size() ? std::u16string_view::npos : line_.find(quote_, j_);
      if (f == std::u16string_view::npos) {
        if (!TakeNextLine(field)) return QuotedEnd::kText;
        continue;
      }
      field.append(line_.substr(j_, f - j_));
      j_ = f + 1;
      // A closing quote that is the line's last or second-to-last character
      // ends the field and the record, and one more empty field follows.
      // A single character after such a quote is dropped, unless it is a
      // quote: a doubled quote just before a line end belongs to a field
      // that runs on (a value with a quote before a line break, as
      // BuildCSV writes it), and taking it as the end would split that
      // record in two.
      if (j_ + 1 >= line_.size() && !(j_ < line_.size() && line_[j_] == quote_)) {
        return QuotedEnd::kRecord;
      }
      if (line_[j_] == field_separator_) return QuotedEnd::kField;
      if (line_[j_] == quote_) {
        field.push_back(quote_);
        ++j_;
      }
      // Any other character after a closing quote stays in the field and
      // the scan goes on to the next quote.
    }
  }

  // No closing quote on this line: the field runs on over the line end.
  // Returns false when the text ends inside the quoted field: it then takes
  // in the rest, the line separator that ended the last line included, and
  // nothing is taken twice.
  bool TakeNextLine(std::u16string& field) {
    if (j_ < line_.size()) field.append(line_.substr(j_));
    if (!line_has_separator_ || !lines_.HasMore()) {
      if (line_has_separator_) field.append(line_separator_);
      return false;
    }
    field.append(line_separator_);
    line_ = lines_.Next(line_has_separator_);
    j_ = 0;
    return true;
  }

  LineReader& lines_;
  const char16_t field_separator_;
  const std::u16string_view line_separator_;
  const char16_t quote_;
  std::vector<std::u16string>* fields_ = nullptr;
  size_t keep_ = 0;
  size_t count_ = 0;
  std::u16string_view line_;
  bool line_has_separator_ = false;
  size_t j_ = 0;  // 0-based position in line_
};

}  // namespace

void AppendCSVRecord(std::u16string& out, std::span<const std::u16string_view> fields,
                     char16_t field_separator, std::u16string_view line_separator, char16_t quote) {
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

namespace {

int32_t ReadRecords(LineReader& lines, char16_t field_separator, std::u16string_view line_separator,
                    char16_t quote, const CsvRecordTaker& take) {
  RecordReader records(lines, field_separator, line_separator, quote);
  std::vector<std::u16string> fields;
  size_t columns = static_cast<size_t>(kMaxCsvColumns);  // until the first record fixes them
  int32_t taken = 0;
  while (lines.HasRecordLine() && taken < std::numeric_limits<int32_t>::max()) {
    bool has_separator = false;
    std::u16string_view line = lines.Next(has_separator);
    const size_t count = records.Read(line, has_separator, columns, fields);
    if (taken == 0) columns = std::min(count, columns);
    ++taken;
    if (!take(fields, static_cast<int32_t>(columns))) break;
  }
  return taken;
}

}  // namespace

int32_t ForEachCSVRecord(std::u16string_view text, char16_t field_separator,
                         std::u16string_view line_separator, char16_t quote,
                         const CsvRecordTaker& take) {
  LineReader lines(text, line_separator);
  return ReadRecords(lines, field_separator, line_separator, quote, take);
}

int32_t ForEachCSVRecord(const CsvTextSource& source, char16_t field_separator,
                         std::u16string_view line_separator, char16_t quote,
                         const CsvRecordTaker& take) {
  LineReader lines(source, line_separator);
  return ReadRecords(lines, field_separator, line_separator, quote, take);
}

int32_t ParseCSV(std::u16string_view text, CsvTable& table, char16_t field_separator,
                 std::u16string_view line_separator, char16_t quote) {
  table.Clear();
  bool first = true;
  ForEachCSVRecord(text, field_separator, line_separator, quote,
                   [&](std::vector<std::u16string>& fields, int32_t columns) {
                     if (first) {
                       table = CsvTable(columns, 0);
                       first = false;
                     }
                     table.AddRow(std::move(fields));
                     fields = {};
                     return true;
                   });
  return table.Rows();
}

}  // namespace tarvel
