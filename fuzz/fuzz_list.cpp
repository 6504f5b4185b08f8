// The CSV parser on any text and the rename-list reader on any file,
// followed by the checks a restore makes before it touches anything.
#include <cstddef>
#include <cstdint>
#include <string>

#include "files/rename_list_reader.h"
#include "fuzz_support.h"
#include "platform/csv.h"
#include "platform/text.h"
#include "platform/text_file.h"
#include "run/list_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvel;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The parser with the separators the lists and tables use.
  CsvTable table;
  ParseCSV(DecodeTextBytes(bytes), table, u',', u"\r\n", u'"');
  for (int32_t row = 1; row <= table.Rows(); ++row) {
    for (int32_t col = 1; col <= table.Columns(); ++col) (void)table.Cell(col, row);
  }
  // The list reader on the same bytes as a file.
  const std::filesystem::path path = fuzz::ScratchFile("list.csv", data, size);
  RunState run;
  std::string error;
  if (ReadRenameList(Utf8ToUtf16Lossy(path.native()), run, &error) != 0) {
    ListCheck check = CheckRestoreList(run);
    if (check.ok != check.problem.empty()) __builtin_trap();
  }
  return 0;
}
