#include "ui/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace tarvel {
namespace {

// Room between the owner's frame and this window.
constexpr int kGap = 8;
// The narrowest the window is made to stay beside its owner.
constexpr int kNarrowestBeside = 360;

// The screen whose area holds most of `rect`, or the first one.
QRect ScreenOf(QRect rect, const QList<QRect>& screens) {
  QRect best = screens.front();
  int best_area = -1;
  for (const QRect& s : screens) {
    const QRect seen = s.intersected(rect);
    const int area = seen.isEmpty() ? 0 : seen.width() * seen.height();
    if (area > best_area) {
      best = s;
      best_area = area;
    }
  }
  return best;
}

}  // namespace

QRect PlaceBeside(QRect owner, QSize size, const QList<QRect>& screens) {
  const QRect right(QPoint(owner.right() + 1 + kGap, owner.top()), size);
  const QRect left(QPoint(owner.left() - kGap - size.width(), owner.top()), size);
  if (screens.isEmpty()) return right;
  for (const QRect& candidate : {right, left}) {
    for (const QRect& s : screens) {
      if (s.contains(candidate)) return candidate;
    }
  }
  // Too little room on either side: the owner's screen, on its wider side,
  // narrower where the columns can still be read, else over the owner's edge.
  const QRect screen = ScreenOf(owner, screens);
  const int room_right = screen.right() - owner.right() - kGap;
  const int room_left = owner.left() - screen.left() - kGap;
  QRect r(QPoint(), size.boundedTo(screen.size()));
  if (std::max(room_left, room_right) >= kNarrowestBeside) {
    r.setWidth(std::min(r.width(), std::max(room_left, room_right)));
  }
  r.moveLeft(room_left > room_right ? owner.left() - kGap - r.width() : right.left());
  r.moveTop(owner.top());
  r.moveLeft(std::clamp(r.left(), screen.left(), screen.right() + 1 - r.width()));
  r.moveTop(std::clamp(r.top(), screen.top(), screen.bottom() + 1 - r.height()));
  return r;
}

void PlaceWindowBeside(QWidget* window, const QWidget* owner) {
  QList<QRect> screens;
  for (const QScreen* s : QGuiApplication::screens()) screens << s->availableGeometry();
  const QRect place = PlaceBeside(owner->frameGeometry(), window->size(), screens);
  window->resize(place.size());
  window->move(place.topLeft());
}

}  // namespace tarvel
