// Writing to the front end from the conversion rules (internal to rules/).
#ifndef TARVEL_RULES_RULE_LOG_H_
#define TARVEL_RULES_RULE_LOG_H_

#include <cstdint>
#include <string_view>

#include "app/app_state.h"
#include "app/entry_table.h"

namespace tarvel::rules_internal {

// Appends text to the log and counts it as a notice of the rules.
// `notice` (RowNotice bits, 0 for none) is kept with the row being
// converted.
inline void AppendLog(AppState& app, std::u16string_view text, uint8_t notice = 0) {
  ++app.rule_notices;
  app.row_notices |= notice;
  app.ui->AppendLog(text);
}

}  // namespace tarvel::rules_internal

#endif  // TARVEL_RULES_RULE_LOG_H_
