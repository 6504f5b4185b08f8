// Writing to the front end from the conversion rules (internal to rules/).
#ifndef TARVEL_RULES_RULE_LOG_H_
#define TARVEL_RULES_RULE_LOG_H_

#include <string_view>

#include "app/app_state.h"

namespace tarvel::rules_internal {

// Appends text to the log and counts it as a notice of the rules.
inline void AppendLog(AppState& app, std::u16string_view text) {
  ++app.rule_notices;
  app.ui->AppendLog(text);
}

}  // namespace tarvel::rules_internal

#endif  // TARVEL_RULES_RULE_LOG_H_
