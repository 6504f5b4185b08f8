// Where a window that belongs to the main window opens when it has no
// stored place: beside its owner, not over the owner's options, and always
// on a screen.
#ifndef TARVEL_UI_WINDOW_PLACEMENT_H_
#define TARVEL_UI_WINDOW_PLACEMENT_H_

#include <QList>
#include <QRect>
#include <QSize>

class QWidget;

namespace tarvel {

// Where a window of `size` opens beside the window whose frame is `owner`,
// among `screens` (their available areas): to its right when it fits there on
// a screen, else to its left, else on the owner's screen on the side with
// more room: narrower (not below 360 pixels) to stay beside the owner, or,
// where even that does not fit, over the owner's edge as little as the
// screen allows. Never larger than that screen.
// With no screens known it goes to the right.
QRect PlaceBeside(QRect owner, QSize size, const QList<QRect>& screens);

// Moves and sizes `window` (a top-level window) beside `owner` among the
// screens there are now, by PlaceBeside.
void PlaceWindowBeside(QWidget* window, const QWidget* owner);

}  // namespace tarvel

#endif  // TARVEL_UI_WINDOW_PLACEMENT_H_
