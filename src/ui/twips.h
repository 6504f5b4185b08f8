// Window placements are stored in twips (1/1440 inch), 15 to a pixel. The
// stored values were first written on Windows at 96 dpi, where a pixel is 15
// twips; converting at the screen's own dpi would move and resize a window
// stored there on any other screen. Qt's pixels are already independent of
// the device, so both windows convert at 96 dpi whatever the screen.
#ifndef TARVEL_UI_TWIPS_H_
#define TARVEL_UI_TWIPS_H_

#include <cstdint>

namespace tarvel {

inline constexpr int kTwipsPerPixel = 15;
// The dots per inch at which a pixel is kTwipsPerPixel twips.
inline constexpr double kTwipsDpi = 1440.0 / kTwipsPerPixel;

// Twips to pixels at `dpi` dots per inch, rounded, and back. Results are
// kept within the range a window coordinate can take; a dpi that is not a
// positive number counts as 96.
int TwipsToPixels(int64_t twips, double dpi = kTwipsDpi);
int32_t PixelsToTwips(int64_t pixels, double dpi = kTwipsDpi);

}  // namespace tarvel

#endif  // TARVEL_UI_TWIPS_H_
