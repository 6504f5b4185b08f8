#include "ui/twips.h"

#include <QWidget>
#include <algorithm>
#include <cmath>
#include <limits>

namespace tarvel {
namespace {

constexpr double kTwipsPerInch = 1440.0;

double UsableDpi(double dpi) { return std::isfinite(dpi) && dpi > 0 ? dpi : kTwipsDpi; }

// Rounds and keeps `value` within [lo, hi]; NaN gives 0.
template <typename Int>
Int RoundClamped(double value, double lo, double hi) {
  if (std::isnan(value)) return 0;
  return static_cast<Int>(std::lround(std::clamp(value, lo, hi)));
}

}  // namespace

int TwipsToPixels(int64_t twips, double dpi) {
  return RoundClamped<int>(static_cast<double>(twips) * UsableDpi(dpi) / kTwipsPerInch,
                           -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

int32_t PixelsToTwips(int64_t pixels, double dpi) {
  return RoundClamped<int32_t>(static_cast<double>(pixels) * kTwipsPerInch / UsableDpi(dpi),
                               std::numeric_limits<int32_t>::min(),
                               std::numeric_limits<int32_t>::max());
}

}  // namespace tarvel
