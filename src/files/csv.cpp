#include "files/csv.h"

namespace tarvel {

std::u16string BuildCSV(const CsvTable&, char16_t, std::u16string_view, char16_t) { return {}; }
int32_t ParseCSV(std::u16string_view, CsvTable&, char16_t, std::u16string_view, char16_t) {
  return 0;
}

}  // namespace tarvel
