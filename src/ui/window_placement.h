// Where a window that belongs to the main window opens when it has no
// stored place: beside the main window, not over its options, and always
// whole on a screen.
#ifndef TARVEL_UI_WINDOW_PLACEMENT_H_
#define TARVEL_UI_WINDOW_PLACEMENT_H_

#include <QRect>

class QWidget;

namespace tarvel {

// A rectangle of `size`'s size beside `main` inside `screen`: right of it
// when it fits there, else left of it, else below it, else above it; when
// none fits, the right side moved and shrunk into `screen`.
QRect BesideOnScreen(QRect main, QSize size, QRect screen);

// Moves `window` beside `main` on the screen `main` is on.
void PlaceBeside(QWidget* window, const QWidget* main);

}  // namespace tarvel

#endif  // TARVEL_UI_WINDOW_PLACEMENT_H_
